// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/qv_writer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/replacing_file.h"

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

}  // namespace

QvWriter::~QvWriter() {
  Finish();
}

void QvWriter::SetFormat(const WaveFormatEx* newFormat) {
  format = newFormat;
  // Made here, not while recording.
  if (format != nullptr) split.reserve(format->nBlockAlign);
}

// The header goes over the first bytes before the old contents are cut off, so
// a full disk leaves the previous recording in place instead of an empty file.
int32_t QvWriter::WriteHeaderAndTruncate() {
  char header[kHeaderSize];
  std::memcpy(header, kSignature, sizeof(kSignature));
  std::memcpy(header + sizeof(kSignature), format, sizeof(WaveFormatEx));
  if (!WriteAllAt(file, header, sizeof(header), 0)) return 0;
  if (::ftruncate(file, kHeaderSize) != 0) return 0;
  end = kHeaderSize;
  split.clear();
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

  // Never through a link (a symbolic one fails with ELOOP), and never blocking
  // on a FIFO in the recording's place.
  bool created = false;
  int fd = ::open(path, O_WRONLY | O_CLOEXEC | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
  if (fd >= 0) {
    created = true;
  } else if (errno == EEXIST) {
    fd = ::open(path, O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  }
  bool replace = fd < 0 && errno == ELOOP;
  struct stat st;
  if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink > 1) {
    // A hard link: writing would change the other name's file too.
    ::close(fd);
    fd = -1;
    replace = true;
  }
  if (replace) {
    // A new file takes the name once its header is written: what the link
    // led to is left as it was.
    ReplacingFile replacement;
    if (!replacement.Create(path, nullptr) ||
        ::flock(replacement.Descriptor(), LOCK_EX | LOCK_NB) != 0)
      return 0;
    file = replacement.Descriptor();
    if (WriteHeaderAndTruncate() == 0 || replacement.PutInPlace(nullptr) < 0) {
      file = -1;  // the replacement removes its file
      return 0;
    }
    isOpen = 1;
    return 1;
  }
  if (fd < 0) return 0;
  // Exclusive with the qv reader; taken before anything is changed, so a refused
  // recording destroys nothing.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (created) ::unlink(path);
    return 0;
  }
  ::fcntl(fd, F_SETFL, 0);
  file = fd;
  isOpen = 1;
  if (WriteHeaderAndTruncate() == 0) {
    Finish();
    if (created) ::unlink(path);
    return 0;
  }
  return isOpen;
}

bool QvWriter::AppendFrames(const void* data, uint32_t count) {
  // The file grows by the frames before their bytes land: a recording killed
  // anywhere ends on a frame (at worst in a little silence).
  if (::ftruncate(file, end + count) != 0) return false;
  if (WriteAllAt(file, data, count, end)) {
    end += count;
    return true;
  }
  // A full disk (or any failed write): the file is cut back to what it held.
  ::ftruncate(file, end);
  return false;
}

int32_t QvWriter::Append(const void* data, uint32_t count) {
  if (isOpen == 0) return 0;
  if (count == 0) return 1;
  if (data == nullptr) return 0;
  // Whole frames only; a split frame waits for its rest in the next call.
  const uint32_t align = format != nullptr && format->nBlockAlign > 0 ? format->nBlockAlign : 1;
  const char* p = static_cast<const char*>(data);
  if (split.size() > 0) {
    const uint32_t take = std::min<uint32_t>(count, align - static_cast<uint32_t>(split.size()));
    split.append(p, take);
    p += take;
    count -= take;
    if (split.size() < align) return 1;
    if (!AppendFrames(split.data(), align)) return 0;
    split.clear();
  }
  const uint32_t whole = count / align * align;
  if (whole > 0 && !AppendFrames(p, whole)) return 0;
  split.assign(p + whole, count - whole);
  return 1;
}

void QvWriter::Finish() {
  if (isOpen == 0) return;
  ::close(file);  // a failing close still releases the handle
  file = -1;
  isOpen = 0;
}
