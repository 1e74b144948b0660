// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/reading_control.h"

#include <utility>

#include "engine/engine_core.h"
#include "engine/engine_thread.h"

void ReadingControl::Reading() {
  EngineCore& e = engine;
  TakeSentenceStop();
  if (e.nothingFoundDue.exchange(false) && e.view)
    e.view->NoSentenceFound(EngineCore::kNothingFoundSeconds);
  if (!engine.FeedOutput()) {
    if (e.cursor.Idle()) {
      if (e.cursor.AllPlayed() && e.cursor.Limit() != 0) {
        SentenceHeard(e.cursor.Limit());
      } else if (e.cursor.AllPlayed()) {
        // A file that opened but gave no sound at all (cut off after its
        // header) is named like one that would not open; reading that starts
        // with nothing open is no such file.
        if (e.readingItem.load() && !e.soundDecoded.load() && e.view)
          e.view->ItemNotPlayable(e.currentPath, "no sound could be decoded from it");
        t.endOfItem = true;
        e.StoreFlags(ENG_ITEM_CHANGE);
      }
      // Otherwise the rest still sounds: its end wakes the engine.
    }
  }
  if (!t.outputStarted) t.Caption(EngineMode::kRead, ModeShown::kRunning);
  t.outputStarted = true;
}

void ReadingControl::TakeSentenceStop() {
  EngineCore& e = engine;
  uint32_t heard = 0;
  // Automatic mode (or the transcript) switched on while reading runs free:
  // the read goes back to what was heard, and stops at its sentence's end.
  if (!e.SentenceStops() || !t.outputStarted || e.cursor.Limit() != 0 ||
      !e.cursor.LastPlayed(&heard) || e.SentenceStopAfter(heard) == 0)
    return;
  e.cursor.RestartAt(e.AlignToFrame(heard), 0, e.waveOut.get());
}

void ReadingControl::SentenceHeard(uint32_t end) {
  EngineCore& e = engine;
  const int index = e.sentences.IndexAfter(end - 1);
  if (!e.SentenceStops() || index < 0) {
    // Automatic mode or the transcript was turned off meanwhile: read on.
    e.cursor.SetLimit(0);
    e.cursor.Run();
    return;
  }
  // Heard to its end: it is repeated as a sentence found at a pause is.
  t.listSentence = index;
  e.sentencePending = true;
  e.sentencesFound.fetch_add(1);
  t.Set(ENG_REPEAT_REQ);
}

// 2. Item change.
ReadingControl::Outcome ReadingControl::ServeItemChange() {
  EngineCore& e = engine;
  if (t.Has(ENG_ITEM_CHANGE)) {
    // A command's open served before its post arrived (both come from the same
    // command): reading goes on with the item it asked for.
    if (t.Has(ENG_PLAYING) && !t.endOfItem && !e.openRequest.load()) {
      t.Clear(ENG_ITEM_CHANGE);
      return Outcome::kGoOn;
    }
    if (!t.EndActiveMode({ENG_RECORDING, ENG_REPEATING, ENG_PLAYING_BACK, ENG_COMPARING})) {
      // A pause's change opens nothing: a request that came with it (Play
      // pressed at once) is served in this pass, not dropped.
      const bool opens = t.endOfItem || e.openRequest.load();
      e.StoreFlags(opens ? 0 : e.engineFlags.load() & kPostedBits & ~ENG_ITEM_CHANGE);
      if (t.endOfItem) {
        t.endOfItem = false;
        e.OpenNextItem();
      }
      // An entry chosen while another opens is opened next: its post may have
      // found the item change still set, and the open's store then dropped it.
      while (e.openRequest.exchange(false)) {
        t.stoppedAfterSentence = false;
        e.OpenItemAt(e.playlistIndex.load());
      }
    }
  }
  return Outcome::kGoOn;
}

// 3. Read: mark A while reading, otherwise end the active mode.
ReadingControl::Outcome ReadingControl::ServeRead() {
  EngineCore& e = engine;
  if (t.Has(ENG_READ_REQ)) {
    if ((e.engineFlags.load() & ~ENG_QUIT) == (ENG_PLAYING | ENG_READ_REQ)) {
      uint32_t position;
      if (e.cursor.LastPlayed(&position)) e.markRing.Push(position);
      t.Clear(ENG_READ_REQ);
    } else {
      t.Clear(ENG_READ_REQ);
      t.EndActiveMode({ENG_REPEATING, ENG_RECORDING, ENG_PLAYING_BACK, ENG_COMPARING});
    }
  }
  return Outcome::kGoOn;
}

// 4. Pause.
ReadingControl::Outcome ReadingControl::ServePause() {
  EngineCore& e = engine;
  if (t.Has(ENG_PAUSE_REQ)) {
    if (e.paused.load() && t.stoppedAfterSentence) {
      // Dictation's stop after a sentence: the pause key goes on, as Play does.
      t.Clear(ENG_PAUSE_REQ);
      t.Set(ENG_RESUME_REQ);
    } else if (!e.paused.load() && e.waveOut && e.waveOut->IsOpen()) {
      if (!t.EndActiveMode({ENG_REPEATING, ENG_RECORDING, ENG_PLAYING_BACK, ENG_COMPARING})) {
        if (e.PauseOutput()) {
          e.paused = true;
          e.StoreFlags(ENG_ITEM_CHANGE);
        } else {
          t.Clear(ENG_PAUSE_REQ);
        }
      }
    } else {
      t.Clear(ENG_PAUSE_REQ);
    }
  }
  return Outcome::kGoOn;
}

// 5. Resume.
ReadingControl::Outcome ReadingControl::ServeResume() {
  EngineCore& e = engine;
  if (t.Has(ENG_RESUME_REQ)) {
    t.stoppedAfterSentence = false;
    if (e.paused.load() && e.RestartOutput()) e.paused = false;
    e.StoreFlags(ENG_PLAYING);
  }
  return Outcome::kGoOn;
}

// 6. Seek.
ReadingControl::Outcome ReadingControl::ServeSeek() {
  EngineCore& e = engine;
  if (t.Has(ENG_SEEK_REQ)) {
    if (!t.EndActiveMode({ENG_REPEATING, ENG_RECORDING, ENG_PLAYING_BACK, ENG_COMPARING})) {
      // Paused, the seek lands and waits for Play (status still says so);
      // stopped, there is nothing to seek in.
      const bool sounding = e.SeekTo(e.seekTarget.load()) && !e.paused.load();
      e.StoreFlags(sounding ? ENG_PLAYING : 0);
    }
  }
  if (t.Has(ENG_SENTENCE_REQ)) {
    if (t.Has(ENG_REPEATING) && !stepFromRepeat) {
      stepFromRepeat = true;
      stepFrom = t.sectionStart;
    }
    if (!t.EndActiveMode({ENG_REPEATING, ENG_RECORDING, ENG_PLAYING_BACK, ENG_COMPARING})) {
      t.Clear(ENG_SENTENCE_REQ);
      const bool fromRepeat = std::exchange(stepFromRepeat, false);
      const int asked = e.repeatIndex.exchange(-1);
      if (asked >= 0) {
        // A line chosen: its sentence is repeated as one heard to its end.
        Sentence chosen;
        if (e.sentences.At(static_cast<size_t>(asked), &chosen)) {
          t.listSentence = asked;
          e.sentencePending = e.autoMode.load();
          t.Set(ENG_REPEAT_REQ);
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
