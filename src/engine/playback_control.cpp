// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/playback_control.h"

#include "engine/engine_core.h"
#include "engine/engine_thread.h"

// 12. Play-back request.
PlaybackControl::Outcome PlaybackControl::ServePlaybackRequest() {
  EngineCore& e = engine;
  if (t.Has(ENG_PLAYBACK_REQ)) {
    if (t.EndActiveMode({ENG_RECORDING, ENG_REPEATING, ENG_COMPARING})) {
      // the bit stays until the mode has ended
    } else if (t.Has(ENG_PLAYING_BACK)) {
      t.TogglePause(&playbackPaused, EngineMode::kPlayBack);
      t.Clear(ENG_PLAYBACK_REQ);
    } else {
      t.ResumeForMode();
      if (!t.ResolvePassage()) return t.FailRequest(ENG_PLAYBACK_REQ);
      // The mode decides from here on; a passage is found anew next time.
      t.outputStarted = false;
      t.savedSectionEnd = t.passageEnd;
      if (e.OpenSound(e.programDir + EngineBasics::kRecordingName)) {
        t.Caption(EngineMode::kRead, ModeShown::kOff);
        t.Caption(EngineMode::kPlayBack, ModeShown::kRunning);
        playbackPaused = false;
        e.StoreFlags(ENG_PLAYING_BACK);
        e.cursor.Run();
        e.Sleep(10);
      } else {
        e.Refuse("there is no recording to play back: record first");
        t.Clear(ENG_PLAYBACK_REQ | ENG_PLAYING_BACK);
        t.Set(ENG_PLAYBACK_END);
      }
    }
  }
  return Outcome::kGoOn;
}

// 13. Playing back: the recording plays in a loop.
PlaybackControl::Outcome PlaybackControl::ServePlayingBack() {
  EngineCore& e = engine;
  if (t.Has(ENG_PLAYING_BACK)) {
    if (playbackPaused) {
      e.Sleep(20);
    } else if (!engine.FeedOutput()) {
      if (e.cursor.Idle() && e.cursor.AllPlayed()) {
        e.cursor.ReadAgainFrom(0);
        e.Sleep(10);
      } else {
        e.Sleep(10);
        e.Sleep(10);
      }
    }
  }
  return Outcome::kGoOn;
}

// 19. Leave play-back mode.
PlaybackControl::Outcome PlaybackControl::ServePlaybackEnd() {
  EngineCore& e = engine;
  if (t.Has(ENG_PLAYBACK_END)) {
    t.Caption(EngineMode::kPlayBack, ModeShown::kOff);
    e.cursor.StopDecoder();
    if (t.ReturnToItem(ENG_PLAYING_BACK | ENG_PLAYBACK_END)) return Outcome::kRestart;
  }
  return Outcome::kGoOn;
}
