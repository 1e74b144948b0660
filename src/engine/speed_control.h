// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/engine_step.h"

class EngineCore;
class EngineThread;

// The speed slider and the pitch choice: the output's rate, or its tempo with
// the pitch kept.
class SpeedControl {
 public:
  using Outcome = StepOutcome;

  SpeedControl(EngineThread& thread, EngineCore& engine) : t(thread), engine(engine) {}

  Outcome ServeSpeed();
  // After OpenSound of the item: the slider's tempo again, with the pitch kept.
  void SlowDownAgain();

 private:
  EngineThread& t;
  EngineCore& engine;
};
