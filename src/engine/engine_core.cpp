// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/engine_core.h"

#include <cstdio>

#include "sentences/sentence_source.h"
#include "sentences/transcript.h"

#include "platform/replacing_file.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <new>

EngineCore::EngineCore(AudioBackend& a, CodecRegistry& r, Playlist& p, EngineView* v)
    : audio(a), registry(r), playlist(p), view(v) {
  volumeValue = EngineBasics::VolumeValue(volumePosition, kSliderMax, balancePosition, kSliderMax);
  recorder.SetFormat(&recordFormat);
  cursor.SetStopSource([this](uint32_t position) { return SentenceStopAfter(position); });
}

EngineCore::~EngineCore() {
  Shutdown();
  analysis.Stop();
  if (waveIn) {
    waveIn->Reset();
    waveIn->Close();
  }
  if (waveOut) {
    waveOut->Reset();
    waveOut->Close();
  }
  waveIn.reset();
  waveOut.reset();
  recorder.Finish();
  CodecServer* c = codec.load();
  if (c != nullptr && c->IsOpen()) c->Close();
}

bool EngineCore::AllocateBuffers() {
  return cursor.Allocate(kBlockSize, EngineBasics::kRingSize, EngineBasics::kPoolSize);
}

void EngineCore::ReleaseBuffers() {
  cursor.Release();
}

void EngineCore::StartThreads() {
  engineFlags.store(0);
  engineThread.Start();
  decodeThread.Start();
  Post(ENG_PLAYING);
}

bool EngineCore::Shutdown() {
  if (!engineThread.Running() && !decodeThread.Running()) return true;
  engineFlags.store(ENG_QUIT);
  cursor.OrderQuit();
  uint64_t seen = 0;
  auto wait = [&](uint32_t ms) { waker.Sleep(ms, Waker::kEngine, &seen); };
  wait(20);
  using Clock = std::chrono::steady_clock;
  auto waitFor = [&](const std::function<bool()>& answered) {
    const auto end = Clock::now() + std::chrono::milliseconds(10 * 40);
    while (!answered() && Clock::now() < end)
      wait(40);
    return answered();
  };
  const bool engineAnswered =
      !engineThread.Running() || waitFor([&] { return engineFlags.load() == ENG_EXITED; });
  const bool decoderAnswered =
      !decodeThread.Running() || waitFor([&] { return cursor.DecoderQuit(); });
  // Nothing the threads use may go before they have ended; a thread that does
  // not end even then is reported and left, rather than hanging the program.
  const bool engineJoined = engineThread.JoinWithin(std::chrono::seconds(2));
  const bool decoderJoined = decodeThread.JoinWithin(std::chrono::seconds(2));
  threadsLeft = threadsLeft || !engineJoined || !decoderJoined;
  if (!engineJoined)
    SetLastError("the engine thread did not end", true, EngineFault::kThreadDidNotEnd);
  if (!decoderJoined)
    SetLastError("the decode thread did not end", true, EngineFault::kThreadDidNotEnd);
  if (engineJoined) analysis.Stop();
  if (engineJoined && decoderJoined) KeepWhereLeft();
  return engineAnswered && decoderAnswered && engineJoined && decoderJoined;
}

void EngineCore::SetProgramDir(const std::string& dir) {
  programDir = dir.empty() ? "./" : dir;
  if (programDir.back() != '/') programDir += '/';
}

void EngineCore::PlayListOnce() {
  stopAtListEnd = true;
  // The end-of-item rule advances from here to the first entry.
  playlistIndex = -1;
}

EngineStatus EngineCore::Status() const {
  EngineStatus s;
  s.flags = engineFlags.load();
  s.mode = EngineBasics::ModeName(s.flags);
  s.item = playlistIndex.load();
  s.position = lastFinishedPosition.load();
  s.length = fileLength.load();
  s.itemsOpened = itemsOpened.load();
  s.opening = opening.load();
  s.itemsHeard = itemsHeard.load();
  s.sentencesFound = sentencesFound.load();
  s.listFinished = listFinished.load();
  s.sentenceCount = static_cast<uint32_t>(sentences.Count());
  // The learner's recording sounding (a play-back, a compare's first half, a
  // turn's): its own time, and no line of the lesson.
  s.recordingHeard = !readingItem.load() && (s.flags & ENG_SOUNDING_MODES) && !stopped.load();
  if (s.recordingHeard) s.length = soundLength.load();
  // A repeat's gaps and turns belong to the sentence repeated, not to the
  // place its end leaves the reading at.
  const uint32_t shownStart = shownPassageStart.load();
  const bool repeating = (s.flags & ENG_REPEATING) && shownPassageEnd.load() > shownStart;
  s.sentence = s.sentenceCount > 0 && !s.recordingHeard
                   ? sentences.IndexAt(repeating ? shownStart : s.position) + 1
                   : 0;
  s.marks = markRing.PublishedCount();
  s.openPending = openRequest.load();
  s.autoMode = autoMode.load();
  s.paused = paused.load();
  s.stopped = stopped.load();
  s.soundRunning = SoundRunning();
  s.passes = passes.load();
  s.faults = faults.load();
  {
    std::lock_guard<std::mutex> lock(errorMutex);
    s.lastError = lastError;
    s.lastRefusal = refusal;
  }
  s.refused = refused.load();
  s.speedPosition = speedPosition.load();
  s.keepPitch = keepPitch.load();
  s.speed = static_cast<float>(
      EngineBasics::SpeedFactor(s.speedPosition, kSliderMax, s.keepPitch, itemSampleRate.load()));
  s.outputRate = outputRate.load();
  s.outputTempo = outputTempo.load();
  s.volumePosition = volumePosition.load();
  s.balancePosition = balancePosition.load();
  s.repeatCount = repeatCount.load();
  s.verticalPrecision = verticalPrecision.load();
  s.samplePercent = samplePercent.load();
  s.horizontalSeconds = horizontalSeconds.load();
  s.adaptiveSplit = adaptiveSplit.load();
  s.gap = (cursor.GapSounding() || turnRecording.load()) && !s.paused &&
          (s.flags & (ENG_PLAYING | ENG_REPEATING)) != 0;
  s.minPauseMs = minPauseMs.load();
  s.maxSentenceMs = maxSentenceMs.load();
  s.byteRate = itemByteRate.load();
  s.passageStart = shownPassageStart.load();
  s.passageEnd = shownPassageEnd.load();
  s.playsHeard = playsHeard.load();
  s.windowBlocks = windowBlocks.load();
  return s;
}

