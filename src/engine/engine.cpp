// SPDX-License-Identifier: GPL-3.0-or-later
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
