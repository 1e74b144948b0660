// SPDX-License-Identifier: GPL-3.0-or-later
// The M3U reader on any bytes; what it loads must save and load again
// unchanged, a byte-order mark in front must change nothing, and no entry is
// blank.
#include <cstdlib>
#include <cstring>

#include "fuzz_input_file.h"
#include "library/playlist.h"
#include "library/playlist_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = FuzzInputFile(data, size, ".m3u");
  Playlist list;
  LoadPlaylist(list, path);
  for (const std::string& entry : list.Entries()) {
    if (entry.empty() || entry.size() > Playlist::kMaxEntryLength) std::abort();
    if (entry.find_first_not_of(" \t") == std::string::npos) std::abort();
  }
  static const uint8_t kMark[] = {0xEF, 0xBB, 0xBF};
  if (size < 3 || std::memcmp(data, kMark, 3) != 0) {
    std::string marked(reinterpret_cast<const char*>(kMark), 3);
    marked.append(reinterpret_cast<const char*>(data), size);
    Playlist withMark;
    LoadPlaylist(withMark, FuzzInputFile(reinterpret_cast<const uint8_t*>(marked.data()),
                                         marked.size(), ".m3u"));
    if (withMark.Entries() != list.Entries()) std::abort();
  }
  if (SavePlaylist(list, path) != 1) return 0;
  Playlist again;
  LoadPlaylist(again, path);
  if (again.Entries() != list.Entries()) std::abort();
  return 0;
}
