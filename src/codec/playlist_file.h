#pragma once

#include <string>

#include "codec/playlist.h"

// M3U playlists: written as "#EXTM3U" then an "#EXTINF:" line and the path per
// entry, every line ended by CR LF; read by taking every non-empty line that
// does not begin with '#'.

// Adds the entries of the file at path with sorted insertion, keeping what the
// list already holds. Returns the number of entries added; a file that cannot
// be opened adds nothing. Lines longer than an entry may be are skipped whole.
int LoadPlaylist(Playlist& playlist, const std::string& path);

// Writes the whole list to path; returns 1 when written, 0 otherwise. The old
// file is replaced only once the new one is complete.
int SavePlaylist(const Playlist& playlist, const std::string& path);

// For tests of the save's atomicity: called with kBeforeRename once the new
// list is written and synced, and with kAfterRename once it has replaced the old.
enum PlaylistSavePoint { kBeforeRename, kAfterRename };
using PlaylistSaveHook = void (*)(PlaylistSavePoint point);
void SetPlaylistSaveHook(PlaylistSaveHook hook);

// The M3U text of a list of entries.
std::string PlaylistText(const std::vector<std::string>& entries);

// An entry's title: the file name after the last '/' or '\', up to its first '.'.
std::string PlaylistTitle(const std::string& entry);
