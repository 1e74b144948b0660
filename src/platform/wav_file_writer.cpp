#include "platform/wav_file_writer.h"

#include <cerrno>
#include <cstring>

namespace {

void Put32(uint8_t* p, uint32_t v) {
  std::memcpy(p, &v, 4);
}
void Put16(uint8_t* p, uint16_t v) {
  std::memcpy(p, &v, 2);
}

}  // namespace

WavFileWriter::~WavFileWriter() {
  Close();
}

bool WavFileWriter::Create(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex);
  if (file != nullptr) std::fclose(file);
  file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    if (error) *error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  haveFormat = false;
  dataBytes = 0;
  failed = false;
  return true;
}

bool WavFileWriter::WriteHeader() {
  uint8_t header[44];
  std::memcpy(header, "RIFF", 4);
  const uint32_t data = dataBytes > 0xFFFFFFFFull - 36 ? 0xFFFFFFFFu - 36 : uint32_t(dataBytes);
  Put32(header + 4, 36 + data);
  std::memcpy(header + 8, "WAVEfmt ", 8);
  Put32(header + 16, 16);
  Put16(header + 20, format.wFormatTag);
  Put16(header + 22, format.nChannels);
  Put32(header + 24, format.nSamplesPerSec);
  Put32(header + 28, format.nAvgBytesPerSec);
  Put16(header + 32, format.nBlockAlign);
  Put16(header + 34, format.wBitsPerSample);
  std::memcpy(header + 36, "data", 4);
  Put32(header + 40, data);
  const long end = std::ftell(file);
  if (std::fseek(file, 0, SEEK_SET) != 0 || std::fwrite(header, 1, 44, file) != 44) return false;
  if (end > 44 && std::fseek(file, end, SEEK_SET) != 0) return false;
  return true;
}

bool WavFileWriter::Append(const WaveFormatEx& newFormat, const uint8_t* data, uint32_t count) {
  std::lock_guard<std::mutex> lock(mutex);
  if (file == nullptr || failed) return false;
  if (!haveFormat) {
    format = newFormat;
    haveFormat = true;
    if (!WriteHeader()) {
      failed = true;
      return false;
    }
  }
  if (count > 0 && std::fwrite(data, 1, count, file) != count) {
    failed = true;
    return false;
  }
  dataBytes += count;
  return true;
}

bool WavFileWriter::Flush() {
  std::lock_guard<std::mutex> lock(mutex);
  if (file == nullptr) return false;
  if (haveFormat && !WriteHeader()) failed = true;
  if (std::fflush(file) != 0) failed = true;
  return !failed;
}

void WavFileWriter::Close() {
  std::lock_guard<std::mutex> lock(mutex);
  if (file == nullptr) return;
  if (!haveFormat) {  // nothing was played: an empty file in the recording format
    format = WaveFormatEx{1, 2, 44100, 176400, 4, 16, 0};
  }
  WriteHeader();
  std::fclose(file);
  file = nullptr;
}

bool WavFileWriter::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex);
  return file != nullptr;
}

uint64_t WavFileWriter::DataBytes() const {
  std::lock_guard<std::mutex> lock(mutex);
  return dataBytes;
}
