// SPDX-License-Identifier: GPL-3.0-or-later
// Draws Kestro's skin and icon and writes them where the build takes them from:
//   make_skin RESOURCES_DIR   ->  RESOURCES_DIR/Skin/main.bmp, RESOURCES_DIR/kestro.png,
//                                 RESOURCES_DIR/icons/kestro-{64,128,256}.png
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "skin/skin_art.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_skin RESOURCES_DIR\n");
    return 2;
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  const std::string dir = argv[1];
  const std::string bmp = EncodeBmp24(DrawSkinFace());
  std::ofstream out(dir + "/Skin/main.bmp", std::ios::binary | std::ios::trunc);
  out.write(bmp.data(), static_cast<std::streamsize>(bmp.size()));
  if (!out) {
    std::fprintf(stderr, "make_skin: cannot write %s/Skin/main.bmp\n", dir.c_str());
    return 1;
  }
  if (!DrawKestroIcon(64).save(QString::fromStdString(dir + "/kestro.png"))) {
    std::fprintf(stderr, "make_skin: cannot write %s/kestro.png\n", dir.c_str());
    return 1;
  }
  // The icon theme's sizes, for the desktop entry.
  std::filesystem::create_directories(dir + "/icons");
  for (int size : {64, 128, 256}) {
    const std::string path = dir + "/icons/kestro-" + std::to_string(size) + ".png";
    if (!DrawKestroIcon(size).save(QString::fromStdString(path))) {
      std::fprintf(stderr, "make_skin: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
