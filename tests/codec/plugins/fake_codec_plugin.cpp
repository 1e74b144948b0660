// SPDX-License-Identifier: GPL-3.0-or-later
// A codec plug-in for registry tests. KESTRO_FAKE_EXTENSION sets the extension
// it reports; KESTRO_FAKE_NO_SERVER makes GetServer hand out null.
#include "codec/codec_server.h"

namespace {

class FakeCodec : public CodecServer {
 public:
  int32_t Open(const char*, WaveFormatEx*) override { return 0; }
  void Close() override {}
  int32_t Read(CodecBlock*, uint32_t) override { return kReadEnd; }
  uint32_t GetLength() override { return 0; }
  int32_t IsOpen() override { return 0; }
  const char* GetExtension() override { return KESTRO_FAKE_EXTENSION; }
};

FakeCodec theCodec;

}  // namespace

KESTRO_PLUGIN_EXPORT CodecServer** GetServer(CodecServer** slot) {
#ifdef KESTRO_FAKE_NO_SERVER
  *slot = nullptr;
#else
  *slot = &theCodec;
#endif
  return slot;
}
