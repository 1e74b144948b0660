// SPDX-License-Identifier: GPL-3.0-or-later
// The choice of a codec by a path's extension, on any path: a codec is found
// exactly when the whole extension names one of the program's plug-ins, in
// either case, and it is that one.
#include <cstdlib>
#include <string>

#include "codec/codec_registry.h"

namespace {
std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CodecRegistry* registry = [] {
    auto* r = new CodecRegistry;
    r->ScanPlugins(KESTRO_PLUGIN_DIR "/*.so");
    if (r->GetAllExtensions().empty()) std::abort();
    return r;
  }();
  const std::string path(reinterpret_cast<const char*>(data), size);
  std::string extension;
  const bool has = ExtensionOfPath(path, &extension);
  const size_t dot = path.rfind('.');
  if (has != (dot != std::string::npos && dot > 0)) std::abort();
  if (!has) return 0;
  if (extension != Lower(path.substr(dot + 1))) std::abort();
  CodecServer* codec = registry->FindCodec(extension);
  bool known = false;
  for (const char* ext : {"qv", "wav", "flac", "ogg", "mp3"})
    known = known || extension == ext;
  if ((codec != nullptr) != known) std::abort();
  if (codec != nullptr && std::string(codec->GetExtension()) != "." + extension) std::abort();
  return 0;
}
