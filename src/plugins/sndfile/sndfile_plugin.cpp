// SPDX-License-Identifier: GPL-3.0-or-later
// One plug-in library per extension, all built from this source; the
// extension is fixed when the library is built.
#include "sndfile_reader.h"

namespace {
SndfileReader theReader(KESTRO_SNDFILE_EXTENSION);
}

KESTRO_PLUGIN_EXPORT CodecServer** GetServer(CodecServer** slot) {
  if (slot != nullptr) *slot = &theReader;
  return slot;
}
