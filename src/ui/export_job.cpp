// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/export_job.h"

ExportJob::~ExportJob() {
  Cancel();
  Wait();
}

bool ExportJob::Start(void* module, Request request, std::string* problem) {
  if (worker.joinable()) {
    *problem = "an export is under way";
    return false;
  }
  if (!codec.Load(module, problem)) return false;
  total = request.spans.size();
  worker = std::thread([this, r = std::move(request)] {
    std::string why;
    ClipExporter exporter;
    const bool ok = exporter.Export(codec.Codec(), r.lessonPath, r.spans, r.dir, r.force, r.options,
                                    &why, [this](size_t clips, size_t) {
                                      done = clips;
                                      return !cancelled.load();
                                    });
    {
      std::lock_guard<std::mutex> lock(mutex);
      error = why;
    }
    succeeded = ok;
    finished = true;
  });
  return true;
}

std::string ExportJob::Error() const {
  std::lock_guard<std::mutex> lock(mutex);
  return error;
}

void ExportJob::Wait() {
  if (worker.joinable()) worker.join();
}
