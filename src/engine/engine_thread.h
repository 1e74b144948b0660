#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <thread>

#include "engine/engine_view.h"
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
  enum class Outcome { kGoOn, kRestart, kAwaitBuffer };

  void Run();
  void Reading();
  bool FeedAll();
  Outcome ServeRequests();
  // Reading stopped at end, the end of a transcript's sentence: it is
  // repeated, or reading goes on when sentences no longer stop it.
  void SentenceHeard(uint32_t end);
  void TakeSentenceStop();
  // The steps of a pass, one each.
  Outcome ServeItemChange();
  Outcome ServeRead();
  Outcome ServePause();
  Outcome ServeResume();
  Outcome ServeSeek();
  Outcome ServeVolume();
  Outcome ServeSpeed();
  Outcome ServeStop();
  Outcome ServeRecordRequest();
  Outcome ServeRecording();
  Outcome ServePlaybackRequest();
  Outcome ServePlayingBack();
  Outcome ServeRepeatRequest();
  Outcome ServeRepeating();
  Outcome ServeCompareRequest();
  Outcome ServeComparing();
  Outcome ServeCompareEnd();
  Outcome ServePlaybackEnd();
  Outcome ServeRepeatEnd();
  Outcome ServeRecordEnd();
  void ServeQuit();

  // A device that went away ends what plays as Stop does, and says so once.
  void NoticeLostDevice();
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
  // Ends a recording: the input reset, every filled slot stored in order, the file finished.
  void FinishRecording();
  // Stores what the input filled into the recording, no more than recordCap
  // allows; false when the disk would not take it.
  bool StoreRecorded(const WaveHdr& header);
  // The slot the input fills next: stored, queued again while the recording
  // may take more, and the one after it waited for.
  enum class Taken { kNotYet, kStored, kLost };
  Taken TakeRecordedSlot();
  // Shadowing with the learner recorded: after a play of a found sentence the
  // gap records them (Turn::kRecording), then what they said plays
  // (Turn::kSelf), then the sentence again (or, after the last, reading).
  enum class Turn { kNone, kRecording, kSelf };
  bool TurnWanted(bool last) const;
  // False (the gap stays silent) when the input or the file would not open.
  bool StartTurn(bool last);
  Outcome ServeTurn();
  // Back to the item at the sentence, its recording kept; reads on when asked.
  void EndTurn(bool readOn);
  // Tells the learner that the recording could not be stored whole.
  void ReportLostRecording();
  Outcome FailRequest(uint32_t bit);
  // Leaves play-back or compare mode: reopens the item and reads on from B; when
  // the item no longer opens, the next one is taken. True when reading goes on.
  // After OpenSound of the item: the slider's tempo again, with the pitch kept.
  void SlowDownAgain();
  bool ReturnToItem(uint32_t modeBits);
  // Pauses or restarts the device for the mode whose flag is *paused, and shows it.
  void TogglePause(bool* paused, EngineMode mode);
  // The passage the window marks on the progress bar; (0, 0) for none.
  void ShowPassage(uint32_t start, uint32_t end);
  void Caption(EngineMode mode, ModeShown shown);

  EngineCore& engine;
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
  // Where the last sentence step led, in which item (by itemsOpened), and how
  // many buffers had finished then: until another finishes it is what is heard.
  uint32_t jumpedTo = 0;
  uint32_t jumpItem = 0;
  uint64_t jumpHeard = 0;
  // A step asked during a repeat goes from the sentence repeated, whatever its
  // end leaves the cursor at.
  bool stepFromRepeat = false;
  uint32_t stepFrom = 0;
  // B as ResolvePassage found it, and whether it stopped the output to find it.
  uint32_t passageEnd = 0;
  bool passageFromOutput = false;
  uint32_t savedSectionEnd = 0;
  uint32_t repeatsLeft = 0;
  bool repeatPaused = false;
  bool repeatDone = false;    // the repeat ended after its last play
  bool passageExact = false;  // the repeated sentence ends exactly (a list's)
  Turn turn = Turn::kNone;
  bool turnLast = false;              // the turn after the sentence's last play
  bool turnTaken = false;             // the last play's turn was a recorded one
  bool stoppedAfterSentence = false;  // paused by dictation's stop (until resumed)
  uint64_t recordCap = UINT64_MAX;    // bytes the recording may still take
  bool playbackPaused = false;
  bool comparePhase = false;
  bool compareLoaded = false;
  uint32_t recordSlotIndex = 0;
  // The passage the last recording was made over, and in which item.
  struct {
    std::string path;
    uint32_t start = 0, end = 0;
  } recordedPassage;
  WaveSlot* recordSlot = nullptr;
};
