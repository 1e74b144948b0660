// SPDX-License-Identifier: GPL-3.0-or-later
#include "skin/skin_art.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstring>

#include "skin/skin_drawing.h"

namespace {

// A recessed well: dark top-left edge, light bottom-right edge, filled inside.
void Well(QPainter& p, const QRect& r, const QColor& fill) {
  p.fillRect(r, fill);
  p.fillRect(QRect(r.left(), r.top(), r.width(), 1), QColor(40, 44, 56));
  p.fillRect(QRect(r.left(), r.top(), 1, r.height()), QColor(40, 44, 56));
  p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), QColor(196, 204, 220));
  p.fillRect(QRect(r.right(), r.top(), 1, r.height()), QColor(196, 204, 220));
}

// A raised panel with a soft vertical gradient.
void Panel(QPainter& p, const QRect& r, const QColor& top, const QColor& bottom) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, top);
  g.setColorAt(1, bottom);
  p.fillRect(r, g);
  p.fillRect(QRect(r.left(), r.top(), r.width(), 1), top.lighter(125));
  p.fillRect(QRect(r.left(), r.top(), 1, r.height()), top.lighter(125));
  p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottom.darker(140));
  p.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottom.darker(140));
}

void Label(QPainter& p, const QRect& r, const QString& text, int pixels) {
  QFont font(QStringLiteral("WenQuanYi Micro Hei"));
  font.setPixelSize(pixels);
  p.setFont(font);
  p.setPen(QColor(226, 232, 244));
  p.drawText(r, Qt::AlignCenter, text);
}

}  // namespace

QImage DrawSkinFace(int scale, const SkinLabels& labels) {
  using namespace skin_layout;
  QImage face(kSkinWidth * scale, kSkinHeight * scale, QImage::Format_RGB32);
  QPainter p(&face);
  p.scale(scale, scale);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);

  // Body: a deep slate blue, lighter towards the top.
  QLinearGradient body(0, 0, 0, kSkinHeight);
  body.setColorAt(0, QColor(92, 108, 140));
  body.setColorAt(1, QColor(58, 68, 92));
  p.fillRect(QRect(0, 0, kSkinWidth, kSkinHeight), body);
  // Outer edge.
  p.fillRect(QRect(0, 0, kSkinWidth, 1), QColor(150, 166, 198));
  p.fillRect(QRect(0, 0, 1, kSkinHeight), QColor(150, 166, 198));
  p.fillRect(QRect(0, kSkinHeight - 1, kSkinWidth, 1), QColor(24, 28, 40));
  p.fillRect(QRect(kSkinWidth - 1, 0, 1, kSkinHeight), QColor(24, 28, 40));

  // Title strip along the top: the window is dragged by it and shows the name.
  Panel(p, QRect(2, 2, kSkinWidth - 4, 14), QColor(70, 118, 176), QColor(38, 74, 124));

  // The display area of the waveform and the playlist.
  Well(p, kDisplay.adjusted(-2, -2, 2, 2), QColor(12, 18, 26));
  p.fillRect(kDisplay, QColor(10, 16, 24));

  // The transport column and the bay of the mode buttons.
  Panel(p, QRect(208, 18, 55, 94), QColor(120, 134, 164), QColor(84, 96, 124));
  Panel(p, QRect(4, 143, kSkinWidth - 8, 38), QColor(120, 134, 164), QColor(84, 96, 124));

  // Wells of the sliders, with their labels.
  for (const QRect& r : {kProgress, kBalance, kVolume, kSpeed}) {
    Well(p, r.adjusted(-2, -2, 2, 2), QColor(30, 36, 48));
  }
  Label(p, QRect(130, 128, 22, 12), labels.progress, 10);
  Label(p, QRect(262, 111, 24, 8), labels.balance, 8);
  Label(p, QRect(262, 119, 24, 8), labels.volume, 8);
  Label(p, QRect(262, 127, 24, 8), labels.speed, 8);
  p.end();
  return face;
}

QImage DrawKestroIcon(int size) {
  QImage icon(size, size, QImage::Format_ARGB32);
  icon.fill(Qt::transparent);
  QPainter p(&icon);
  p.setRenderHint(QPainter::Antialiasing, true);
  const double s = size / 64.0;
  // A rounded tile with a speech bubble and a loop arrow: hear it, say it again.
  QLinearGradient g(0, 0, 0, size);
  g.setColorAt(0, QColor(70, 118, 176));
  g.setColorAt(1, QColor(38, 74, 124));
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawRoundedRect(QRectF(2 * s, 2 * s, 60 * s, 60 * s), 12 * s, 12 * s);
  p.setBrush(QColor(244, 246, 250));
  QPainterPath bubble;
  bubble.addRoundedRect(QRectF(12 * s, 14 * s, 40 * s, 26 * s), 8 * s, 8 * s);
  bubble.moveTo(20 * s, 38 * s);
  bubble.lineTo(16 * s, 48 * s);
  bubble.lineTo(30 * s, 39 * s);
  p.drawPath(bubble.simplified());
  QPen loop(QColor(226, 90, 60), 4 * s, Qt::SolidLine, Qt::RoundCap);
  p.setPen(loop);
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(22 * s, 19 * s, 20 * s, 16 * s), 30 * 16, 300 * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(226, 90, 60));
  p.drawPolygon(
      QPolygonF({QPointF(40 * s, 16 * s), QPointF(46 * s, 24 * s), QPointF(37 * s, 25 * s)}));
  p.end();
  return icon;
}

std::string EncodeBmp24(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_RGB32);
  const uint32_t width = image.width(), height = image.height();
  const uint32_t rowSize = (24 * width + 31) / 32 * 4;
  const uint32_t pixels = rowSize * height;
  std::string out(54 + pixels, '\0');
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&out[at], &v, 4); };
  auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&out[at], &v, 2); };
  out[0] = 'B';
  out[1] = 'M';
  put32(2, 54 + pixels);
  put32(10, 54);
  put32(14, 40);
  put32(18, width);
  put32(22, height);
  put16(26, 1);
  put16(28, 24);
  put32(34, pixels);
  put32(38, 2835);
  put32(42, 2835);
  for (uint32_t y = 0; y < height; ++y) {
    const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(height - 1 - y));
    char* row = &out[54 + y * rowSize];
    for (uint32_t x = 0; x < width; ++x) {
      row[x * 3] = static_cast<char>(qBlue(line[x]));
      row[x * 3 + 1] = static_cast<char>(qGreen(line[x]));
      row[x * 3 + 2] = static_cast<char>(qRed(line[x]));
    }
  }
  return out;
}