void EngineCore::StartDecodeThread() {
  decodeThread.Start();
}

void EngineCore::StopDecodeThread() {
  if (!decodeThread.Running()) return;
  cursor.OrderQuit();
  decodeThread.Join();
}

// ---- commands ----

void EngineCore::Post(uint32_t bits) {
  engineFlags.fetch_or(bits);
  waker.Notify(Waker::kEngine);
}

void EngineCore::StoreFlags(uint32_t value) {
  uint32_t old = engineFlags.load();
  while (!engineFlags.compare_exchange_weak(
      old, value | (old & ENG_QUIT) | (old & kPostedBits & ~flagsSeen))) {
  }
}

void EngineCore::CommandPlay() {
  const int selection = playlist.Selection();
  if (stopped.load()) {
    playlistIndex = selection;
    openRequest = true;
    Post(ENG_ITEM_CHANGE);
  } else if (paused.load()) {
    Post(ENG_RESUME_REQ);
  } else if (selection != playlistIndex.load()) {
    playlistIndex = selection;
    openRequest = true;
    Post(ENG_ITEM_CHANGE);
  }
}

void EngineCore::CommandPrevious() {
  if (playlistIndex.load() > 0) --playlistIndex;
  openRequest = true;
  Post(ENG_ITEM_CHANGE);
}

void EngineCore::CommandNext() {
  if (playlistIndex.load() + 1 != playlist.Count()) ++playlistIndex;
  openRequest = true;
  Post(ENG_ITEM_CHANGE);
}

void EngineCore::EntryRemoved(int index) {
  int playing = playlistIndex.load();
  if (index >= 0 && index < playing) {
    // Unless the engine moved on meanwhile (it then chose from the list as it is).
    playlistIndex.compare_exchange_strong(playing, playing - 1);
    return;
  }
  if (index >= 0 && index != playing) return;
  if (index < 0) playlistIndex = -1;
  Post(ENG_STOP_REQ);
}

void EngineCore::CommandPlayEntry(int index) {
  if (index < 0) return;
  playlistIndex = index;
  openRequest = true;
  Post(ENG_ITEM_CHANGE);
}

bool EngineCore::CommandAutoManual() {
  const bool now = !autoMode.load();
  autoMode = now;
  sentencePending = false;
  return now;
}

void EngineCore::ApplySettings(uint32_t count, uint32_t vertical, float seconds, uint32_t percent) {
  repeatCount = count;
  verticalPrecision = vertical;
  horizontalSeconds = seconds;
  samplePercent = percent;
  const uint32_t blocks = EngineBasics::WindowBlocks(itemByteRate.load(), seconds);
  windowBlocks = blocks;
  silenceRing.Recreate(blocks);
}

void EngineCore::ProgressSlider(int position) {
  seekTarget = static_cast<uint32_t>(position) * (fileLength.load() / kProgressMax);
  Post(ENG_SEEK_REQ);
}

void EngineCore::SpeedSlider(int position) {
  speedPosition = std::clamp(position, 0, kSliderMax);
  Post(ENG_SPEED_REQ);
}

void EngineCore::SetKeepPitch(bool on) {
  if (keepPitch.exchange(on) == on) return;
  // At full speed both ways play the same; with no output open (stopped) the
  // next item opens the way chosen.
  if (speedPosition.load() > 0 && outputRate.load() != 0) Post(ENG_SPEED_REQ);
}

void EngineCore::SetStartSpeed(int position) {
  startSpeed = std::clamp(position, 0, kSliderMax);
}

void EngineCore::VolumeSlider(int position) {
  volumePosition = std::clamp(position, 0, kSliderMax);
  volumeValue = EngineBasics::VolumeValue(volumePosition, kSliderMax, balancePosition, kSliderMax);
  Post(ENG_VOLUME_REQ);
}

void EngineCore::BalanceSlider(int position) {
  balancePosition = std::clamp(position, 0, kSliderMax);
  volumeValue = EngineBasics::VolumeValue(volumePosition, kSliderMax, balancePosition, kSliderMax);
  Post(ENG_VOLUME_REQ);
}

void EngineCore::SetLockstep(bool on) {
  lockstep = on;
  if (!on) {
    audio.Clock().SetPacer(nullptr);
    return;
  }
  audio.Clock().SetPacer([this](int phase, const OfflineClock::DeviceState& device) {
    return PaceDevice(phase, device);
  });
}

