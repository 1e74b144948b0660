// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractButton>

#include <cstdint>

#include "skin/skin_drawing.h"

// A small button of the skin that shows a filled symbol, computed from its size,
// instead of its caption: the transport, title-bar and playlist buttons.
class GlyphButton : public QAbstractButton {
 public:
  enum GlyphKind {
    kBegin = 1,  // bar above an upward triangle
    kPlay,       // downward triangle
    kPause,      // two vertical bars
    kStop,       // filled square
    kEnd,        // downward triangle above a bar
    kOpen,       // upward triangle above a bar
    kMinimise,   // bar along the bottom
    kClose,      // diagonal cross
    kAdd,        // plus sign
    kDelete,     // minus sign
    kDeleteAll,  // minus sign in a frame
    kExchange,   // two overlapping squares
  };

  explicit GlyphButton(QWidget* parent = nullptr);

  void SetGlyph(int kind) { glyphKind = kind; }
  int Glyph() const { return glyphKind; }

  // Paints the button in r with the state bits of SkinButton.
  void DrawItem(QPainter& painter, const WinRect& r, int state);
  // The glyph square for r: the area inside the bevel and margin, centred.
  WinRect GlyphSquare(const WinRect& r) const;
  void DrawGlyph(QPainter& painter, const WinRect& r, uint32_t color);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  uint32_t glyphColor = 0;
  uint32_t faceColor = 0xDEDEDE;
  uint32_t disabledGlyphColor = 0x878787;
  int glyphKind = kClose;
  int bevelDepth = 1;
  int glyphMargin = 2;
};
