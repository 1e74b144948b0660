// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "codec/codec_server.h"

// One loaded plug-in library and the extension its codec handles.
struct CodecEntry {
  void* module = nullptr;  // dlopen handle; null marks a free entry
  std::string extension;
};

// The table of codec plug-ins found at start-up. Filled once by ScanPlugins on
// the user-interface thread before the worker threads exist; read-only afterwards,
// so lookups from other threads need no lock.
class CodecRegistry {
 public:
  static constexpr uint32_t kGrowth = 10;

  CodecRegistry();
  virtual ~CodecRegistry();
  CodecRegistry(const CodecRegistry&) = delete;
  CodecRegistry& operator=(const CodecRegistry&) = delete;

  // Loads every library matching the glob pattern (such as "Arch/*.so") that
  // hands out a codec; others are skipped silently and unloaded again.
  void ScanPlugins(const char* pattern);
  // Stores a library and its codec's extension; 1 when stored, 0 when refused.
  int32_t AddEntry(void* module, const std::string& extension);

  // The first library whose whole extension (without its dot) is the text, in
  // either case.
  void* FindModule(const std::string& extension) const;
  // The codec object of FindModule's library, or null.
  CodecServer* FindCodec(const std::string& extension) const;
  std::string GetExtensionAt(uint32_t index) const;
  std::string GetAllExtensions() const;

  uint32_t Capacity() const { return capacity; }

 private:
  void UnloadAll();

  std::unique_ptr<CodecEntry[]> entries;
  uint32_t capacity;
};

// The open-file dialog's filter ("description|pattern|...||") for the registered
// extensions, followed by M3U playlists and all files.
std::string BuildOpenFilter(const CodecRegistry& registry);

// The extension by which a file's codec is chosen: the text after the last dot
// at index 1 or more of path, lower-cased (nothing else is stripped).
// False when path has no such dot.
bool ExtensionOfPath(const std::string& path, std::string* extension);
