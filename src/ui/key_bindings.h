// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QKeySequence>
#include <QString>
#include <string>
#include <vector>

// Keys of the learner's own for the window's commands, from a small text
// file: a foot pedal or a presenter that types a key can then step through
// the sentences. One binding a line, "KEY = COMMAND" ("F13 = next-sentence",
// "Ctrl+Right = repeat-sentence"); # starts a comment.
class KeyBindings {
 public:
  struct Binding {
    QKeySequence key;
    int command = 0;
  };

  // $XDG_CONFIG_HOME/kestro/keys.conf, or ~/.config/kestro/keys.conf.
  static std::string DefaultPath();
  // The command a name stands for (0 for none).
  static int CommandNamed(const QString& name);
  // The names the file may use, for messages.
  static QString CommandNames();

  // Reads path (a missing file binds nothing); each line that cannot be used
  // is told in problems, and the others still bind.
  bool Load(const std::string& path, std::vector<std::string>* problems);
  // The same from the file's text.
  void Parse(const QString& text, const std::string& origin, std::vector<std::string>* problems);
  const std::vector<Binding>& Bindings() const { return bindings; }

 private:
  std::vector<Binding> bindings;
};
