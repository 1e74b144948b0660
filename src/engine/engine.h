// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_basics.h"
#include "engine/engine_view.h"
#include "sentences/sentence_list.h"

class AudioBackend;
class CodecRegistry;
class EngineCore;
class Playlist;

// The playback, record and repeat engine as the window and kestro-cli see it:
// the life cycle, the commands (each only asks: the engine thread serves it
// within a pass or two), sliders and settings, and Status(). The inside lives
// in engine_core.h; tests that must look there go through EngineTestAccess.
class Engine : public EngineBasics {
 public:
  Engine(AudioBackend& audio, CodecRegistry& registry, Playlist& playlist, EngineView* view);
  // Shuts the threads down (see Shutdown) and closes the devices.
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // ---- life cycle (user-interface thread) ----
  // All sound memory, once; false when it cannot be had.
  bool AllocateBuffers();
  void ReleaseBuffers();
  // Starts the engine thread, then the decode thread, then reading.
  void StartThreads();
  // The shut-down handshake: asks both threads to quit, waits for their answers
  // within the bounds (20 ms, then up to 10 x 40 ms each) and then joins them
  // (a thread that does not end within 2 s more is reported and left). True
  // when both answered in time.
  bool Shutdown();

  // ---- set before StartThreads ----
  // Where "RecordVM.qv" is written; ends in '/'.
  void SetProgramDir(const std::string& dir);
  const std::string& ProgramDir() const;
  // Batch work: every entry once, from the first, then reading stops
  // (Status().listFinished) instead of wrapping to the first entry again.
  void PlayListOnce();
  // On the offline devices: a buffer finishes only once the one after it is
  // queued (or nothing more will come), and a finished buffer whose callback
  // raised a request waits until the engine thread has served it, as if the
  // engine were infinitely fast. Batch work then hears exactly what a learner
  // would, run after run, at the speed of plain reading.
  void SetLockstep(bool on);
  // The speed slider's position when an item opens (0 in the window): batch
  // work slowed down from the first item to the last.
  void SetStartSpeed(int position);
  // Where each item was left is kept in store, and an item opened again goes
  // on from there with its marks, speed and pitch choice (none: from the start).
  void SetResumeStore(class ResumeStore* store);
  // The transcript for every item instead of the one beside it, or none at
  // all; by default each item's own NAME.lrc, NAME.srt or NAME.vtt.
  void SetTranscriptFile(const std::string& path);
  void IgnoreTranscripts(bool ignore);

  // ---- user commands (user-interface thread); they only set fields and request bits ----
  void CommandPlay();
  void CommandPause();
  void CommandStop();
  void CommandPrevious();
  void CommandNext();
  void CommandRead();
  void CommandRepeat();
  void CommandRecord();
  void CommandPlayBack();
  void CommandCompare();
  // Double click on the playlist (or the open-file command's new entry).
  void CommandPlayEntry(int index);
  // The playlist's entry at index was removed (-1: all of them): the entry that
  // plays keeps its index in step, and one removed stops (Play then takes what
  // stands in its place).
  void EntryRemoved(int index);
  // Toggles automatic mode; returns whether it is now on.
  bool CommandAutoManual();
  // Previous (-1), again (0) or next (+1) sentence of the transcript; without
  // one, the previous or next mark.
  void CommandSentence(int step);
  // Plays sentence index of the transcript and repeats it (a double click on
  // its line): repeatCount times in automatic mode, until ended otherwise.
  void CommandRepeatSentence(int index);
  // With a transcript, automatic repeat takes its sentences (on by default);
  // off, it finds them at pauses.
  void SetTranscriptSplit(bool on);
  bool TranscriptSplit() const;
  // Without a transcript (or with its split off), automatic repeat takes the
  // sentences an analysis of the whole sound finds (off by default: then it
  // finds them at pauses while reading). minPauseMs: the shortest pause that
  // ends a sentence; maxSentenceMs: longer sentences are split at their
  // longest inner pause. A change applies to the open item at once.
  void SetAdaptiveSplit(bool on, int minPauseMs, int maxSentenceMs);
  bool AdaptiveSplit() const;
  // Gaps after each play of a found sentence (see GapSettings); from the next
  // sentence found on.
  void SetGaps(const GapSettings& gaps);
  GapSettings Gaps() const;
  // How far each transcript sentence reaches before its cue's start and after
  // its end (default 150 and 250 ms); from the next item opened on.
  void SetSentencePads(int beforeMs, int afterMs);
  // The settings dialog confirmed.
  void ApplySettings(uint32_t count, uint32_t vertical, float seconds, uint32_t percent);
  // A slider moved to position (the progress slider 0..kProgressMax, the
  // others 0..kSliderMax); which scroll notifications move it is the window's
  // business.
  void ProgressSlider(int position);
  void SpeedSlider(int position);
  void VolumeSlider(int position);
  void BalanceSlider(int position);
  // With the pitch kept, the speed slider slows the sound down at the file's
  // own rate (tempo, see SpeedTempo) instead of lowering the rate. A change
  // while the slider is off 0 takes effect at once, as a speed change does.
  void SetKeepPitch(bool on);
  bool KeepPitch() const;
  // Wakes the engine thread for a pass now (a caller waiting for passes).
  void WakeEngine();
  // Waits up to ms for the engine thread to end a pass: when its status may
  // have changed.
  void AwaitEngineSleep(uint32_t ms);

  // ---- what the engine is doing (any thread) ----
  EngineStatus Status() const;
  // The open item's sentences, from its transcript or the adaptive split.
  std::vector<Sentence> Sentences() const;
  // Status().mode alone, cheaply.
  const char* Mode() const;
  // Whether a device is producing or taking sound now: the input while
  // recording, otherwise the output while a mode plays and it is not paused.
  bool SoundRunning() const;
  // Why the last item could not be played (no codec, a refused file, no sound
  // device, a recording that could not be stored).
  std::string LastError() const;
  // How many faults there have been (see SetLastError).
  uint32_t Faults() const;
  // What kind of trouble LastError tells of: the window tells a missing
  // device once, whatever its text says.
  EngineFault LastFault() const;

 private:
  friend class EngineTestAccess;
  std::unique_ptr<EngineCore> core;
};
