// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/speed_control.h"

#include "engine/engine_core.h"
#include "engine/engine_thread.h"

// 8. Speed.
SpeedControl::Outcome SpeedControl::ServeSpeed() {
  EngineCore& e = engine;
  if (t.Has(ENG_SPEED_REQ)) {
    if (!t.EndActiveMode({ENG_REPEATING, ENG_RECORDING, ENG_PLAYING_BACK, ENG_COMPARING})) {
      // A new device plays at once: reading is no longer paused.
      const bool changed = e.ChangeSpeed();
      if (changed) e.paused = false;
      e.StoreFlags(ENG_PLAYING);
      // The store drops a request made during the change: a slider moved on,
      // or keep pitch chosen, meanwhile is served in the next pass.
      if (changed &&
          (e.speedPosition.load() != e.appliedSpeed || e.keepPitch.load() != e.appliedKeepPitch))
        e.Post(ENG_SPEED_REQ);
    }
  }
  return Outcome::kGoOn;
}

void SpeedControl::SlowDownAgain() {
  // The recording plays as it was recorded; the item's own sound, reopened,
  // is slowed down with its pitch kept again. (The lowered rate, as before,
  // is not: the device is reopened at the file's rate.)
  EngineCore& e = engine;
  if (e.keepPitch.load() && e.speedPosition.load() > 0) e.ApplySpeed();
}
