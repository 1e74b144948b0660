// SPDX-License-Identifier: GPL-3.0-or-later
#include "ffmpeg_source.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <limits>

namespace {

// Longest any one call may take before FFmpeg is told to give up: far more
// than a real file needs, short enough that the program never seems to hang.
constexpr int64_t kCallMicroseconds = 10'000'000;

// The rate the devices get when the file's own is one they cannot play.
int PlayableRate(int rate) {
  if (rate < 5000) return 8000;
  if (rate > 192000) return 48000;
  return rate;
}

// The sound stream a learner means: the one marked default, else the first.
int PickStream(const AVFormatContext* format) {
  int first = -1;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVStream* s = format->streams[i];
    if (s->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    if (s->disposition & AV_DISPOSITION_DEFAULT) return static_cast<int>(i);
    if (first < 0) first = static_cast<int>(i);
  }
  return first;
}

}  // namespace

int FfmpegSourceInterrupt(void* opaque) {
  const auto* source = static_cast<const FfmpegSource*>(opaque);
  return source->deadline != 0 && av_gettime_relative() > source->deadline;
}

FfmpegSource::FfmpegSource() {
  // The program says itself what went wrong with a file.
  av_log_set_level(AV_LOG_QUIET);
}

FfmpegSource::~FfmpegSource() {
  Close();
}

void FfmpegSource::ArmDeadline() {
  deadline = av_gettime_relative() + kCallMicroseconds;
}

bool FfmpegSource::Open(const std::string& path, int maxChannels) {
  Close();
  format = avformat_alloc_context();
  packet = av_packet_alloc();
  frame = av_frame_alloc();
  if (format == nullptr || packet == nullptr || frame == nullptr) {
    Close();
    return false;
  }
  format->interrupt_callback.callback = FfmpegSourceInterrupt;
  format->interrupt_callback.opaque = this;
  ArmDeadline();
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
    format = nullptr;  // freed by the failed open
    Close();
    return false;
  }
  if (avformat_find_stream_info(format, nullptr) < 0 || !OpenDecoder(maxChannels)) {
    Close();
    return false;
  }
  return true;
}

bool FfmpegSource::OpenDecoder(int maxChannels) {
  stream = PickStream(format);
  if (stream < 0) return false;
  for (unsigned i = 0; i < format->nb_streams; ++i)
    if (static_cast<int>(i) != stream) format->streams[i]->discard = AVDISCARD_ALL;
  if (!StartDecoder()) return false;
  const int channels = decoder->ch_layout.nb_channels;
  if (channels < 1 || decoder->sample_rate < 1) return false;
  inRate = decoder->sample_rate;
  outRate = PlayableRate(inRate);
  outChannels = std::min(channels >= 2 ? 2 : 1, std::max(1, maxChannels));
  return true;
}

bool FfmpegSource::StartDecoder() {
  avcodec_free_context(&decoder);
  const AVStream* s = format->streams[stream];
  const AVCodec* codec = avcodec_find_decoder(s->codecpar->codec_id);
  if (codec == nullptr) return false;
  decoder = avcodec_alloc_context3(codec);
  if (decoder == nullptr || avcodec_parameters_to_context(decoder, s->codecpar) < 0) return false;
  decoder->pkt_timebase = s->time_base;
  decoder->thread_count = 1;
  return avcodec_open2(decoder, codec, nullptr) >= 0;
}

void FfmpegSource::Close() {
  swr_free(&converter);
  avcodec_free_context(&decoder);
  if (format != nullptr) avformat_close_input(&format);
  av_packet_free(&packet);
  av_frame_free(&frame);
  stream = -1;
  inRate = outRate = outChannels = 0;
  convertedFormat = -1;
  convertedRate = 0;
  convertedLayoutMask = 0;
  convertedLayoutChannels = 0;
  demuxerDone = decoderDone = converterDrained = false;
  firstPacket = INT64_MIN;
  firstPacketSeen = true;
  landedLate = false;
  deadline = 0;
}

bool FfmpegSource::CoarseStamps() const {
  if (format == nullptr) return false;
  const AVRational base = format->streams[stream]->time_base;
  return static_cast<int64_t>(base.num) * outRate > base.den;
}

int64_t FfmpegSource::PrerollFrames() const {
  if (format == nullptr) return 0;
  const int64_t codecs = format->streams[stream]->codecpar->seek_preroll;
  return std::max<int64_t>(codecs * 2, outRate / 4);
}

int64_t FfmpegSource::StartSkipFrames() const {
  if (decoder == nullptr || decoder->sample_rate < 1) return 0;
  return av_rescale(decoder->delay, outRate, decoder->sample_rate);
}

int64_t FfmpegSource::StartSkipStamp() const {
  if (decoder == nullptr || decoder->sample_rate < 1) return 0;
  // As the decoder moves the stamp: rounded to the container's clock.
  const AVRational base = format->streams[stream]->time_base;
  const int64_t moved = av_rescale_q(decoder->delay, AVRational{1, decoder->sample_rate}, base);
  return av_rescale_q(moved, base, AVRational{1, outRate});
}

int64_t FfmpegSource::DurationFrames() const {
  if (format == nullptr) return -1;
  const AVStream* s = format->streams[stream];
  if (s->duration != AV_NOPTS_VALUE && s->duration > 0)
    return av_rescale_q(s->duration, s->time_base, AVRational{1, outRate});
  if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
    return av_rescale_q(format->duration, AV_TIME_BASE_Q, AVRational{1, outRate});
  return -1;
}

