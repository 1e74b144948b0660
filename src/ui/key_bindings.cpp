// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/key_bindings.h"

#include <QFile>
#include <QStringList>
#include <filesystem>

#include "commands/command_table.h"
#include "platform/xdg_dirs.h"
#include "ui/main_dialog.h"

std::string KeyBindings::DefaultPath() {
  return (std::filesystem::path(XdgDirs::ConfigHome()) / "kestro" / "keys.conf").string();
}

int KeyBindings::CommandNamed(const QString& name) {
  const Command* command = ::CommandNamed(name.toStdString());
  return command == nullptr ? 0 : command->id;
}

QString KeyBindings::CommandNames() {
  QStringList names;
  for (const Command& command : Commands())
    names << QLatin1String(command.name);
  return names.join(QStringLiteral(", "));
}

bool KeyBindings::Load(const std::string& path, std::vector<std::string>* problems) {
  bindings.clear();
  QFile file(QString::fromStdString(path));
  if (!file.exists()) return true;
  if (file.size() > 64 * 1024 || !file.open(QIODevice::ReadOnly)) {
    problems->push_back(path + ": cannot be read as a key file");
    return false;
  }
  Parse(QString::fromUtf8(file.readAll()), path, problems);
  return true;
}

void KeyBindings::Parse(const QString& text, const std::string& origin,
                        std::vector<std::string>* problems) {
  const QStringList lines = text.split(QLatin1Char('\n'));
  for (int i = 0; i < lines.size(); ++i) {
    const QString line = lines[i].section(QLatin1Char('#'), 0, 0).trimmed();
    if (line.isEmpty()) continue;
    const std::string where = origin + ":" + std::to_string(i + 1) + ": ";
    const int equals = line.indexOf(QLatin1Char('='));
    if (equals < 0) {
      problems->push_back(where + "no '=' (write KEY = COMMAND)");
      continue;
    }
    const QKeySequence key =
        QKeySequence::fromString(line.left(equals).trimmed(), QKeySequence::PortableText);
    const QString name = line.mid(equals + 1).trimmed();
    const int command = CommandNamed(name);
    if (key.isEmpty() || key.count() != 1 || key[0].key() == Qt::Key_unknown) {
      problems->push_back(where + "\"" + line.left(equals).trimmed().toStdString() +
                          "\" is not a key");
    } else if (command == 0) {
      problems->push_back(where + "\"" + name.toStdString() + "\" is not a command (" +
                          CommandNames().toStdString() + ")");
    } else {
      bindings.push_back({key, command});
    }
  }
}
