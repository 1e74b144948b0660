// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "engine/engine_flags.h"

// What the engine is doing, as one consistent-enough snapshot for the window,
// kestro-cli and status lines. Every field is read from atomics.
// Shadowing and dictation in automatic mode: silence after each play of a
// found sentence, for the learner to speak in, and a stop after its last play.
struct GapSettings {
  enum class Kind { kNone, kSeconds, kFactor };
  Kind kind = Kind::kNone;
  float value = 1.2f;  // seconds, or times the sentence's length
  // After the last play only, instead of the gap (0: the gap): dictation.
  float pauseAfterSeconds = 0;
  // After the last play reading pauses until the learner resumes it.
  bool stopAfterSentence = false;
  // Each gap records the learner (as RecordVM.qv), played back when it ends.
  bool recordInGap = false;
};

struct EngineStatus {
  uint32_t flags = 0;           // the mode and request bits (engine_flags.h)
  const char* mode = "idle";    // Engine::ModeName(flags)
  int item = 0;                 // playlistIndex
  uint32_t position = 0;        // start of the last buffer the output finished
  uint32_t length = 0;          // the open item's sound data in bytes
  uint32_t itemsOpened = 0;     // items opened for reading since the engine was made
  bool opening = false;         // an item is being opened (a slow server may take seconds)
  uint32_t itemsHeard = 0;      // of those, items from which sound could be decoded
  uint32_t sentencesFound = 0;  // sentence ends found by automatic mode
  bool listFinished = false;    // (play-once) the last entry has been read to its end
  bool openPending = false;     // an item change with openRequest waits to be served
  bool autoMode = false;
  bool paused = false;
  bool stopped = false;
  bool gap = false;           // the silence after a play is sounding: the learner's turn
  bool soundRunning = false;  // Engine::SoundRunning()
  uint64_t passes = 0;        // engine passes completed
  uint32_t faults = 0;        // see Engine::SetLastError
  std::string lastError;
  // Requests dropped because they could not be served (a repeat with no
  // passage yet, a play-back with no recording), and why the last one was.
  uint32_t refused = 0;
  std::string lastRefusal;
  int speedPosition = 0;
  bool keepPitch = false;  // the speed slider slows down with the pitch kept
  float speed = 1.0f;      // how fast the item is heard: 1 normal, 0.75 slower
  // What the output device plays at: its rate (0 with no device) and tempo.
  uint32_t outputRate = 0;
  float outputTempo = 1.0f;
  int volumePosition = 50;
  int balancePosition = 50;
  // The repeat settings.
  uint32_t repeatCount = 3;
  uint32_t verticalPrecision = 2;
  uint32_t samplePercent = 5;
  float horizontalSeconds = 2.0f;
  // The adaptive split: on or off, its shortest pause and longest sentence.
  bool adaptiveSplit = false;
  int minPauseMs = 300;
  int maxSentenceMs = 15000;
  uint32_t windowBlocks = 0;
  // What the learner sees: the open item's bytes per second (for times), the
  // passage a repeat or compare plays (both 0 outside those modes), and which
  // play of the passage is heard in a repeat (1 for the first).
  uint32_t byteRate = 0;
  bool recordingHeard = false;  // the learner's recording sounds: position and length are its own
  uint32_t passageStart = 0;
  uint32_t passageEnd = 0;
  uint32_t playsHeard = 0;
  // The open item's sentences from its transcript (0 without one), and the
  // number (from 1) of the one holding what was heard last (0: none yet).
  uint32_t sentenceCount = 0;
  int sentence = 0;
  // Passage starts marked in the open item (the item's start is the first).
  uint32_t marks = 0;
};
// The engine's sizes and its slider arithmetic: the face (Engine) offers
// them to the window and kestro-cli, the core works with them.
struct EngineBasics {
  static constexpr uint32_t kBlockSize = 5000;
  static constexpr uint32_t kRingSize = 300;
  static constexpr uint32_t kPoolSize = 400;
  static constexpr int kProgressMax = 10000;
  static constexpr int kSliderMax = 100;
  static constexpr const char* kRecordingName = "RecordVM.qv";

  // The packed device volume for the slider positions.
  static uint32_t VolumeValue(int volume, int volumeMax, int balance, int balanceMax);
  // The output rate for a speed slider position; the file's own rate at 0.
  static uint32_t SpeedRate(uint32_t fileRate, int position, int maximum);
  // The tempo for a speed slider position with the pitch kept: (m - p) / m,
  // never below half.
  static double SpeedTempo(int position, int maximum);
  // How fast a slider position plays the sound, 1 at normal speed: the tempo
  // with the pitch kept, the rate's fraction of the file's otherwise.
  static double SpeedFactor(int position, int maximum, bool keepPitch, uint32_t fileRate);
  // The sentence window in 5000-byte buffers.
  static uint32_t WindowBlocks(uint32_t avgBytesPerSec, float seconds);
  // The mode the flags show: "idle", "reading", "repeating", "recording",
  // "playing-back" or "comparing".
  static const char* ModeName(uint32_t flags);
};
