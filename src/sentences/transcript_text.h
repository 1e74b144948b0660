// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// A transcript file's bytes as UTF-8 text. UTF-8 (with or without its byte
// order mark) and UTF-16 with a byte order mark are taken as they say; bytes
// that are not UTF-8 are read as GB18030 (which covers GBK and GB2312: a
// Chinese LRC from the web usually is one of them), and what is not that
// either as Latin-1, so that no file is refused for its encoding alone.
class TranscriptText {
 public:
  // The text, and in *encoding the name of what it was read as.
  static std::string ToUtf8(const std::string& bytes, std::string* encoding = nullptr);

  static bool IsUtf8(const std::string& bytes);

 private:
  // bytes converted from the iconv encoding from; false when they are not in it.
  static bool Convert(const std::string& bytes, const char* from, std::string* out);
};
