// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/engine_step.h"

class EngineCore;
class EngineThread;

// Playing the learner's recording back.
class PlaybackControl {
 public:
  using Outcome = StepOutcome;

  PlaybackControl(EngineThread& thread, EngineCore& engine) : t(thread), engine(engine) {}

  Outcome ServePlaybackRequest();
  Outcome ServePlayingBack();
  Outcome ServePlaybackEnd();

 private:
  EngineThread& t;
  EngineCore& engine;
  bool playbackPaused = false;
};
