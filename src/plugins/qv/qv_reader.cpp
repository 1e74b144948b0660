// SPDX-License-Identifier: GPL-3.0-or-later
#include "qv_reader.h"

#include "codec/playable_format.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace {

constexpr char kSignature[5] = {'q', 'v', 'o', 'x', 'a'};
constexpr int32_t kHeaderSize = sizeof(kSignature) + sizeof(WaveFormatEx);

// Reads up to count bytes, retrying short reads; returns the bytes read or -1.
ssize_t ReadFully(int fd, void* buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

}  // namespace

QvReader::QvReader() : extension(".qv"), dataStart(-1), dataLength(-1), file(-1) {}

QvReader::~QvReader() {
  Close();
}

int32_t QvReader::Open(const char* path, WaveFormatEx* format) {
  if (path == nullptr || format == nullptr) return 0;
  if (file >= 0) Close();

  // Not blocking: a FIFO under a .qv name is refused below, not waited on.
  int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return 0;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return 0;
  }
  // Exclusive with the recorder: neither may touch a file the other holds.
  // Readers share (the adaptive split reads the item the engine plays).
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
    ::close(fd);
    return 0;
  }
  file = fd;

  char signature[sizeof(kSignature)];
  if (ReadFully(fd, signature, sizeof(signature)) != static_cast<ssize_t>(sizeof(signature)) ||
      std::memcmp(signature, kSignature, sizeof(kSignature)) != 0) {
    Close();
    return 0;
  }
  if (ReadFully(fd, format, sizeof(WaveFormatEx)) != static_cast<ssize_t>(sizeof(WaveFormatEx)) ||
      !IsPlayableFormat(*format)) {
    Close();
    return 0;
  }
  // Lengths cross the interface as 32-bit counts and -1 means closed, so a
  // longer file cannot be described and is refused.
  // A frame cut off at the end (a recording killed mid-write) is no sound.
  off_t length = st.st_size - kHeaderSize;
  if (length > 0) length -= length % format->nBlockAlign;
  if (length < 0 || length > std::numeric_limits<int32_t>::max()) {
    Close();
    return 0;
  }
  dataStart = kHeaderSize;
  dataLength = static_cast<int32_t>(length);
  return 1;
}

void QvReader::Close() {
  dataStart = -1;
  dataLength = -1;
  if (file >= 0) {
    ::close(file);  // an error here only means the handle is gone anyway
    file = -1;
  }
}

int32_t QvReader::Read(CodecBlock* block, uint32_t readLimit) {
  if (block == nullptr || IsOpen() == 0 || file < 0) return kReadEnd;
  const uint32_t limit = EffectiveReadLimit(readLimit, static_cast<uint32_t>(dataLength));
  if (block->position >= limit) return kReadEnd;
  if (block->seekRequested != 0) {
    // A failed seek is dropped: the read goes on from the current place.
    ::lseek(file, static_cast<off_t>(dataStart) + block->position, SEEK_SET);
    block->seekRequested = 0;
  }
  if (block->data == nullptr || block->capacity == 0) return kReadEnd;
  const uint32_t left = static_cast<uint32_t>(dataLength) -
                        std::min(block->position, static_cast<uint32_t>(dataLength));
  const ssize_t n = ReadFully(file, block->data, std::min(block->capacity, left));
  if (n <= 0) return kReadEnd;
  block->bytesRead = static_cast<uint32_t>(n);
  block->nextPosition = block->position + static_cast<uint32_t>(n);
  return kReadFilled;
}

uint32_t QvReader::GetLength() {
  return static_cast<uint32_t>(dataLength);
}

int32_t QvReader::IsOpen() {
  return (dataStart == -1 && dataLength == -1) ? 0 : 1;
}

const char* QvReader::GetExtension() {
  return extension;
}
