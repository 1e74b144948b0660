// SPDX-License-Identifier: GPL-3.0-or-later
// One plug-in library per extension, all built from this source; the
// extension is fixed when the library is built.
#include <dlfcn.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
}

#include "ffmpeg_reader.h"

namespace {

// FFmpeg's libraries and the codec libraries they pull in keep state for the
// life of the process and are not made to be unloaded: they stay when the
// program lets this plug-in go.
void KeepLoaded(const void* symbol) {
  Dl_info info;
  if (dladdr(symbol, &info) != 0 && info.dli_fname != nullptr)
    dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

struct Pinned {
  Pinned() {
    for (const void* symbol : {reinterpret_cast<const void*>(&avformat_version),
                               reinterpret_cast<const void*>(&avcodec_version),
                               reinterpret_cast<const void*>(&swresample_version),
                               reinterpret_cast<const void*>(&avutil_version)})
      KeepLoaded(symbol);
  }
} pinned;

FfmpegReader theReader(KESTRO_FFMPEG_EXTENSION);

}  // namespace

KESTRO_PLUGIN_EXPORT CodecServer** GetServer(CodecServer** slot) {
  if (slot != nullptr) *slot = &theReader;
  return slot;
}
