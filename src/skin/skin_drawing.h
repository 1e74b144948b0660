// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QFont>

#include <cstdint>

class QPainter;

// A rectangle as the drawing routines count it: right and bottom exclusive.
struct WinRect {
  int left, top, right, bottom;
};

// A colour reference 0x00BBGGRR; the palette-relative flag (0x02 in the top
// byte) gives the same colour.
QColor ColorFromRef(uint32_t ref);
// A palette-relative grey of level v.
constexpr uint32_t PaletteGrey(uint32_t v) {
  return 0x02000000u + v * 0x010101u;
}

// The dialog font of the skin: 12-pixel CJK text, drawn without smoothing as the
// skin's bitmap font would be, so each glyph pixel has exactly the caption colour.
QFont SkinFont();

// A one-pixel line from (x1, y1) towards (x2, y2), the end point itself not
// painted. Only horizontal and vertical lines are drawn.
void DrawLine(QPainter& painter, int x1, int y1, int x2, int y2, uint32_t color);
// A filled rectangle.
void FillRect(QPainter& painter, const WinRect& r, uint32_t color);
// The dotted focus rectangle: every other pixel of the rectangle's edge.
void DrawFocusRect(QPainter& painter, const WinRect& r);

// A one-pixel frame in one colour just inside r.
void DrawFrame(QPainter& painter, const WinRect& r, uint32_t topLeft, uint32_t bottomRight);

// The bevel of the skin's buttons: |depth| one-pixel rings from the outside in,
// raised for a positive depth and sunken for a negative one.
void DrawBevel(QPainter& painter, WinRect r, int depth);
