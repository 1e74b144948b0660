// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <string>

// Kestro's own artwork, drawn in code so that the committed files can always be
// made again from source: the face of the main window and the program icon.

constexpr int kSkinWidth = 292;
constexpr int kSkinHeight = 186;

// Where the controls sit on the face, in pixels.
namespace skin_layout {
constexpr QRect kDisplay(8, 21, 194, 104);  // waveform panel and playlist
constexpr QRect kProgress(7, 132, 121, 4);
constexpr QRect kBalance(212, 113, 46, 5);
constexpr QRect kVolume(212, 121, 46, 5);
constexpr QRect kSpeed(212, 129, 46, 5);
}  // namespace skin_layout

// The words the face writes beside its sliders.
struct SkinLabels {
  QString progress = QStringLiteral("进度");
  QString balance = QStringLiteral("平衡");
  QString volume = QStringLiteral("音量");
  QString speed = QStringLiteral("速度");
};

// The 292 x 186 face of the main window, drawn at scale times its pixels (for
// a screen that shows the window at that factor: finer, not stretched).
QImage DrawSkinFace(int scale = 1, const SkinLabels& labels = SkinLabels());
// The program icon at size x size pixels.
QImage DrawKestroIcon(int size);

// A 24-bit BMP file of image (rows bottom-up, padded to 4 bytes).
std::string EncodeBmp24(const QImage& image);
