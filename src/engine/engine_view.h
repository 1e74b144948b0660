// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

// The kinds of trouble the engine reports with a text (Engine::LastError).
enum class EngineFault {
  kNone,
  kFileNotPlayable,     // a file skipped: no codec, refused, nothing decoded
  kNoOutputDevice,      // the sound output would not open
  kNoInputDevice,       // the sound input would not open
  kRecordingNotStored,  // the recording file could not be written (whole)
  kDeviceLost,          // an open device went away (its server ended, unplugged)
  kThreadDidNotEnd,     // a worker thread missed its shutdown bound
};

// The modes the window shows on its mode buttons, and how each shows.
enum class EngineMode { kRead, kRepeat, kCompare, kRecord, kPlayBack };
enum class ModeShown { kOff, kRunning, kPaused };

// Everything the engine tells the window. The main window implements it; tests
// and kestro-cli implement it too. Calls come from the engine thread and the
// device callback threads: implementations update their own state and ask for a
// repaint, and never wait for the user-interface thread.
class EngineView {
 public:
  virtual ~EngineView() = default;

  // A mode started, paused or ended.
  virtual void ShowMode(EngineMode /*mode*/, ModeShown /*shown*/) {}
  // Enables or disables the transport controls together.
  virtual void EnableTransport(bool /*enable*/) {}
  // Paused: Play goes on, and so does Pause where it resumes (a dictation
  // stop); the rest of the transport stays as it was, since seeking,
  // recording and every mode work while paused.
  virtual void ShowPaused(bool /*pauseResumes*/) {}
  virtual void SetProgressPosition(int /*position*/) {}
  // Whether the view draws each buffer as it finishes (a waveform): the
  // output then tells finished buffers more often.
  virtual bool DrawsSound() const { return false; }
  virtual void SetSpeedPosition(int /*position*/) {}
  // The waveform panel's sample format and the buffer now sounding or recorded.
  virtual void SetSampleFormat(uint32_t /*rate*/, uint16_t /*bits*/, uint16_t /*channels*/) {}
  virtual void ShowBuffer(const uint8_t* /*data*/, uint32_t /*bytes*/) {}
  // The engine selected a playlist entry to play.
  virtual void PlaylistSelectionChanged(int /*index*/) {}
  // An entry could not be played (no codec, a missing or broken file) and was
  // skipped; why says so in words. Not called for a sound device that failed.
  virtual void ItemNotPlayable(const std::string& /*path*/, const std::string& /*why*/) {}
  // Automatic mode has heard `seconds` of the item at pauses without finding a
  // sentence end: told once an item, so that the learner can try another way.
  virtual void NoSentenceFound(int /*seconds*/) {}
  // The open item's sentences from its transcript changed (Engine::Sentences).
  virtual void SentencesChanged() {}
  // Something to tell about the transcript at path: why none of it could be
  // used, or how many lines were passed over. Told once per file.
  virtual void TranscriptNote(const std::string& /*path*/, const std::string& /*note*/) {}
  // The adaptive split of the open item found no sentence, or could not read
  // its sound: note says which and what to try. Comes from the analysis thread.
  virtual void SplitNote(const std::string& /*note*/) {}
};
