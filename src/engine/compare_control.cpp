// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/compare_control.h"

#include "engine/engine_core.h"
#include "engine/engine_thread.h"

// 16. Compare request.
CompareControl::Outcome CompareControl::ServeCompareRequest() {
  EngineCore& e = engine;
  if (t.Has(ENG_COMPARE_REQ)) {
    if (!t.EndActiveMode({ENG_RECORDING, ENG_PLAYING_BACK, ENG_REPEATING})) {
      t.ResumeForMode();
      if (!t.ResolvePassage()) return t.FailRequest(ENG_COMPARE_REQ);
      // The recording is compared with what it was recorded over, not with
      // whatever was read since (a recording of this item made this session).
      const RecordControl::Passage& recorded = t.record.RecordedPassage();
      if (recorded.path == e.currentPath && recorded.end > recorded.start) {
        t.sectionStart = recorded.start;
        t.passageEnd = recorded.end;
      }
      // The mode decides from here on; a passage is found anew next time.
      t.outputStarted = false;
      comparePhase = true;  // the recording first
      compareLoaded = false;
      t.Caption(EngineMode::kRead, ModeShown::kOff);
      t.Caption(EngineMode::kCompare, ModeShown::kRunning);
      t.savedSectionEnd = t.passageEnd;
      t.ShowPassage(t.sectionStart, t.passageEnd);
      e.StoreFlags(ENG_COMPARING);
    }
  }
  return Outcome::kGoOn;
}

// 17. Comparing: the recording and the passage in turn.
CompareControl::Outcome CompareControl::ServeComparing() {
  EngineCore& e = engine;
  if (t.Has(ENG_COMPARING)) {
    bool failed = false;
    if (!comparePhase && !compareLoaded) {
      if (!e.ReopenItem()) {
        failed = true;
      } else {
        t.speed.SlowDownAgain();
        e.cursor.RestartAt(t.sectionStart, t.savedSectionEnd, e.waveOut.get());
        compareLoaded = true;
        e.Sleep(10);
      }
    }
    if (!failed && comparePhase && !compareLoaded) {
      if (!e.OpenSound(e.programDir + EngineBasics::kRecordingName)) {
        failed = true;
      } else {
        compareLoaded = true;
        e.cursor.Run();
        e.Sleep(10);
      }
    }
    if (failed) {
      e.Refuse("cannot compare: " + e.LastError());
      t.Clear(ENG_COMPARING);
      t.Set(ENG_COMPARE_END);
    } else if (!engine.FeedOutput()) {
      if (e.cursor.Idle() && e.cursor.AllPlayed()) {
        compareLoaded = false;
        comparePhase = !comparePhase;
      } else {
        e.Sleep(10);
      }
    }
  }
  return Outcome::kGoOn;
}

// 18. Leave compare mode.
CompareControl::Outcome CompareControl::ServeCompareEnd() {
  EngineCore& e = engine;
  if (t.Has(ENG_COMPARE_END)) {
    e.cursor.StopDecoder();
    t.Caption(EngineMode::kCompare, ModeShown::kOff);
    t.ShowPassage(0, 0);
    if (t.ReturnToItem(ENG_COMPARING | ENG_COMPARE_END)) return Outcome::kRestart;
  }
  return Outcome::kGoOn;
}
