// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <thread>

#include "engine/compare_control.h"
#include "engine/engine_step.h"
#include "engine/engine_view.h"
#include "engine/playback_control.h"
#include "engine/reading_control.h"
#include "engine/record_control.h"
#include "engine/repeat_control.h"
#include "engine/speed_control.h"
#include "engine/thread_join.h"

class EngineCore;
struct WaveSlot;
struct WaveHdr;

// The one place where the engine changes mode: a loop that serves the bits of
// engineFlags in a fixed order on every pass, feeds the output device, drives
// recording, and starts and ends reading, repeating, recording, playing back
// and comparing.
class EngineThread {
 public:
  explicit EngineThread(EngineCore& engine) : engine(engine) {}
  ~EngineThread() { Join(); }
  EngineThread(const EngineThread&) = delete;
  EngineThread& operator=(const EngineThread&) = delete;

  void Start();
  void Join();
  // Joins the thread if it ends within limit; otherwise leaves it running
  // (detached) and returns false.
  bool JoinWithin(std::chrono::milliseconds limit);
  bool Running() const { return thread.joinable(); }

  // A (the passage start) as the thread last resolved it.
  uint32_t SectionStart() const { return sectionStart; }

 private:
  using Outcome = StepOutcome;
  friend class RecordControl;
  friend class RepeatControl;
  friend class PlaybackControl;
  friend class CompareControl;
  friend class SpeedControl;
  friend class ReadingControl;

  void Run();
  Outcome ServeRequests();
  // The steps of a pass, one each.
  Outcome ServeVolume();
  Outcome ServeStop();
  void ServeQuit();

  bool Has(uint32_t bits) const;
  bool RequestPending() const;
  void Set(uint32_t bits);
  void Clear(uint32_t bits);
  // If a special mode is active, sets its end marker (testing the modes in the
  // order given) and returns true.
  bool EndActiveMode(std::initializer_list<uint32_t> order);
  // Finds A (sectionStart) and B (passageEnd) for a mode about to start.
  bool ResolvePassage();
  // An empty passage where the learner is (the last buffer heard, or the last mark).
  void PassageHere();
  // What every mode start does first: a paused device runs again.
  void ResumeForMode();
  // After a request was dropped once its passage was resolved.
  void ReadOnAfterDrop();
  Outcome FailRequest(uint32_t bit);
  // Leaves play-back or compare mode: reopens the item and reads on from B; when
  // the item no longer opens, the next one is taken. True when reading goes on.
  bool ReturnToItem(uint32_t modeBits);
  // Pauses or restarts the device for the mode whose flag is *paused, and shows it.
  void TogglePause(bool* paused, EngineMode mode);
  // The passage the window marks on the progress bar; (0, 0) for none.
  void ShowPassage(uint32_t start, uint32_t end);
  void Caption(EngineMode mode, ModeShown shown);

  EngineCore& engine;
  // Each mode's own state and steps.
  ReadingControl reading{*this, engine};
  RecordControl record{*this, engine};
  RepeatControl repeat{*this, engine};
  PlaybackControl playback{*this, engine};
  CompareControl compare{*this, engine};
  SpeedControl speed{*this, engine};
  std::thread thread;
  std::atomic<bool> ended{false};

  static constexpr uint32_t kRestSleepMs = 2000;
  static constexpr uint32_t kBusySleepMs = 500;

  bool outputStarted = false;
  bool endOfItem = false;
  bool serving = false;  // a step of ServeRequests is running
  uint32_t sectionStart = 0;
  // The transcript sentence a repeat request is for, -1 for a found passage.
  int listSentence = -1;
  // B as ResolvePassage found it, and whether it stopped the output to find it.
  uint32_t passageEnd = 0;
  bool passageFromOutput = false;
  uint32_t savedSectionEnd = 0;
  bool stoppedAfterSentence = false;  // paused by dictation's stop (until resumed)
};
