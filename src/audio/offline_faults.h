// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>

// Faults the offline devices can be told to show, so that tests can check how
// the engine meets a device that will not open, one that dies in the middle of
// the sound, and one far behind. A test option only: no program sets it.
struct OfflineFaults {
  std::atomic<bool> refuseOutput{false};  // the output device will not open
  std::atomic<bool> refuseInput{false};   // the input device will not open
  // After this many finished buffers an output device stops finishing any
  // (it hangs, as a device that was pulled out); -1 for never.
  std::atomic<int64_t> outputStallsAfter{-1};
  // An open output device goes away (its sound server ended): it says it is lost.
  std::atomic<bool> loseOutput{false};
  // Each output buffer finishes this much wall-clock time late.
  std::atomic<int> latencyMs{0};
};
