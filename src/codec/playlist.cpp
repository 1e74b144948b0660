#include "codec/playlist.h"

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
    return index;
  } catch (const std::bad_alloc&) {
    return -1;
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
  return true;
}

void Playlist::Clear() {
  std::lock_guard<std::mutex> lock(mutex);
  entries.clear();
  selection = -1;
  ++revision;
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
