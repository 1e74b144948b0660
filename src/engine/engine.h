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

// The playback, record and repeat engine: its whole state, the commands that set
// request bits, and the operations the engine and decode threads use. The window
// and kestro-cli each own one. Fields shared between threads are atomic; the
// rest belong to the engine thread.
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

  // ---- start-up and shut-down ----
  // All sound memory, once; false when it cannot be had.
  bool AllocateBuffers();
  void ReleaseBuffers();
  // Starts the engine thread, then the decode thread, then sets ENG_PLAYING.
  void StartThreads();
  // The shut-down handshake: asks both threads to quit, waits for their answers
  // within the bounds (20 ms, then up to 10 x 40 ms each) and then joins them,
  // whether they answered in time or not. True when both answered in time.
  bool Shutdown();
  // The decode thread alone (tests drive the engine from their own thread).
  void StartDecodeThread();
  // Asks the decode thread to end and joins it.
  void StopDecodeThread();

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
  // Slider notifications: codes 0..4 act, dragging (5) and the end of a scroll (8) do not.
  void ProgressSlider(int code, int position);
  void SpeedSlider(int code, int position);
  void VolumeSlider(int code, int position);
  void BalanceSlider(int code, int position);

  // ORs request bits into engineFlags and wakes the engine thread.
  void Post(uint32_t bits);
  // The whole-word stores of the engine thread. They drop pending requests on
  // purpose, but never a pending ENG_QUIT, which would leave shut-down waiting.
  void StoreFlags(uint32_t value);
  // decodeControl stores of the engine thread that leave a pending DEC_QUIT (and
  // the decoder's DEC_QUIT_DONE) alone.
  void StoreDecode(uint32_t value);

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
  // For the waveform panel and status lines: the format the output device plays.
  uint16_t PlayBitsPerSample() const { return playBits.load(std::memory_order_relaxed); }

  // ---- device callbacks ----
  void OnWaveOutDone(WaveDevice* device, uint32_t message, WaveHdr* header);
  void OnWaveInData(WaveDevice* device, uint32_t message, WaveHdr* header);

  // The packed device volume for the slider positions.
  static uint32_t VolumeValue(int volume, int volumeMax, int balance, int balanceMax);
  // The output rate for a speed slider position; the file's own rate at 0.
  static uint32_t SpeedRate(uint32_t fileRate, int position, int maximum);
  // The sentence window in 5000-byte buffers.
  static uint32_t WindowBlocks(uint32_t avgBytesPerSec, float seconds);

  // The mode the flags show: "idle", "reading", "repeating", "recording",
  // "playing-back" or "comparing".
  static const char* ModeName(uint32_t flags);
  // Whether a device is producing or taking sound now: the input while
  // recording, otherwise the output while a mode plays and it is not paused.
  bool SoundRunning() const;
  // Pauses or restarts the output device, keeping outputPaused in step.
  bool PauseDevice(bool pause);

  // On the offline devices: each finished output buffer waits until the engine
  // thread has served whatever it raised, as if the engine were infinitely
  // fast. Batch work then hears exactly what a learner would, run after run.
  void SetLockstep(bool on);

  // Why the last item could not be played (no codec, a refused file, no sound device).
  std::string LastError() const;
  // fault: the learner lost something they asked for (a sound device would not
  // open, a recording could not be stored), not just a file that was skipped.
  void SetLastError(const std::string& text, bool fault = false);
  // How many faults there have been.
  uint32_t Faults() const { return faults.load(); }

  // ---- state ----
  std::atomic<uint32_t> engineFlags{0};
  std::atomic<uint32_t> decodeControl{0};
  std::atomic<bool> autoMode{false};
  std::atomic<bool> sentencePending{false};
  WaveFormatEx playFormat{};  // engine thread
  // The open item's bytes per second, for threads other than the engine's.
  std::atomic<uint32_t> itemByteRate{0};
  // Length of the sound OpenSound opened last (the item or the recording).
  std::atomic<uint32_t> soundLength{0};
  const WaveFormatEx recordFormat{kWaveFormatPcm, 2, 44100, 176400, 4, 16, 0};
  std::unique_ptr<WaveOut> waveOut;
  std::unique_ptr<WaveIn> waveIn;
  QvWriter recorder;
  std::atomic<CodecServer*> codec{nullptr};
  std::atomic<uint32_t> repeatCount{3};
  std::atomic<uint32_t> verticalPrecision{2};
  std::atomic<uint32_t> samplePercent{5};
  std::atomic<float> horizontalSeconds{2.0f};
  std::atomic<uint32_t> windowBlocks{0};
  std::atomic<uint32_t> sectionEnd{0};
  std::atomic<bool> openRequest{false};
  std::atomic<int> playlistIndex{0};
  std::atomic<uint32_t> fileLength{0};
  std::atomic<uint32_t> seekTarget{0};
  std::atomic<uint32_t> volumeValue{0};
  std::atomic<bool> stopped{false};
  std::atomic<bool> paused{false};
  std::string currentPath;
  std::string programDir = "./";
  CodecBlock readRequest{nullptr, kBlockSize, 0, 0, 0, 0};

  // What happens when an item has been read to its end: the next item opens,
  // wrapping to the first (as in the window), or, for batch work, reading stops
  // after the last item (listFinished is then set).
  std::atomic<bool> stopAtListEnd{false};
  std::atomic<bool> listFinished{false};
  std::atomic<bool> outputPaused{false};

  // Slider positions (the window mirrors them).
  std::atomic<int> speedPosition{0};
  std::atomic<int> volumePosition{50};
  std::atomic<int> balancePosition{50};

  BlockRing blockRing;
  WaveBufferPool pool;
  MarkRing markRing;
  SilenceRing silenceRing;
  PcmBlock currentBlock;
  WaveSlot stagedSlot;
  std::atomic<bool> haveStaged{false};  // written by the engine thread

  // Start of the last buffer the output device finished (for status displays),
  // and how many it has finished so far.
  std::atomic<uint32_t> lastFinishedPosition{0};
  std::atomic<uint64_t> buffersFinished{0};
  // Items opened for reading since the engine was made.
  std::atomic<uint32_t> itemsOpened{0};
  // Sentence ends found by automatic mode since the engine was made.
  std::atomic<uint32_t> sentencesFound{0};
  // Passes the engine thread has completed; a request posted before pass n
  // began has been served once pass n + 1 is complete.
  std::atomic<uint64_t> passes{0};

  AudioBackend& audio;
  CodecRegistry& registry;
  Playlist& playlist;
  EngineView* view;
  Waker waker;

 private:
  void EnableTransport(bool enable) {
    if (view) view->EnableTransport(enable);
  }

  std::unique_ptr<uint8_t[]> transitMemory;
  DecodeThread decodeThread{*this};
  EngineThread engineThread{*this};
  uint64_t engineSeen = 0;
  uint64_t decodeSeen = 0;
  std::atomic<uint32_t> progressCounter{0};
  std::atomic<uint16_t> playBits{0};

  static void PaceDevice(void* engine, int phase, const OfflineClock::DeviceState& device);

  friend class DecodeThread;
  friend class EngineThread;
  mutable std::mutex errorMutex;
  std::string lastError;
  std::atomic<uint32_t> faults{0};
};
