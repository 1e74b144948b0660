#include "codec/qv_writer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr char kSignature[5] = {'q', 'v', 'o', 'x', 'a'};
constexpr off_t kHeaderSize = sizeof(kSignature) + sizeof(WaveFormatEx);

bool WriteAllAt(int fd, const void* data, size_t count, off_t offset) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    ssize_t n = ::pwrite(fd, p, count, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    count -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

bool WriteAll(int fd, const void* data, size_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    ssize_t n = ::write(fd, p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

QvWriter::~QvWriter() {
  Finish();
}

void QvWriter::SetFormat(const WaveFormatEx* newFormat) {
  format = newFormat;
}

// The header goes over the first bytes before the old contents are cut off, so
// a full disk leaves the previous recording in place instead of an empty file.
int32_t QvWriter::WriteHeaderAndTruncate() {
  char header[kHeaderSize];
  std::memcpy(header, kSignature, sizeof(kSignature));
  std::memcpy(header + sizeof(kSignature), format, sizeof(WaveFormatEx));
  if (!WriteAllAt(file, header, sizeof(header), 0)) return 0;
  if (::ftruncate(file, kHeaderSize) != 0) return 0;
  if (::lseek(file, kHeaderSize, SEEK_SET) != kHeaderSize) return 0;
  return 1;
}

int32_t QvWriter::Begin(const char* path) {
  if (format == nullptr) return 0;
  if (isOpen != 0) {
    // Restart the open file from scratch, so that new sound never lands on the header.
    if (WriteHeaderAndTruncate() != 0) return 1;
    Finish();
  }
  if (path == nullptr) return 0;

  bool created = false;
  int fd = ::open(path, O_WRONLY | O_CLOEXEC | O_CREAT | O_EXCL, 0666);
  if (fd >= 0) {
    created = true;
  } else if (errno == EEXIST) {
    fd = ::open(path, O_WRONLY | O_CLOEXEC);
  }
  if (fd < 0) return 0;
  // Exclusive with the qv reader; taken before anything is changed, so a refused
  // recording destroys nothing.
  struct stat st;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (created) ::unlink(path);
    return 0;
  }
  file = fd;
  isOpen = 1;
  if (WriteHeaderAndTruncate() == 0) {
    Finish();
    if (created) ::unlink(path);
    return 0;
  }
  return isOpen;
}

int32_t QvWriter::Append(const void* data, uint32_t count) {
  if (isOpen == 0) return 0;
  if (count == 0) return 1;
  if (data == nullptr) return 0;
  if (WriteAll(file, data, count)) return 1;
  // A full disk (or any failed write) may leave part of a frame: the file is
  // cut back to the last whole frame, so that it stays a valid recording.
  struct stat st;
  if (::fstat(file, &st) == 0 && st.st_size >= kHeaderSize) {
    const off_t align = format != nullptr && format->nBlockAlign > 0 ? format->nBlockAlign : 1;
    const off_t whole = kHeaderSize + (st.st_size - kHeaderSize) / align * align;
    if (::ftruncate(file, whole) == 0) ::lseek(file, whole, SEEK_SET);
  }
  return 0;
}

void QvWriter::Finish() {
  if (isOpen == 0) return;
  ::close(file);  // a failing close still releases the handle
  file = -1;
  isOpen = 0;
}