int64_t FfmpegSource::BytesRead() const {
  return format != nullptr && format->pb != nullptr ? std::max<int64_t>(avio_tell(format->pb), 0) : 0;
}

int64_t FfmpegSource::FileBytes() const {
  return format != nullptr && format->pb != nullptr ? std::max<int64_t>(avio_size(format->pb), 0) : 0;
}

bool FfmpegSource::ConfigureConverter() {
  AVChannelLayout in{};
  if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels < 1)
    av_channel_layout_default(&in, frame->ch_layout.nb_channels);
  else if (av_channel_layout_copy(&in, &frame->ch_layout) < 0)
    return false;
  const uint64_t mask = in.order == AV_CHANNEL_ORDER_NATIVE ? in.u.mask : 0;
  if (converter != nullptr && frame->format == convertedFormat &&
      frame->sample_rate == convertedRate && mask == convertedLayoutMask &&
      in.nb_channels == convertedLayoutChannels) {
    av_channel_layout_uninit(&in);
    return true;
  }
  swr_free(&converter);
  AVChannelLayout out{};
  av_channel_layout_default(&out, outChannels);
  const int made = swr_alloc_set_opts2(&converter, &out, AV_SAMPLE_FMT_S16, outRate, &in,
                                       static_cast<AVSampleFormat>(frame->format),
                                       frame->sample_rate, 0, nullptr);
  const bool ok = made >= 0 && in.nb_channels > 0 && swr_init(converter) >= 0;
  av_channel_layout_uninit(&in);
  av_channel_layout_uninit(&out);
  if (!ok) {
    swr_free(&converter);
    return false;
  }
  convertedFormat = frame->format;
  convertedRate = frame->sample_rate;
  inRate = frame->sample_rate;
  convertedLayoutMask = mask;
  convertedLayoutChannels = frame->ch_layout.nb_channels;
  return true;
}

// Converts the decoded frame, or with no frame drains what the converter holds.
bool FfmpegSource::Convert(std::vector<int16_t>& out, int* frames) {
  const bool input = frame->nb_samples > 0;
  if (input && !ConfigureConverter()) return false;
  if (converter == nullptr) {
    *frames = 0;
    return true;
  }
  const int room = swr_get_out_samples(converter, input ? frame->nb_samples : 0);
  if (room < 0) return false;
  const size_t before = out.size();
  out.resize(before + static_cast<size_t>(room) * outChannels);
  auto* target = reinterpret_cast<uint8_t*>(out.data() + before);
  const int got = swr_convert(converter, &target, room,
                              input ? const_cast<const uint8_t**>(frame->extended_data) : nullptr,
                              input ? frame->nb_samples : 0);
  out.resize(before + static_cast<size_t>(std::max(got, 0)) * outChannels);
  *frames = std::max(got, 0);
  return got >= 0;
}

int FfmpegSource::Next(std::vector<int16_t>& out, int64_t* stamp) {
  *stamp = std::numeric_limits<int64_t>::min();
  if (format == nullptr || decoder == nullptr) return 0;
  ArmDeadline();
  while (av_gettime_relative() <= deadline) {
    const int received = decoderDone ? AVERROR_EOF : avcodec_receive_frame(decoder, frame);
    if (received == 0) {
      const int64_t at = frame->best_effort_timestamp;
      if (at != AV_NOPTS_VALUE)
        *stamp =
            av_rescale_q_rnd(at, format->streams[stream]->time_base, AVRational{1, outRate},
                             static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
      int frames = 0;
      const bool converted = Convert(out, &frames);
      av_frame_unref(frame);
      if (!converted) return 0;
      if (frames > 0) return frames;
      continue;
    }
    if (received != AVERROR(EAGAIN)) {
      // The end: what a converter to another rate still holds comes last.
      decoderDone = true;
      if (converterDrained || !Resampled()) return 0;
      converterDrained = true;
      int frames = 0;
      frame->nb_samples = 0;
      return Convert(out, &frames) ? frames : 0;
    }
    if (demuxerDone) return 0;
    if (av_read_frame(format, packet) < 0) {
      demuxerDone = true;
      avcodec_send_packet(decoder, nullptr);
      continue;
    }
    if (packet->stream_index == stream && Wanted(*packet)) {
      // A damaged packet is passed over, as FFmpeg's own player does.
      avcodec_send_packet(decoder, packet);
    }
    av_packet_unref(packet);
  }
  return 0;
}

bool FfmpegSource::Wanted(const AVPacket& p) {
  if (!firstPacketSeen) {
    firstPacketSeen = true;
    landedLate = p.pts != AV_NOPTS_VALUE && p.pts > firstPacket;
  }
  return p.pts == AV_NOPTS_VALUE || p.pts >= firstPacket;
}

bool FfmpegSource::Restart(int64_t seekTo, int64_t from) {
  if (format == nullptr) return false;
  ArmDeadline();
  const AVRational base = format->streams[stream]->time_base;
  const AVRational frames{1, outRate};
  if (av_seek_frame(format, stream, av_rescale_q(seekTo, frames, base), AVSEEK_FLAG_BACKWARD) < 0)
    return false;
  if (!StartDecoder()) return false;
  firstPacket = av_rescale_q(from, frames, base);
  firstPacketSeen = false;
  landedLate = false;
  demuxerDone = decoderDone = converterDrained = false;
  return true;
}
