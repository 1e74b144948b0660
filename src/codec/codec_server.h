// SPDX-License-Identifier: GPL-3.0-or-later
// The boundary between Kestro and its codec plug-ins. Plug-ins are built
// separately and bound to the program only by the export's name, the order of
// CodecServer's operations and the layout of the two records below, so none of
// these may change.
#pragma once

#include <cstdint>

#pragma pack(push, 1)
// The 18-byte sound-format record, stored verbatim in .qv files.
struct WaveFormatEx {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WaveFormatEx) == 18, "WaveFormatEx must be the 18-byte on-disk record");

constexpr uint16_t kWaveFormatPcm = 1;

// Filled by CodecServer::Read; owned by the caller. The data pointer is as wide
// as the platform's pointers, every other field is 32 bits.
struct CodecBlock {
  uint8_t* data;
  uint32_t capacity;
  uint32_t bytesRead;
  uint32_t position;
  uint32_t nextPosition;
  int32_t seekRequested;
};

constexpr int32_t kReadFilled = 1;
constexpr int32_t kReadEnd = 2;

// The limit a Read honours: readLimit when it is set and inside the data,
// otherwise the data length.
inline uint32_t EffectiveReadLimit(uint32_t readLimit, uint32_t dataLength) {
  return (readLimit != 0 && readLimit <= dataLength) ? readLimit : dataLength;
}

// One codec object per plug-in, owned by the plug-in. The program never deletes
// it, hence no destructor here.
class CodecServer {
 public:
  virtual int32_t Open(const char* path, WaveFormatEx* format) = 0;
  virtual void Close() = 0;
  virtual int32_t Read(CodecBlock* block, uint32_t readLimit) = 0;
  virtual uint32_t GetLength() = 0;
  virtual int32_t IsOpen() = 0;
  virtual const char* GetExtension() = 0;
};

// Stores the plug-in's codec object (or null) into *slot and returns slot.
extern "C" {
typedef CodecServer** (*GetServerFunction)(CodecServer** slot);
}
#define KESTRO_GET_SERVER_NAME "GetServer"

// Declared with default visibility so that a plug-in built with hidden
// visibility still exports it.
#define KESTRO_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
