#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "codec/codec_registry.h"
#include "codec/playlist.h"
#include "codec/qv_writer.h"
#include "engine/block_ring.h"
#include "engine/decode_thread.h"
#include "engine/engine_flags.h"
#include "engine/engine_thread.h"
#include "engine/engine_view.h"
#include "engine/mark_ring.h"
#include "engine/silence_ring.h"
#include "engine/waker.h"
#include "engine/wave_buffer_pool.h"
#include "platform/audio_backend.h"

// What the engine is doing, as one consistent-enough snapshot for the window,
// kestro-cli and status lines. Every field is read from atomics.
struct EngineStatus {
  uint32_t flags = 0;           // engineFlags
  const char* mode = "idle";    // Engine::ModeName(flags)
  int item = 0;                 // playlistIndex
  uint32_t position = 0;        // start of the last buffer the output finished
  uint32_t length = 0;          // the open item's sound data in bytes
  uint32_t itemsOpened = 0;     // items opened for reading since the engine was made
  uint32_t itemsHeard = 0;      // of those, items from which sound could be decoded
  uint32_t sentencesFound = 0;  // sentence ends found by automatic mode
  bool listFinished = false;    // (play-once) the last entry has been read to its end
  bool openPending = false;     // an item change with openRequest waits to be served
  bool autoMode = false;
  bool paused = false;
  bool stopped = false;
  bool soundRunning = false;  // Engine::SoundRunning()
  uint64_t passes = 0;        // engine passes completed
  uint32_t faults = 0;        // see Engine::SetLastError
  std::string lastError;
  int speedPosition = 0;
  bool keepPitch = false;  // the speed slider slows down with the pitch kept
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
  uint32_t windowBlocks = 0;
  // What the learner sees: the open item's bytes per second (for times), the
  // passage a repeat or compare plays (both 0 outside those modes), and which
  // play of the passage is heard in a repeat (1 for the first).
  uint32_t byteRate = 0;
  uint32_t passageStart = 0;
  uint32_t passageEnd = 0;
  uint32_t playsHeard = 0;
};

// The playback, record and repeat engine: its whole state, the commands that set
// request bits, and the operations the engine and decode threads use. The window
// and kestro-cli each own one and use only its public face: life cycle, commands,
// sliders and settings, and Status(). Tests that must look inside go through
// EngineTestAccess (tests/engine).
class Engine {
 public:
  static constexpr uint32_t kBlockSize = 5000;
  static constexpr uint32_t kRingSize = 300;
  static constexpr uint32_t kPoolSize = 400;
  static constexpr int kProgressMax = 10000;
  static constexpr int kSliderMax = 100;
  static constexpr const char* kRecordingName = "RecordVM.qv";

  Engine(AudioBackend& audio, CodecRegistry& registry, Playlist& playlist, EngineView* view);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // ---- life cycle (user-interface thread) ----
  // All sound memory, once; false when it cannot be had.
  bool AllocateBuffers();
  void ReleaseBuffers();
  // Starts the engine thread, then the decode thread, then sets ENG_PLAYING.
  void StartThreads();
  // The shut-down handshake: asks both threads to quit, waits for their answers
  // within the bounds (20 ms, then up to 10 x 40 ms each) and then joins them
  // (a thread that does not end within 2 s more is reported and left). True
  // when both answered in time.
  bool Shutdown();

  // ---- set before StartThreads ----
  // Where "RecordVM.qv" is written; ends in '/'.
  void SetProgramDir(const std::string& dir);
  const std::string& ProgramDir() const { return programDir; }
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

  // ---- user commands (user-interface thread); they only set fields and request bits ----
  void CommandPlay();
  void CommandPause() { Post(ENG_PAUSE_REQ); }
  void CommandStop() { Post(ENG_STOP_REQ); }
  void CommandPrevious();
  void CommandNext();
  void CommandRead() { Post(ENG_READ_REQ); }
  void CommandRepeat() { Post(ENG_REPEAT_REQ); }
  void CommandRecord() { Post(ENG_RECORD_REQ); }
  void CommandPlayBack() { Post(ENG_PLAYBACK_REQ); }
  void CommandCompare() { Post(ENG_COMPARE_REQ); }
  // Double click on the playlist (or the open-file command's new entry).
  void CommandPlayEntry(int index);
  // Toggles automatic mode; returns whether it is now on.
  bool CommandAutoManual();
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
  bool KeepPitch() const { return keepPitch.load(); }
  // Wakes the engine thread for a pass now (a caller waiting for passes).
  void WakeEngine() { waker.Notify(); }

