// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// The learner's base folders as the XDG base directory rules name them: the
// variable when it holds an absolute path, otherwise its default under $HOME.
class XdgDirs {
 public:
  static std::string ConfigHome();  // $XDG_CONFIG_HOME or ~/.config
  static std::string StateHome();   // $XDG_STATE_HOME or ~/.local/state

 private:
  static std::string Home(const char* variable, const char* belowHome);
};
