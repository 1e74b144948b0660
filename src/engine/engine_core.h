// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "audio/audio_backend.h"
#include "codec/codec_copy.h"
#include "codec/codec_registry.h"
#include "codec/qv_writer.h"
#include "engine/decode_thread.h"
#include "engine/engine_basics.h"
#include "engine/engine_flags.h"
#include "engine/engine_thread.h"
#include "engine/engine_view.h"
#include "engine/mark_ring.h"
#include "engine/read_cursor.h"
#include "engine/silence_ring.h"
#include "engine/waker.h"
#include "library/playlist.h"
#include "library/resume_store.h"
#include "sentences/sentence_analysis.h"

// The engine's inside, behind Engine (engine.h): its state, the commands that
// set request bits, and the operations of the engine and decode threads. Only
// src/engine and tests through EngineTestAccess include this header.
class EngineCore {
 public:
  EngineCore(AudioBackend& audio, CodecRegistry& registry, Playlist& playlist, EngineView* view);
  ~EngineCore();
  EngineCore(const EngineCore&) = delete;
  EngineCore& operator=(const EngineCore&) = delete;

  // ---- what Engine forwards: see engine.h ----
  bool AllocateBuffers();
  void ReleaseBuffers();
  void StartThreads();
  bool Shutdown();
  // A thread that did not end when asked (and was left to itself) still uses
  // this core, which must then outlive it.
  bool ThreadsLeft() const { return threadsLeft; }
  void SetProgramDir(const std::string& dir);
  const std::string& ProgramDir() const { return programDir; }
  void PlayListOnce();
  void SetLockstep(bool on);
  void SetStartSpeed(int position);
  void SetResumeStore(ResumeStore* store) { resume = store; }
  void CommandPlay();
  void CommandPrevious();
  void CommandNext();
  void CommandPlayEntry(int index);
  void EntryRemoved(int index);
  bool CommandAutoManual();
  void ApplySettings(uint32_t count, uint32_t vertical, float seconds, uint32_t percent);
  void ProgressSlider(int position);
  void SpeedSlider(int position);
  void VolumeSlider(int position);
  void BalanceSlider(int position);
  void SetKeepPitch(bool on);
  bool KeepPitch() const { return keepPitch.load(); }
  void CommandSentence(int step);
  void CommandRepeatSentence(int index);
  void SetTranscriptFile(const std::string& path) { transcriptFile = path; }
  void IgnoreTranscripts(bool ignore) { transcriptsIgnored = ignore; }
  void SetTranscriptSplit(bool on) {
    transcriptSplit = on;
    // With the adaptive split on, the list changes kind.
    if (adaptiveSplit.load()) {
      splitChanged = true;
      waker.Notify(Waker::kEngine);
    }
  }
  bool TranscriptSplit() const { return transcriptSplit.load(); }
  void SetSentencePads(int beforeMs, int afterMs);
  void SetAdaptiveSplit(bool on, int minPauseMs, int maxSentenceMs);
  bool AdaptiveSplit() const { return adaptiveSplit.load(); }
  void SetGaps(const GapSettings& gaps);
  GapSettings Gaps() const;
  std::vector<Sentence> Sentences() const { return sentences.All(); }
  void WakeEngine() { waker.Notify(); }
  void AwaitEngineSleep(uint32_t ms) { waker.AwaitEngineSleep(ms); }
  EngineStatus Status() const;
  const char* Mode() const { return EngineBasics::ModeName(engineFlags.load()); }
  bool SoundRunning() const;
  std::string LastError() const;
  uint32_t Faults() const { return faults.load(); }
  EngineFault LastFault() const;
  // ORs request bits into engineFlags and wakes the engine thread.
  void Post(uint32_t bits);