bool EngineCore::PaceDevice(int phase, const OfflineClock::DeviceState& device) {
  if (phase == OfflineClock::kAfterFinish) {
    // Only what the buffer's callback raised must be served before the next
    // buffer finishes (B is where the learner was); otherwise the device plays on.
    if (callbackRaised.exchange(false))
      waker.WaitEngineSettled(waker.EngineEvents(), device.stopping);
    return false;
  }
  // Before a buffer finishes, the one after it is queued, as on a real device far
  // behind the engine; unless nothing more will come (the decoder has stopped and
  // everything it read is at the device).
  const auto sounding = [&] { return (engineFlags.load() & ENG_SOUNDING_MODES) != 0; };
  const auto nothingMore = [&] { return cursor.NothingMore(); };
  for (;;) {
    waker.WaitEngine([&] { return device.nextQueued() || nothingMore() || !sounding(); },
                     device.stopping);
    if (device.nextQueued() || !sounding() || device.stopping()) return false;
    // A block the engine has just taken from the ring may not be at the device
    // yet: a pass begun now puts it there. (A stretching device pushes out the
    // end of its sound when nothing more comes, so this must not be guessed.)
    waker.Notify(Waker::kEngine);
    waker.WaitEngineSettled(waker.EngineEvents(), device.stopping);
    if (device.nextQueued() || !sounding() || device.stopping()) return false;
    if (nothingMore()) return true;
  }
}

std::string EngineCore::LastError() const {
  std::lock_guard<std::mutex> lock(errorMutex);
  return lastError;
}

void EngineCore::SetLastError(const std::string& text, bool fault, EngineFault kind) {
  std::lock_guard<std::mutex> lock(errorMutex);
  lastError = text;
  lastFault = kind;
  if (fault) faults.fetch_add(1);
}

void EngineCore::Refuse(const std::string& why) {
  std::lock_guard<std::mutex> lock(errorMutex);
  refusal = why;
  refused.fetch_add(1);
}

EngineFault EngineCore::LastFault() const {
  std::lock_guard<std::mutex> lock(errorMutex);
  return lastFault;
}

// ---- engine operations ----

// The store is indivisible, so there is nothing left to wait for afterwards.
void EngineCore::SetIdle() {
  StoreFlags(0);
}

void EngineCore::KeepWhereLeft() {
  if (resume == nullptr || currentPath.empty()) return;
  ResumeStore::Place place;
  place.position = itemHeardPosition.load();
  for (uint32_t k = markRing.Count(); k-- > 0;) {
    uint32_t mark = 0;
    if (markRing.Get(k, &mark)) place.marks.push_back(mark);
  }
  place.speed = speedPosition.load();
  place.keepPitch = keepPitch.load();
  resume->Keep(currentPath, place);
  std::string why;
  if (!resume->Save(&why) && !resumeSaveTold) {
    resumeSaveTold = true;
    std::fprintf(stderr, "kestro: where the lesson was left is not kept: %s\n", why.c_str());
  }
}

uint32_t EngineCore::TakeUpWhereLeft(const std::string& path) {
  markRing.Reset();
  const std::optional<ResumeStore::Place> place =
      resume != nullptr ? resume->Find(path) : std::nullopt;
  if (!place) {
    markRing.Push(0);
    return 0;
  }
  const uint32_t length = fileLength.load();
  for (uint32_t mark : place->marks)
    if (mark < length) markRing.Push(AlignToFrame(mark));
  if (markRing.Count() == 0) markRing.Push(0);
  keepPitch = place->keepPitch;
  speedPosition = std::clamp(place->speed, 0, kSliderMax);
  if (view) view->SetSpeedPosition(speedPosition.load());
  // A lesson heard to (nearly) its end starts again from the beginning.
  const uint32_t tail = 3 * itemByteRate.load();
  return place->position + tail < length ? AlignToFrame(place->position) : 0;
}

bool EngineCore::OpenItem(const std::string& path) {
  opening = true;
  const bool opened = OpenItemNow(path);
  opening = false;
  return opened;
}

bool EngineCore::OpenItemNow(const std::string& path) {
  KeepWhereLeft();
  currentPath.clear();
  cursor.StopDecoder();
  SetIdle();
  const uint32_t faultsBefore = faults.load();
  const bool opened = OpenSound(path);
  readingItem = opened;
  // A file the learner listed that cannot be played is named; a sound device
  // that failed is a fault, told as such.
  if (!opened && view && faults.load() == faultsBefore) view->ItemNotPlayable(path, LastError());
  const int speed = startSpeed.load();
  speedPosition = speed;
  if (view) view->SetSpeedPosition(speed);
  fileLength = 0;
  if (!opened) {
    analysis.Stop();
    sentences.Clear();
    haveSentences = false;
    listKind = kNoList;
    sentencesPath.clear();
    if (view) view->SentencesChanged();
    return false;
  }
  CodecServer* c = codec.load();
  fileLength = c->GetLength();
  uint32_t start = 0;
  if (!lostPath.empty() && path == lostPath) {
    if (lostPosition < fileLength.load()) start = AlignToFrame(lostPosition);
    speedPosition = lostSpeed;
    if (view) view->SetSpeedPosition(lostSpeed);
  } else {
    start = TakeUpWhereLeft(path);
  }
  lostPath.clear();
  if (speedPosition.load() > 0 && !ApplySpeed()) return false;
  LoadSentences(path);
  windowBlocks = EngineBasics::WindowBlocks(playFormat.nAvgBytesPerSec, horizontalSeconds.load());
  silenceRing.Recreate(windowBlocks);
  paused = false;
  stopped = false;
  currentPath = path;
  shownPassageStart = 0;
  shownPassageEnd = 0;
  itemsOpened.fetch_add(1);
  soundDecoded = false;
  searchedBytes = 0;
  nothingFoundDue = false;
  nothingFoundTold = false;
  // The mode goes first: the decoder measures silence only while reading, and
  // must not read a block before it knows.
  StoreFlags(ENG_PLAYING);
  itemHeardPosition = start;
  lastFinishedPosition = start;
  if (start > 0) {
    cursor.ReadAgainFrom(start);
  } else {
    cursor.Run();
  }
  return true;
}

