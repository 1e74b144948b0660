// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "commands/command_ids.h"

class Engine;

// The menus a command can appear in.
enum class CommandMenu : uint8_t { kNone, kMain, kAdvanced, kScale, kSentences, kPlaylist, kTitle };

// One declaration per command: the window's buttons, menus, accelerators and
// tooltips, keys.conf, kestro-cli's scripts and MPRIS all come from it.
// Captions and tips are translated by the window (context "MainDialog").
struct Command {
  int id;               // kCmd...
  const char* name;     // in keys.conf and scripts
  const char* caption;  // the menu item
  const char* key;      // the accelerator in QKeySequence's portable text, or nullptr
  int button;           // the skin button that gives it (kId...), or 0
  const char* tip;      // the button's tooltip, or nullptr
  CommandMenu menu;
  int place;  // its place among the menu's items
  bool separatorBefore;
  bool checkable;
  // The engine's operation; nullptr for the window's own commands (dialogs,
  // the playlist, the window's size).
  void (*run)(Engine& engine);
  // The requests a script waits to see served after it.
  uint32_t served;
};

// A submenu, placed after the items of its parent.
struct CommandSubmenu {
  CommandMenu menu;
  CommandMenu parent;
  const char* caption;
  bool separatorBefore;
};

std::span<const Command> Commands();
std::span<const CommandSubmenu> CommandSubmenus();
// nullptr when there is none.
const Command* CommandWithId(int id);
const Command* CommandNamed(std::string_view name);
