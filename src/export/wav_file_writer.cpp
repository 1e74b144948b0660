// SPDX-License-Identifier: GPL-3.0-or-later
#include "export/wav_file_writer.h"

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include <filesystem>
#include <new>
#include <vector>

#include "codec/codec_registry.h"
#include "dsp/loudness_normalizer.h"

namespace {

// The rate Opus is written at: the lowest it takes that loses nothing.
int OpusRate(int rate) {
  for (int r : {8000, 12000, 16000, 24000})
    if (rate <= r) return r;
  return 48000;
}

}  // namespace

WavFileWriter::~WavFileWriter() {
  Close();
}

bool WavFileWriter::KindOf(const std::string& path, Kind* found) {
  std::string extension;
  if (!ExtensionOfPath(path, &extension)) return false;
  static const std::pair<const char*, Kind> kKinds[] = {{"wav", Kind::kWav},
                                                        {"flac", Kind::kFlac},
                                                        {"ogg", Kind::kOgg},
                                                        {"opus", Kind::kOpus},
                                                        {"mp3", Kind::kMp3}};
  for (const auto& [name, k] : kKinds) {
    if (extension == name) {
      *found = k;
      return true;
    }
  }
  return false;
}

bool WavFileWriter::Writes(const std::string& path) {
  Kind k;
  return KindOf(path, &k);
}