  // ---- what the engine is doing (any thread) ----
  EngineStatus Status() const;
  // Status().mode alone, cheaply.
  const char* Mode() const { return ModeName(engineFlags.load()); }
  // Whether a device is producing or taking sound now: the input while
  // recording, otherwise the output while a mode plays and it is not paused.
  bool SoundRunning() const;
  // Why the last item could not be played (no codec, a refused file, no sound
  // device, a recording that could not be stored).
  std::string LastError() const;
  // How many faults there have been (see SetLastError).
  uint32_t Faults() const { return faults.load(); }
  // What kind of trouble LastError tells of: the window tells a missing
  // device once, whatever its text says.
  EngineFault LastFault() const;
  // For the waveform panel and status lines: the format the output device plays.
  uint16_t PlayBitsPerSample() const { return playBits.load(std::memory_order_relaxed); }

  // The packed device volume for the slider positions.
  static uint32_t VolumeValue(int volume, int volumeMax, int balance, int balanceMax);
  // The output rate for a speed slider position; the file's own rate at 0.
  static uint32_t SpeedRate(uint32_t fileRate, int position, int maximum);
  // The tempo for a speed slider position with the pitch kept: (m - p) / m,
  // never below half.
  static double SpeedTempo(int position, int maximum);
  // The sentence window in 5000-byte buffers.
  static uint32_t WindowBlocks(uint32_t avgBytesPerSec, float seconds);
  // The mode the flags show: "idle", "reading", "repeating", "recording",
  // "playing-back" or "comparing".
  static const char* ModeName(uint32_t flags);

 private:
  friend class DecodeThread;
  friend class EngineThread;
  friend class EngineTestAccess;

  // ORs request bits into engineFlags and wakes the engine thread.
  void Post(uint32_t bits);
  // The whole-word stores of the engine thread. They drop the requests the step
  // being served found on purpose, but never one posted while it ran (the step
  // could not have known of it: a Stop pressed during a speed change was lost)
  // nor a pending ENG_QUIT, which would leave shut-down waiting.
  void StoreFlags(uint32_t value);
  // decodeControl stores of the engine thread that leave a pending DEC_QUIT (and
  // the decoder's DEC_QUIT_DONE) alone.
  void StoreDecode(uint32_t value);
  // fault: the learner lost something they asked for (a sound device would not
  // open, a recording could not be stored), not just a file that was skipped.
  void SetLastError(const std::string& text, bool fault = false,
                    EngineFault kind = EngineFault::kFileNotPlayable);

  // The decode thread alone (tests drive the engine from their own thread).
  void StartDecodeThread();
  // Asks the decode thread to end and joins it.
  void StopDecodeThread();

  // ---- engine operations (engine thread) ----
  void StopDecoder();
  void SetIdle();
  bool OpenItem(const std::string& path);
  void OpenNextItem();
  void OpenItemAt(int index);
  bool OpenSound(const std::string& path);
  bool OpenOutput(bool fault = true);
  bool ReopenOutput();
  bool StopAtCurrent();
  bool SeekTo(uint32_t position);
  // position rounded down to a whole frame of the open item.
  uint32_t AlignToFrame(uint32_t position) const;
  bool ChangeSpeed();
  // Sets the output device (reset, nothing queued) for the speed slider: with
  // the pitch kept, the file's own rate at the slider's tempo; otherwise the
  // device reopened at the slider's lower rate. False when no device opens.
  bool ApplySpeed();
  void ApplyVolume();
  bool PauseOutput();
  bool RestartOutput();
  bool CloseOutput();
  bool OpenInput();
  bool CloseInput();
  // Moves one block from the ring into the pool and writes the next slot to the
  // device; true when a slot was written.
  bool Feed();
  // Clears the ring and the pool and has the decoder read on from position.
  void RestartReadingAt(uint32_t position);
  // The engine thread's sleeps; cut short by requests, finished buffers and ring changes.
  void Sleep(uint32_t ms) { waker.Sleep(ms, Waker::kEngine, &engineSeen); }
  // The sleep at the end of the engine thread's pass.
  void SettledSleep(uint32_t ms) { waker.Sleep(ms, Waker::kEngine, &engineSeen, true); }
  void DecodeSleep(uint32_t ms) { waker.Sleep(ms, Waker::kDecoder, &decodeSeen); }
  // Pauses or restarts the output device, keeping outputPaused in step.
  bool PauseDevice(bool pause);
  void EnableTransport(bool enable) {
    if (view) view->EnableTransport(enable);
  }

  // ---- device callbacks (device threads) ----
  void OnWaveOutDone(WaveDevice* device, uint32_t message, WaveHdr* header);
  void OnWaveInData(WaveDevice* device, uint32_t message, WaveHdr* header);
  // The lockstep pacer of the offline devices.
  // Before a finish, true when nothing more will come to the device.
  bool PaceDevice(int phase, const OfflineClock::DeviceState& device);

