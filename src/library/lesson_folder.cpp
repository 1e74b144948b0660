// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/lesson_folder.h"

#include <algorithm>
#include <filesystem>

#include "codec/codec_registry.h"

bool LessonFolder::IsFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

std::vector<std::string> LessonFolder::Lessons(
    const std::string& folder, const std::function<bool(const std::string&)>& playable) {
  std::vector<std::string> lessons;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::error_code kind;
    if (!entry.is_regular_file(kind)) continue;
    std::string extension;
    if (ExtensionOfPath(entry.path().filename().string(), &extension) && playable(extension))
      lessons.push_back(entry.path().string());
  }
  std::sort(lessons.begin(), lessons.end());
  return lessons;
}
