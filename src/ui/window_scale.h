// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// How large the window is drawn: a whole factor of the skin's pixels, so that
// every pixel of the skin stays a sharp square. 0 means the screen's own scale,
// rounded to a whole factor. The learner's choice is kept in a small text file
// ("scale = 2") and takes effect when the window starts: Qt fixes the factor
// when it starts.
class WindowScale {
 public:
  static constexpr int kLargest = 3;

  // $XDG_CONFIG_HOME/kestro/kestro.conf, or ~/.config/kestro/kestro.conf.
  static std::string DefaultPath();
  // The factor path keeps (0 when it keeps none or the file is missing); a
  // line it cannot use is told in problem and the factor is 0.
  static int Load(const std::string& path, std::string* problem);
  // Keeps scale (0..kLargest) in path, replacing the file whole.
  static bool Save(const std::string& path, int scale, std::string* why);
  // Reads "1", "2", "3" (or "auto" as 0); false for anything else.
  static bool Parse(const std::string& text, int* scale);
  // Tells Qt, before the application object is made, to draw at scale (0:
  // the screen's scale rounded to a whole factor).
  static void Apply(int scale);
};