  // ---- what the engine thread's pass asks of the core ----
  // The mode and request bits; looked at by a step, they count as found by it.
  uint32_t LookAtFlags(bool byStep);
  void SetFlags(uint32_t bits) { engineFlags.fetch_or(bits); }
  void ClearFlags(uint32_t bits) { engineFlags.fetch_and(~bits); }
  // A step of the pass begins, or the steps are over.
  void BeginStep() { flagsSeen = engineFlags.load(); }
  void EndSteps() { flagsSeen = 0; }
  uint32_t RepeatCount() const { return repeatCount.load(); }
  void ShowMode(EngineMode mode, ModeShown shown);
  // The passage the window marks on the progress bar; (0, 0) for none.
  void ShowPassage(uint32_t start, uint32_t end);
  // Where the learner is: the last buffer heard, else the last mark, else 0.
  uint32_t HeardOrMarked() const;
  // Stops the output at what was heard (a whole frame): B of a passage
  // starting at the last mark, which is then marked too. False when nothing
  // was heard; then the last two marks are the passage, when there are two.
  bool PassageFromOutput(bool outputStarted, uint32_t* start, uint32_t* end);
  bool LastMarkedPassage(uint32_t* start, uint32_t* end) const;
  // A paused reading runs again (a mode asked for while paused plays).
  void ResumeIfPaused();
  // Reading from position on, up to limit (0: the item's end).
  void ReadFrom(uint32_t position, uint32_t limit);
  // The item again after play-back or compare: false when it no longer opens
  // (an item change is then asked for).
  bool ReopenToReadOn();
  // Everything the ring holds to the output device at once (as far as the pool
  // takes it), so the device always has the sound after the one playing.
  bool FeedOutput();
  // The split chosen anew applies to the open item's list at once.
  void ApplySplitChange();
  // The end of a pass: the settled sleep, short while a buffer is awaited.
  void EndPass(bool awaitBuffer, uint32_t restMs, uint32_t busyMs);
  // A device that went away ends what plays as Stop does, and says so once.
  void NoticeLostDevice();
  bool OutputOpen() const { return waveOut != nullptr; }
  // Stop: the output closed, the decoder stopped and waited for, idle.
  void StopAll();
  // Quit: the devices closed and the recording file finished.
  void CloseForQuit();
  // A request that cannot be served is dropped and says why (Status().refused).
  void Refuse(const std::string& why);
  void ApplyVolume();
  // Pauses or restarts the output device, keeping outputPaused in step.
  bool PauseDevice(bool pause);

 private:
  friend class DecodeThread;
  friend class RecordControl;
  friend class RepeatControl;
  friend class PlaybackControl;
  friend class CompareControl;
  friend class SpeedControl;
  friend class ReadingControl;
  friend class EngineTestAccess;

  static constexpr uint32_t kBlockSize = EngineBasics::kBlockSize;
  static constexpr int kSliderMax = EngineBasics::kSliderMax;
  static constexpr int kProgressMax = EngineBasics::kProgressMax;

  // The whole-word stores of the engine thread. They drop the requests the step
  // being served found on purpose, but never one posted while it ran (the step
  // could not have known of it: a Stop pressed during a speed change was lost)
  // nor a pending ENG_QUIT, which would leave shut-down waiting.
  void StoreFlags(uint32_t value);
  // fault: the learner lost something they asked for (a sound device would not
  // open, a recording could not be stored), not just a file that was skipped.
  void SetLastError(const std::string& text, bool fault = false,
                    EngineFault kind = EngineFault::kFileNotPlayable);

  // The decode thread alone (tests drive the engine from their own thread).
  void StartDecodeThread();
  // Asks the decode thread to end and joins it.
  void StopDecodeThread();

