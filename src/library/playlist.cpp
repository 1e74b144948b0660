// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/playlist.h"

#include <algorithm>
#include <new>

namespace {
unsigned char Lower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}
}  // namespace

bool Playlist::LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return Lower(static_cast<unsigned char>(x)) < Lower(static_cast<unsigned char>(y));
  });
}

bool Playlist::Acceptable(const std::string& entry) {
  return !entry.empty() && entry.size() <= kMaxEntryLength;
}

int Playlist::InsertSorted(const std::string& entry) {
  if (!Acceptable(entry)) return -1;
  std::lock_guard<std::mutex> lock(mutex);
  try {
    auto at = std::upper_bound(entries.begin(), entries.end(), entry, LessNoCase);
    const int index = static_cast<int>(at - entries.begin());
    entries.insert(at, entry);
    if (selection >= index) ++selection;
    ++revision;
    ++entriesRevision;
    return index;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

int Playlist::InsertSortedAll(std::vector<std::string> more) {
  std::erase_if(more, [](const std::string& e) { return !Acceptable(e); });
  if (more.empty()) return 0;
  std::lock_guard<std::mutex> lock(mutex);
  try {
    // Where each new entry goes among the entries already there; new entries
    // for one place keep their sorted order after each other.
    std::stable_sort(more.begin(), more.end(), LessNoCase);
    std::vector<size_t> place(more.size());
    for (size_t i = 0; i < more.size(); ++i)
      place[i] =
          std::upper_bound(entries.begin(), entries.end(), more[i], LessNoCase) - entries.begin();
    std::vector<size_t> order(more.size());
    for (size_t i = 0; i < order.size(); ++i)
      order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return place[a] < place[b]; });

    std::vector<std::string> merged;
    merged.reserve(entries.size() + more.size());
    int newSelection = selection;
    size_t next = 0;
    for (size_t old = 0; old <= entries.size(); ++old) {
      while (next < order.size() && place[order[next]] == old)
        merged.push_back(std::move(more[order[next++]]));
      if (old == entries.size()) break;
      if (static_cast<int>(old) == selection) newSelection = static_cast<int>(merged.size());
      merged.push_back(std::move(entries[old]));
    }
    entries = std::move(merged);
    selection = newSelection;
    ++revision;
    ++entriesRevision;
    return static_cast<int>(more.size());
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int Playlist::Append(const std::string& entry) {
  if (!Acceptable(entry)) return -1;
  std::lock_guard<std::mutex> lock(mutex);
  try {
    entries.push_back(entry);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  ++revision;
  ++entriesRevision;
  return static_cast<int>(entries.size()) - 1;
}

bool Playlist::Remove(int index) {
  std::lock_guard<std::mutex> lock(mutex);
  if (index < 0 || index >= static_cast<int>(entries.size())) return false;
  entries.erase(entries.begin() + index);
  if (selection == index) {
    selection = -1;
  } else if (selection > index) {
    --selection;
  }
  ++revision;
  ++entriesRevision;
  return true;
}

void Playlist::Clear() {
  std::lock_guard<std::mutex> lock(mutex);
  entries.clear();
  selection = -1;
  ++revision;
  ++entriesRevision;
}

int Playlist::Count() const {
  std::lock_guard<std::mutex> lock(mutex);
  return static_cast<int>(entries.size());
}

std::string Playlist::At(int index) const {
  std::lock_guard<std::mutex> lock(mutex);
  if (index < 0 || index >= static_cast<int>(entries.size())) return std::string();
  return entries[index];
}

std::vector<std::string> Playlist::Entries() const {
  std::lock_guard<std::mutex> lock(mutex);
  return entries;
}

int Playlist::Selection() const {
  std::lock_guard<std::mutex> lock(mutex);
  return selection;
}

void Playlist::Select(int index) {
  std::lock_guard<std::mutex> lock(mutex);
  const int next = (index >= 0 && index < static_cast<int>(entries.size())) ? index : -1;
  if (next != selection) {
    selection = next;
    ++revision;
  }
}

uint64_t Playlist::Revision() const {
  std::lock_guard<std::mutex> lock(mutex);
  return revision;
}

uint64_t Playlist::EntriesRevision() const {
  std::lock_guard<std::mutex> lock(mutex);
  return entriesRevision;
}
