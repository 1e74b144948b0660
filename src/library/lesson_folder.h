// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <vector>

// A folder opened as lessons: its sound files (those whose extension a codec
// plug-in plays: no playlist, transcript or other file, nor subfolders),
// in name order. Their transcripts beside them are found as always.
class LessonFolder {
 public:
  static bool IsFolder(const std::string& path);
  // playable(extension), extension lower-case without the dot.
  static std::vector<std::string> Lessons(const std::string& folder,
                                          const std::function<bool(const std::string&)>& playable);
};
