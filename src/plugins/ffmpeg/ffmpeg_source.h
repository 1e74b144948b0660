// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

// One sound file opened with FFmpeg's libraries: the demuxer, the decoder of
// its sound stream (the default one of a video, the picture ignored) and the
// conversion to interleaved 16-bit PCM of one or two channels. Every call is
// bounded in time, so a hostile file cannot hang the caller.
class FfmpegSource {
 public:
  static constexpr int kUnknownStamp = -1;

  FfmpegSource();
  ~FfmpegSource();
  FfmpegSource(const FfmpegSource&) = delete;
  FfmpegSource& operator=(const FfmpegSource&) = delete;

  // Opens path and decodes nothing yet; at most maxChannels (1 or 2) come out.
  bool Open(const std::string& path, int maxChannels);
  void Close();
  bool IsOpen() const { return format != nullptr; }

  int Rate() const { return outRate; }
  int Channels() const { return outChannels; }
  // Whether the sound is converted to another rate: the converter then has a
  // past of its own and only reading from the start is exact.
  bool Resampled() const { return inRate != outRate; }
  // Whether the container's stamps are coarser than one frame (Matroska's
  // milliseconds), so that a stamp can miss the frame it means.
  bool CoarseStamps() const;
  // The frames a new decoder drops from its start (Opus's pre-skip), and how
  // far that moved its first frame's stamp, in output frames as stamps count.
  int64_t StartSkipFrames() const;
  int64_t StartSkipStamp() const;
  // Frames a decoder needs before a place to sound there as it does when read
  // straight through.
  int64_t PrerollFrames() const;
  // The container's idea of the sound's length in frames, -1 when it has none.
  int64_t DurationFrames() const;
  // How far into the file the demuxer has read, and the file's size, in bytes
  // (0 when unknown).
  int64_t BytesRead() const;
  int64_t FileBytes() const;

  // Decodes the next frame of sound and appends it to out; *stamp is where it
  // starts, in frames of the output rate on the container's clock (or
  // INT64_MIN when it does not say). Returns the frames appended, 0 at the end
  // of the sound (or of what can be decoded).
  int Next(std::vector<int16_t>& out, int64_t* stamp);

  // Starts a new decoder, as fresh as the one Open makes, on the first packet
  // stamped at or after from (in output frames on the container's clock),
  // the demuxer being moved to a place at or before seekTo. The decoder
  // starts on the same packet whatever was read before, so what it decodes is
  // the same every time. False when the file cannot seek.
  bool Restart(int64_t seekTo, int64_t from);
  // Whether the demuxer came down after the place Restart asked for, so the
  // decoder did not start where asked.
  bool LandedLate() const { return landedLate; }

 private:
  bool OpenDecoder(int maxChannels);
  bool StartDecoder();
  bool Wanted(const AVPacket& p);
  bool Convert(std::vector<int16_t>& out, int* frames);
  bool ConfigureConverter();
  void ArmDeadline();

  AVFormatContext* format = nullptr;
  AVCodecContext* decoder = nullptr;
  SwrContext* converter = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int stream = -1;
  int inRate = 0;
  int outRate = 0;
  int outChannels = 0;
  // The layout, sample format and rate the converter was made for.
  int convertedFormat = -1;
  int convertedRate = 0;
  uint64_t convertedLayoutMask = 0;
  int convertedLayoutChannels = 0;
  // Packets of the stream stamped before this (in the stream's time base)
  // are not decoded; INT64_MIN lets all through.
  int64_t firstPacket = INT64_MIN;
  bool firstPacketSeen = true;
  bool landedLate = false;
  bool demuxerDone = false;
  bool decoderDone = false;
  bool converterDrained = false;
  int64_t deadline = 0;
  friend int FfmpegSourceInterrupt(void* opaque);
};
