// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/record_control.h"

#include "engine/engine_core.h"
#include "engine/engine_thread.h"

void RecordControl::ReportLostRecording() {
  EngineCore& e = engine;
  e.SetLastError("cannot store the recording in " + e.programDir + EngineBasics::kRecordingName +
                     " (is the disk full?): it ends where the disk stopped taking it",
                 true, EngineFault::kRecordingNotStored);
}

void RecordControl::FinishRecording() {
  EngineCore& e = engine;
  e.cursor.StopDecoder();
  if (e.waveIn) {
    WaveBufferPool& pool = e.cursor.Slots();
    e.waveIn->Reset();
    // The device filled the slots in the order they were queued, which starts at
    // the slot the engine was waiting on; storing them from there keeps the
    // recording in order even when it has wrapped past the last slot.
    const uint32_t slots = pool.Count() + 1;
    bool lost = false;
    for (uint32_t k = 0; k < slots; ++k) {
      WaveSlot* slot = pool.SlotAt((recordSlotIndex + k) % slots);
      e.waveIn->UnprepareHeader(&slot->header);
      if ((slot->header.dwFlags.load(std::memory_order_acquire) & WHDR_DONE) && !lost &&
          !StoreRecorded(slot->header)) {
        lost = true;  // the rest cannot follow without a gap
      }
      slot->header.dwFlags.store(0, std::memory_order_release);
    }
    if (lost) ReportLostRecording();
  }
  e.recorder.Finish();
  e.CloseInput();
  recordSlot = nullptr;
  recordCap = UINT64_MAX;
  e.turnRecording = false;
  t.Caption(EngineMode::kRecord, ModeShown::kOff);
}

RecordControl::Taken RecordControl::TakeRecordedSlot() {
  EngineCore& e = engine;
  WaveHdr& h = recordSlot->header;
  // Refused while the buffer's callback still reads it: next pass.
  if (!(h.dwFlags.load(std::memory_order_acquire) & WHDR_DONE) || !e.waveIn->UnprepareHeader(&h))
    return Taken::kNotYet;
  const bool stored = StoreRecorded(h);
  if (stored && recordCap > 0) {
    h.dwBytesRecorded = 0;
    h.dwFlags.store(0, std::memory_order_release);
    e.waveIn->PrepareHeader(&h);
    e.waveIn->AddBuffer(&h);
  }
  recordSlotIndex = (recordSlotIndex + 1) % (e.cursor.Slots().Count() + 1);
  recordSlot = e.cursor.Slots().SlotAt(recordSlotIndex);
  return stored ? Taken::kStored : Taken::kLost;
}

bool RecordControl::StoreRecorded(const WaveHdr& header) {
  const uint32_t bytes =
      static_cast<uint32_t>(std::min<uint64_t>(header.dwBytesRecorded, recordCap));
  if (bytes == 0) return true;
  if (engine.recorder.Append(header.lpData, bytes) == 0) return false;
  if (recordCap != UINT64_MAX) recordCap -= bytes;
  return true;
}

bool RecordControl::TurnWanted(bool last) const {
  const EngineCore& e = engine;
  return e.recordInGap.load() && !e.turnInputFailed.load() &&
         !(last && e.stopAfterSentence.load()) &&
         e.GapBytes(t.sectionStart, t.passageEnd, last) > 0;
}

bool RecordControl::StartTurn(bool last) {
  EngineCore& e = engine;
  // The gap's time, in the recording's format.
  const double seconds = static_cast<double>(e.GapBytes(t.sectionStart, t.passageEnd, last)) /
                         std::max<uint32_t>(e.itemByteRate.load(), 1);
  const uint64_t frames = static_cast<uint64_t>(seconds * e.recordFormat.nSamplesPerSec + 0.5);
  e.CloseInput();
  e.recorder.SetFormat(&e.recordFormat);
  const bool input = e.OpenInput();
  const bool file =
      input && e.recorder.Begin((e.programDir + EngineBasics::kRecordingName).c_str());
  if (!file) {
    if (input) {
      e.SetLastError("cannot write " + e.programDir + EngineBasics::kRecordingName, true,
                     EngineFault::kRecordingNotStored);
    }
    // Told once (the fault above); the cycle goes on with silent gaps.
    e.turnInputFailed = true;
    e.CloseInput();
    e.recorder.Finish();
    return false;
  }
  e.cursor.Stop(e.waveOut.get());
  if (!e.cursor.LendToInput(e.waveIn.get())) {
    e.turnInputFailed = true;
    e.CloseInput();
    e.recorder.Finish();
    return false;
  }
  recordCap = frames * e.recordFormat.nBlockAlign;
  recordSlotIndex = 0;
  recordSlot = e.cursor.Slots().SlotAt(0);
  recordedPassage = {e.currentPath, t.sectionStart, t.passageEnd};
  turn = Turn::kRecording;
  turnLast = last;
  e.turnRecording = true;
  e.waveIn->Start();
  return true;
}