void EngineCore::LoadSentences(const std::string& soundPath) {
  analysis.Stop();
  sentences.Clear();
  haveSentences = false;
  listKind = kNoList;
  sentencesPath = soundPath;
  const SentenceSource source{transcriptSplit.load(), adaptiveSplit.load(), transcriptsIgnored,
                              transcriptFile};
  const std::string file = source.TranscriptFor(soundPath);
  if (!file.empty()) {
    std::string note;
    haveSentences = sentences.Load(file, itemByteRate.load(), playFormat.nBlockAlign,
                                   fileLength.load(), padBeforeMs.load(), padAfterMs.load(), &note);
    listKind = kTranscriptList;
    if (view) view->SentencesChanged();
    // Told once: a list that plays round opens the item again and again.
    if (!note.empty() && view && transcriptsTold.insert(file).second)
      view->TranscriptNote(file, note);
    if (!source.Analyses(haveSentences.load())) return;
  }
  if (source.Analyses(false)) StartAnalysis(soundPath);
  if (view) view->SentencesChanged();
}

void EngineCore::StartAnalysis(const std::string& soundPath) {
  std::string extension;
  ExtensionOfPath(soundPath, &extension);
  std::unique_ptr<CodecCopy>& copy = analysisCodecs[extension];
  if (!copy) {
    copy = std::make_unique<CodecCopy>();
    std::string problem;
    if (!copy->Load(registry.FindModule(extension), &problem)) {
      copy.reset();
      if (view)
        view->SplitNote("the sound cannot be analysed (" + problem +
                        "); sentences are found at pauses instead");
      return;
    }
  }
  listKind = kAdaptiveList;
  analysis.Start(
      copy->Codec(), soundPath, {minPauseMs.load(), maxSentenceMs.load()},
      {padBeforeMs.load(), padAfterMs.load()}, &sentences,
      [this, lastShown = std::chrono::steady_clock::time_point()](
          size_t found, bool done, const std::string& problem) mutable {
        if (found > 0) haveSentences = true;
        // The window redraws the list: not for every few seconds analysed.
        const auto now = std::chrono::steady_clock::now();
        if (view && (done || now - lastShown > std::chrono::milliseconds(200))) {
          lastShown = now;
          view->SentencesChanged();
        }
        if (done && found == 0 && view) {
          view->SplitNote(problem.empty()
                              ? "the adaptive split found no sentence in this sound: try a "
                                "shorter pause, or the pause method"
                              : "the sound cannot be analysed (" + problem +
                                    "); try the pause method");
        }
        waker.Notify(Waker::kEngine);
      });
  // Batch work must hear the same sentences every run; the window starts
  // once the first is known (a few milliseconds), never much later.
  analysis.WaitFirst(lockstep.load() ? -1 : 250);
}

bool EngineCore::SentenceStops() const {
  if (!autoMode.load() || !haveSentences.load() || !readingItem.load()) return false;
  const int kind = listKind.load();
  return kind == kTranscriptList ? transcriptSplit.load()
                                 : kind == kAdaptiveList && adaptiveSplit.load();
}

bool EngineCore::SplitsAtPauses() const {
  // The adaptive split, even before it has found anything (or when it finds
  // nothing), leaves the pauses alone: the learner chose it instead.
  return !SentenceStops() && !(listKind.load() == kAdaptiveList && adaptiveSplit.load());
}

uint32_t EngineCore::SentenceStopAfter(uint32_t position) const {
  return SentenceStops() ? sentences.EndAfter(position) : 0;
}

bool EngineCore::SentenceTarget(int step, uint32_t position, uint32_t* target) const {
  if (haveSentences.load()) {
    const int here = sentences.IndexAt(position);
    Sentence s;
    const int wanted = step == 0 ? std::max(here, 0) : here + step;
    if (wanted < 0 || !sentences.At(static_cast<size_t>(wanted), &s)) return false;
    *target = s.start;
    return true;
  }
  // Without a transcript the marks are the sentences.
  bool found = false;
  for (uint32_t k = 0; k < markRing.Count(); ++k) {
    uint32_t mark;
    if (!markRing.Get(k, &mark)) break;
    const bool fits = step > 0 ? mark > position : step < 0 ? mark < position : mark <= position;
    const bool better = !found || (step > 0 ? mark < *target : mark > *target);
    if (fits && better) {
      *target = mark;
      found = true;
    }
  }
  return found;
}

void EngineCore::SetAdaptiveSplit(bool on, int pauseMs, int sentenceMs) {
  adaptiveSplit = on;
  minPauseMs = std::clamp(pauseMs, 100, 5000);
  maxSentenceMs = std::clamp(sentenceMs, 2000, 120000);
  splitChanged = true;
  waker.Notify(Waker::kEngine);
}

