// SPDX-License-Identifier: GPL-3.0-or-later
// Paints every control of the skin in every state onto one PNG, so that the
// controls can be looked at without starting the program:
//   gallery OUT.png
#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <cstdio>
#include <cstdlib>

#include "skin/about_dialog.h"
#include "skin/glyph_button.h"
#include "skin/skin_art.h"
#include "skin/skin_button.h"
#include "skin/skin_slider.h"

namespace {

void Caption(QPainter& p, int x, int y, const QString& text) {
  p.setPen(QColor(230, 230, 230));
  p.drawText(x, y, text);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gallery OUT.png\n");
    return 2;
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  QImage sheet(720, 560, QImage::Format_RGB32);
  sheet.fill(QColor(48, 54, 68));
  QPainter p(&sheet);
  p.setFont(SkinFont());

  // Mode buttons, 39 x 30, in their four states and three caption colours.
  const int states[] = {0, SkinButton::kFocus, SkinButton::kFocus | SkinButton::kSelected,
                        SkinButton::kDisabled};
  const char* stateNames[] = {"normal", "focused", "pressed", "disabled"};
  const uint32_t colours[] = {0, 0x00C800, 0x0000FF};
  Caption(p, 10, 16, QStringLiteral("SkinButton: black, green (running), red (paused)"));
  for (int c = 0; c < 3; ++c) {
    for (int s = 0; s < 4; ++s) {
      SkinButton button(QStringLiteral("复读"));
      button.setFixedSize(39, 30);
      button.SetCaptionColor(colours[c]);
      QApplication::processEvents();
      p.save();
      p.translate(10 + s * 60 + c * 240, 24);
      button.DrawItem(p, WinRect{0, 0, 39, 30}, states[s]);
      p.restore();
      if (c == 0) Caption(p, 10 + s * 60, 68, QString::fromLatin1(stateNames[s]));
    }
  }

  // The twelve glyphs at the size of the transport buttons (47 x 14) and of the
  // playlist buttons (12 x 11), normal, pressed and disabled.
  Caption(p, 10, 96, QStringLiteral("GlyphButton 1..12: normal, pressed, disabled"));
  for (int kind = 1; kind <= 12; ++kind) {
    for (int s = 0; s < 3; ++s) {
      const int state = s == 0   ? 0
                        : s == 1 ? (SkinButton::kFocus | SkinButton::kSelected)
                                 : SkinButton::kDisabled;
      GlyphButton button;
      button.SetGlyph(kind);
      p.save();
      p.translate(10 + (kind - 1) * 58, 104 + s * 20);
      button.DrawItem(p, WinRect{0, 0, 47, 14}, state);
      p.translate(0, 64);
      button.DrawItem(p, WinRect{0, 0, 12, 11}, state);
      p.restore();
    }
  }

  // Sliders at the minimum, the middle, the maximum, focused and while dragged.
  Caption(p, 10, 254, QStringLiteral("SkinSlider: min, middle, max, focused, dragged"));
  QWidget holder;
  holder.resize(200, 20);
  for (int i = 0; i < 5; ++i) {
    SkinSlider slider(&holder);
    slider.resize(121, 5);
    slider.SetColors(0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC80040);
    slider.SetRange(0, 100);
    slider.SetPosition(i == 0 ? 0 : i == 2 ? 100 : 50);
    if (i == 4) {
      QMouseEvent press(QEvent::MouseButtonPress, QPointF(70, 2), QPointF(70, 2), Qt::LeftButton,
                        Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(&slider, &press);
    }
    QImage image = slider.Render();
    if (i == 3) {  // the focused look, painted as the slider paints it with focus
      holder.show();
      slider.show();
      slider.setFocus();
      QApplication::processEvents();
      image = slider.Render();
    }
    p.drawImage(10 + (i % 2) * 160, 262 + (i / 2) * 16, image.scaled(121 * 1, 5 * 2));
  }

  // The face of the window and the About box.
  Caption(p, 10, 330, QStringLiteral("Skin (main.bmp) and the About box"));
  p.drawImage(10, 338, DrawSkinFace());
  AboutDialog about;
  p.drawPixmap(330, 338, about.grab());
  p.drawImage(570, 338, DrawKestroIcon(64));
  p.end();
  if (!sheet.save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "gallery: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
