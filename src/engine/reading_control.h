// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include "engine/engine_step.h"

class EngineCore;
class EngineThread;

// Reading the item: opening items, reading on, pausing and resuming, seeking
// and stepping from sentence to sentence, and the sentence ends that stop it.
class ReadingControl {
 public:
  using Outcome = StepOutcome;

  ReadingControl(EngineThread& thread, EngineCore& engine) : t(thread), engine(engine) {}

  // Step 1 of a pass, while reading.
  void Reading();
  // The steps of a pass.
  Outcome ServeItemChange();
  Outcome ServeRead();
  Outcome ServePause();
  Outcome ServeResume();
  Outcome ServeSeek();

 private:
  // Reading stopped at end, the end of a transcript's sentence: it is
  // repeated, or reading goes on when sentences no longer stop it.
  void SentenceHeard(uint32_t end);
  void TakeSentenceStop();

  EngineThread& t;
  EngineCore& engine;
  // Where the last sentence step led, in which item (by itemsOpened), and how
  // many buffers had finished then: until another finishes it is what is heard.
  uint32_t jumpedTo = 0;
  uint32_t jumpItem = 0;
  uint64_t jumpHeard = 0;
  // A step asked during a repeat goes from the sentence repeated, whatever its
  // end leaves the cursor at.
  bool stepFromRepeat = false;
  uint32_t stepFrom = 0;
};