void EngineCore::SetGaps(const GapSettings& gaps) {
  gapKind = static_cast<int>(gaps.kind);
  gapValue = std::clamp(gaps.value, 0.0f, 600.0f);
  pauseAfterSeconds = std::clamp(gaps.pauseAfterSeconds, 0.0f, 600.0f);
  stopAfterSentence = gaps.stopAfterSentence;
  recordInGap = gaps.recordInGap;
  turnInputFailed = false;
}

GapSettings EngineCore::Gaps() const {
  GapSettings gaps;
  gaps.kind = static_cast<GapSettings::Kind>(gapKind.load());
  gaps.value = gapValue.load();
  gaps.pauseAfterSeconds = pauseAfterSeconds.load();
  gaps.stopAfterSentence = stopAfterSentence.load();
  gaps.recordInGap = recordInGap.load();
  return gaps;
}

uint32_t EngineCore::GapBytes(uint32_t start, uint32_t end, bool last) const {
  const double rate = itemByteRate.load();
  double bytes = 0;
  if (last && pauseAfterSeconds.load() > 0) {
    bytes = pauseAfterSeconds.load() * rate;
  } else if (gapKind.load() == static_cast<int>(GapSettings::Kind::kSeconds)) {
    bytes = gapValue.load() * rate;
  } else if (gapKind.load() == static_cast<int>(GapSettings::Kind::kFactor)) {
    bytes = static_cast<double>(end > start ? end - start : 0) * gapValue.load();
  }
  const uint32_t align = std::max<uint32_t>(playFormat.nBlockAlign, 1);
  const uint32_t whole = static_cast<uint32_t>(std::min(bytes, 600.0 * rate));
  return whole - whole % align;
}

void EngineCore::SetSentencePads(int beforeMs, int afterMs) {
  padBeforeMs = std::clamp(beforeMs, 0, 5000);
  padAfterMs = std::clamp(afterMs, 0, 5000);
}

void EngineCore::CommandSentence(int step) {
  repeatIndex = -1;
  sentenceStep = std::clamp(step, -1, 1);
  Post(ENG_SENTENCE_REQ);
}

void EngineCore::CommandRepeatSentence(int index) {
  repeatIndex = std::max(index, 0);
  Post(ENG_SENTENCE_REQ);
}

bool EngineCore::ReopenItem() {
  const bool opened = OpenSound(currentPath);
  readingItem = opened;
  return opened;
}

void EngineCore::OpenNextItem() {
  const int n = playlist.Count();
  if (n <= 0) return;
  const int selection = playlist.Selection();
  int index = playlistIndex.load();
  if (selection < 0 || selection == index) {
    if (stopAtListEnd.load() && index + 1 >= n) {
      listFinished = true;
      return;
    }
    index = (index + 1) % n;
    if (index < 0) index = 0;
  } else {
    index = selection;
  }
  for (int tries = 0; tries < n; ++tries) {
    playlistIndex = index;
    playlist.Select(index);
    if (view) view->PlaylistSelectionChanged(index);
    if (OpenItem(playlist.At(index)) || NoOutputDevice()) return;
    if (stopAtListEnd.load() && index + 1 >= n) {
      listFinished = true;
      return;
    }
    index = (index + 1) % n;
  }
}

void EngineCore::OpenItemAt(int index) {
  const int n = playlist.Count();
  if (n <= 0) return;
  if (index < 0 || index >= n) index = n - 1;
  for (int tries = 0; tries < n; ++tries) {
    // The entry tried is the engine's: status lines, Next and Previous go from it.
    playlistIndex = index;
    playlist.Select(index);
    if (view) view->PlaylistSelectionChanged(index);
    if (OpenItem(playlist.At(index)) || NoOutputDevice()) return;
    index = (index + 1) % n;
  }
}

bool EngineCore::NoOutputDevice() const {
  // No other entry would fare better: the learner's entry stays the one to play.
  return !waveOut && LastFault() == EngineFault::kNoOutputDevice;
}

bool EngineCore::OpenSound(const std::string& path) {
  EnableTransport(false);
  // Whatever was read or queued belongs to the sound being closed; a passage
  // end left from before (Stop during a mode) must not end the next one.
  cursor.AtStart(waveOut.get());
  readingItem = false;
  CodecServer* current = codec.load();
  if (current != nullptr && current->IsOpen()) current->Close();

  std::string extension;
  if (!ExtensionOfPath(path, &extension)) {
    SetLastError("\"" + path + "\" has no file extension");
    return false;
  }
  CodecServer* found = registry.FindCodec(extension);
  codec.store(found, std::memory_order_release);
  if (found == nullptr) {
    SetLastError("no codec plug-in handles \"." + extension + "\" files");
    return false;
  }
  if (waveOut && waveOut->IsOpen()) waveOut->Close();
  sentencePending = false;
  // Before any plug-in reads it: a FIFO would block the engine thread for ever.
  const std::string notAFile = WhyNotARegularFile(path);
  if (!notAFile.empty()) {
    SetLastError("cannot open \"" + path + "\": " + notAFile);
    return false;
  }
  if (found->Open(path.c_str(), &playFormat) == 0) {
    SetLastError("cannot open \"" + path + "\"");
    return false;
  }
  itemByteRate = playFormat.nAvgBytesPerSec;
  itemSampleRate = playFormat.nSamplesPerSec;
  soundLength = found->GetLength();
  EnableTransport(true);
  if (!ReopenOutput()) {
    EnableTransport(false);  // no device: nothing the transport could do
    return false;
  }
  volumeValue = EngineBasics::VolumeValue(volumePosition, kSliderMax, balancePosition, kSliderMax);
  waveOut->SetVolume(volumeValue);
  return true;
}

