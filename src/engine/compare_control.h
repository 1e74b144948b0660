// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/engine_step.h"

class EngineCore;
class EngineThread;

// Comparing: the learner's recording and the passage it was made over, in turn.
class CompareControl {
 public:
  using Outcome = StepOutcome;

  CompareControl(EngineThread& thread, EngineCore& engine) : t(thread), engine(engine) {}

  Outcome ServeCompareRequest();
  Outcome ServeComparing();
  Outcome ServeCompareEnd();

 private:
  EngineThread& t;
  EngineCore& engine;
  bool comparePhase = false;  // the recording sounds (else the passage)
  bool compareLoaded = false;
};
