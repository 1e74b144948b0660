#include "ui/window_scale.h"

#include <QGuiApplication>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "codec/replacing_file.h"
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
  std::ifstream in(path);
  if (!in) return 0;
  int scale = 0;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    auto trim = [](std::string s) {
      const size_t from = s.find_first_not_of(" \t\r");
      if (from == std::string::npos) return std::string();
      return s.substr(from, s.find_last_not_of(" \t\r") - from + 1);
    };
    const std::string text = trim(line.substr(0, line.find('#')));
    if (text.empty()) continue;
    const size_t equals = text.find('=');
    int value = 0;
    if (equals != std::string::npos && trim(text.substr(0, equals)) == "scale" &&
        Parse(trim(text.substr(equals + 1)), &value)) {
      scale = value;
      continue;
    }
    if (problem) {
      *problem = path + ":" + std::to_string(number) + ": not understood (\"" + text +
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
