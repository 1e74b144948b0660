// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "codec/codec_server.h"

// A private copy of a codec plug-in's library, loaded beside the one the
// registry holds. A plug-in hands out a single codec object; the copy's own
// object lets a second thread decode the same kind of file while the first
// plays, with no change to the plug-ins.
class CodecCopy {
 public:
  CodecCopy() = default;
  ~CodecCopy();
  CodecCopy(const CodecCopy&) = delete;
  CodecCopy& operator=(const CodecCopy&) = delete;

  // Copies the library behind module (a dlopen handle) and loads the copy;
  // false, with *problem saying why, when it cannot.
  bool Load(void* module, std::string* problem);
  CodecServer* Codec() const { return server; }

 private:
  void* handle = nullptr;
  CodecServer* server = nullptr;
};
