// The M3U reader on any bytes; what it loads must save and load again unchanged.
#include <cstdlib>

#include "codec/playlist.h"
#include "codec/playlist_file.h"
#include "fuzz_input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = FuzzInputFile(data, size, ".m3u");
  Playlist list;
  LoadPlaylist(list, path);
  for (const std::string& entry : list.Entries()) {
    if (entry.empty() || entry.size() > Playlist::kMaxEntryLength) std::abort();
  }
  if (SavePlaylist(list, path) != 1) return 0;
  Playlist again;
  LoadPlaylist(again, path);
  if (again.Entries() != list.Entries()) std::abort();
  return 0;
}
