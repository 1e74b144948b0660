// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>

// A sound buffer handed to a WaveOut or WaveIn device, with the flags the
// device sets on it. The device thread writes dwFlags and dwBytesRecorded; the
// owner reads them once WHDR_DONE shows.
struct WaveHdr {
  uint8_t* lpData = nullptr;
  uint32_t dwBufferLength = 0;
  uint32_t dwBytesRecorded = 0;
  uintptr_t dwUser = 0;
  std::atomic<uint32_t> dwFlags{0};
  uint32_t dwLoops = 0;
  WaveHdr* lpNext = nullptr;  // the device's queue link
  uintptr_t reserved = 0;

  WaveHdr() = default;
  WaveHdr(const WaveHdr& other) { *this = other; }
  WaveHdr& operator=(const WaveHdr& other) {
    lpData = other.lpData;
    dwBufferLength = other.dwBufferLength;
    dwBytesRecorded = other.dwBytesRecorded;
    dwUser = other.dwUser;
    dwFlags.store(other.dwFlags.load(std::memory_order_acquire), std::memory_order_release);
    dwLoops = other.dwLoops;
    lpNext = other.lpNext;
    reserved = other.reserved;
    return *this;
  }
};

constexpr uint32_t WHDR_DONE = 0x1;
constexpr uint32_t WHDR_PREPARED = 0x2;
constexpr uint32_t WHDR_INQUEUE = 0x10;

constexpr uint32_t MM_WOM_DONE = 0x3BD;
constexpr uint32_t MM_WIM_DATA = 0x3C0;
