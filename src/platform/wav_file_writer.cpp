#include "platform/wav_file_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

WavFileWriter::~WavFileWriter() {
  Close();
}

bool WavFileWriter::Create(const std::string& newPath, std::string* error) {
  Close();
  std::lock_guard<std::mutex> lock(mutex);
  // The file is made now, so that a folder that cannot take it is reported at
  // once; libsndfile writes it once the format of the first sound is known.
  FILE* probe = std::fopen(newPath.c_str(), "wb");
  if (probe == nullptr) {
    if (error) *error = "cannot create " + newPath + ": " + std::strerror(errno);
    return false;
  }
  std::fclose(probe);
  path = newPath;
  created = true;
  dataBytes = 0;
  failed = false;
  return true;
}

bool WavFileWriter::OpenSound(const WaveFormatEx& format) {
  SF_INFO info{};
  info.samplerate = static_cast<int>(format.nSamplesPerSec);
  info.channels = format.nChannels;
  // RF64 that stays plain WAV while it fits: any length, and the usual header
  // for everything under 4 GiB.
  info.format = SF_FORMAT_RF64 | (format.wBitsPerSample == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
  sound = sf_open(path.c_str(), SFM_WRITE, &info);
  if (sound == nullptr) return false;
  sf_command(sound, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
  frameBytes = std::min<uint32_t>(format.nBlockAlign, sizeof(pending));
  pendingBytes = 0;
  return true;
}

bool WavFileWriter::Append(const WaveFormatEx& format, const uint8_t* data, uint32_t count) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!created || failed) return false;
  if (sound == nullptr && !OpenSound(format)) {
    failed = true;
    return false;
  }
  // A WAV file holds whole frames: a split frame waits for the rest of its bytes.
  const uint32_t align = std::max<uint32_t>(frameBytes, 1);
  uint32_t used = 0;
  if (pendingBytes > 0) {
    used = std::min(count, align - pendingBytes);
    std::memcpy(pending + pendingBytes, data, used);
    pendingBytes += used;
    if (pendingBytes < align) return true;
    if (sf_write_raw(sound, pending, align) != align) failed = true;
    dataBytes += align;
    pendingBytes = 0;
  }
  const uint32_t whole = (count - used) / align * align;
  if (whole > 0 && sf_write_raw(sound, data + used, whole) != static_cast<sf_count_t>(whole)) {
    failed = true;
  }
  dataBytes += whole;
  pendingBytes = count - used - whole;
  std::memcpy(pending, data + used + whole, pendingBytes);
  return !failed;
}

bool WavFileWriter::Flush() {
  std::lock_guard<std::mutex> lock(mutex);
  if (!created) return false;
  if (sound != nullptr) {
    sf_command(sound, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    sf_write_sync(sound);
  }
  return !failed;
}

void WavFileWriter::Close() {
  std::lock_guard<std::mutex> lock(mutex);
  if (!created) return;
  // Nothing was played: an empty file in the recording format.
  if (sound == nullptr) OpenSound(WaveFormatEx{1, 2, 44100, 176400, 4, 16, 0});
  if (sound != nullptr) sf_close(sound);
  sound = nullptr;
  created = false;
}

bool WavFileWriter::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex);
  return created;
}

uint64_t WavFileWriter::DataBytes() const {
  std::lock_guard<std::mutex> lock(mutex);
  return dataBytes;
}