  // ---- engine operations (engine thread) ----
  void SetIdle();
  bool OpenItem(const std::string& path);
  bool OpenItemNow(const std::string& path);
  void OpenNextItem();
  void OpenItemAt(int index);
  bool OpenSound(const std::string& path);
  // The open item again, after a mode played the recording.
  bool ReopenItem();
  bool OpenOutput(bool fault = true);
  // The last open failed for want of a sound output, not for its file.
  bool NoOutputDevice() const;
  bool ReopenOutput();
  bool SeekTo(uint32_t position);
  // position rounded down to a whole frame of the open item.
  uint32_t AlignToFrame(uint32_t position) const;
  bool ChangeSpeed();
  // The sentences of the item just opened: its transcript's, or those the
  // adaptive split finds (started here, going on in the background).
  void LoadSentences(const std::string& soundPath);
  void StartAnalysis(const std::string& soundPath);
  // Whether reading stops at the end of each sentence of the list: automatic
  // mode, the split that made the list switched on, the item being read.
  bool SentenceStops() const;
  // The silence after a play of the sentence [start, end) found in automatic
  // mode (last: after its last play), in bytes of the item; 0 for none.
  uint32_t GapBytes(uint32_t start, uint32_t end, bool last) const;
  // Whether automatic mode finds sentences at pauses (no list stops reading).
  bool SplitsAtPauses() const;
  // The read limit for reading from position: its sentence's end, 0 for none.
  uint32_t SentenceStopAfter(uint32_t position) const;
  // Where the sentence step asked for leads from position; false when nowhere.
  bool SentenceTarget(int step, uint32_t position, uint32_t* target) const;
  // Sets the output device (reset, nothing queued) for the speed slider: with
  // the pitch kept, the file's own rate at the slider's tempo; otherwise the
  // device reopened at the slider's lower rate. False when no device opens.
  bool ApplySpeed();
  bool PauseOutput(bool pauseResumes = false);
  bool RestartOutput();
  bool CloseOutput();
  bool OpenInput();
  bool CloseInput();
  // The engine thread's sleeps; cut short by requests, finished buffers and ring changes.
  void Sleep(uint32_t ms) { waker.Sleep(ms, Waker::kEngine, &engineSeen); }
  // The sleep at the end of the engine thread's pass.
  void SettledSleep(uint32_t ms) { waker.Sleep(ms, Waker::kEngine, &engineSeen, true); }
  void DecodeSleep(uint32_t ms) { waker.Sleep(ms, Waker::kDecoder, &decodeSeen); }
  void EnableTransport(bool enable) {
    if (view) view->EnableTransport(enable);
  }

  // ---- device callbacks (device threads) ----
  void OnWaveOutDone(WaveDevice* device, uint32_t message, WaveHdr* header);
  void OnWaveInData(WaveDevice* device, uint32_t message, WaveHdr* header);
  // Every eleventh finished buffer moves the progress display.
  void ShowProgress(const WaveSlot& done, const WaveSlot& sounding);
  // The progress bar at position of an item length bytes long.
  void ShowProgressAt(uint32_t position, uint32_t length);
  // Feeds the silence window with the buffer now sounding; a full window of
  // silence asks for a repeat of the sentence just heard.
  void DetectSentence(const WaveSlot& sounding);
  // The lockstep pacer of the offline devices.
  // Before a finish, true when nothing more will come to the device.
  bool PaceDevice(int phase, const OfflineClock::DeviceState& device);

  // ---- shared words: every thread reads them; writers as the flag table says ----
  // Requests are ORed in by commands (user-interface thread) and OnWaveOutDone;
  // whole-word values are stored by the engine thread (StoreFlags) and by Shutdown.
  std::atomic<uint32_t> engineFlags{0};

