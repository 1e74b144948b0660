// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/resume_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <system_error>
#include <type_traits>

#include "platform/replacing_file.h"
#include "platform/xdg_dirs.h"

namespace {

constexpr const char* kHeader = "kestro-resume\t1";

// A file name on one field: tab, newline and backslash escaped.
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

bool Unescape(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *out += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    const char c = text[i];
    if (c != '\\' && c != 't' && c != 'n') return false;
    *out += c == 't' ? '\t' : c == 'n' ? '\n' : '\\';
  }
  return true;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, '\t'))
    fields.push_back(field);
  if (!line.empty() && line.back() == '\t') fields.emplace_back();
  return fields;
}

// A whole unsigned or signed number, nothing else.
template <typename T>
bool Number(const std::string& text, T* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  if constexpr (std::is_signed_v<T>) {
    const long long v = std::strtoll(text.c_str(), &end, 10);
    *value = static_cast<T>(v);
  } else {
    if (text[0] == '-') return false;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (v > std::numeric_limits<T>::max()) return false;
    *value = static_cast<T>(v);
  }
  return errno == 0 && *end == '\0';
}

}  // namespace

std::string ResumeStore::DefaultPath() {
  return (std::filesystem::path(XdgDirs::StateHome()) / "kestro" / "resume.tsv").string();
}

std::string ResumeStore::Canonical(const std::string& file) {
  std::error_code ignored;
  const std::filesystem::path whole =
      std::filesystem::weakly_canonical(std::filesystem::absolute(file, ignored), ignored);
  return whole.empty() ? file : whole.string();
}

bool ResumeStore::Identify(const std::string& file, uint64_t* size, int64_t* modified) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *size = static_cast<uint64_t>(st.st_size);
  *modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

bool ResumeStore::Load(const std::string& file, std::string* note) {
  std::lock_guard<std::mutex> lock(mutex);
  path = file;
  entries.clear();
  enabled = true;
  settings.reset();
  std::ifstream in(file, std::ios::binary);
  if (!in) return true;  // nothing kept yet
  std::string line;
  const auto broken = [&](const std::string& why) {
    entries.clear();
    enabled = true;
    settings.reset();
    if (note) *note = file + ": " + why + "; it is ignored and will be replaced";
    return false;
  };
  if (!std::getline(in, line) || line != kHeader) return broken("not a file Kestro wrote");
  std::vector<Entry> read;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = Fields(line);
    if (f.empty()) return broken("an empty line");
    if (f[0] == "off" && f.size() == 1) {
      enabled = false;
    } else if (f[0] == "settings" && f.size() == 5) {
      Settings s;
      char* end = nullptr;
      s.seconds = std::strtof(f[3].c_str(), &end);
      if (!Number(f[1], &s.count) || !Number(f[2], &s.vertical) || *end != '\0' ||
          !Number(f[4], &s.percent))
        return broken("a broken settings line");
      settings = s;
    } else if (f[0] == "file" && f.size() == 8) {
      Entry e;
      int keep = 0;
      if (!Unescape(f[1], &e.file) || e.file.empty() || !Number(f[2], &e.size) ||
          !Number(f[3], &e.modified) || !Number(f[4], &e.place.position) ||
          !Number(f[5], &e.place.speed) || !Number(f[6], &keep) || keep < 0 || keep > 1)
        return broken("a broken line for a file");
      e.place.keepPitch = keep == 1;
      std::istringstream marks(f[7]);
      for (std::string mark; std::getline(marks, mark, ',');) {
        uint32_t m = 0;
        if (!Number(mark, &m)) return broken("a broken mark");
        e.place.marks.push_back(m);
      }
      if (read.size() < kMaxFiles) read.push_back(std::move(e));
    } else {
      return broken("a line Kestro does not know");
    }
  }
  entries = std::move(read);
  return true;
}

bool ResumeStore::Save(std::string* error) {
  // One save at a time: a snapshot is never written over a newer one.
  std::lock_guard<std::mutex> one(saving);
  std::string text;
  std::string target;
  {
    std::lock_guard<std::mutex> lock(mutex);
    target = path;
    text = std::string(kHeader) + "\n";
    if (!enabled) text += "off\n";
    if (settings) {
      std::ostringstream s;
      s << "settings\t" << settings->count << '\t' << settings->vertical << '\t'
        << settings->seconds << '\t' << settings->percent << '\n';
      text += s.str();
    }
    for (const Entry& e : entries) {
      std::string marks;
      for (uint32_t m : e.place.marks)
        marks += (marks.empty() ? "" : ",") + std::to_string(m);
      text += "file\t" + Escape(e.file) + '\t' + std::to_string(e.size) + '\t' +
              std::to_string(e.modified) + '\t' + std::to_string(e.place.position) + '\t' +
              std::to_string(e.place.speed) + '\t' + (e.place.keepPitch ? "1" : "0") + '\t' +
              marks + '\n';
    }
  }
  if (target.empty()) return true;
  std::error_code made;
  std::filesystem::create_directories(std::filesystem::path(target).parent_path(), made);
  ReplacingFile file;
  std::string why;
  if (!file.Create(target, &why) || !file.Write(text.data(), text.size()) || !file.Commit(&why)) {
    if (error) *error = why.empty() ? "cannot write " + target : why;
    return false;
  }
  return true;
}

std::optional<ResumeStore::Place> ResumeStore::Find(const std::string& named) {
  const std::string file = Canonical(named);
  uint64_t size = 0;
  int64_t modified = 0;
  const bool there = Identify(file, &size, &modified);
  std::lock_guard<std::mutex> lock(mutex);
  if (!enabled) return std::nullopt;
  const auto it =
      std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.file == file; });
  if (it == entries.end()) return std::nullopt;
  if (!there || it->size != size || it->modified != modified) {
    entries.erase(it);  // a changed file starts afresh
    return std::nullopt;
  }
  return it->place;
}

void ResumeStore::Keep(const std::string& named, const Place& place) {
  const std::string file = Canonical(named);
  Entry e;
  if (!Identify(file, &e.size, &e.modified)) return;
  e.file = file;
  e.place = place;
  std::lock_guard<std::mutex> lock(mutex);
  if (!enabled) return;
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [&](const Entry& old) { return old.file == file; }),
                entries.end());
  entries.insert(entries.begin(), std::move(e));
  if (entries.size() > kMaxFiles) entries.resize(kMaxFiles);
}

void ResumeStore::SetEnabled(bool on) {
  std::lock_guard<std::mutex> lock(mutex);
  enabled = on;
}

bool ResumeStore::Enabled() const {
  std::lock_guard<std::mutex> lock(mutex);
  return enabled;
}

void ResumeStore::KeepSettings(const std::optional<Settings>& kept) {
  std::lock_guard<std::mutex> lock(mutex);
  settings = kept;
}

std::optional<ResumeStore::Settings> ResumeStore::KeptSettings() const {
  std::lock_guard<std::mutex> lock(mutex);
  return settings;
}
