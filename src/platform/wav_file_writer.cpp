#include "platform/wav_file_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

WavFileWriter::~WavFileWriter() {
  Close();
}

bool WavFileWriter::Create(const std::string& newPath, std::string* error) {
  Close();
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
  SF_INFO info{};
  info.samplerate = static_cast<int>(format.nSamplesPerSec);
  info.channels = format.nChannels;
  // RF64 that stays plain WAV while it fits: any length, and the usual header
  // for everything under 4 GiB.
  info.format = SF_FORMAT_RF64 | (format.wBitsPerSample == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
  sound = sf_open_fd(file.Descriptor(), SFM_WRITE, &info, SF_FALSE);
  if (sound == nullptr) return false;
  sf_command(sound, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
  frameBytes = std::max<uint32_t>(format.nBlockAlign, 1);
  held = 0;
  return true;
}

bool WavFileWriter::Append(const WaveFormatEx& format, const uint8_t* data, uint32_t count) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!created || failed) return false;
  if (sound == nullptr && !OpenSound(format)) {
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
  if (whole > 0 && sf_write_raw(sound, piece.get(), static_cast<sf_count_t>(whole)) !=
                       static_cast<sf_count_t>(whole)) {
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
  if (sound != nullptr) {
    WriteWholeFrames();
    sf_command(sound, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    sf_write_sync(sound);
  }
  return !failed;
}

bool WavFileWriter::Close() {
  std::lock_guard<std::mutex> lock(mutex);
  if (!created) return !failed;
  // Nothing was played: an empty file in the recording format.
  if (sound == nullptr && !failed) OpenSound(WaveFormatEx{1, 2, 44100, 176400, 4, 16, 0});
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