bool EngineCore::OpenOutput(bool fault) {
  if (waveOut && waveOut->IsOpen()) waveOut->Close();
  waveOut = audio.CreateWaveOut();
  // A window shows each buffer as it finishes (the waveform, the time): 25
  // times a second looks smooth. Without one, finished buffers only move the
  // place on, which 10 times a second does as well at less cost.
  waveOut->SetServiceInterval(view && view->DrawsSound() ? 40 : 100);
  const bool ok = waveOut->Open(
      playFormat, [this](WaveDevice* d, uint32_t m, WaveHdr* h) { OnWaveOutDone(d, m, h); });
  if (!ok) {
    SetLastError("cannot open the sound output: " + waveOut->LastError(), fault,
                 EngineFault::kNoOutputDevice);
    waveOut.reset();
    outputRate = 0;
    return false;
  }
  playBits = playFormat.wBitsPerSample;
  outputRate = playFormat.nSamplesPerSec;
  outputTempo = 1.0f;
  outputPaused = false;
  if (view) {
    view->SetSampleFormat(playFormat.nSamplesPerSec, playFormat.wBitsPerSample,
                          playFormat.nChannels);
  }
  return true;
}

bool EngineCore::ReopenOutput() {
  cursor.Stop(waveOut.get());
  if (waveOut) waveOut->Close();
  waveOut.reset();
  return OpenOutput();
}

bool EngineCore::SeekTo(uint32_t position) {
  if (!waveOut || !waveOut->IsOpen()) return false;
  // A seek lands on a whole frame: between the bytes of a sample or the
  // channels of a frame every later sample would be shifted.
  const uint32_t landed = AlignToFrame(position);
  cursor.RestartAt(landed, 0, waveOut.get());
  // Paused, no buffer will finish to tell where the learner now is.
  if (paused.load()) {
    lastFinishedPosition = landed;
    if (readingItem.load()) itemHeardPosition = landed;
    ShowProgressAt(landed, fileLength.load());
  }
  return true;
}

uint32_t EngineCore::AlignToFrame(uint32_t position) const {
  const uint32_t align = playFormat.nBlockAlign;
  return align > 1 ? position - position % align : position;
}

bool EngineCore::ChangeSpeed() {
  if (!waveOut || !waveOut->IsOpen()) return false;
  // Reading goes on from what was heard last (or the last mark); whatever was
  // read before the change is dropped.
  uint32_t resume = 0;
  if (!cursor.StopAtHeard(waveOut.get(), playFormat.nBlockAlign, &resume)) {
    cursor.Stop(waveOut.get());
    if (!markRing.Get(0, &resume)) resume = 0;
  }
  if (!ApplySpeed()) return false;
  cursor.RestartAt(resume, 0, waveOut.get());
  return true;
}

bool EngineCore::ApplySpeed() {
  const uint32_t fileRate = playFormat.nSamplesPerSec;
  const uint32_t fileByteRate = playFormat.nAvgBytesPerSec;
  const bool keep = keepPitch.load();
  const int position = speedPosition.load();
  appliedSpeed = position;
  appliedKeepPitch = keep;
  if (keep && waveOut->Format().nSamplesPerSec == fileRate) {
    waveOut->SetTempo(EngineBasics::SpeedTempo(position, kSliderMax));
    outputTempo = static_cast<float>(waveOut->Tempo());
    return true;
  }
  const uint32_t frameBytes = playFormat.nChannels * (playFormat.wBitsPerSample / 8);
  // With the pitch kept the device goes back to the file's rate (from a lower one).
  uint32_t rate = keep ? fileRate : EngineBasics::SpeedRate(fileRate, position, kSliderMax);
  playFormat.nSamplesPerSec = rate;
  playFormat.nAvgBytesPerSec = frameBytes * rate;
  bool ok = true;
  if (waveOut->Close()) {
    waveOut.reset();
    EnableTransport(false);
    // Some devices refuse some rates: the nearest faster one that opens will do.
    while (!OpenOutput(false)) {
      rate += 500;
      playFormat.nSamplesPerSec = rate;
      playFormat.nAvgBytesPerSec = frameBytes * rate;
      if (rate > fileRate) {
        faults.fetch_add(1);  // every rate refused: the last refusal stands as the error
        ok = false;
        break;
      }
    }
    if (ok) {
      EnableTransport(true);
      waveOut->SetVolume(volumeValue);
      if (keep) waveOut->SetTempo(EngineBasics::SpeedTempo(position, kSliderMax));
      outputTempo = static_cast<float>(waveOut->Tempo());
    }
  }
  playFormat.nSamplesPerSec = fileRate;
  playFormat.nAvgBytesPerSec = fileByteRate;
  return ok;
}

void EngineCore::ApplyVolume() {
  if (waveOut && waveOut->IsOpen()) waveOut->SetVolume(volumeValue);
}

bool EngineCore::SoundRunning() const {
  const uint32_t flags = engineFlags.load();
  if (flags & ENG_RECORDING) return true;
  // Between two items (or two modes) the sound goes on once the change is served.
  if (flags & ENG_ITEM_CHANGE) return !stopped.load();
  // An empty recording played back has nothing to queue, ever.
  if ((flags & ENG_PLAYING_BACK) && soundLength.load() == 0) return false;
  return (flags & ENG_SOUNDING_MODES) && !outputPaused.load() && !stopped.load();
}

