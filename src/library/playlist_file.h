// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "library/playlist.h"

// M3U playlists: written as "#EXTM3U" then an "#EXTINF:" line and the path per
// entry, every line ended by CR LF; read by taking every non-empty line that
// does not begin with '#'.

// What a playlist file may hold: a list past these is no list of ours (a
// device, a link to one, a huge text) and is refused whole.
constexpr long kMaxPlaylistBytes = 64L * 1024 * 1024;
constexpr int kMaxPlaylistEntries = 200000;

// Adds the entries of the file at path with sorted insertion, keeping what the
// list already holds. Returns the number of entries added, or -1 (with why in
// error) when the file cannot be read, is not a regular file or passes the
// limits above; then nothing is added. A UTF-8 byte-order mark is skipped,
// lines of only blanks are no entries, and lines longer than an entry may be
// are skipped whole.
int LoadPlaylist(Playlist& playlist, const std::string& path, std::string* error = nullptr);

// Writes the whole list to path; returns 1 when written, 0 otherwise (with why
// in error). The old file is replaced only once the new one is complete, and a
// link at path is replaced by the list, not written through.
int SavePlaylist(const Playlist& playlist, const std::string& path, std::string* error = nullptr);

// For tests of the save's atomicity: called with kBeforeRename once the new
// list is written and synced, and with kAfterRename once it has replaced the old.
enum PlaylistSavePoint { kBeforeRename, kAfterRename };
using PlaylistSaveHook = void (*)(PlaylistSavePoint point);
void SetPlaylistSaveHook(PlaylistSaveHook hook);

// The M3U text of a list of entries.
std::string PlaylistText(const std::vector<std::string>& entries);

// An entry's title: the file name after the last '/' or '\', up to its first '.'.
std::string PlaylistTitle(const std::string& entry);
