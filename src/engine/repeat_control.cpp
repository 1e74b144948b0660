// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/repeat_control.h"

#include "engine/engine_core.h"
#include "engine/engine_thread.h"

// 14. Repeat request.
RepeatControl::Outcome RepeatControl::ServeRepeatRequest() {
  EngineCore& e = engine;
  if (t.Has(ENG_REPEAT_REQ)) {
    if (t.EndActiveMode({ENG_RECORDING, ENG_PLAYING_BACK, ENG_COMPARING})) {
      // the bit stays until the mode has ended
    } else if (t.Has(ENG_REPEATING)) {
      t.TogglePause(&repeatPaused, EngineMode::kRepeat);
      t.Clear(ENG_REPEAT_REQ);
    } else {
      t.ResumeForMode();
      Sentence sentence;
      const bool fromTranscript =
          t.listSentence >= 0 && e.sentences.At(static_cast<size_t>(t.listSentence), &sentence);
      if (fromTranscript) {
        // The transcript's sentence, from its (padded) start to its end.
        t.sectionStart = sentence.start;
        t.passageEnd = sentence.end;
        t.passageFromOutput = false;
        e.markRing.Push(t.passageEnd);
      } else if (!t.ResolvePassage()) {
        return t.FailRequest(ENG_REPEAT_REQ);
      }
      t.listSentence = -1;
      // The mode decides from here on; a passage is found anew next time.
      t.outputStarted = false;
      if (t.sectionStart >= t.passageEnd) {
        // Nothing to repeat: reading goes on from where the learner is.
        e.Refuse(
            "the passage to repeat is empty: let some of the lesson play after read marks "
            "its start, then ask again");
        t.Clear(ENG_REPEAT_REQ);
        e.cursor.SetLimit(0);
        t.ReadOnAfterDrop();
      } else {
        e.cursor.MoveTo(t.sectionStart, t.passageEnd, e.waveOut.get(), fromTranscript);
        t.Caption(EngineMode::kRead, ModeShown::kOff);
        t.Caption(EngineMode::kRepeat, ModeShown::kRunning);
        e.silenceRing.Clear();
        repeatsLeft = e.repeatCount.load();
        repeatPaused = false;
        repeatDone = false;
        t.ShowPassage(t.sectionStart, t.passageEnd);
        e.playsHeard = 0;
        passageExact = fromTranscript;
        t.record.ForgetTurn();
        // A sentence found in automatic mode: the learner's turn after its
        // first hearing comes before the repeat.
        const bool found = e.autoMode.load() && e.sentencePending.load();
        e.StoreFlags(ENG_REPEATING);
        if (found && t.record.TurnWanted(false) && t.record.StartTurn(false)) return Outcome::kGoOn;
        if (found) e.cursor.SetGap(e.GapBytes(t.sectionStart, t.passageEnd, false), t.passageEnd);
        e.cursor.Run();
        e.Sleep(10);
      }
    }
  }
  return Outcome::kGoOn;
}

// 15. Repeating.
RepeatControl::Outcome RepeatControl::ServeRepeating() {
  EngineCore& e = engine;
  if (t.Has(ENG_REPEATING)) {
    // Ended by a command: the end is served in this pass, not after the play.
    if (t.Has(ENG_REPEAT_END)) return Outcome::kGoOn;
    if (t.record.TurnNow() != RecordControl::Turn::kNone) return t.record.ServeTurn();
    if (repeatPaused) {
      e.Sleep(20);
    } else if (!engine.FeedOutput()) {
      if (e.cursor.Idle()) {
        if (e.autoMode.load() && e.sentencePending.load()) {
          const bool last = repeatsLeft <= 1 || repeatsLeft > e.repeatCount.load();
          const bool recorded = t.record.TurnWanted(last);
          // The last play, or one the learner is to answer, still sounds:
          // nothing to do until a buffer finishes.
          if ((last || recorded) && !e.cursor.AllPlayed()) return Outcome::kAwaitBuffer;
          repeatsLeft = last ? 0 : repeatsLeft - 1;
          if (recorded && t.record.StartTurn(last)) return Outcome::kGoOn;
          if (last) {
            e.sentencePending = false;
            repeatDone = true;
            t.Set(ENG_REPEAT_END);
          } else {
            e.cursor.SetGap(e.GapBytes(t.sectionStart, t.passageEnd, false), t.passageEnd);
          }
        }
        // Rewind: the next play (after its gap) is decoded while this one still sounds.
        e.cursor.ReadAgainFrom(t.sectionStart);
      }
      e.Sleep(10);
      e.Sleep(10);
    }
  }
  return Outcome::kGoOn;
}

// 20. Leave repeat mode: read on from B.
RepeatControl::Outcome RepeatControl::ServeRepeatEnd() {
  EngineCore& e = engine;
  if (t.Has(ENG_REPEAT_END)) {
    t.Caption(EngineMode::kRepeat, ModeShown::kOff);
    // A turn a command cut short keeps what was recorded; the item is back.
    if (t.record.TurnNow() != RecordControl::Turn::kNone) t.record.EndTurn(false);
    // Reading goes on from B, the repeat's limit.
    const uint32_t end = e.cursor.Limit();
    e.cursor.MoveTo(end, 0, e.waveOut.get());
    if (repeatPaused) {
      // A repeat paused at the device would leave reading silent.
      e.PauseDevice(false);
      repeatPaused = false;
    }
    e.sentencePending = false;
    t.ShowPassage(0, 0);
    t.Clear(ENG_REPEATING | ENG_REPEAT_END);
    t.Set(ENG_PLAYING);
    t.outputStarted = false;
    const bool done = repeatDone;
    repeatDone = false;
    // A sentence played to its last repeat: dictation stops there until the
    // learner resumes; shadowing has one more turn before reading goes on.
    if (done && e.stopAfterSentence.load()) {
      e.cursor.Run();
      if (e.PauseOutput(true)) {
        e.paused = true;
        t.stoppedAfterSentence = true;
        e.StoreFlags(ENG_ITEM_CHANGE);
        return Outcome::kGoOn;
      }
    } else if (done && !t.record.TurnTaken()) {
      e.cursor.SetGap(e.GapBytes(t.sectionStart, t.passageEnd, true), end);
    }
    t.record.ForgetTurn();
    e.cursor.Run();
    return Outcome::kRestart;
  }
  return Outcome::kGoOn;
}
