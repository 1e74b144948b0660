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
  repeat.ResetPlays(engine.repeatCount.load());
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
  speed.SlowDownAgain();
  outputStarted = false;
  e.sentencePending = false;
  // The reading mode goes first, so that the decoder measures the silence of
  // the first block too.
  Clear(modeBits);
  Set(ENG_PLAYING);
  e.cursor.RestartAt(savedSectionEnd, 0, e.waveOut.get());
  return true;
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
  if (record.Recording()) record.FinishRecording();
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
  using Step = Outcome (*)(EngineThread&);
  static constexpr Step kSteps[] = {
      [](EngineThread& t) { return t.ServeItemChange(); },
      [](EngineThread& t) { return t.ServeRead(); },
      [](EngineThread& t) { return t.ServePause(); },
      [](EngineThread& t) { return t.ServeResume(); },
      [](EngineThread& t) { return t.ServeSeek(); },
      [](EngineThread& t) { return t.ServeVolume(); },
      [](EngineThread& t) { return t.speed.ServeSpeed(); },
      [](EngineThread& t) { return t.ServeStop(); },
      [](EngineThread& t) { return t.record.ServeRecordRequest(); },
      [](EngineThread& t) { return t.record.ServeRecording(); },
      [](EngineThread& t) { return t.playback.ServePlaybackRequest(); },
      [](EngineThread& t) { return t.playback.ServePlayingBack(); },
      [](EngineThread& t) { return t.repeat.ServeRepeatRequest(); },
      [](EngineThread& t) { return t.repeat.ServeRepeating(); },
      [](EngineThread& t) { return t.compare.ServeCompareRequest(); },
      [](EngineThread& t) { return t.compare.ServeComparing(); },
      [](EngineThread& t) { return t.compare.ServeCompareEnd(); },
      [](EngineThread& t) { return t.playback.ServePlaybackEnd(); },
      [](EngineThread& t) { return t.repeat.ServeRepeatEnd(); },
      [](EngineThread& t) { return t.record.ServeRecordEnd(); },
  };
  Outcome outcome = Outcome::kGoOn;
  serving = true;
  for (Step step : kSteps) {
    engine.flagsSeen = engine.engineFlags.load();
    outcome = step(*this);
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

// 9. Stop.
EngineThread::Outcome EngineThread::ServeStop() {
  EngineCore& e = engine;
  if (Has(ENG_STOP_REQ)) {
    // A recording under way is kept: it ends as the learner would end it.
    if (Has(ENG_RECORDING)) record.FinishRecording();
    if (record.TurnNow() != RecordControl::Turn::kNone) record.EndTurn(false);
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
