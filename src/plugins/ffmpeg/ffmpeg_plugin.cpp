// One plug-in library per extension, all built from this source; the
// extension is fixed when the library is built.
#include "ffmpeg_reader.h"

namespace {
FfmpegReader theReader(KESTRO_FFMPEG_EXTENSION);
}

KESTRO_PLUGIN_EXPORT CodecServer** GetServer(CodecServer** slot) {
  if (slot != nullptr) *slot = &theReader;
  return slot;
}
