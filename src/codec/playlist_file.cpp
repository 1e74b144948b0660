#include "codec/playlist_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

int LoadPlaylist(Playlist& playlist, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return 0;
  int added = 0;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    // An over-long line is no entry of ours; splitting it would make two bogus ones.
    if (line.size() > Playlist::kMaxEntryLength) continue;
    if (playlist.InsertSorted(line) >= 0) ++added;
  }
  return added;
}

std::string PlaylistTitle(const std::string& entry) {
  const size_t slash = entry.find_last_of("/\\");
  const size_t start = (slash == std::string::npos) ? 0 : slash + 1;
  const size_t dot = entry.find('.', start);
  return entry.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
}

std::string PlaylistText(const std::vector<std::string>& entries) {
  std::string text = "#EXTM3U\r\n";
  for (size_t i = 0; i < entries.size(); ++i) {
    text += "#EXTINF:" + std::to_string(i) + "," + PlaylistTitle(entries[i]) + "\r\n";
    text += entries[i] + "\r\n";
  }
  return text;
}

namespace {

bool WriteAll(int fd, const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

// Saving through a symbolic link replaces the file it points to, not the link.
std::string ResolveTarget(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (real) return real.get();
  }
  return path;
}

void SyncFolderOf(const std::string& file) {
  const size_t slash = file.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash + 1);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

PlaylistSaveHook saveHook = nullptr;

}  // namespace

int SavePlaylist(const Playlist& playlist, const std::string& path) {
  if (path.empty()) return 0;
  std::string text;
  try {
    text = PlaylistText(playlist.Entries());
  } catch (const std::bad_alloc&) {
    return 0;
  }

  // Write a temporary file beside the target and rename it over the target, so
  // that a full disk or a crash never leaves a half-written list behind.
  const std::string target = ResolveTarget(path);
  std::string temp = target + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return 0;

  mode_t mode;
  struct stat st;
  if (::stat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      ::close(fd);
      ::unlink(temp.c_str());
      return 0;
    }
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }

  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok && saveHook != nullptr) saveHook(kBeforeRename);
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return 0;
  }
  // The rename itself reaches the disk only with its folder.
  SyncFolderOf(target);
  if (saveHook != nullptr) saveHook(kAfterRename);
  return 1;
}

void SetPlaylistSaveHook(PlaylistSaveHook hook) {
  saveHook = hook;
}