void WavFileWriter::FillWavHeader(const WaveFormatEx& format, uint64_t dataBytes,
                                  uint8_t header[kWavHeaderBytes]) {
  // Filled in place: the sink refreshes it while sound plays, which must not allocate.
  uint8_t* at = header;
  auto text = [&at](const char* four) {
    std::memcpy(at, four, 4);
    at += 4;
  };
  auto u16 = [&at](uint32_t v) {
    *at++ = static_cast<uint8_t>(v & 0xFF);
    *at++ = static_cast<uint8_t>((v >> 8) & 0xFF);
  };
  auto u32 = [&](uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  auto u64 = [&](uint64_t v) {
    u32(static_cast<uint32_t>(v));
    u32(static_cast<uint32_t>(v >> 32));
  };
  // 12 (RIFF) + 36 (JUNK or ds64) + 24 (fmt) + 8 (data), then the data and
  // its pad byte when it is odd.
  const uint64_t riffBytes = 72 + dataBytes + (dataBytes & 1);
  const bool big = riffBytes > 0xFFFFFFFFull;
  text(big ? "RF64" : "RIFF");
  u32(big ? 0xFFFFFFFFu : static_cast<uint32_t>(riffBytes));
  text("WAVE");
  text(big ? "ds64" : "JUNK");
  u32(28);
  if (big) {
    u64(riffBytes);
    u64(dataBytes);
    u64(dataBytes / std::max<uint16_t>(format.nBlockAlign, 1));
    u32(0);
  } else {
    std::memset(at, 0, 28);
    at += 28;
  }
  text("fmt ");
  u32(16);
  u16(kWaveFormatPcm);
  u16(format.nChannels);
  u32(format.nSamplesPerSec);
  u32(format.nAvgBytesPerSec);
  u16(format.nBlockAlign);
  u16(format.wBitsPerSample);
  text("data");
  u32(big ? 0xFFFFFFFFu : static_cast<uint32_t>(dataBytes));
}

std::string WavFileWriter::WavHeader(const WaveFormatEx& format, uint64_t dataBytes) {
  uint8_t header[kWavHeaderBytes];
  FillWavHeader(format, dataBytes, header);
  return std::string(reinterpret_cast<const char*>(header), kWavHeaderBytes);
}

bool WavFileWriter::WriteHeader() {
  uint8_t header[kWavHeaderBytes];
  FillWavHeader(wavFormat, wavBytes, header);
  return ::pwrite(file.Descriptor(), header, kWavHeaderBytes, 0) ==
         static_cast<ssize_t>(kWavHeaderBytes);
}

bool WavFileWriter::Create(const std::string& newPath, std::string* error, const Options& wanted) {
  Close();
  Kind chosen;
  if (!KindOf(newPath, &chosen)) {
    if (error)
      *error = newPath +
               ": not a kind of sound file kestro writes (use .wav, .flac, .ogg, .opus or .mp3)";
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex);
  if (!piece) piece.reset(new (std::nothrow) uint8_t[kPieceBytes]);
  if (!piece) {
    if (error) *error = "no memory for " + newPath;
    return false;
  }
  // The file is made now, beside its name, so that a folder that cannot take
  // it is reported at once; libsndfile writes it once the format of the first
  // sound is known, and it takes the name only when whole.
  if (!file.Create(newPath, error)) return false;
  if (wanted.normalize) {
    // Beside the file, where its room is; nameless, so nothing is left behind.
    const std::filesystem::path folder = std::filesystem::path(file.TemporaryPath()).parent_path();
    spool = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (spool < 0) {
      FILE* elsewhere = std::tmpfile();
      spool = elsewhere != nullptr ? ::dup(fileno(elsewhere)) : -1;
      if (elsewhere != nullptr) std::fclose(elsewhere);
    }
    if (spool < 0) {
      if (error)
        *error = "cannot make a temporary file for " + newPath + ": " + std::strerror(errno);
      file.Abandon();
      return false;
    }
  }
  path = newPath;
  kind = chosen;
  options = wanted;
  created = true;
  dataBytes = 0;
  wavBytes = 0;
  failed = false;
  this->error.clear();
  return true;
}

void WavFileWriter::Fail(const char* what) {
  if (!failed) error = std::string(what) + " " + path + ": " + std::strerror(errno);
  failed = true;
}

std::string WavFileWriter::Error() const {
  std::lock_guard<std::mutex> lock(mutex);
  return error;
}

bool WavFileWriter::OpenSound(const WaveFormatEx& format) {
  frameBytes = std::max<uint32_t>(format.nBlockAlign, 1);
  held = 0;
  wavFormat = format;
  wavFormat.wFormatTag = kWaveFormatPcm;
  wavFormat.cbSize = 0;
  if (spool >= 0) {
    // The loudness is reached in 16 bits; the file is written on close.
    wavFormat.wBitsPerSample = 16;
    wavFormat.nBlockAlign = static_cast<uint16_t>(2 * format.nChannels);
    wavFormat.nAvgBytesPerSec = wavFormat.nBlockAlign * format.nSamplesPerSec;
    return true;
  }
  if (kind == Kind::kWav) {
    uint8_t header[kWavHeaderBytes];
    FillWavHeader(wavFormat, 0, header);
    wavOpen = ::write(file.Descriptor(), header, kWavHeaderBytes) ==
              static_cast<ssize_t>(kWavHeaderBytes);
    return wavOpen;
  }
  return OpenEncoder();
}

bool WavFileWriter::OpenEncoder() {
  const int rate = static_cast<int>(wavFormat.nSamplesPerSec);
  SF_INFO info{};
  info.samplerate = kind == Kind::kOpus ? OpusRate(rate) : rate;
  info.channels = wavFormat.nChannels;
  info.format = kind == Kind::kFlac   ? SF_FORMAT_FLAC | SF_FORMAT_PCM_16
                : kind == Kind::kOgg  ? SF_FORMAT_OGG | SF_FORMAT_VORBIS
                : kind == Kind::kOpus ? SF_FORMAT_OGG | SF_FORMAT_OPUS
                                      : SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
  converting = info.samplerate != rate;
  if (converting && !converter.Open(info.channels, rate, info.samplerate)) return false;
  sound = sf_open_fd(file.Descriptor(), SFM_WRITE, &info, SF_FALSE);
  if (sound == nullptr) return false;
  // Speech needs little: Vorbis at VBR quality 0.3 (some 90 kbit/s for
  // stereo speech), MP3 at libsndfile's lowest VBR quality (some 100 kbit/s),
  // Opus at 0.1 (some 30 kbit/s a channel), FLAC at the middle compression level.
  const double fallback = kind == Kind::kFlac   ? 0.5
                          : kind == Kind::kOgg  ? 0.3
                          : kind == Kind::kOpus ? 0.1
                                                : 0.0;
  double q = options.quality >= 0 ? std::min(options.quality, 1.0) : fallback;
  // libsndfile's Opus takes a compression level, 1 being the lowest bit rate.
  if (kind == Kind::kOpus) q = 1.0 - q;
  sf_command(sound,
             kind == Kind::kFlac || kind == Kind::kOpus ? SFC_SET_COMPRESSION_LEVEL
                                                        : SFC_SET_VBR_ENCODING_QUALITY,
             &q, sizeof(q));
  return true;
}

bool WavFileWriter::Append(const WaveFormatEx& format, const uint8_t* data, uint32_t count) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!created || failed) return false;
  if (!opened && !(opened = OpenSound(format))) {
    Fail("cannot write");
    return false;
  }
  // Sound is written in large pieces (one system call per buffer would cost
  // more than the sound); the pieces hold whole frames, as a WAV file must.
  size_t done = 0;
  while (done < count) {
    const size_t n = std::min<size_t>(count - done, kPieceBytes - held);
    std::memcpy(piece.get() + held, data + done, n);
    held += n;
    done += n;
    dataBytes += n;
    if (held == kPieceBytes && !WriteWholeFrames()) return false;
  }
  return true;
}

