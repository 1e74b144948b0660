// SPDX-License-Identifier: GPL-3.0-or-later
// The qv plug-in's one codec object lives from library load to unload.
#include "qv_reader.h"

namespace {
QvReader theReader;
}

KESTRO_PLUGIN_EXPORT CodecServer** GetServer(CodecServer** slot) {
  if (slot != nullptr) *slot = &theReader;
  return slot;
}
