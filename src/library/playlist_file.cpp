// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/playlist_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/replacing_file.h"

int LoadPlaylist(Playlist& playlist, const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return -1;
  };
  // Not blocking: a FIFO in the list's place must not hang the program.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(std::strerror(errno));
  struct stat st;
  if (::fstat(fd, &st) != 0) st.st_mode = 0;
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail(S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file");
  }
  if (st.st_size > kMaxPlaylistBytes) {
    ::close(fd);
    return fail("it is larger than " + std::to_string(kMaxPlaylistBytes >> 20) + " MiB");
  }
  std::string text;
  bool readAll = true;
  try {
    text.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < text.size()) {
      const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) readAll = false;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    text.resize(got);
  } catch (const std::bad_alloc&) {
    readAll = false;
  }
  const int savedErrno = errno;
  ::close(fd);
  if (!readAll) {
    errno = savedErrno;
    return fail(std::strerror(errno));
  }

  std::vector<std::string> found;
  size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    size_t last = end;
    if (last > at && text[last - 1] == '\r') --last;
    const std::string_view line(text.data() + at, last - at);
    at = end + 1;
    if (line.empty() || line[0] == '#') continue;
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    // An over-long line is no entry of ours; splitting it would make two bogus ones.
    if (line.size() > Playlist::kMaxEntryLength) continue;
    if (found.size() == static_cast<size_t>(kMaxPlaylistEntries))
      return fail("it lists more than " + std::to_string(kMaxPlaylistEntries) + " files");
    found.emplace_back(line);
  }
  return playlist.InsertSortedAll(std::move(found));
}

std::string PlaylistTitle(const std::string& entry) {
  const size_t slash = entry.find_last_of("/\\");
  const size_t start = (slash == std::string::npos) ? 0 : slash + 1;
  const size_t dot = entry.find('.', start);
  return entry.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
}

std::string PlaylistText(const std::vector<std::string>& entries) {
  std::string text = "#EXTM3U\r\n";
  for (const std::string& entry : entries) {
    // -1: the length is not known. Other players read the number as seconds.
    text += "#EXTINF:-1," + PlaylistTitle(entry) + "\r\n";
    text += entry + "\r\n";
  }
  return text;
}

namespace {

PlaylistSaveHook saveHook = nullptr;

}  // namespace

int SavePlaylist(const Playlist& playlist, const std::string& path, std::string* error) {
  if (path.empty()) return 0;
  std::string text;
  try {
    text = PlaylistText(playlist.Entries());
  } catch (const std::bad_alloc&) {
    if (error) *error = "no memory for the list";
    return 0;
  }
  ReplacingFile file;
  if (!file.Create(path, error)) return 0;
  if (!file.Write(text.data(), text.size())) {
    if (error) *error = "cannot write \"" + path + "\": " + std::strerror(errno);
    return 0;
  }
  if (saveHook != nullptr) saveHook(kBeforeRename);
  if (!file.Commit(error)) return 0;
  if (saveHook != nullptr) saveHook(kAfterRename);
  return 1;
}

void SetPlaylistSaveHook(PlaylistSaveHook hook) {
  saveHook = hook;
}
