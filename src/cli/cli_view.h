// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <mutex>
#include <ostream>

#include "engine/engine_view.h"

// What the engine tells kestro-cli that a learner must read: written to the
// stream given (standard error), one line each.
class CliView : public EngineView {
 public:
  explicit CliView(std::ostream& err) : err(err) {}
  void TranscriptNote(const std::string& path, const std::string& note) override;
  void SplitNote(const std::string& note) override;

 private:
  std::mutex lock;
  std::ostream& err;
};