bool EngineCore::PauseDevice(bool pause) {
  if (!waveOut) return false;
  const bool ok = pause ? waveOut->Pause() : waveOut->Restart();
  if (ok) outputPaused = pause;
  return ok;
}

bool EngineCore::PauseOutput(bool pauseResumes) {
  if (!PauseDevice(true)) return false;
  if (view) view->ShowPaused(pauseResumes);
  return true;
}

bool EngineCore::RestartOutput() {
  if (!PauseDevice(false)) return false;
  EnableTransport(true);
  return true;
}

bool EngineCore::CloseOutput() {
  if (!waveOut) return false;
  cursor.Stop(waveOut.get());
  if (!waveOut->Close()) return false;
  waveOut.reset();
  outputRate = 0;
  stopped = true;
  EnableTransport(false);
  return true;
}

bool EngineCore::OpenInput() {
  if (waveIn && waveIn->IsOpen()) CloseInput();
  waveIn = audio.CreateWaveIn();
  const bool ok = waveIn->Open(
      recordFormat, [this](WaveDevice* d, uint32_t m, WaveHdr* h) { OnWaveInData(d, m, h); });
  if (!ok) {
    SetLastError("cannot open the sound input: " + waveIn->LastError(), true,
                 EngineFault::kNoInputDevice);
    waveIn.reset();
  }
  return ok;
}

bool EngineCore::CloseInput() {
  if (!waveIn) return false;
  waveIn->Reset();
  const bool ok = waveIn->Close();
  waveIn.reset();
  return ok;
}

// ---- callbacks ----

void EngineCore::OnWaveOutDone(WaveDevice*, uint32_t message, WaveHdr* header) {
  if (message != MM_WOM_DONE) return;
  WaveBufferPool& pool = cursor.Slots();
  WaveSlot* first = pool.SlotAt(0);
  if (first == nullptr) return;
  const ptrdiff_t finished =
      (reinterpret_cast<uint8_t*>(header) - reinterpret_cast<uint8_t*>(&first->header)) /
      static_cast<ptrdiff_t>(sizeof(WaveSlot));
  if (finished < 0 || finished > static_cast<ptrdiff_t>(pool.Count())) return;
  const WaveSlot* done = pool.SlotAt(static_cast<uint32_t>(finished));
  lastFinishedPosition.store(done->position.load(std::memory_order_relaxed));
  if (readingItem.load()) itemHeardPosition.store(done->position.load(std::memory_order_relaxed));
  // A play of a repeated passage has begun to sound.
  if ((engineFlags.load() & ENG_REPEATING) &&
      done->position.load(std::memory_order_relaxed) == shownPassageStart.load())
    playsHeard.fetch_add(1);
  pool.NoteFinished(*done);
  buffersFinished.fetch_add(1);
  const WaveSlot* sounding =
      pool.SlotAt((static_cast<uint32_t>(finished) + 1) % (pool.Count() + 1));
  // A slot still queued at the device is not touched by the engine until it
  // comes back, which cannot happen while this callback runs.
  if (sounding->header.dwFlags.load(std::memory_order_acquire) & WHDR_INQUEUE) {
    cursor.NoteSounding(*sounding);
    if (view) view->ShowBuffer(sounding->header.lpData, sounding->header.dwBufferLength);
  }

  const uint32_t flags = engineFlags.load();
  if (flags & ENG_SOUNDING_MODES) ShowProgress(*done, *sounding);
  // Sentence detection over the buffers just heard.
  if (autoMode.load() && !sentencePending.load() && (flags & ENG_PLAYING) && SplitsAtPauses())
    DetectSentence(*sounding);
  // The engine needs to hear of a finished buffer when it raised a request,
  // when the queue runs low (at half, then at every halving: room to refill
  // before the device runs dry) or empty (an item or a play may have ended);
  // waking it for every buffer only costs thread switches. With nothing yet
  // to hand over (the decoder is behind: reading offline, a slow file) the
  // decoder's next batch wakes it instead, so that blocks go over in batches.
  const uint32_t slots = pool.Count() + 1;
  const uint32_t queued = (pool.SendIndex() + slots - static_cast<uint32_t>(finished) - 1) % slots;
  const bool halving = queued <= slots / 2 && (queued & (queued - 1)) == 0;
  if (callbackRaised.load() || ((queued == slots / 2 || halving) && !cursor.AwaitingDecoder()))
    waker.Notify(Waker::kEngine);
}

void EngineCore::ShowProgress(const WaveSlot& done, const WaveSlot& sounding) {
  const uint32_t length = readingItem.load() ? fileLength.load() : soundLength.load();
  if (progressCounter.fetch_add(1) + 1 <= 10 || length == 0) return;
  progressCounter = 0;
  // The slot after the finished one is the sounding one only once it is queued.
  const bool queued = sounding.header.dwFlags.load(std::memory_order_acquire) & WHDR_INQUEUE;
  const WaveSlot& shown = queued ? sounding : done;
  ShowProgressAt(shown.nextPosition.load(std::memory_order_relaxed), length);
}

void EngineCore::ShowProgressAt(uint32_t position, uint32_t length) {
  if (view == nullptr || length == 0) return;
  const double fraction = static_cast<double>(position) / length;
  view->SetProgressPosition(static_cast<int>(fraction * kProgressMax));
}

