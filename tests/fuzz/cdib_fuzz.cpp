// SPDX-License-Identifier: GPL-3.0-or-later
// The skin bitmap reader on any bytes, drawn onto a small image when it loads.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "fuzz_input_file.h"
#include "skin/cdib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int argc = 1;
  static char name[] = "cdib_fuzz";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QGuiApplication(argc, argv);
  }();
  (void)app;
  const std::string path = FuzzInputFile(data, size, ".bmp");
  CDib dib;
  if (dib.LoadFile(path) == 0) return 0;
  QImage target(64, 64, QImage::Format_RGB32);
  QPainter painter(&target);
  dib.Draw(painter, QRect(0, 0, 64, 64), QRect(0, 0, 64, 64));
  return 0;
}