  // ---- shared words: every thread reads them; writers as the flag table says ----
  // Requests are ORed in by commands (user-interface thread) and OnWaveOutDone;
  // whole-word values are stored by the engine thread (StoreFlags) and by Shutdown.
  std::atomic<uint32_t> engineFlags{0};
  // Stored by the engine thread (StoreDecode, StopDecoder), by Shutdown (DEC_QUIT)
  // and by the decode thread (idle, DEC_QUIT_DONE).
  std::atomic<uint32_t> decodeControl{0};

  // ---- written by the user-interface thread (commands, sliders, settings);
  // ---- read by the engine, decode and device threads, each an atomic ----
  std::atomic<bool> autoMode{false};
  std::atomic<uint32_t> repeatCount{3};
  std::atomic<uint32_t> verticalPrecision{2};
  std::atomic<uint32_t> samplePercent{5};
  std::atomic<float> horizontalSeconds{2.0f};
  std::atomic<bool> openRequest{false};  // also cleared by the engine thread
  std::atomic<int> playlistIndex{0};     // also written by the engine thread
  std::atomic<uint32_t> seekTarget{0};
  std::atomic<uint32_t> volumeValue{0};  // also written by OpenSound
  std::atomic<int> speedPosition{0};     // also reset by OpenItem
  std::atomic<bool> keepPitch{false};
  std::atomic<int> startSpeed{0};  // before the threads start
  std::atomic<int> volumePosition{50};
  std::atomic<int> balancePosition{50};
  std::atomic<bool> stopAtListEnd{false};  // before the threads start

  // ---- written by the engine thread; other threads read the atomics ----
  std::atomic<bool> sentencePending{false};  // also set by OnWaveOutDone, cleared by commands
  WaveFormatEx playFormat{};                 // engine thread only
  std::atomic<uint32_t> itemByteRate{0};     // the open item's bytes per second
  // Length of the sound OpenSound opened last (the item or the recording).
  std::atomic<uint32_t> soundLength{0};
  const WaveFormatEx recordFormat{kWaveFormatPcm, 2, 44100, 176400, 4, 16, 0};
  std::unique_ptr<WaveOut> waveOut;  // engine thread only (callbacks get the device)
  std::unique_ptr<WaveIn> waveIn;    // engine thread only
  QvWriter recorder;                 // engine thread only
  // Published with release for the decode thread, which reads it only while
  // decodeControl tells it to run (the engine stops it before every change).
  std::atomic<CodecServer*> codec{nullptr};
  std::atomic<uint32_t> windowBlocks{0};  // also renewed by ApplySettings
  // B and the decoder's read limit: stored by the engine thread while the
  // decoder is stopped, or 0 (no limit) at any time.
  std::atomic<uint32_t> sectionEnd{0};
  std::atomic<uint32_t> fileLength{0};
  std::atomic<bool> stopped{false};
  std::atomic<bool> paused{false};
  std::atomic<bool> outputPaused{false};
  std::atomic<bool> listFinished{false};
  std::string currentPath;        // engine thread only
  std::string programDir = "./";  // before the threads start
  std::atomic<uint32_t> itemsOpened{0};
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

  // ---- hand-overs between the engine and decode threads ----
  // The decoder's request to the codec: owned by the decode thread while
  // decodeControl says run; the engine thread sets its position and
  // seekRequested only while the decoder is stopped (StopDecoder waits for it).
  CodecBlock readRequest{nullptr, kBlockSize, 0, 0, 0, 0};
  // Blocks pass from the decoder to the engine under the ring's own lock.
  BlockRing blockRing;
  // Engine thread only: the block taken from the ring, and the slot staged for
  // the pool (haveStaged is atomic so that the offline pacer may read it).
  PcmBlock currentBlock;
  WaveSlot stagedSlot;
  std::atomic<bool> haveStaged{false};
  // The engine thread fills and queues slots; device threads only mark them
  // done (WHDR_DONE, published by the device's lock and the flag's release).
  WaveBufferPool pool;
  MarkRing markRing;        // engine thread only
  SilenceRing silenceRing;  // fed by OnWaveOutDone; cleared or renewed by the engine
                            // thread and ApplySettings (its own atomics)

  // ---- written by the device callbacks ----
  std::atomic<uint32_t> lastFinishedPosition{0};
  std::atomic<uint64_t> buffersFinished{0};
  std::atomic<uint32_t> sentencesFound{0};
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

  std::unique_ptr<uint8_t[]> transitMemory;
  DecodeThread decodeThread{*this};
  EngineThread engineThread{*this};
  uint64_t engineSeen = 0;  // engine thread only
  // engineFlags as the step being served found them (engine thread only); 0
  // outside the steps, where no store may drop a request.
  uint32_t flagsSeen = 0;
  uint64_t decodeSeen = 0;  // decode thread only

  mutable std::mutex errorMutex;  // guards lastError
  std::string lastError;
  EngineFault lastFault = EngineFault::kNone;  // guarded by errorMutex
  std::atomic<uint32_t> faults{0};
};