RecordControl::Outcome RecordControl::ServeTurn() {
  EngineCore& e = engine;
  if (turn == Turn::kRecording) {
    const Taken taken = TakeRecordedSlot();
    if (taken == Taken::kNotYet) {
      e.Sleep(10);
      return Outcome::kGoOn;
    }
    if (taken == Taken::kLost) ReportLostRecording();
    if (taken == Taken::kStored && recordCap > 0) return Outcome::kGoOn;
    // The gap is over: what the learner said plays at once.
    FinishRecording();
    if (!e.OpenSound(e.programDir + EngineBasics::kRecordingName)) {
      EndTurn(true);
      return Outcome::kGoOn;
    }
    turn = Turn::kSelf;
    e.cursor.Run();
    e.Sleep(10);
    return Outcome::kGoOn;
  }
  if (engine.FeedOutput()) return Outcome::kGoOn;
  if (!e.cursor.Idle() || !e.cursor.AllPlayed()) {
    e.Sleep(10);
    return Outcome::kGoOn;
  }
  EndTurn(true);
  return Outcome::kGoOn;
}

void RecordControl::EndTurn(bool readOn) {
  EngineCore& e = engine;
  if (turn == Turn::kRecording) FinishRecording();
  const bool reopen = turn == Turn::kSelf || !e.readingItem.load();
  turn = Turn::kNone;
  if (reopen) {
    if (!e.ReopenItem()) {
      // The lesson is gone: the repeat ends, and the item change finds out why.
      e.sentencePending = false;
      t.Set(ENG_REPEAT_END);
      return;
    }
    t.speed.SlowDownAgain();
  }
  e.cursor.MoveTo(t.sectionStart, t.passageEnd, e.waveOut.get(), t.repeat.PassageExact());
  if (!readOn) return;
  if (turnLast) {
    turnTaken = true;
    t.repeat.MarkDone();
    e.sentencePending = false;
    t.Set(ENG_REPEAT_END);
    return;
  }
  // Opening a sound forgets the sentence found; the repeat goes on with it.
  e.sentencePending = true;
  e.cursor.Run();
}

// 10. Record request.
RecordControl::Outcome RecordControl::ServeRecordRequest() {
  EngineCore& e = engine;
  if (t.Has(ENG_RECORD_REQ)) {
    if (!t.EndActiveMode({ENG_RECORDING, ENG_REPEATING, ENG_PLAYING_BACK, ENG_COMPARING})) {
      t.ResumeForMode();
      // With no passage yet (the first moment of an item, after a stop) the
      // learner records all the same, over the place where they are.
      if (!t.ResolvePassage()) t.PassageHere();
      // The mode decides from here on; a passage is found anew next time.
      t.outputStarted = false;
      e.CloseInput();
      e.recorder.SetFormat(&e.recordFormat);
      // Without an input device the previous recording is left as it was.
      const bool input = e.OpenInput();
      const bool file =
          input && e.recorder.Begin((e.programDir + EngineBasics::kRecordingName).c_str());
      if (!input || !file) {
        if (input && !file) {
          e.SetLastError("cannot write " + e.programDir + EngineBasics::kRecordingName, true,
                         EngineFault::kRecordingNotStored);
        }
        t.Clear(ENG_RECORD_REQ);
        e.CloseInput();
        e.recorder.Finish();
        t.Set(ENG_PLAYING);
        t.ReadOnAfterDrop();
        return Outcome::kRestart;
      }
      // The pool always comes back from the output device first: the slots the
      // input fills must not still be queued for playing. Reading resumes at B.
      e.cursor.Stop(e.waveOut.get());
      e.cursor.SetLimit(t.passageEnd);
      if (e.cursor.LendToInput(e.waveIn.get())) {
        e.StoreFlags(ENG_RECORDING);
        t.Caption(EngineMode::kRead, ModeShown::kOff);
        t.Caption(EngineMode::kRecord, ModeShown::kRunning);
        recordSlotIndex = 0;
        recordSlot = e.cursor.Slots().SlotAt(0);
        recordedPassage = {e.currentPath, t.sectionStart, t.passageEnd};
        e.waveIn->Start();
      }
    }
  }
  return Outcome::kGoOn;
}

// 11. Recording: store each buffer the input device has filled, in order.
RecordControl::Outcome RecordControl::ServeRecording() {
  EngineCore& e = engine;
  if (t.Has(ENG_RECORDING) && recordSlot != nullptr && e.waveIn) {
    const Taken taken = TakeRecordedSlot();
    if (taken == Taken::kNotYet) {
      e.Sleep(10);
    } else if (taken == Taken::kLost) {
      // Recording ends as if the learner had ended it, and says why.
      ReportLostRecording();
      t.Set(ENG_RECORD_END);
    }
  }
  return Outcome::kGoOn;
}

// 21. Leave recording mode.
RecordControl::Outcome RecordControl::ServeRecordEnd() {
  if (!t.Has(ENG_RECORD_END)) return Outcome::kGoOn;
  EngineCore& e = engine;
  FinishRecording();
  t.Clear(ENG_RECORDING | ENG_RECORD_END);
  t.outputStarted = false;
  // A recording made while stopped leaves the engine stopped: nothing to read on.
  if (!e.waveOut) return Outcome::kGoOn;
  // Reading goes on from B, the recording's limit.
  t.Set(ENG_PLAYING);
  e.cursor.RestartAt(e.cursor.Limit(), 0, e.waveOut.get());
  return Outcome::kRestart;
}
