// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Where the learner left each file: the place heard last, the marks, the
// speed and whether the pitch was kept, for the 500 files used most recently;
// and, when the learner asks for it, the repeat settings. Kept in one small
// text file, replaced whole on every save; a file that cannot be read as ours
// is ignored (and replaced by the next save). Any thread.
class ResumeStore {
 public:
  static constexpr size_t kMaxFiles = 500;

  struct Place {
    uint32_t position = 0;        // bytes of the sound
    std::vector<uint32_t> marks;  // oldest first
    int speed = 0;                // the speed slider's position
    bool keepPitch = false;
  };
  struct Settings {
    uint32_t count = 0;
    uint32_t vertical = 0;
    float seconds = 0;
    uint32_t percent = 0;
  };

  // $XDG_STATE_HOME/kestro/resume.tsv, or ~/.local/state/kestro/resume.tsv.
  static std::string DefaultPath();

  // Reads path (its folder is made on the first save); false, with the store
  // empty and *note saying why, when the file is there but is not ours.
  bool Load(const std::string& path, std::string* note = nullptr);
  // Writes the store atomically; false with *error set when it cannot.
  bool Save(std::string* error = nullptr);

  // Where file was left, when it is the same file (size and time) as then; a
  // file changed since is forgotten.
  std::optional<Place> Find(const std::string& file);
  // Keeps where file was left, as the most recent.
  void Keep(const std::string& file, const Place& place);

  // Resuming off: Find finds nothing and Keep keeps nothing (kept in the file).
  void SetEnabled(bool on);
  bool Enabled() const;
  // The repeat settings to start with, when the learner keeps them.
  void KeepSettings(const std::optional<Settings>& settings);
  std::optional<Settings> KeptSettings() const;

 private:
  struct Entry {
    std::string file;
    uint64_t size = 0;
    int64_t modified = 0;  // ns
    Place place;
  };
  // The file's absolute name, links resolved: one file, one entry.
  static std::string Canonical(const std::string& file);
  static bool Identify(const std::string& file, uint64_t* size, int64_t* modified);

  mutable std::mutex mutex;
  std::mutex saving;
  std::string path;
  std::vector<Entry> entries;  // most recent first
  bool enabled = true;
  std::optional<Settings> settings;
};
