// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "codec/codec_server.h"
#include "sentences/adaptive_splitter.h"
#include "sentences/sentence_list.h"

// The adaptive split of one item: its sound decoded ahead on a thread of its
// own, through a codec object nobody else uses, into a SentenceList that grows
// as the analysis goes on.
class SentenceAnalysis {
 public:
  struct Pads {
    int beforeMs = 150;
    int afterMs = 250;
  };
  // Called after the list grew, and once at the end (done), then with why the
  // sound could not be analysed when it could not.
  using Published = std::function<void(size_t sentences, bool done, const std::string& problem)>;

  ~SentenceAnalysis() { Stop(); }

  // Analyses path with codec; Stop (or the next Start) first ends an analysis
  // still running.
  void Start(CodecServer* codec, const std::string& path, AdaptiveSplitter::Settings settings,
             Pads pads, SentenceList* list, Published published);
  void Stop();
  // Waits until a first sentence is found or the analysis has ended, at most
  // ms (negative: until it has ended).
  void WaitFirst(int ms);
  bool Running() const { return thread.joinable() && !ended.load(); }

  // The whole analysis in the calling thread. False when the sound could not
  // be read (*problem says why) or cancel was set; the list holds what was found.
  static bool Run(CodecServer* codec, const std::string& path, AdaptiveSplitter::Settings settings,
                  Pads pads, SentenceList* list, const std::atomic<bool>& cancel,
                  const Published& published, std::string* problem);

 private:
  std::thread thread;
  std::atomic<bool> cancel{false};
  std::atomic<bool> ended{false};
  std::mutex lock;
  std::condition_variable firstFound;
  bool found = false;  // guarded by lock
};
