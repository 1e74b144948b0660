// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "engine/engine_step.h"

class EngineCore;
class EngineThread;
struct WaveHdr;
struct WaveSlot;

// Recording the learner: the mode itself, and shadowing's turn, where the gap
// after a play of a found sentence records them (Turn::kRecording), then what
// they said plays (Turn::kSelf), then the sentence again (or, after the last,
// reading).
class RecordControl {
 public:
  using Outcome = StepOutcome;
  enum class Turn { kNone, kRecording, kSelf };

  RecordControl(EngineThread& thread, EngineCore& engine) : t(thread), engine(engine) {}

  // The steps of a pass.
  Outcome ServeRecordRequest();
  Outcome ServeRecording();
  Outcome ServeRecordEnd();

  // Ends a recording: the input reset, every filled slot stored in order, the file finished.
  void FinishRecording();
  bool Recording() const { return recordSlot != nullptr; }

  bool TurnWanted(bool last) const;
  // False (the gap stays silent) when the input or the file would not open.
  bool StartTurn(bool last);
  Outcome ServeTurn();
  // Back to the item at the sentence, its recording kept; reads on when asked.
  void EndTurn(bool readOn);
  Turn TurnNow() const { return turn; }
  // Whether the last play's turn was a recorded one; Forget before a new repeat.
  bool TurnTaken() const { return turnTaken; }
  void ForgetTurn() { turnTaken = false; }

  // The passage the last recording was made over, and in which item.
  struct Passage {
    std::string path;
    uint32_t start = 0, end = 0;
  };
  const Passage& RecordedPassage() const { return recordedPassage; }

 private:
  // Stores what the input filled into the recording, no more than recordCap
  // allows; false when the disk would not take it.
  bool StoreRecorded(const WaveHdr& header);
  // The slot the input fills next: stored, queued again while the recording
  // may take more, and the one after it waited for.
  enum class Taken { kNotYet, kStored, kLost };
  Taken TakeRecordedSlot();
  // Tells the learner that the recording could not be stored whole.
  void ReportLostRecording();

  EngineThread& t;
  EngineCore& engine;
  Turn turn = Turn::kNone;
  bool turnLast = false;            // the turn after the sentence's last play
  bool turnTaken = false;           // the last play's turn was a recorded one
  uint64_t recordCap = UINT64_MAX;  // bytes the recording may still take
  uint32_t recordSlotIndex = 0;
  Passage recordedPassage;
  WaveSlot* recordSlot = nullptr;
};
