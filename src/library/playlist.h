// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// The list of sound files the learner works through. Shared by the window (which
// shows and edits it) and the engine thread (which reads and selects entries),
// so every operation takes the lock. Entries are byte strings taken as they stand.
class Playlist {
 public:
  static constexpr size_t kMaxEntryLength = 1023;

  // Inserts at the entry's place in case-insensitive order (after equal entries);
  // returns the index, or -1 when the entry is empty or too long.
  int InsertSorted(const std::string& entry);
  // Inserts each entry as InsertSorted would, all at once (sorting once, not
  // per entry); entries that are empty or too long are left out. Returns how
  // many were inserted.
  int InsertSortedAll(std::vector<std::string> more);
  // Inserts at the end; returns the index, or -1 when the entry is empty or too long.
  int Append(const std::string& entry);
  // Removes the entry at index; the selection follows the entries that remain.
  bool Remove(int index);
  void Clear();

  int Count() const;
  // The entry at index, or the empty string when there is none.
  std::string At(int index) const;
  std::vector<std::string> Entries() const;

  // -1 when nothing is selected.
  int Selection() const;
  // Selects index, or clears the selection for an index outside the list.
  void Select(int index);

  // Grows by one with every change, so a view can tell when to refresh.
  uint64_t Revision() const;
  // Grows with every change of the entries (not of the selection).
  uint64_t EntriesRevision() const;

  static bool LessNoCase(const std::string& a, const std::string& b);

 private:
  static bool Acceptable(const std::string& entry);

  mutable std::mutex mutex;
  std::vector<std::string> entries;
  int selection = -1;
  uint64_t revision = 0;
  uint64_t entriesRevision = 0;
};
