// SPDX-License-Identifier: GPL-3.0-or-later
#include "sentences/transcript_text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

bool TranscriptText::IsUtf8(const std::string& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    int follow = 0;
    uint32_t code = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      follow = 1;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      follow = 2;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      follow = 3;
      code = c & 0x07;
    } else {
      return false;
    }
    for (int k = 1; k <= follow; ++k) {
      if (i + k >= n || (p[i + k] & 0xC0) != 0x80) return false;
      code = (code << 6) | (p[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not UTF-8.
    static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (code < kLeast[follow] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return false;
    i += follow + 1;
  }
  return true;
}

bool TranscriptText::Convert(const std::string& bytes, const char* from, std::string* out) {
  iconv_t cd = iconv_open("UTF-8", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result(bytes.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  size_t done = 0;
  bool ok = true;
  while (inLeft > 0) {
    char* target = result.data() + done;
    size_t room = result.size() - done;
    const size_t r = iconv(cd, &in, &inLeft, &target, &room);
    done = result.size() - room;
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      result.resize(result.size() * 2);
    } else {
      ok = false;  // a sequence that is not in the encoding, or cut off
      break;
    }
  }
  iconv_close(cd);
  if (!ok) return false;
  result.resize(done);
  *out = std::move(result);
  return true;
}

std::string TranscriptText::ToUtf8(const std::string& bytes, std::string* encoding) {
  auto told = [&](const char* name) {
    if (encoding != nullptr) *encoding = name;
  };
  std::string text;
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    told("UTF-8");
    return bytes.substr(3);
  }
  if (bytes.compare(0, 2, "\xFF\xFE") == 0 && Convert(bytes.substr(2), "UTF-16LE", &text)) {
    told("UTF-16LE");
    return text;
  }
  if (bytes.compare(0, 2, "\xFE\xFF") == 0 && Convert(bytes.substr(2), "UTF-16BE", &text)) {
    told("UTF-16BE");
    return text;
  }
  if (IsUtf8(bytes)) {
    told("UTF-8");
    return bytes;
  }
  if (Convert(bytes, "GB18030", &text)) {
    told("GB18030");
    return text;
  }
  Convert(bytes, "ISO-8859-1", &text);
  told("ISO-8859-1");
  return text;
}
