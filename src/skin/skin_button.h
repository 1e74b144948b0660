// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractButton>

#include <atomic>
#include <cstdint>

#include "skin/skin_drawing.h"

// One of the six mode buttons: a flat grey face, a bevel, and the caption centred
// on one line in a colour that tells the state of its mode.
class SkinButton : public QAbstractButton {
 public:
  explicit SkinButton(const QString& caption, QWidget* parent = nullptr);

  // Safe from any thread: stores the colour and asks for a repaint.
  void SetCaptionColor(uint32_t color);
  uint32_t CaptionColor() const { return captionColor.load(); }
  int BevelDepth() const { return bevelDepth; }
  void SetBevelDepth(int depth) { bevelDepth = depth; }

  // The state bits the painting uses.
  static constexpr int kSelected = 0x1;
  static constexpr int kDisabled = 0x4;
  static constexpr int kFocus = 0x10;
  // Paints the button in rectangle r with the given state bits.
  void DrawItem(QPainter& painter, const WinRect& r, int state);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void DrawCaption(QPainter& painter, const WinRect& t, uint32_t color);

  std::atomic<uint32_t> captionColor{0};
  uint32_t faceColor = 0xDEDEDE;
  uint32_t disabledCaptionColor = 0x878787;
  int bevelDepth = 2;
};
