// SPDX-License-Identifier: GPL-3.0-or-later
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
  repeat.ResetPlays(engine.RepeatCount());
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
  // What a step has looked at counts as found by it.
  return (engine.LookAtFlags(serving) & bits) != 0;
}
void EngineThread::Set(uint32_t bits) {
  engine.SetFlags(bits);
}
void EngineThread::Clear(uint32_t bits) {
  engine.ClearFlags(bits);
}

void EngineThread::Caption(EngineMode mode, ModeShown shown) {
  engine.ShowMode(mode, shown);
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
  passageFromOutput = false;
  sectionStart = passageEnd = engine.HeardOrMarked();
}

bool EngineThread::ResolvePassage() {
  passageFromOutput = engine.PassageFromOutput(outputStarted, &sectionStart, &passageEnd);
  // Otherwise the last marked passage again. Its end becomes the read limit
  // only once the mode has stopped the decoder: reading may still go on past it.
  return passageFromOutput || engine.LastMarkedPassage(&sectionStart, &passageEnd);
}

void EngineThread::ResumeForMode() {
  // A mode asked for while reading is paused plays: the device runs again.
  engine.ResumeIfPaused();
}

void EngineThread::ReadOnAfterDrop() {
  // Resolving stopped the output at B: reading goes on from there. Otherwise
  // reading was never interrupted.
  if (passageFromOutput) engine.ReadFrom(passageEnd, 0);
}

void EngineThread::ShowPassage(uint32_t start, uint32_t end) {
  engine.ShowPassage(start, end);
}

void EngineThread::TogglePause(bool* paused, EngineMode mode) {
  *paused = !*paused;
  engine.PauseDevice(*paused);
  Caption(mode, *paused ? ModeShown::kPaused : ModeShown::kRunning);
}

bool EngineThread::ReturnToItem(uint32_t modeBits) {
  if (!engine.ReopenToReadOn()) {
    endOfItem = true;
    return false;
  }
  speed.SlowDownAgain();
  outputStarted = false;
  // The reading mode goes first, so that the decoder measures the silence of
  // the first block too.
  Clear(modeBits);
  Set(ENG_PLAYING);
  engine.ReadFrom(savedSectionEnd, 0);
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
  if (engine.OutputOpen()) Set(ENG_PLAYING);
  outputStarted = false;
  return Outcome::kRestart;
}

void EngineThread::Run() {
  for (;;) {
    engine.NoticeLostDevice();
    engine.ApplySplitChange();
    // 1. Reading.
    if (Has(ENG_PLAYING)) reading.Reading();
    Outcome outcome;
    do {
      outcome = ServeRequests();
    } while (outcome == Outcome::kRestart);

    // 22. Quit.
    if (Has(ENG_QUIT)) {
      ServeQuit();
      return;
    }
    // Every request, block and buffer the engine must see wakes it; the sleep's
    // end only guards against a missed wake, rarely at rest. Awaiting a
    // buffer, the next finished one (or a request) wakes it.
    engine.EndPass(outcome == Outcome::kAwaitBuffer, kRestSleepMs, kBusySleepMs);
  }
}

void EngineThread::ServeQuit() {
  // A recording under way keeps what the input has filled (quitting the
  // window, a signal): its last slots are stored before the input goes.
  if (record.Recording()) record.FinishRecording();
  engine.CloseForQuit();
}

EngineThread::Outcome EngineThread::ServeRequests() {
  // Steps 2 to 21 of a pass, in their fixed order; a step may restart the pass
  // (at step 2) or end it early.
  using Step = Outcome (*)(EngineThread&);
  static constexpr Step kSteps[] = {
      [](EngineThread& t) { return t.reading.ServeItemChange(); },
      [](EngineThread& t) { return t.reading.ServeRead(); },
      [](EngineThread& t) { return t.reading.ServePause(); },
      [](EngineThread& t) { return t.reading.ServeResume(); },
      [](EngineThread& t) { return t.reading.ServeSeek(); },
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
    engine.BeginStep();
    outcome = step(*this);
    if (outcome != Outcome::kGoOn) break;
  }
  serving = false;
  engine.EndSteps();
  return outcome;
}

// 7. Volume.
EngineThread::Outcome EngineThread::ServeVolume() {
  if (Has(ENG_VOLUME_REQ)) {
    engine.ApplyVolume();
    Clear(ENG_VOLUME_REQ);
  }
  return Outcome::kGoOn;
}

// 9. Stop.
EngineThread::Outcome EngineThread::ServeStop() {
  if (Has(ENG_STOP_REQ)) {
    // A recording under way is kept: it ends as the learner would end it.
    if (Has(ENG_RECORDING)) record.FinishRecording();
    if (record.TurnNow() != RecordControl::Turn::kNone) record.EndTurn(false);
    stoppedAfterSentence = false;
    engine.StopAll();
  }
  return Outcome::kGoOn;
}
