// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/xdg_dirs.h"

#include <cstdlib>
#include <filesystem>

std::string XdgDirs::Home(const char* variable, const char* belowHome) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') return value;
  const char* home = std::getenv("HOME");
  return (std::filesystem::path(home != nullptr ? home : ".") / belowHome).string();
}

std::string XdgDirs::ConfigHome() {
  return Home("XDG_CONFIG_HOME", ".config");
}

std::string XdgDirs::StateHome() {
  return Home("XDG_STATE_HOME", ".local/state");
}
