// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cli_view.h"

void CliView::TranscriptNote(const std::string& path, const std::string& note) {
  std::lock_guard<std::mutex> hold(lock);
  err << "kestro-cli: transcript " << path << ": " << note << std::endl;
}

void CliView::SplitNote(const std::string& note) {
  std::lock_guard<std::mutex> hold(lock);
  err << "kestro-cli: " << note << std::endl;
}