bool WavFileWriter::WriteAll(int fd, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool WavFileWriter::Encode(const int16_t* samples, size_t frames) {
  if (kind == Kind::kWav) {
    const size_t bytes = frames * wavFormat.nBlockAlign;
    wavBytes += bytes;
    return WriteAll(file.Descriptor(), samples, bytes);
  }
  if (converting) {
    converted.clear();
    if (!converter.Convert(samples, frames, &converted)) return false;
    samples = converted.data();
    frames = converted.size() / wavFormat.nChannels;
  }
  const auto count = static_cast<sf_count_t>(frames);
  return sf_writef_short(sound, samples, count) == count;
}

bool WavFileWriter::WriteWholeFrames() {
  const size_t whole = held / frameBytes * frameBytes;
  bool written = true;
  const bool eightBit = frameBytes != static_cast<uint32_t>(2 * wavFormat.nChannels);
  if (whole > 0 && kind == Kind::kWav && spool < 0) {
    written = WriteAll(file.Descriptor(), piece.get(), whole);
    wavBytes += whole;
  } else if (whole > 0) {
    // The encoders and the loudness take 16-bit samples: 8-bit is widened.
    std::vector<short> widened;
    const short* samples = reinterpret_cast<const short*>(piece.get());
    if (eightBit) {
      widened.resize(whole);
      for (size_t i = 0; i < whole; ++i)
        widened[i] = static_cast<short>((piece[i] - 128) * 256);
      samples = widened.data();
    }
    const size_t frames = whole / frameBytes;
    written = spool >= 0 ? WriteAll(spool, samples, frames * 2 * wavFormat.nChannels)
                         : Encode(samples, frames);
  }
  if (!written) {
    Fail("could not write all of");
    return false;
  }
  std::memmove(piece.get(), piece.get() + whole, held - whole);
  held -= whole;
  return true;
}

bool WavFileWriter::WriteNormalized() {
  const int channels = wavFormat.nChannels;
  const size_t frameSize = 2 * static_cast<size_t>(channels);
  if (kind == Kind::kWav) {
    uint8_t header[kWavHeaderBytes];
    FillWavHeader(wavFormat, 0, header);
    if (!WriteAll(file.Descriptor(), header, kWavHeaderBytes)) return false;
    wavOpen = true;
  } else if (!OpenEncoder()) {
    return false;
  }
  std::vector<int16_t> buffer(kPieceBytes / 2);
  auto replay = [&](const LoudnessNormalizer::Piece& take) {
    for (off_t at = 0;;) {
      const ssize_t n = ::pread(spool, buffer.data(), buffer.size() * 2, at);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      const size_t frames = static_cast<size_t>(n) / frameSize;
      if (frames == 0) return true;
      if (!take(buffer.data(), frames)) return false;
      at += static_cast<off_t>(frames * frameSize);
    }
  };
  LoudnessNormalizer normalizer(channels, static_cast<int>(wavFormat.nSamplesPerSec),
                                options.loudness);
  return normalizer.Run(
      replay, [this](const int16_t* samples, size_t frames) { return Encode(samples, frames); });
}

bool WavFileWriter::Flush() {
  std::lock_guard<std::mutex> lock(mutex);
  if (!created) return false;
  if (wavOpen && !failed) {
    WriteWholeFrames();
    if (!WriteHeader()) Fail("could not write the header of");
  }
  // An encoder's stream is made whole by its close alone.
  return !failed;
}

bool WavFileWriter::Close() {
  std::lock_guard<std::mutex> lock(mutex);
  if (!created) return !failed;
  // Nothing was played: an empty file in the recording format.
  if (!opened && !failed) opened = OpenSound(WaveFormatEx{1, 2, 44100, 176400, 4, 16, 0});
  if (spool >= 0) {
    if (!failed && WriteWholeFrames() && !WriteNormalized()) Fail("could not write all of");
    ::close(spool);
    spool = -1;
  }
  if (wavOpen) {
    if (!failed) WriteWholeFrames();  // a split last frame cannot be kept
    // A data chunk of odd length is followed by a pad byte.
    if (!failed && (wavBytes & 1) && ::write(file.Descriptor(), "", 1) != 1)
      Fail("could not write all of");
    if (!failed && !WriteHeader()) Fail("could not write the header of");
    wavOpen = false;
  }
  if (sound != nullptr) {
    if (!failed) WriteWholeFrames();  // a split last frame cannot be kept
    if (!failed && converting) {
      converted.clear();
      const bool drained = converter.Drain(&converted);
      const auto count = static_cast<sf_count_t>(converted.size() / wavFormat.nChannels);
      if (!drained || sf_writef_short(sound, converted.data(), count) != count)
        Fail("could not write all of");
    }
    if (sf_close(sound) != 0) Fail("could not finish");
  }
  sound = nullptr;
  opened = false;
  created = false;
  // A file that could not be written whole leaves the name as it was.
  std::string why;
  if (!failed && !file.Commit(&why)) {
    failed = true;
    error = why;
  }
  file.Abandon();
  return !failed;
}

void WavFileWriter::Discard() {
  std::lock_guard<std::mutex> lock(mutex);
  if (sound != nullptr) sf_close(sound);
  sound = nullptr;
  if (spool >= 0) ::close(spool);
  spool = -1;
  wavOpen = false;
  opened = false;
  created = false;
  file.Abandon();
}

bool WavFileWriter::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex);
  return created;
}

std::string WavFileWriter::WrittenPath() const {
  std::lock_guard<std::mutex> lock(mutex);
  return created ? file.TemporaryPath() : path;
}

uint64_t WavFileWriter::DataBytes() const {
  std::lock_guard<std::mutex> lock(mutex);
  return dataBytes;
}
