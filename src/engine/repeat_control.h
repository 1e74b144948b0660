// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include "engine/engine_step.h"

class EngineCore;
class EngineThread;

// Repeating the passage A..B, or a found sentence a set number of times with
// its gaps.
class RepeatControl {
 public:
  using Outcome = StepOutcome;

  RepeatControl(EngineThread& thread, EngineCore& engine) : t(thread), engine(engine) {}

  Outcome ServeRepeatRequest();
  Outcome ServeRepeating();
  Outcome ServeRepeatEnd();

  // The plays left of the sentence repeated: all of them as the thread starts.
  void ResetPlays(uint32_t count) { repeatsLeft = count; }
  // A turn after the last play ended the repeat; the repeated sentence ends
  // exactly where its list says.
  void MarkDone() { repeatDone = true; }
  bool PassageExact() const { return passageExact; }

 private:
  EngineThread& t;
  EngineCore& engine;
  uint32_t repeatsLeft = 0;
  bool repeatPaused = false;
  bool repeatDone = false;    // the repeat ended after its last play
  bool passageExact = false;  // the repeated sentence ends exactly (a list's)
};
