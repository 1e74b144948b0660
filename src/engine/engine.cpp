#include "engine/engine.h"

#include "engine/engine_core.h"

Engine::Engine(AudioBackend& audio, CodecRegistry& registry, Playlist& playlist, EngineView* view)
    : core(std::make_unique<EngineCore>(audio, registry, playlist, view)) {}

Engine::~Engine() {
  core->Shutdown();
  // Freed under a thread that still runs, the core would crash the program on
  // its way out; it is left to the process's end instead.
  if (core->ThreadsLeft()) (void)core.release();
}

bool Engine::AllocateBuffers() {
  return core->AllocateBuffers();
}
void Engine::ReleaseBuffers() {
  core->ReleaseBuffers();
}
void Engine::StartThreads() {
  core->StartThreads();
}
bool Engine::Shutdown() {
  return core->Shutdown();
}
void Engine::SetProgramDir(const std::string& dir) {
  core->SetProgramDir(dir);
}
const std::string& Engine::ProgramDir() const {
  return core->ProgramDir();
}
void Engine::PlayListOnce() {
  core->PlayListOnce();
}
void Engine::SetLockstep(bool on) {
  core->SetLockstep(on);
}
void Engine::SetStartSpeed(int position) {
  core->SetStartSpeed(position);
}
void Engine::SetResumeStore(ResumeStore* store) {
  core->SetResumeStore(store);
}
void Engine::SetTranscriptFile(const std::string& path) {
  core->SetTranscriptFile(path);
}
void Engine::IgnoreTranscripts(bool ignore) {
  core->IgnoreTranscripts(ignore);
}
void Engine::CommandSentence(int step) {
  core->CommandSentence(step);
}
void Engine::CommandRepeatSentence(int index) {
  core->CommandRepeatSentence(index);
}
void Engine::SetTranscriptSplit(bool on) {
  core->SetTranscriptSplit(on);
}
bool Engine::TranscriptSplit() const {
  return core->TranscriptSplit();
}
void Engine::SetAdaptiveSplit(bool on, int minPauseMs, int maxSentenceMs) {
  core->SetAdaptiveSplit(on, minPauseMs, maxSentenceMs);
}
bool Engine::AdaptiveSplit() const {
  return core->AdaptiveSplit();
}
void Engine::SetGaps(const GapSettings& gaps) {
  core->SetGaps(gaps);
}
GapSettings Engine::Gaps() const {
  return core->Gaps();
}
void Engine::SetSentencePads(int beforeMs, int afterMs) {
  core->SetSentencePads(beforeMs, afterMs);
}
std::vector<Sentence> Engine::Sentences() const {
  return core->Sentences();
}
void Engine::CommandPlay() {
  core->CommandPlay();
}
void Engine::CommandPause() {
  core->Post(ENG_PAUSE_REQ);
}
void Engine::CommandStop() {
  core->Post(ENG_STOP_REQ);
}
void Engine::EntryRemoved(int index) {
  core->EntryRemoved(index);
}
void Engine::CommandPrevious() {
  core->CommandPrevious();
}
void Engine::CommandNext() {
  core->CommandNext();
}
void Engine::CommandRead() {
  core->Post(ENG_READ_REQ);
}
void Engine::CommandRepeat() {
  core->Post(ENG_REPEAT_REQ);
}
void Engine::CommandRecord() {
  core->Post(ENG_RECORD_REQ);
}
void Engine::CommandPlayBack() {
  core->Post(ENG_PLAYBACK_REQ);
}
void Engine::CommandCompare() {
  core->Post(ENG_COMPARE_REQ);
}
void Engine::CommandPlayEntry(int index) {
  core->CommandPlayEntry(index);
}
bool Engine::CommandAutoManual() {
  return core->CommandAutoManual();
}
void Engine::ApplySettings(uint32_t count, uint32_t vertical, float seconds, uint32_t percent) {
  core->ApplySettings(count, vertical, seconds, percent);
}
void Engine::ProgressSlider(int position) {
  core->ProgressSlider(position);
}
void Engine::SpeedSlider(int position) {
  core->SpeedSlider(position);
}
void Engine::VolumeSlider(int position) {
  core->VolumeSlider(position);
}
void Engine::BalanceSlider(int position) {
  core->BalanceSlider(position);
}
void Engine::SetKeepPitch(bool on) {
  core->SetKeepPitch(on);
}
bool Engine::KeepPitch() const {
  return core->KeepPitch();
}
void Engine::WakeEngine() {
  core->WakeEngine();
}
void Engine::AwaitEngineSleep(uint32_t ms) {
  core->AwaitEngineSleep(ms);
}
EngineStatus Engine::Status() const {
  return core->Status();
}
const char* Engine::Mode() const {
  return core->Mode();
}
bool Engine::SoundRunning() const {
  return core->SoundRunning();
}
std::string Engine::LastError() const {
  return core->LastError();
}
uint32_t Engine::Faults() const {
  return core->Faults();
}
EngineFault Engine::LastFault() const {
  return core->LastFault();
}

uint32_t Engine::VolumeValue(int volume, int volumeMax, int balance, int balanceMax) {
  const uint32_t level = static_cast<uint32_t>(volume * (65535.0 / volumeMax));
  const int half = balanceMax / 2;
  if (half == 0) return level << 16 | level;
  // The low word is the left channel: the slider's left end is the learner's left.
  const uint32_t right = level * static_cast<uint32_t>(std::min(half, balance)) / half;
  const uint32_t left = level * static_cast<uint32_t>(std::min(half, balanceMax - balance)) / half;
  return right * 65536 + left;
}

uint32_t Engine::SpeedRate(uint32_t fileRate, int position, int maximum) {
  // At rest the slider plays the file as it is (22050 Hz, not 22000).
  if (maximum <= 0 || position <= 0) return fileRate;
  if (position >= maximum) position = maximum - 1;
  const uint32_t slower = static_cast<uint32_t>(static_cast<double>(position) / maximum * fileRate);
  const uint32_t rate = (fileRate - slower) / 100 * 100;
  return std::max<uint32_t>(rate, 5000);
}

double Engine::SpeedTempo(int position, int maximum) {
  if (maximum <= 0 || position <= 0) return 1.0;
  return std::max(static_cast<double>(maximum - std::min(position, maximum)) / maximum,
                  TempoStretcher::kSlowest);
}

double Engine::SpeedFactor(int position, int maximum, bool keepPitch, uint32_t fileRate) {
  if (keepPitch) return SpeedTempo(position, maximum);
  if (fileRate == 0) return 1.0;
  return static_cast<double>(SpeedRate(fileRate, position, maximum)) / fileRate;
}

uint32_t Engine::WindowBlocks(uint32_t avgBytesPerSec, float seconds) {
  const float bytes = static_cast<float>(avgBytesPerSec) * seconds;
  const uint32_t whole = bytes > 0 ? static_cast<uint32_t>(bytes) : 0;
  return (whole + kBlockSize / 2) / kBlockSize;
}

const char* Engine::ModeName(uint32_t flags) {
  if (flags & ENG_RECORDING) return "recording";
  if (flags & ENG_REPEATING) return "repeating";
  if (flags & ENG_PLAYING_BACK) return "playing-back";
  if (flags & ENG_COMPARING) return "comparing";
  if (flags & ENG_PLAYING) return "reading";
  return "idle";
}