  // ---- written by the user-interface thread (commands, sliders, settings);
  // ---- read by the engine, decode and device threads, each an atomic ----
  std::atomic<bool> autoMode{false};
  std::atomic<uint32_t> repeatCount{3};
  std::atomic<uint32_t> verticalPrecision{2};
  std::atomic<uint32_t> samplePercent{5};
  std::atomic<float> horizontalSeconds{2.0f};
  std::atomic<bool> openRequest{false};  // also cleared by the engine thread
  // -1 until an entry is opened: the first entry (or the one selected) opens first.
  std::atomic<int> playlistIndex{-1};  // also written by the engine thread
  std::atomic<uint32_t> seekTarget{0};
  std::atomic<uint32_t> volumeValue{0};  // also written by OpenSound
  std::atomic<int> speedPosition{0};     // also reset by OpenItem
  std::atomic<bool> keepPitch{false};
  std::atomic<int> startSpeed{0};  // before the threads start
  std::atomic<int> volumePosition{50};
  std::atomic<int> balancePosition{50};
  std::atomic<bool> stopAtListEnd{false};  // before the threads start
  std::atomic<bool> transcriptSplit{true};
  std::atomic<int> sentenceStep{0};
  std::atomic<int> repeatIndex{-1};  // a sentence to repeat, -1 for a step
  std::atomic<int> padBeforeMs{150};
  std::atomic<int> padAfterMs{250};
  std::atomic<bool> adaptiveSplit{false};
  std::atomic<int> minPauseMs{300};
  std::atomic<int> maxSentenceMs{15000};
  std::atomic<bool> splitChanged{false};  // cleared by the engine thread
  std::atomic<bool> lockstep{false};      // before the threads start
  std::atomic<int> gapKind{0};            // GapSettings::Kind
  std::atomic<float> gapValue{1.2f};
  std::atomic<float> pauseAfterSeconds{0};
  std::atomic<bool> stopAfterSentence{false};
  std::atomic<bool> recordInGap{false};
  // The input would not record a turn: told once, the cycle goes on silently
  // until the gap settings are given again (engine thread; SetGaps clears it).
  std::atomic<bool> turnInputFailed{false};
  std::atomic<bool> turnRecording{false};  // a gap records the learner now
  std::string transcriptFile;              // before the threads start
  bool transcriptsIgnored = false;         // before the threads start

  // ---- written by the engine thread; other threads read the atomics ----
  std::atomic<bool> sentencePending{false};  // also set by OnWaveOutDone, cleared by commands
  // The engine thread's; the decode thread reads it too (the sample size for
  // the silence measure), but only while the read cursor lets it run: the
  // engine thread changes it only with the decoder stopped (OpenSound, ApplySpeed).
  WaveFormatEx playFormat{};
  std::atomic<uint32_t> itemByteRate{0};  // the open item's bytes per second
  std::atomic<uint32_t> itemSampleRate{0};
  // Length of the sound OpenSound opened last (the item or the recording).
  std::atomic<uint32_t> soundLength{0};
  const WaveFormatEx recordFormat{kWaveFormatPcm, 2, 44100, 176400, 4, 16, 0};
  std::unique_ptr<WaveOut> waveOut;  // engine thread only (callbacks get the device)
  std::unique_ptr<WaveIn> waveIn;    // engine thread only
  QvWriter recorder;                 // engine thread only
  // Published with release for the decode thread, which reads it only while
  // the read cursor lets it run (the engine stops it before every change).
  std::atomic<CodecServer*> codec{nullptr};
  std::atomic<uint32_t> windowBlocks{0};  // also renewed by ApplySettings
  // Set on open; renewed by the decode thread as a plug-in learns the true
  // length (a file whose container only estimates it, a cut file) while the
  // item is what it reads (not the recording a mode plays).
  std::atomic<uint32_t> fileLength{0};
  std::atomic<bool> readingItem{false};
  std::atomic<bool> stopped{false};
  std::atomic<bool> paused{false};
  std::atomic<bool> outputPaused{false};
  std::atomic<bool> listFinished{false};
  std::string currentPath;  // engine thread only
  // Where the open item was when its sound device went away (engine thread
  // only): opening it again goes on from there, with its marks and speed.
  std::string lostPath;
  uint32_t lostPosition = 0;
  int lostSpeed = 0;
  std::string programDir = "./";  // before the threads start
  std::atomic<uint32_t> itemsOpened{0};
  std::atomic<bool> opening{false};  // set by the engine thread around OpenItem
  bool threadsLeft = false;          // by Shutdown
  std::atomic<uint32_t> itemsHeard{0};
  std::atomic<bool> soundDecoded{false};  // a block of the open item was decoded
  std::atomic<uint64_t> passes{0};        // a request posted before pass n began is
                                          // served once pass n + 1 is complete
  std::atomic<uint16_t> playBits{0};
  std::atomic<uint32_t> outputRate{0};
  std::atomic<float> outputTempo{1.0f};
  // The slider position and keep-pitch choice ApplySpeed last used (engine thread only).
  int appliedSpeed = 0;
  bool appliedKeepPitch = false;

