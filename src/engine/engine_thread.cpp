#include "engine/engine_thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "engine/engine_core.h"

void EngineThread::Start() {
  if (thread.joinable()) return;
  repeatsLeft = engine.repeatCount.load();
  ended = false;
  thread = std::thread([this] {
    // Best effort: a higher priority keeps the output queue filled promptly; a
    // refusal (no privilege) changes nothing.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), -10);
    pthread_setname_np(pthread_self(), "engine");
    Run();
    ended = true;
  });
}

void EngineThread::Join() {
  if (thread.joinable()) thread.join();
}

bool EngineThread::JoinWithin(std::chrono::milliseconds limit) {
  return JoinThreadWithin(thread, ended, limit);
}

bool EngineThread::RequestPending() const {
  constexpr uint32_t kRequests = ENG_READ_REQ | ENG_PAUSE_REQ | ENG_RESUME_REQ | ENG_PLAYBACK_REQ |
                                 ENG_REPEAT_REQ | ENG_RECORD_REQ | ENG_COMPARE_REQ | ENG_SEEK_REQ |
                                 ENG_SENTENCE_REQ | ENG_VOLUME_REQ | ENG_SPEED_REQ | ENG_STOP_REQ |
                                 ENG_QUIT;
  return Has(kRequests);
}

bool EngineThread::Has(uint32_t bits) const {
  const uint32_t flags = engine.engineFlags.load();
  // What a step has looked at counts as found by it.
  if (serving) engine.flagsSeen |= flags;
  return (flags & bits) != 0;
}
void EngineThread::Set(uint32_t bits) {
  engine.engineFlags.fetch_or(bits);
}
void EngineThread::Clear(uint32_t bits) {
  engine.engineFlags.fetch_and(~bits);
}

void EngineThread::Caption(EngineMode mode, ModeShown shown) {
  if (engine.view) engine.view->ShowMode(mode, shown);
}

bool EngineThread::EndActiveMode(std::initializer_list<uint32_t> order) {
  for (uint32_t mode : order) {
    if (!Has(mode)) continue;
    switch (mode) {
      case ENG_REPEATING:
        Set(ENG_REPEAT_END);
        break;
      case ENG_RECORDING:
        Set(ENG_RECORD_END);
        break;
      case ENG_PLAYING_BACK:
        Set(ENG_PLAYBACK_END);
        break;
      case ENG_COMPARING:
        Set(ENG_COMPARE_END);
        break;
    }
    return true;
  }
  return false;
}

void EngineThread::PassageHere() {
  EngineCore& e = engine;
  uint32_t here = 0;
  if (!e.cursor.LastPlayed(&here) && !e.markRing.Get(0, &here)) here = 0;
  passageFromOutput = false;
  sectionStart = passageEnd = here;
}

bool EngineThread::ResolvePassage() {
  EngineCore& e = engine;
  if (outputStarted &&
      e.cursor.StopAtHeard(e.waveOut.get(), e.playFormat.nBlockAlign, &passageEnd)) {
    passageFromOutput = true;
    uint32_t a;
    if (e.markRing.Get(0, &a)) sectionStart = a;
    if (passageEnd > sectionStart) e.markRing.Push(passageEnd);
    return true;
  }
  // The last marked passage again. Its end becomes the read limit only once the
  // mode has stopped the decoder: reading may still go on past it.
  passageFromOutput = false;
  uint32_t a, b;
  if (!e.markRing.Get(0, &b) || !e.markRing.Get(1, &a)) return false;
  passageEnd = b;
  sectionStart = a;
  return true;
}

void EngineThread::ResumeForMode() {
  EngineCore& e = engine;
  // A mode asked for while reading is paused plays: the device runs again.
  if (e.paused.load()) {
    e.RestartOutput();
    e.paused = false;
  }
}

void EngineThread::ReadOnAfterDrop() {
  EngineCore& e = engine;
  // Resolving stopped the output at B: reading goes on from there. Otherwise
  // reading was never interrupted.
  if (passageFromOutput) e.cursor.RestartAt(passageEnd, 0, e.waveOut.get());
}

void EngineThread::ReportLostRecording() {
  EngineCore& e = engine;
  e.SetLastError("cannot store the recording in " + e.programDir + EngineBasics::kRecordingName +
                     " (is the disk full?): it ends where the disk stopped taking it",
                 true, EngineFault::kRecordingNotStored);
}

void EngineThread::FinishRecording() {
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
  Caption(EngineMode::kRecord, ModeShown::kOff);
}