void EngineCore::DetectSentence(const WaveSlot& sounding) {
  const float ratio = sounding.silenceRatio.load(std::memory_order_relaxed);
  // Half a minute heard without a sentence end: the pause method finds none
  // in this lesson, and the learner is told (once an item) what to try.
  // (Counted in whole blocks: the sounding slot's header is the engine's to refill.)
  const uint64_t heard = searchedBytes.fetch_add(kBlockSize);
  const uint64_t limit = static_cast<uint64_t>(itemByteRate.load()) * kNothingFoundSeconds;
  if (heard < limit && heard + kBlockSize >= limit && !nothingFoundTold.exchange(true))
    nothingFoundDue = true;
  if (!silenceRing.Feed(ratio > 0.8f, windowBlocks.load(), SilenceRing::Measured(ratio))) return;
  searchedBytes = 0;
  if (!(engineFlags.load() & (ENG_REPEATING | ENG_REPEAT_REQ))) {
    sentencePending = true;
    sentencesFound.fetch_add(1);
    callbackRaised = true;
    engineFlags.fetch_or(ENG_REPEAT_REQ);
  }
  silenceRing.Clear();
}

void EngineCore::OnWaveInData(WaveDevice*, uint32_t message, WaveHdr* header) {
  if (message != MM_WIM_DATA) return;
  if (view) view->ShowBuffer(header->lpData, header->dwBytesRecorded);
  waker.Notify(Waker::kEngine);
}

// ---- the engine thread's operations ----

uint32_t EngineCore::LookAtFlags(bool byStep) {
  const uint32_t flags = engineFlags.load();
  if (byStep) flagsSeen |= flags;
  return flags;
}

void EngineCore::ShowMode(EngineMode mode, ModeShown shown) {
  if (view) view->ShowMode(mode, shown);
}

void EngineCore::ShowPassage(uint32_t start, uint32_t end) {
  shownPassageStart = start;
  shownPassageEnd = end;
}

uint32_t EngineCore::HeardOrMarked() const {
  uint32_t here = 0;
  if (!cursor.LastPlayed(&here) && !markRing.Get(0, &here)) here = 0;
  return here;
}

bool EngineCore::PassageFromOutput(bool outputStarted, uint32_t* start, uint32_t* end) {
  if (!outputStarted || !cursor.StopAtHeard(waveOut.get(), playFormat.nBlockAlign, end))
    return false;
  uint32_t a;
  if (markRing.Get(0, &a)) *start = a;
  if (*end > *start) markRing.Push(*end);
  return true;
}

bool EngineCore::LastMarkedPassage(uint32_t* start, uint32_t* end) const {
  uint32_t a, b;
  if (!markRing.Get(0, &b) || !markRing.Get(1, &a)) return false;
  *end = b;
  *start = a;
  return true;
}

void EngineCore::ResumeIfPaused() {
  if (paused.load()) {
    RestartOutput();
    paused = false;
  }
}

void EngineCore::ReadFrom(uint32_t position, uint32_t limit) {
  cursor.RestartAt(position, limit, waveOut.get());
}

bool EngineCore::ReopenToReadOn() {
  if (!ReopenItem()) {
    StoreFlags(ENG_ITEM_CHANGE);
    return false;
  }
  sentencePending = false;
  return true;
}

bool EngineCore::FeedOutput() {
  bool wrote = false;
  for (uint32_t i = 0; i <= cursor.Slots().Count() && cursor.Feed(waveOut.get()); ++i)
    wrote = true;
  return wrote;
}

void EngineCore::ApplySplitChange() {
  if (splitChanged.exchange(false) && !sentencesPath.empty()) LoadSentences(sentencesPath);
}

void EngineCore::EndPass(bool awaitBuffer, uint32_t restMs, uint32_t busyMs) {
  passes.fetch_add(1);
  SettledSleep(awaitBuffer ? 50 : engineFlags.load() == 0 ? restMs : busyMs);
}

void EngineCore::NoticeLostDevice() {
  const bool input = waveIn && waveIn->Lost();
  const bool output = waveOut && waveOut->Lost();
  if ((!input && !output) || (engineFlags.load() & ENG_STOP_REQ)) return;
  if (!currentPath.empty()) {
    lostPath = currentPath;
    lostPosition = itemHeardPosition.load();
    lostSpeed = speedPosition.load();
  }
  // A recording keeps what was recorded up to the loss (Stop finishes it).
  SetLastError(std::string("the sound ") + (input ? "input" : "output") +
                   " went away (its sound server ended, or the device was unplugged); "
                   "press Play when it is back",
               true, EngineFault::kDeviceLost);
  engineFlags.fetch_or(ENG_STOP_REQ);
  waker.Notify(Waker::kEngine);
}

void EngineCore::StopAll() {
  // The decoder is stopped and waited for, not just told: a read still under
  // way must not meet the next item's Close.
  if (waveOut) CloseOutput();
  cursor.Stop(nullptr);
  cursor.SetLimit(0);
  StoreFlags(0);
}

void EngineCore::CloseForQuit() {
  engineFlags.store(ENG_QUIT);
  if (waveIn) CloseInput();
  recorder.Finish();
  if (waveOut) {
    cursor.ReturnBuffers(waveOut.get());
    waveOut->Close();
    waveOut.reset();
  }
  engineFlags.store(ENG_EXITED);
  waker.Notify();
}
