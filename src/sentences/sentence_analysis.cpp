// SPDX-License-Identifier: GPL-3.0-or-later
#include "sentences/sentence_analysis.h"

#include <pthread.h>

#include <chrono>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t kReadBytes = 64 * 1024;
constexpr uint32_t kFirstLookSeconds = 10;  // enough frames for a noise floor
constexpr uint32_t kLookEverySeconds = 2;

}  // namespace

bool SentenceAnalysis::Run(CodecServer* codec, const std::string& path,
                           AdaptiveSplitter::Settings settings, Pads pads, SentenceList* list,
                           const std::atomic<bool>& cancel, const Published& published,
                           std::string* problem) {
  list->Clear();
  WaveFormatEx format{};
  if (codec->Open(path.c_str(), &format) == 0) {
    *problem = "it cannot be opened for analysis";
    return false;
  }
  if (format.wBitsPerSample != 16 || format.nBlockAlign == 0 || format.nSamplesPerSec == 0) {
    codec->Close();
    *problem = "its sound is not 16-bit PCM";
    return false;
  }
  AdaptiveSplitter splitter;
  splitter.Start(format.nSamplesPerSec, format.nChannels, settings);
  std::vector<TranscriptCue> cues;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadBytes]);
  CodecBlock block{buffer.get(), kReadBytes - kReadBytes % format.nBlockAlign, 0, 0, 0, 0};
  uint64_t read = 0;
  uint64_t nextLook = static_cast<uint64_t>(format.nAvgBytesPerSec) * kFirstLookSeconds;
  auto publish = [&](bool atEnd) {
    if (!splitter.Take(&cues, atEnd) && !atEnd) return;
    // The plug-in may learn the true length only as it reads.
    const uint32_t length = codec->GetLength();
    list->Set(cues, format.nAvgBytesPerSec, format.nBlockAlign,
              length != 0xFFFFFFFFu ? length : static_cast<uint32_t>(read), pads.beforeMs,
              pads.afterMs);
    if (published) published(list->Count(), atEnd, std::string());
  };
  while (!cancel.load(std::memory_order_relaxed) && codec->Read(&block, 0) == kReadFilled) {
    splitter.Feed(block.data, block.bytesRead);
    read += block.bytesRead;
    block.position = block.nextPosition;
    if (read >= nextLook) {
      publish(false);
      nextLook = read + static_cast<uint64_t>(format.nAvgBytesPerSec) * kLookEverySeconds;
    }
  }
  codec->Close();
  if (cancel.load()) return false;
  publish(true);
  return true;
}

void SentenceAnalysis::Start(CodecServer* codec, const std::string& path,
                             AdaptiveSplitter::Settings settings, Pads pads, SentenceList* list,
                             Published published) {
  Stop();
  cancel = false;
  ended = false;
  found = false;
  thread = std::thread([=, this] {
    pthread_setname_np(pthread_self(), "analysis");
    std::string problem;
    const bool whole = Run(
        codec, path, settings, pads, list, cancel,
        [&](size_t sentences, bool done, const std::string&) {
          if (sentences > 0 || done) {
            std::lock_guard<std::mutex> hold(lock);
            found = true;
            firstFound.notify_all();
          }
          if (published) published(sentences, done, std::string());
        },
        &problem);
    if (!whole && !cancel.load() && published) published(list->Count(), true, problem);
    std::lock_guard<std::mutex> hold(lock);
    ended = true;
    firstFound.notify_all();
  });
}

void SentenceAnalysis::Stop() {
  cancel = true;
  if (thread.joinable()) thread.join();
}

void SentenceAnalysis::WaitFirst(int ms) {
  std::unique_lock<std::mutex> hold(lock);
  if (ms < 0)
    firstFound.wait(hold, [this] { return ended.load(); });
  else
    firstFound.wait_for(hold, std::chrono::milliseconds(ms), [this] { return found || ended; });
}
