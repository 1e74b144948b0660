// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/replacing_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Temporary files are hidden beside the name: ".NAME.XXXXXX".
constexpr char kTemplateEnd[] = ".XXXXXX";

// The folder part of path with its slash, or empty.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string BaseOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Describe(const std::string& what, const std::string& path) {
  return what + " \"" + path + "\": " + std::strerror(errno);
}

void SyncFolder(const std::string& folder) {
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  ::fsync(dir);
  ::close(dir);
}

// Six characters of mkstemp's alphabet.
bool IsTemporarySuffix(const char* s) {
  for (int i = 0; i < 6; ++i) {
    const char c = s[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return s[6] == '\0';
}

}  // namespace

ReplacingFile::~ReplacingFile() {
  Abandon();
}

bool ReplacingFile::Create(const std::string& newPath, std::string* error) {
  Abandon();
  if (newPath.empty() || newPath.back() == '/') {
    if (error) *error = "\"" + newPath + "\" is a folder";
    return false;
  }
  mode_t mode;
  struct stat st;
  if (::lstat(newPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    if (!S_ISREG(st.st_mode)) {
      if (error) *error = "\"" + newPath + "\" is not a regular file";
      return false;
    }
    mode = st.st_mode & 0777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  std::string name = FolderOf(newPath) + "." + BaseOf(newPath) + kTemplateEnd;
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = Describe("cannot create a file beside", newPath);
    return false;
  }
  temp = name;
  path = newPath;
  ::fchmod(fd, mode);
  return true;
}

bool ReplacingFile::Write(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReplacingFile::Commit(std::string* error) {
  if (fd < 0) {
    if (error) *error = "nothing to store";
    return false;
  }
  bool ok = ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  fd = -1;
  if (!ok) {
    if (error) *error = Describe("cannot store", path);
    Abandon();
    return false;
  }
  return RenameOverName(error);
}

int ReplacingFile::PutInPlace(std::string* error) {
  if (fd < 0 || !RenameOverName(error)) return -1;
  const int handed = fd;
  fd = -1;
  return handed;
}

bool ReplacingFile::RenameOverName(std::string* error) {
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    if (error) *error = Describe("cannot replace", path);
    Abandon();
    return false;
  }
  temp.clear();
  // The rename itself reaches the disk only with its folder.
  SyncFolder(FolderOf(path));
  return true;
}

void ReplacingFile::Abandon() {
  if (fd >= 0) ::close(fd);
  fd = -1;
  if (!temp.empty()) ::unlink(temp.c_str());
  temp.clear();
}

int ReplacingFile::RemoveLeftovers(const std::string& path) {
  const std::string folder = FolderOf(path);
  const std::string base = BaseOf(path);
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return 0;
  // Only names of the hidden form: "NAME.backup" is the learner's own file.
  const std::string hidden = "." + base + ".";
  int removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() != hidden.size() + 6 || name.compare(0, hidden.size(), hidden) != 0 ||
        !IsTemporarySuffix(name.c_str() + hidden.size()))
      continue;
    const std::string full = folder + name;
    struct stat st;
    if (::lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid())
      continue;
    if (::unlink(full.c_str()) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string WhyNotARegularFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "it is a folder";
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  return "";
}
