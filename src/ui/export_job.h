// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "codec/codec_copy.h"
#include "export/clip_exporter.h"

// The open item's sentences written as clips on a thread of its own, through
// a private copy of the item's plug-in: the window goes on playing and
// answering while it works, and may cancel it between two clips.
class ExportJob {
 public:
  struct Request {
    std::string lessonPath;
    std::vector<ClipExporter::Span> spans;
    std::string dir;
    bool force = false;
    WavFileWriter::Options options;
  };

  ExportJob() = default;
  ~ExportJob();  // cancels and waits
  ExportJob(const ExportJob&) = delete;
  ExportJob& operator=(const ExportJob&) = delete;

  // Starts the work with a copy of module (the item's plug-in library); false
  // with *problem set when that cannot be loaded.
  bool Start(void* module, Request request, std::string* problem);
  void Cancel() { cancelled = true; }
  bool Cancelled() const { return cancelled; }
  bool Finished() const { return finished; }
  size_t Done() const { return done; }
  size_t Total() const { return total; }
  // Once Finished: whether every clip and the list were written, and if not why.
  bool Succeeded() const { return succeeded; }
  std::string Error() const;
  void Wait();

 private:
  CodecCopy codec;
  std::thread worker;
  std::atomic<bool> cancelled{false};
  std::atomic<bool> finished{false};
  std::atomic<bool> succeeded{false};
  std::atomic<size_t> done{0};
  std::atomic<size_t> total{0};
  mutable std::mutex mutex;
  std::string error;
};
