#include "platform/wav_file_writer.h"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include <new>
#include <vector>

#include "codec/codec_registry.h"

WavFileWriter::~WavFileWriter() {
  Close();
}

bool WavFileWriter::KindOf(const std::string& path, Kind* found) {
  std::string extension;
  if (!ExtensionOfPath(path, &extension)) return false;
  static const std::pair<const char*, Kind> kKinds[] = {
      {"wav", Kind::kWav}, {"flac", Kind::kFlac}, {"ogg", Kind::kOgg}, {"mp3", Kind::kMp3}};
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
  FillWavHeader(wavFormat, dataBytes - held, header);
  return ::pwrite(file.Descriptor(), header, kWavHeaderBytes, 0) ==
         static_cast<ssize_t>(kWavHeaderBytes);
}

bool WavFileWriter::Create(const std::string& newPath, std::string* error, double wanted) {
  Close();
  Kind chosen;
  if (!KindOf(newPath, &chosen)) {
    if (error)
      *error = newPath + ": not a kind of sound file kestro writes (use .wav, .flac, .ogg or .mp3)";
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
  path = newPath;
  kind = chosen;
  quality = wanted;
  created = true;
  dataBytes = 0;
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
  if (kind == Kind::kWav) {
    uint8_t header[kWavHeaderBytes];
    FillWavHeader(wavFormat, 0, header);
    wavOpen = ::write(file.Descriptor(), header, kWavHeaderBytes) ==
              static_cast<ssize_t>(kWavHeaderBytes);
    return wavOpen;
  }
  SF_INFO info{};
  info.samplerate = static_cast<int>(format.nSamplesPerSec);
  info.channels = format.nChannels;
  info.format = kind == Kind::kFlac  ? SF_FORMAT_FLAC | SF_FORMAT_PCM_16
                : kind == Kind::kOgg ? SF_FORMAT_OGG | SF_FORMAT_VORBIS
                                     : SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
  sound = sf_open_fd(file.Descriptor(), SFM_WRITE, &info, SF_FALSE);
  if (sound == nullptr) return false;
  // Speech needs little: Vorbis at VBR quality 0.3 (some 90 kbit/s for
  // stereo speech), MP3 at libsndfile's lowest VBR quality (some 100 kbit/s),
  // FLAC at the middle compression level.
  const double fallback = kind == Kind::kFlac ? 0.5 : kind == Kind::kOgg ? 0.3 : 0.0;
  double q = quality >= 0 ? std::min(quality, 1.0) : fallback;
  sf_command(sound, kind == Kind::kFlac ? SFC_SET_COMPRESSION_LEVEL : SFC_SET_VBR_ENCODING_QUALITY,
             &q, sizeof(q));
  return true;
}

bool WavFileWriter::Append(const WaveFormatEx& format, const uint8_t* data, uint32_t count) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!created || failed) return false;
  if (sound == nullptr && !wavOpen && !OpenSound(format)) {
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

bool WavFileWriter::WriteWholeFrames() {
  const size_t whole = held / frameBytes * frameBytes;
  bool written = true;
  if (whole > 0 && kind == Kind::kWav) {
    for (size_t done = 0; written && done < whole;) {
      const ssize_t n = ::write(file.Descriptor(), piece.get() + done, whole - done);
      if (n < 0 && errno == EINTR) continue;
      written = n > 0;
      if (written) done += static_cast<size_t>(n);
    }
  } else if (whole > 0) {
    // The encoders take samples: 16-bit as they are, 8-bit widened.
    std::vector<short> widened;
    const short* samples = reinterpret_cast<const short*>(piece.get());
    if (wavFormat.wBitsPerSample == 8) {
      widened.resize(whole);
      for (size_t i = 0; i < whole; ++i)
        widened[i] = static_cast<short>((piece[i] - 128) * 256);
      samples = widened.data();
    }
    const sf_count_t frames = static_cast<sf_count_t>(whole / frameBytes);
    written = sf_writef_short(sound, samples, frames) == frames;
  }
  if (!written) {
    Fail("could not write all of");
    return false;
  }
  std::memmove(piece.get(), piece.get() + whole, held - whole);
  held -= whole;
  return true;
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
  if (sound == nullptr && !wavOpen && !failed)
    OpenSound(WaveFormatEx{1, 2, 44100, 176400, 4, 16, 0});
  if (wavOpen) {
    if (!failed) WriteWholeFrames();  // a split last frame cannot be kept
    // A data chunk of odd length is followed by a pad byte.
    if (!failed && ((dataBytes - held) & 1) && ::write(file.Descriptor(), "", 1) != 1)
      Fail("could not write all of");
    if (!failed && !WriteHeader()) Fail("could not write the header of");
    wavOpen = false;
  }
  if (sound != nullptr) {
    if (!failed) WriteWholeFrames();  // a split last frame cannot be kept
    if (sf_close(sound) != 0) Fail("could not finish");
  }
  sound = nullptr;
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
  wavOpen = false;
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
