// SPDX-License-Identifier: GPL-3.0-or-later
#include "skin/glyph_button.h"

#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <cstdlib>

#include "skin/skin_button.h"

namespace {

int Trunc(float v) {
  return static_cast<int>(v);
}

void FillPolygon(QPainter& painter, const QPolygon& polygon, uint32_t color) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(Qt::NoPen);
  painter.setBrush(ColorFromRef(color));
  painter.drawPolygon(polygon, Qt::WindingFill);
  painter.restore();
}

void FillBox(QPainter& painter, int l, int t, int r, int b, uint32_t color) {
  FillPolygon(painter, QPolygon({QPoint(l, t), QPoint(r, t), QPoint(r, b), QPoint(l, b)}), color);
}

}  // namespace

GlyphButton::GlyphButton(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::StrongFocus);
}

void GlyphButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  int state = 0;
  if (isDown()) state |= SkinButton::kSelected;
  if (!isEnabled()) state |= SkinButton::kDisabled;
  if (hasFocus()) state |= SkinButton::kFocus;
  DrawItem(painter, WinRect{0, 0, width(), height()}, state);
}

void GlyphButton::DrawItem(QPainter& painter, const WinRect& r, int state) {
  FillRect(painter, r, faceColor);
  DrawBevel(painter, r, bevelDepth);
  DrawGlyph(painter, r, glyphColor);
  if ((state & SkinButton::kFocus) && (state & SkinButton::kSelected)) {
    DrawBevel(painter, r, -bevelDepth);
    DrawGlyph(painter, WinRect{r.left + 1, r.top + 1, r.right, r.bottom}, glyphColor);
  } else if (!(state & SkinButton::kFocus) && (state & SkinButton::kDisabled)) {
    DrawGlyph(painter, r, disabledGlyphColor);
  }
}

WinRect GlyphButton::GlyphSquare(const WinRect& r) const {
  const int inset = bevelDepth + glyphMargin;
  const WinRect a{r.left + inset, r.top + inset, r.right - inset, r.bottom - inset};
  const int w = a.right - a.left, h = a.bottom - a.top;
  const int cx = a.left + w / 2, cy = a.top + h / 2;
  const int e = (std::min(std::abs(w), std::abs(h)) + 1) / 2;
  return WinRect{cx - e, cy - e, cx + e, cy + e};
}

void GlyphButton::DrawGlyph(QPainter& painter, const WinRect& r, uint32_t color) {
  const WinRect g = GlyphSquare(r);
  const int L = g.left, T = g.top, Rt = g.right, B = g.bottom;
  const int W = Rt - L, H = B - T, mx = L + W / 2;
  auto y = [&](float f) { return T + Trunc(H * f); };
  const float third = 0.33333334f, twoThirds = 0.6666667f, sixth = 0.16666667f;
  switch (glyphKind) {
    case kBegin: {
      const int y1 = y(third);
      FillBox(painter, L, T, Rt, y1, color);
      FillPolygon(painter, QPolygon({QPoint(mx, y1), QPoint(Rt, B), QPoint(L, B)}), color);
      break;
    }
    case kPlay:
      FillPolygon(painter, QPolygon({QPoint(L, T), QPoint(Rt, T), QPoint(mx, B)}), color);
      break;
    case kPause: {
      const float v = W * third;
      FillBox(painter, L, T, Trunc(L + v), B, color);
      FillBox(painter, Trunc(Rt - v), T, Rt, B, color);
      break;
    }
    case kStop:
      FillRect(painter, g, color);
      break;
    case kEnd: {
      const int y2 = y(twoThirds);
      FillPolygon(painter, QPolygon({QPoint(L, T), QPoint(Rt, T), QPoint(mx, y2)}), color);
      FillBox(painter, L, y2, Rt, B, color);
      break;
    }
    case kOpen: {
      const int y2 = y(twoThirds);
      const int y3 = B - Trunc(H * sixth);
      FillPolygon(painter,
                  QPolygon({QPoint(Trunc(L + W * 0.5f), T), QPoint(Rt, y2), QPoint(L, y2)}), color);
      FillBox(painter, L, y3, Rt, B, color);
      break;
    }
    case kMinimise:
      FillRect(painter, WinRect{L, B - Trunc(H * sixth), Rt, B}, color);
      break;
    case kClose:
      FillPolygon(
          painter,
          QPolygon({QPoint(L + 1, T), QPoint(Rt, B - 1), QPoint(Rt - 1, B), QPoint(L, T + 1)}),
          color);
      FillPolygon(
          painter,
          QPolygon({QPoint(Rt - 1, T), QPoint(Rt, T + 1), QPoint(L + 1, B), QPoint(L, B - 1)}),
          color);
      break;
    case kAdd: {
      const int16_t a = static_cast<int16_t>(W / 2), b = static_cast<int16_t>(H / 2);
      const int t = a / 5 == 0 ? 1 : a / 5;
      FillRect(painter, WinRect{L + a - t, T, L + a + t, B}, color);
      FillRect(painter, WinRect{L, T + b - t, Rt, T + b + t}, color);
      break;
    }
    case kDelete:
    case kDeleteAll: {
      if (glyphKind == kDeleteAll) DrawFrame(painter, g, color, color);
      const int b = H / 2;
      const int16_t half = static_cast<int16_t>(W / 2);
      const int t = half / 5 == 0 ? 1 : half / 5;
      FillRect(painter, WinRect{L, T + b - t, Rt, T + b + t}, color);
      break;
    }
    case kExchange: {
      const int16_t q = static_cast<int16_t>((W * 4) / 5);
      DrawFrame(painter, WinRect{Rt - q, T, Rt, T + q}, color, color);
      DrawFrame(painter, WinRect{L, B - q, L + q, B}, color, color);
      break;
    }
    default:
      break;  // no glyph
  }
}
