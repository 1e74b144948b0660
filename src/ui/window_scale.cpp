// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/window_scale.h"

#include <QFile>
#include <QGuiApplication>
#include <QStringList>
#include <filesystem>
#include <sstream>

#include "platform/replacing_file.h"
#include "platform/xdg_dirs.h"

std::string WindowScale::DefaultPath() {
  return (std::filesystem::path(XdgDirs::ConfigHome()) / "kestro" / "kestro.conf").string();
}

bool WindowScale::Parse(const std::string& text, int* scale) {
  if (text == "auto") {
    *scale = 0;
    return true;
  }
  if (text.size() == 1 && text[0] >= '1' && text[0] <= '0' + kLargest) {
    *scale = text[0] - '0';
    return true;
  }
  return false;
}

int WindowScale::Load(const std::string& path, std::string* problem) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return 0;
  // Read as the key file is: "NAME = VALUE" lines, # starting a comment.
  const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
  int scale = 0;
  for (int i = 0; i < lines.size(); ++i) {
    const QString text = lines[i].section(QLatin1Char('#'), 0, 0).trimmed();
    if (text.isEmpty()) continue;
    int value = 0;
    if (text.section(QLatin1Char('='), 0, 0).trimmed() == QStringLiteral("scale") &&
        text.contains(QLatin1Char('=')) &&
        Parse(text.section(QLatin1Char('='), 1).trimmed().toStdString(), &value)) {
      scale = value;
      continue;
    }
    if (problem) {
      *problem = path + ":" + std::to_string(i + 1) + ": not understood (\"" + text.toStdString() +
                 "\"); the file may say scale = auto, 1, 2 or 3";
    }
    return 0;
  }
  return scale;
}

bool WindowScale::Save(const std::string& path, int scale, std::string* why) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  std::ostringstream text;
  text << "# Kestro's window: scale = auto (the screen's), 1, 2 or 3\n"
       << "scale = " << (scale == 0 ? std::string("auto") : std::to_string(scale)) << "\n";
  const std::string bytes = text.str();
  ReplacingFile file;
  if (!file.Create(path, why)) return false;
  if (!file.Write(bytes.data(), bytes.size())) {
    if (why) *why = "the disk took only part of " + path;
    return false;
  }
  return file.Commit(why);
}

void WindowScale::Apply(int scale) {
  if (scale > 0) {
    // The learner's factor instead of the screen's, not on top of it.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    qunsetenv("QT_SCREEN_SCALE_FACTORS");
    qputenv("QT_SCALE_FACTOR", QByteArray::number(scale));
  } else {
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::Round);
  }
}
