// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/codec_registry.h"

#include <dlfcn.h>
#include <glob.h>
#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <new>

CodecRegistry::CodecRegistry() : entries(new CodecEntry[kGrowth]), capacity(kGrowth) {}

CodecRegistry::~CodecRegistry() {
  UnloadAll();
}

void CodecRegistry::ScanPlugins(const char* pattern) {
  if (pattern == nullptr) return;
  glob_t found{};
  if (::glob(pattern, 0, nullptr, &found) != 0) {
    ::globfree(&found);
    return;
  }
  for (size_t i = 0; i < found.gl_pathc; ++i) {
    const char* path = found.gl_pathv[i];
    const char* name = std::strrchr(path, '/');
    name = name ? name + 1 : path;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    struct stat st;
    if (::stat(path, &st) != 0 || S_ISDIR(st.st_mode)) continue;

    void* module = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) continue;
    auto getServer = reinterpret_cast<GetServerFunction>(::dlsym(module, KESTRO_GET_SERVER_NAME));
    CodecServer* codec = nullptr;
    if (getServer != nullptr) getServer(&codec);
    const char* extension = codec ? codec->GetExtension() : nullptr;
    if (extension == nullptr || AddEntry(module, extension) == 0) {
      // A library that offers no usable codec is of no further use.
      ::dlclose(module);
    }
  }
  ::globfree(&found);
}

int32_t CodecRegistry::AddEntry(void* module, const std::string& extension) {
  if (module == nullptr || extension.empty()) return 0;
  uint32_t index = 0;
  while (index < capacity && entries[index].module != nullptr)
    ++index;
  try {
    if (index == capacity) {
      std::unique_ptr<CodecEntry[]> grown(new CodecEntry[capacity + kGrowth]);
      for (uint32_t i = 0; i < capacity; ++i)
        grown[i] = std::move(entries[i]);
      entries = std::move(grown);
      capacity += kGrowth;
    }
    entries[index].extension = extension;
  } catch (const std::bad_alloc&) {
    return 0;
  }
  entries[index].module = module;
  return 1;
}

namespace {
// The whole extension, either case: "a" or "av" must not find ".wav".
bool SameExtension(const std::string& stored, const std::string& wanted) {
  const size_t skip = (!stored.empty() && stored[0] == '.') ? 1 : 0;
  if (wanted.empty() || stored.size() - skip != wanted.size()) return false;
  for (size_t i = 0; i < wanted.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(stored[skip + i])) !=
        std::tolower(static_cast<unsigned char>(wanted[i])))
      return false;
  }
  return true;
}
}  // namespace

void* CodecRegistry::FindModule(const std::string& extension) const {
  for (uint32_t i = 0; i < capacity && entries[i].module != nullptr; ++i) {
    if (SameExtension(entries[i].extension, extension)) return entries[i].module;
  }
  return nullptr;
}

CodecServer* CodecRegistry::FindCodec(const std::string& extension) const {
  void* module = FindModule(extension);
  if (module == nullptr) return nullptr;
  auto getServer = reinterpret_cast<GetServerFunction>(::dlsym(module, KESTRO_GET_SERVER_NAME));
  if (getServer == nullptr) return nullptr;
  CodecServer* codec = nullptr;
  getServer(&codec);
  return codec;
}

std::string CodecRegistry::GetExtensionAt(uint32_t index) const {
  if (index >= capacity || entries[index].module == nullptr) return std::string();
  return entries[index].extension;
}

std::string CodecRegistry::GetAllExtensions() const {
  std::string all;
  for (uint32_t i = 0;; ++i) {
    std::string extension = GetExtensionAt(i);
    if (extension.empty()) break;
    all += extension;
  }
  return all;
}

void CodecRegistry::UnloadAll() {
  for (uint32_t i = 0; i < capacity && entries[i].module != nullptr; ++i) {
    ::dlclose(entries[i].module);
    entries[i].module = nullptr;
    entries[i].extension.clear();
  }
}

std::string BuildOpenFilter(const CodecRegistry& registry) {
  const std::string all = registry.GetAllExtensions();
  size_t dot = all.find('.');
  if (dot == std::string::npos) return "m3u文件(*.m3u)|*.m3u||";
  std::string filter;
  while (dot != std::string::npos) {
    const size_t next = all.find('.', dot + 1);
    const std::string ext = all.substr(dot + 1, next == std::string::npos ? next : next - dot - 1);
    filter += ext + "文件(*." + ext + ")|*." + ext + "|";
    dot = next;
  }
  filter += "m3u文件(*.m3u)|*.m3u|所有文件(*.*)|*.*||";
  return filter;
}

bool ExtensionOfPath(const std::string& path, std::string* extension) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot == 0) return false;
  // Taken as it stands but for case: "x.wav " is no WAV file.
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  *extension = ext;
  return true;
}