EngineThread::Taken EngineThread::TakeRecordedSlot() {
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

bool EngineThread::StoreRecorded(const WaveHdr& header) {
  const uint32_t bytes =
      static_cast<uint32_t>(std::min<uint64_t>(header.dwBytesRecorded, recordCap));
  if (bytes == 0) return true;
  if (engine.recorder.Append(header.lpData, bytes) == 0) return false;
  if (recordCap != UINT64_MAX) recordCap -= bytes;
  return true;
}

bool EngineThread::TurnWanted(bool last) const {
  const EngineCore& e = engine;
  return e.recordInGap.load() && !e.turnInputFailed.load() &&
         !(last && e.stopAfterSentence.load()) && e.GapBytes(sectionStart, passageEnd, last) > 0;
}

bool EngineThread::StartTurn(bool last) {
  EngineCore& e = engine;
  // The gap's time, in the recording's format.
  const double seconds = static_cast<double>(e.GapBytes(sectionStart, passageEnd, last)) /
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
  recordedPassage = {e.currentPath, sectionStart, passageEnd};
  turn = Turn::kRecording;
  turnLast = last;
  e.turnRecording = true;
  e.waveIn->Start();
  return true;
}

EngineThread::Outcome EngineThread::ServeTurn() {
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
  if (FeedAll()) return Outcome::kGoOn;
  if (!e.cursor.Idle() || !e.cursor.AllPlayed()) {
    e.Sleep(10);
    return Outcome::kGoOn;
  }
  EndTurn(true);
  return Outcome::kGoOn;
}

void EngineThread::EndTurn(bool readOn) {
  EngineCore& e = engine;
  if (turn == Turn::kRecording) FinishRecording();
  const bool reopen = turn == Turn::kSelf || !e.readingItem.load();
  turn = Turn::kNone;
  if (reopen) {
    if (!e.ReopenItem()) {
      // The lesson is gone: the repeat ends, and the item change finds out why.
      e.sentencePending = false;
      Set(ENG_REPEAT_END);
      return;
    }
    SlowDownAgain();
  }
  e.cursor.MoveTo(sectionStart, passageEnd, e.waveOut.get(), passageExact);
  if (!readOn) return;
  if (turnLast) {
    turnTaken = true;
    repeatDone = true;
    e.sentencePending = false;
    Set(ENG_REPEAT_END);
    return;
  }
  // Opening a sound forgets the sentence found; the repeat goes on with it.
  e.sentencePending = true;
  e.cursor.Run();
}

void EngineThread::ShowPassage(uint32_t start, uint32_t end) {
  engine.shownPassageStart = start;
  engine.shownPassageEnd = end;
}

void EngineThread::TogglePause(bool* paused, EngineMode mode) {
  *paused = !*paused;
  engine.PauseDevice(*paused);
  Caption(mode, *paused ? ModeShown::kPaused : ModeShown::kRunning);
}

bool EngineThread::ReturnToItem(uint32_t modeBits) {
  EngineCore& e = engine;
  if (!e.ReopenItem()) {
    endOfItem = true;
    e.StoreFlags(ENG_ITEM_CHANGE);
    return false;
  }
  SlowDownAgain();
  outputStarted = false;
  e.sentencePending = false;
  // The reading mode goes first, so that the decoder measures the silence of
  // the first block too.
  Clear(modeBits);
  Set(ENG_PLAYING);
  e.cursor.RestartAt(savedSectionEnd, 0, e.waveOut.get());
  return true;
}

void EngineThread::SlowDownAgain() {
  // The recording plays as it was recorded; the item's own sound, reopened,
  // is slowed down with its pitch kept again. (The lowered rate, as before,
  // is not: the device is reopened at the file's rate.)
  EngineCore& e = engine;
  if (e.keepPitch.load() && e.speedPosition.load() > 0) e.ApplySpeed();
}

EngineThread::Outcome EngineThread::FailRequest(uint32_t bit) {
  const char* what = bit == ENG_REPEAT_REQ     ? "repeat"
                     : bit == ENG_PLAYBACK_REQ ? "play back"
                                               : "compare";
  engine.Refuse(std::string("there is no passage to ") + what +
                " yet: let the lesson play (read marks where a passage starts), then ask again");
  Clear(bit);
  // Reading goes on, unless the learner had stopped: then nothing plays.
  if (engine.waveOut) Set(ENG_PLAYING);
  outputStarted = false;
  return Outcome::kRestart;
}

void EngineThread::Run() {
  EngineCore& e = engine;
  for (;;) {
    NoticeLostDevice();
    // The split chosen anew applies to the open item's list at once.
    if (e.splitChanged.exchange(false) && !e.sentencesPath.empty())
      e.LoadSentences(e.sentencesPath);
    // 1. Reading.
    if (Has(ENG_PLAYING)) Reading();
    Outcome outcome;
    do {
      outcome = ServeRequests();
    } while (outcome == Outcome::kRestart);

    // 22. Quit.
    if (Has(ENG_QUIT)) {
      ServeQuit();
      return;
    }
    e.passes.fetch_add(1);
    if (outcome == Outcome::kAwaitBuffer) {
      // Woken by the next finished buffer (or a request).
      e.SettledSleep(50);
      continue;
    }
    // Every request, block and buffer the engine must see wakes it; the sleep's
    // end only guards against a missed wake, rarely at rest.
    e.SettledSleep(e.engineFlags.load() == 0 ? kRestSleepMs : kBusySleepMs);
  }
}

void EngineThread::NoticeLostDevice() {
  EngineCore& e = engine;
  const bool input = e.waveIn && e.waveIn->Lost();
  const bool output = e.waveOut && e.waveOut->Lost();
  if ((!input && !output) || Has(ENG_STOP_REQ)) return;
  if (!e.currentPath.empty()) {
    e.lostPath = e.currentPath;
    e.lostPosition = e.itemHeardPosition.load();
    e.lostSpeed = e.speedPosition.load();
  }
  // A recording keeps what was recorded up to the loss (Stop finishes it).
  e.SetLastError(std::string("the sound ") + (input ? "input" : "output") +
                     " went away (its sound server ended, or the device was unplugged); "
                     "press Play when it is back",
                 true, EngineFault::kDeviceLost);
  Set(ENG_STOP_REQ);
  e.waker.Notify(Waker::kEngine);
}

void EngineThread::ServeQuit() {
  EngineCore& e = engine;
  // A recording under way keeps what the input has filled (quitting the
  // window, a signal): its last slots are stored before the input goes.
  if (recordSlot != nullptr) FinishRecording();
  e.engineFlags.store(ENG_QUIT);
  if (e.waveIn) e.CloseInput();
  e.recorder.Finish();
  if (e.waveOut) {
    e.cursor.ReturnBuffers(e.waveOut.get());
    e.waveOut->Close();
    e.waveOut.reset();
  }
  e.engineFlags.store(ENG_EXITED);
  e.waker.Notify();
}

bool EngineThread::FeedAll() {
  // Everything the ring holds goes on to the device at once (as far as the pool
  // takes it), so the device always has the sound after the one playing.
  bool wrote = false;
  ReadCursor& cursor = engine.cursor;
  for (uint32_t i = 0; i <= cursor.Slots().Count() && cursor.Feed(engine.waveOut.get()); ++i)
    wrote = true;
  return wrote;
}

void EngineThread::Reading() {
  EngineCore& e = engine;
  TakeSentenceStop();
  if (e.nothingFoundDue.exchange(false) && e.view)
    e.view->NoSentenceFound(EngineCore::kNothingFoundSeconds);
  if (!FeedAll()) {
    if (e.cursor.Idle()) {
      if (e.cursor.AllPlayed() && e.cursor.Limit() != 0) {
        SentenceHeard(e.cursor.Limit());
      } else if (e.cursor.AllPlayed()) {
        // A file that opened but gave no sound at all (cut off after its
        // header) is named like one that would not open; reading that starts
        // with nothing open is no such file.
        if (e.readingItem.load() && !e.soundDecoded.load() && e.view)
          e.view->ItemNotPlayable(e.currentPath, "no sound could be decoded from it");
        endOfItem = true;
        e.StoreFlags(ENG_ITEM_CHANGE);
      }
      // Otherwise the rest still sounds: its end wakes the engine.
    }
  }
  if (!outputStarted) Caption(EngineMode::kRead, ModeShown::kRunning);
  outputStarted = true;
}

void EngineThread::TakeSentenceStop() {
  EngineCore& e = engine;
  uint32_t heard = 0;
  // Automatic mode (or the transcript) switched on while reading runs free:
  // the read goes back to what was heard, and stops at its sentence's end.
  if (!e.SentenceStops() || !outputStarted || e.cursor.Limit() != 0 ||
      !e.cursor.LastPlayed(&heard) || e.SentenceStopAfter(heard) == 0)
    return;
  e.cursor.RestartAt(e.AlignToFrame(heard), 0, e.waveOut.get());
}

void EngineThread::SentenceHeard(uint32_t end) {
  EngineCore& e = engine;
  const int index = e.sentences.IndexAfter(end - 1);
  if (!e.SentenceStops() || index < 0) {
    // Automatic mode or the transcript was turned off meanwhile: read on.
    e.cursor.SetLimit(0);
    e.cursor.Run();
    return;
  }
  // Heard to its end: it is repeated as a sentence found at a pause is.
  listSentence = index;
  e.sentencePending = true;
  e.sentencesFound.fetch_add(1);
  Set(ENG_REPEAT_REQ);
}

EngineThread::Outcome EngineThread::ServeRequests() {
  // Steps 2 to 21 of a pass, in their fixed order; a step may restart the pass
  // (at step 2) or end it early.
  using Step = Outcome (EngineThread::*)();
  static constexpr Step kSteps[] = {
      &EngineThread::ServeItemChange,
      &EngineThread::ServeRead,
      &EngineThread::ServePause,
      &EngineThread::ServeResume,
      &EngineThread::ServeSeek,
      &EngineThread::ServeVolume,
      &EngineThread::ServeSpeed,
      &EngineThread::ServeStop,
      &EngineThread::ServeRecordRequest,
      &EngineThread::ServeRecording,
      &EngineThread::ServePlaybackRequest,
      &EngineThread::ServePlayingBack,
      &EngineThread::ServeRepeatRequest,
      &EngineThread::ServeRepeating,
      &EngineThread::ServeCompareRequest,
      &EngineThread::ServeComparing,
      &EngineThread::ServeCompareEnd,
      &EngineThread::ServePlaybackEnd,
      &EngineThread::ServeRepeatEnd,
      &EngineThread::ServeRecordEnd,
  };
  Outcome outcome = Outcome::kGoOn;
  serving = true;
  for (Step step : kSteps) {
    engine.flagsSeen = engine.engineFlags.load();
    outcome = (this->*step)();
    if (outcome != Outcome::kGoOn) break;
  }
  serving = false;
  engine.flagsSeen = 0;
  return outcome;
}

// 2. Item change.
EngineThread::Outcome EngineThread::ServeItemChange() {
  EngineCore& e = engine;
  if (Has(ENG_ITEM_CHANGE)) {
    // A command's open served before its post arrived (both come from the same
    // command): reading goes on with the item it asked for.
    if (Has(ENG_PLAYING) && !endOfItem && !e.openRequest.load()) {
      Clear(ENG_ITEM_CHANGE);
      return Outcome::kGoOn;
    }
    if (!EndActiveMode({ENG_RECORDING, ENG_REPEATING, ENG_PLAYING_BACK, ENG_COMPARING})) {
      // A pause's change opens nothing: a request that came with it (Play
      // pressed at once) is served in this pass, not dropped.
      const bool opens = endOfItem || e.openRequest.load();
      e.StoreFlags(opens ? 0 : e.engineFlags.load() & kPostedBits & ~ENG_ITEM_CHANGE);
      if (endOfItem) {
        endOfItem = false;
        e.OpenNextItem();
      }
      // An entry chosen while another opens is opened next: its post may have
      // found the item change still set, and the open's store then dropped it.
      while (e.openRequest.exchange(false)) {
        stoppedAfterSentence = false;
        e.OpenItemAt(e.playlistIndex.load());
      }
    }
  }
  return Outcome::kGoOn;
}

// 3. Read: mark A while reading, otherwise end the active mode.
EngineThread::Outcome EngineThread::ServeRead() {
  EngineCore& e = engine;
  if (Has(ENG_READ_REQ)) {
    if ((e.engineFlags.load() & ~ENG_QUIT) == (ENG_PLAYING | ENG_READ_REQ)) {
      uint32_t position;
      if (e.cursor.LastPlayed(&position)) e.markRing.Push(position);
      Clear(ENG_READ_REQ);
    } else {
      Clear(ENG_READ_REQ);
      EndActiveMode({ENG_REPEATING, ENG_RECORDING, ENG_PLAYING_BACK, ENG_COMPARING});
    }
  }
  return Outcome::kGoOn;
}

// 4. Pause.
EngineThread::Outcome EngineThread::ServePause() {
  EngineCore& e = engine;
  if (Has(ENG_PAUSE_REQ)) {
    if (e.paused.load() && stoppedAfterSentence) {
      // Dictation's stop after a sentence: the pause key goes on, as Play does.
      Clear(ENG_PAUSE_REQ);
      Set(ENG_RESUME_REQ);
    } else if (!e.paused.load() && e.waveOut && e.waveOut->IsOpen()) {
      if (!EndActiveMode({ENG_REPEATING, ENG_RECORDING, ENG_PLAYING_BACK, ENG_COMPARING})) {
        if (e.PauseOutput()) {
          e.paused = true;
          e.StoreFlags(ENG_ITEM_CHANGE);
        } else {
          Clear(ENG_PAUSE_REQ);
        }
      }
    } else {
      Clear(ENG_PAUSE_REQ);
    }
  }
  return Outcome::kGoOn;
}

// 5. Resume.
EngineThread::Outcome EngineThread::ServeResume() {
  EngineCore& e = engine;
  if (Has(ENG_RESUME_REQ)) {
    stoppedAfterSentence = false;
    if (e.paused.load() && e.RestartOutput()) e.paused = false;
    e.StoreFlags(ENG_PLAYING);
  }
  return Outcome::kGoOn;
}

// 6. Seek.
EngineThread::Outcome EngineThread::ServeSeek() {
  EngineCore& e = engine;
  if (Has(ENG_SEEK_REQ)) {
    if (!EndActiveMode({ENG_REPEATING, ENG_RECORDING, ENG_PLAYING_BACK, ENG_COMPARING})) {
      // Paused, the seek lands and waits for Play (status still says so);
      // stopped, there is nothing to seek in.
      const bool sounding = e.SeekTo(e.seekTarget.load()) && !e.paused.load();
      e.StoreFlags(sounding ? ENG_PLAYING : 0);
    }
  }
  if (Has(ENG_SENTENCE_REQ)) {
    if (Has(ENG_REPEATING) && !stepFromRepeat) {
      stepFromRepeat = true;
      stepFrom = sectionStart;
    }
    if (!EndActiveMode({ENG_REPEATING, ENG_RECORDING, ENG_PLAYING_BACK, ENG_COMPARING})) {
      Clear(ENG_SENTENCE_REQ);
      const bool fromRepeat = std::exchange(stepFromRepeat, false);
      const int asked = e.repeatIndex.exchange(-1);
      if (asked >= 0) {
        // A line chosen: its sentence is repeated as one heard to its end.
        Sentence chosen;
        if (e.sentences.At(static_cast<size_t>(asked), &chosen)) {
          listSentence = asked;
          e.sentencePending = e.autoMode.load();
          Set(ENG_REPEAT_REQ);
        }
        return Outcome::kGoOn;
      }
      uint32_t here = 0, target = 0;
      if (fromRepeat) {
        here = stepFrom;
      } else if (!e.cursor.LastPlayed(&here)) {
        // Nothing heard since the last jump: steps go on from where it led.
        if (jumpItem == e.itemsOpened.load() && jumpHeard == e.buffersFinished.load())
          here = jumpedTo;
        else
          here = e.itemHeardPosition.load();
      }
      const int step = e.sentenceStep.load();
      if (!e.SentenceTarget(step, here, &target)) {
        e.Refuse(step > 0   ? "there is no next sentence: this is the last"
                 : step < 0 ? "there is no sentence before this one"
                            : "there is no sentence here yet");
      } else if (e.SeekTo(target)) {
        jumpedTo = target;
        jumpItem = e.itemsOpened.load();
        jumpHeard = e.buffersFinished.load();
        e.StoreFlags(e.paused.load() ? 0 : ENG_PLAYING);
      }
    }
  }
  return Outcome::kGoOn;
}

// 7. Volume.
EngineThread::Outcome EngineThread::ServeVolume() {
  EngineCore& e = engine;
  if (Has(ENG_VOLUME_REQ)) {
    e.ApplyVolume();
    Clear(ENG_VOLUME_REQ);
  }
  return Outcome::kGoOn;
}

// 8. Speed.
EngineThread::Outcome EngineThread::ServeSpeed() {
  EngineCore& e = engine;
  if (Has(ENG_SPEED_REQ)) {
    if (!EndActiveMode({ENG_REPEATING, ENG_RECORDING, ENG_PLAYING_BACK, ENG_COMPARING})) {
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

// 9. Stop.
EngineThread::Outcome EngineThread::ServeStop() {
  EngineCore& e = engine;
  if (Has(ENG_STOP_REQ)) {
    // A recording under way is kept: it ends as the learner would end it.
    if (Has(ENG_RECORDING)) FinishRecording();
    if (turn != Turn::kNone) EndTurn(false);
    stoppedAfterSentence = false;
    // The decoder is stopped and waited for, not just told: a read still under
    // way must not meet the next item's Close.
    if (e.waveOut) e.CloseOutput();
    e.cursor.Stop(nullptr);
    e.cursor.SetLimit(0);
    e.StoreFlags(0);
  }
  return Outcome::kGoOn;
}

// 10. Record request.
EngineThread::Outcome EngineThread::ServeRecordRequest() {
  EngineCore& e = engine;
  if (Has(ENG_RECORD_REQ)) {
    if (!EndActiveMode({ENG_RECORDING, ENG_REPEATING, ENG_PLAYING_BACK, ENG_COMPARING})) {
      ResumeForMode();
      // With no passage yet (the first moment of an item, after a stop) the
      // learner records all the same, over the place where they are.
      if (!ResolvePassage()) PassageHere();
      // The mode decides from here on; a passage is found anew next time.
      outputStarted = false;
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
        Clear(ENG_RECORD_REQ);
        e.CloseInput();
        e.recorder.Finish();
        Set(ENG_PLAYING);
        ReadOnAfterDrop();
        return Outcome::kRestart;
      }
      // The pool always comes back from the output device first: the slots the
      // input fills must not still be queued for playing. Reading resumes at B.
      e.cursor.Stop(e.waveOut.get());
      e.cursor.SetLimit(passageEnd);
      if (e.cursor.LendToInput(e.waveIn.get())) {
        e.StoreFlags(ENG_RECORDING);
        Caption(EngineMode::kRead, ModeShown::kOff);
        Caption(EngineMode::kRecord, ModeShown::kRunning);
        recordSlotIndex = 0;
        recordSlot = e.cursor.Slots().SlotAt(0);
        recordedPassage = {e.currentPath, sectionStart, passageEnd};
        e.waveIn->Start();
      }
    }
  }
  return Outcome::kGoOn;
}

// 11. Recording: store each buffer the input device has filled, in order.
EngineThread::Outcome EngineThread::ServeRecording() {
  EngineCore& e = engine;
  if (Has(ENG_RECORDING) && recordSlot != nullptr && e.waveIn) {
    const Taken taken = TakeRecordedSlot();
    if (taken == Taken::kNotYet) {
      e.Sleep(10);
    } else if (taken == Taken::kLost) {
      // Recording ends as if the learner had ended it, and says why.
      ReportLostRecording();
      Set(ENG_RECORD_END);
    }
  }
  return Outcome::kGoOn;
}

// 12. Play-back request.
EngineThread::Outcome EngineThread::ServePlaybackRequest() {
  EngineCore& e = engine;
  if (Has(ENG_PLAYBACK_REQ)) {
    if (EndActiveMode({ENG_RECORDING, ENG_REPEATING, ENG_COMPARING})) {
      // the bit stays until the mode has ended
    } else if (Has(ENG_PLAYING_BACK)) {
      TogglePause(&playbackPaused, EngineMode::kPlayBack);
      Clear(ENG_PLAYBACK_REQ);
    } else {
      ResumeForMode();
      if (!ResolvePassage()) return FailRequest(ENG_PLAYBACK_REQ);
      // The mode decides from here on; a passage is found anew next time.
      outputStarted = false;
      savedSectionEnd = passageEnd;
      if (e.OpenSound(e.programDir + EngineBasics::kRecordingName)) {
        Caption(EngineMode::kRead, ModeShown::kOff);
        Caption(EngineMode::kPlayBack, ModeShown::kRunning);
        playbackPaused = false;
        e.StoreFlags(ENG_PLAYING_BACK);
        e.cursor.Run();
        e.Sleep(10);
      } else {
        e.Refuse("there is no recording to play back: record first");
        Clear(ENG_PLAYBACK_REQ | ENG_PLAYING_BACK);
        Set(ENG_PLAYBACK_END);
      }
    }
  }
  return Outcome::kGoOn;
}

// 13. Playing back: the recording plays in a loop.
EngineThread::Outcome EngineThread::ServePlayingBack() {
  EngineCore& e = engine;
  if (Has(ENG_PLAYING_BACK)) {
    if (playbackPaused) {
      e.Sleep(20);
    } else if (!FeedAll()) {
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

// 14. Repeat request.
EngineThread::Outcome EngineThread::ServeRepeatRequest() {
  EngineCore& e = engine;
  if (Has(ENG_REPEAT_REQ)) {
    if (EndActiveMode({ENG_RECORDING, ENG_PLAYING_BACK, ENG_COMPARING})) {
      // the bit stays until the mode has ended
    } else if (Has(ENG_REPEATING)) {
      TogglePause(&repeatPaused, EngineMode::kRepeat);
      Clear(ENG_REPEAT_REQ);
    } else {
      ResumeForMode();
      Sentence sentence;
      const bool fromTranscript =
          listSentence >= 0 && e.sentences.At(static_cast<size_t>(listSentence), &sentence);
      if (fromTranscript) {
        // The transcript's sentence, from its (padded) start to its end.
        sectionStart = sentence.start;
        passageEnd = sentence.end;
        passageFromOutput = false;
        e.markRing.Push(passageEnd);
      } else if (!ResolvePassage()) {
        return FailRequest(ENG_REPEAT_REQ);
      }
      listSentence = -1;
      // The mode decides from here on; a passage is found anew next time.
      outputStarted = false;
      if (sectionStart >= passageEnd) {
        // Nothing to repeat: reading goes on from where the learner is.
        e.Refuse(
            "the passage to repeat is empty: let some of the lesson play after read marks "
            "its start, then ask again");
        Clear(ENG_REPEAT_REQ);
        e.cursor.SetLimit(0);
        ReadOnAfterDrop();
      } else {
        e.cursor.MoveTo(sectionStart, passageEnd, e.waveOut.get(), fromTranscript);
        Caption(EngineMode::kRead, ModeShown::kOff);
        Caption(EngineMode::kRepeat, ModeShown::kRunning);
        e.silenceRing.Clear();
        repeatsLeft = e.repeatCount.load();
        repeatPaused = false;
        repeatDone = false;
        ShowPassage(sectionStart, passageEnd);
        e.playsHeard = 0;
        passageExact = fromTranscript;
        turnTaken = false;
        // A sentence found in automatic mode: the learner's turn after its
        // first hearing comes before the repeat.
        const bool found = e.autoMode.load() && e.sentencePending.load();
        e.StoreFlags(ENG_REPEATING);
        if (found && TurnWanted(false) && StartTurn(false)) return Outcome::kGoOn;
        if (found) e.cursor.SetGap(e.GapBytes(sectionStart, passageEnd, false), passageEnd);
        e.cursor.Run();
        e.Sleep(10);
      }
    }
  }
  return Outcome::kGoOn;
}

// 15. Repeating.
EngineThread::Outcome EngineThread::ServeRepeating() {
  EngineCore& e = engine;
  if (Has(ENG_REPEATING)) {
    // Ended by a command: the end is served in this pass, not after the play.
    if (Has(ENG_REPEAT_END)) return Outcome::kGoOn;
    if (turn != Turn::kNone) return ServeTurn();
    if (repeatPaused) {
      e.Sleep(20);
    } else if (!FeedAll()) {
      if (e.cursor.Idle()) {
        if (e.autoMode.load() && e.sentencePending.load()) {
          const bool last = repeatsLeft <= 1 || repeatsLeft > e.repeatCount.load();
          const bool recorded = TurnWanted(last);
          // The last play, or one the learner is to answer, still sounds:
          // nothing to do until a buffer finishes.
          if ((last || recorded) && !e.cursor.AllPlayed()) return Outcome::kAwaitBuffer;
          repeatsLeft = last ? 0 : repeatsLeft - 1;
          if (recorded && StartTurn(last)) return Outcome::kGoOn;
          if (last) {
            e.sentencePending = false;
            repeatDone = true;
            Set(ENG_REPEAT_END);
          } else {
            e.cursor.SetGap(e.GapBytes(sectionStart, passageEnd, false), passageEnd);
          }
        }
        // Rewind: the next play (after its gap) is decoded while this one still sounds.
        e.cursor.ReadAgainFrom(sectionStart);
      }
      e.Sleep(10);
      e.Sleep(10);
    }
  }
  return Outcome::kGoOn;
}

// 16. Compare request.
EngineThread::Outcome EngineThread::ServeCompareRequest() {
  EngineCore& e = engine;
  if (Has(ENG_COMPARE_REQ)) {
    if (!EndActiveMode({ENG_RECORDING, ENG_PLAYING_BACK, ENG_REPEATING})) {
      ResumeForMode();
      if (!ResolvePassage()) return FailRequest(ENG_COMPARE_REQ);
      // The recording is compared with what it was recorded over, not with
      // whatever was read since (a recording of this item made this session).
      if (recordedPassage.path == e.currentPath && recordedPassage.end > recordedPassage.start) {
        sectionStart = recordedPassage.start;
        passageEnd = recordedPassage.end;
      }
      // The mode decides from here on; a passage is found anew next time.
      outputStarted = false;
      comparePhase = true;  // the recording first
      compareLoaded = false;
      Caption(EngineMode::kRead, ModeShown::kOff);
      Caption(EngineMode::kCompare, ModeShown::kRunning);
      savedSectionEnd = passageEnd;
      ShowPassage(sectionStart, passageEnd);
      e.StoreFlags(ENG_COMPARING);
    }
  }
  return Outcome::kGoOn;
}

// 17. Comparing: the recording and the passage in turn.
EngineThread::Outcome EngineThread::ServeComparing() {
  EngineCore& e = engine;
  if (Has(ENG_COMPARING)) {
    bool failed = false;
    if (!comparePhase && !compareLoaded) {
      if (!e.ReopenItem()) {
        failed = true;
      } else {
        SlowDownAgain();
        e.cursor.RestartAt(sectionStart, savedSectionEnd, e.waveOut.get());
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
      Clear(ENG_COMPARING);
      Set(ENG_COMPARE_END);
    } else if (!FeedAll()) {
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
EngineThread::Outcome EngineThread::ServeCompareEnd() {
  EngineCore& e = engine;
  if (Has(ENG_COMPARE_END)) {
    e.cursor.StopDecoder();
    Caption(EngineMode::kCompare, ModeShown::kOff);
    ShowPassage(0, 0);
    if (ReturnToItem(ENG_COMPARING | ENG_COMPARE_END)) return Outcome::kRestart;
  }
  return Outcome::kGoOn;
}

// 19. Leave play-back mode.
EngineThread::Outcome EngineThread::ServePlaybackEnd() {
  EngineCore& e = engine;
  if (Has(ENG_PLAYBACK_END)) {
    Caption(EngineMode::kPlayBack, ModeShown::kOff);
    e.cursor.StopDecoder();
    if (ReturnToItem(ENG_PLAYING_BACK | ENG_PLAYBACK_END)) return Outcome::kRestart;
  }
  return Outcome::kGoOn;
}

// 20. Leave repeat mode: read on from B.
EngineThread::Outcome EngineThread::ServeRepeatEnd() {
  EngineCore& e = engine;
  if (Has(ENG_REPEAT_END)) {
    Caption(EngineMode::kRepeat, ModeShown::kOff);
    // A turn a command cut short keeps what was recorded; the item is back.
    if (turn != Turn::kNone) EndTurn(false);
    // Reading goes on from B, the repeat's limit.
    const uint32_t end = e.cursor.Limit();
    e.cursor.MoveTo(end, 0, e.waveOut.get());
    if (repeatPaused) {
      // A repeat paused at the device would leave reading silent.
      e.PauseDevice(false);
      repeatPaused = false;
    }
    e.sentencePending = false;
    ShowPassage(0, 0);
    Clear(ENG_REPEATING | ENG_REPEAT_END);
    Set(ENG_PLAYING);
    outputStarted = false;
    const bool done = repeatDone;
    repeatDone = false;
    // A sentence played to its last repeat: dictation stops there until the
    // learner resumes; shadowing has one more turn before reading goes on.
    if (done && e.stopAfterSentence.load()) {
      e.cursor.Run();
      if (e.PauseOutput(true)) {
        e.paused = true;
        stoppedAfterSentence = true;
        e.StoreFlags(ENG_ITEM_CHANGE);
        return Outcome::kGoOn;
      }
    } else if (done && !turnTaken) {
      e.cursor.SetGap(e.GapBytes(sectionStart, passageEnd, true), end);
    }
    turnTaken = false;
    e.cursor.Run();
    return Outcome::kRestart;
  }
  return Outcome::kGoOn;
}

// 21. Leave recording mode.
EngineThread::Outcome EngineThread::ServeRecordEnd() {
  if (!Has(ENG_RECORD_END)) return Outcome::kGoOn;
  EngineCore& e = engine;
  FinishRecording();
  Clear(ENG_RECORDING | ENG_RECORD_END);
  outputStarted = false;
  // A recording made while stopped leaves the engine stopped: nothing to read on.
  if (!e.waveOut) return Outcome::kGoOn;
  // Reading goes on from B, the recording's limit.
  Set(ENG_PLAYING);
  e.cursor.RestartAt(e.cursor.Limit(), 0, e.waveOut.get());
  return Outcome::kRestart;
}