  // The open item's sentences (set by the engine thread with the decoder
  // stopped; read by every thread) and whether there are any.
  SentenceList sentences;
  std::atomic<bool> haveSentences{false};
  enum ListKind : int { kNoList, kTranscriptList, kAdaptiveList };
  std::atomic<int> listKind{kNoList};
  std::string sentencesPath;  // the item the list is for (engine thread only)
  // Each kind of file analysed has its own copy of its plug-in (engine thread
  // only); the analysis reads through one and fills sentences.
  std::map<std::string, std::unique_ptr<CodecCopy>> analysisCodecs;
  SentenceAnalysis analysis;
  std::set<std::string> transcriptsTold;  // engine thread only
  MarkRing markRing;                      // engine thread only
  SilenceRing silenceRing;                // fed by OnWaveOutDone; cleared or renewed by the engine
                                          // thread and ApplySettings (its own atomics)

  // ---- written by the device callbacks ----
  std::atomic<uint32_t> lastFinishedPosition{0};
  // The open item's place heard last (not the recording's).
  std::atomic<uint32_t> itemHeardPosition{0};
  ResumeStore* resume = nullptr;  // before the threads start
  bool resumeSaveTold = false;
  // Keeps where the open item was left, in the resume store (engine thread,
  // or any thread once it has ended).
  void KeepWhereLeft();
  // Where path was left: the place to read from (0 for its start); restores
  // its marks and speed.
  uint32_t TakeUpWhereLeft(const std::string& path);
  std::atomic<uint64_t> buffersFinished{0};
  std::atomic<uint32_t> sentencesFound{0};
  // Bytes heard by the pause method since its last sentence end (or the item's
  // start), and whether the learner is to be told that it found none.
  static constexpr uint32_t kNothingFoundSeconds = 30;
  std::atomic<uint64_t> searchedBytes{0};
  std::atomic<bool> nothingFoundDue{false};
  std::atomic<bool> nothingFoundTold{false};
  std::atomic<uint32_t> progressCounter{0};
  std::atomic<uint32_t> playsHeard{0};  // reset by the engine thread at a repeat's start

  // ---- the passage of a repeat or compare, for the window (engine thread) ----
  std::atomic<uint32_t> shownPassageStart{0};
  std::atomic<uint32_t> shownPassageEnd{0};
  // The callback raised a request; the lockstep pacer waits until it is served.
  std::atomic<bool> callbackRaised{false};

  AudioBackend& audio;
  CodecRegistry& registry;
  Playlist& playlist;
  EngineView* view;
  Waker waker;
  uint64_t engineSeen = 0;  // engine thread only

  // The read: the decoder's request and limit, the ring, the staged block and
  // the pool's hand-over to the devices.
  ReadCursor cursor{waker, [this](uint32_t ms) { Sleep(ms); },
                    [this] { return decodeThread.Running(); }};
  DecodeThread decodeThread{*this, cursor};
  EngineThread engineThread{*this};
  // engineFlags as the step being served found them (engine thread only); 0
  // outside the steps, where no store may drop a request.
  uint32_t flagsSeen = 0;
  uint64_t decodeSeen = 0;  // decode thread only

  mutable std::mutex errorMutex;  // guards lastError and refusal
  std::string refusal;
  std::atomic<uint32_t> refused{0};
  std::string lastError;
  EngineFault lastFault = EngineFault::kNone;  // guarded by errorMutex
  std::atomic<uint32_t> faults{0};
};
