// SPDX-License-Identifier: GPL-3.0-or-later
#include "skin/skin_drawing.h"

#include <QFontDatabase>
#include <cstdio>

#include <QPainter>

#include <cstdlib>

QColor ColorFromRef(uint32_t ref) {
  return QColor(ref & 0xFF, (ref >> 8) & 0xFF, (ref >> 16) & 0xFF);
}

QFont SkinFont() {
  // The skin is drawn for WenQuanYi Micro Hei; without it any font that has
  // the captions' Chinese characters is better than boxes.
  static const QString family = [] {
    const QString preferred = QStringLiteral("WenQuanYi Micro Hei");
    if (QFontDatabase::hasFamily(preferred)) return preferred;
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    if (chinese.isEmpty()) {
      std::fprintf(stderr,
                   "kestro: no font with Chinese characters is installed; the captions will "
                   "show as boxes (install fonts-wqy-microhei)\n");
      return preferred;
    }
    return chinese.first();
  }();
  QFont font(family);
  font.setPixelSize(12);
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

void DrawLine(QPainter& painter, int x1, int y1, int x2, int y2, uint32_t color) {
  const QColor c = ColorFromRef(color);
  if (y1 == y2 && x1 != x2) {
    const int from = x1 < x2 ? x1 : x2 + 1;
    painter.fillRect(QRect(from, y1, std::abs(x2 - x1), 1), c);
  } else if (x1 == x2 && y1 != y2) {
    const int from = y1 < y2 ? y1 : y2 + 1;
    painter.fillRect(QRect(x1, from, 1, std::abs(y2 - y1)), c);
  }
}

void FillRect(QPainter& painter, const WinRect& r, uint32_t color) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  painter.fillRect(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top), ColorFromRef(color));
}

void DrawFocusRect(QPainter& painter, const WinRect& r) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  const QColor dot(0, 0, 0);
  for (int x = r.left; x < r.right; x += 2) {
    painter.fillRect(QRect(x, r.top, 1, 1), dot);
    painter.fillRect(QRect(x, r.bottom - 1, 1, 1), dot);
  }
  for (int y = r.top; y < r.bottom; y += 2) {
    painter.fillRect(QRect(r.left, y, 1, 1), dot);
    painter.fillRect(QRect(r.right - 1, y, 1, 1), dot);
  }
}

void DrawFrame(QPainter& painter, const WinRect& r, uint32_t topLeft, uint32_t bottomRight) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  FillRect(painter, WinRect{r.left, r.top, r.right - 1, r.top + 1}, topLeft);
  FillRect(painter, WinRect{r.left, r.top, r.left + 1, r.bottom - 1}, topLeft);
  FillRect(painter, WinRect{r.right - 1, r.top, r.right, r.bottom}, bottomRight);
  FillRect(painter, WinRect{r.left, r.bottom - 1, r.right, r.bottom}, bottomRight);
}

void DrawBevel(QPainter& painter, WinRect r, int depth) {
  const int n = std::abs(depth);
  for (int k = 0; k < n; ++k) {
    uint32_t light, dark;
    if (n == 1) {
      light = 0xFFFFFF;
      dark = 0x808080;
    } else {
      light = PaletteGrey(192 + 63 / (k + 1));
      dark = PaletteGrey(255 / (k + 2));
    }
    uint32_t topLeft = light, bottomRight = dark;
    if (depth < 0) {
      topLeft = dark;
      bottomRight = light;
      if (n > 1 && k == n - 1) bottomRight = 0x010101;
    }
    DrawLine(painter, r.left, r.top, r.right, r.top, topLeft);
    DrawLine(painter, r.left, r.top, r.left, r.bottom, topLeft);
    DrawLine(painter, r.left + 1, r.bottom - 1, r.right, r.bottom - 1, bottomRight);
    DrawLine(painter, r.right - 1, r.top + 1, r.right - 1, r.bottom, bottomRight);
    r = WinRect{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
  }
}
