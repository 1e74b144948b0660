// SPDX-License-Identifier: GPL-3.0-or-later
#include "skin/skin_button.h"

#include <QMetaObject>
#include <QFontMetrics>
#include <QPainter>

SkinButton::SkinButton(const QString& caption, QWidget* parent) : QAbstractButton(parent) {
  setText(caption);
  setFont(SkinFont());
  setFocusPolicy(Qt::StrongFocus);
}

void SkinButton::SetCaptionColor(uint32_t color) {
  captionColor.store(color);
  // A widget is touched on its own thread only: the repaint is posted there.
  QMetaObject::invokeMethod(
      this, [this] { repaint(); }, Qt::QueuedConnection);
}

void SkinButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  int state = 0;
  if (isDown()) state |= kSelected;
  if (!isEnabled()) state |= kDisabled;
  if (hasFocus()) state |= kFocus;
  DrawItem(painter, WinRect{0, 0, width(), height()}, state);
}

void SkinButton::DrawCaption(QPainter& painter, const WinRect& t, uint32_t color) {
  // A longer word (a translation's) is drawn smaller until it fits, never cut.
  QFont f = font();
  while (f.pixelSize() > 8 && QFontMetrics(f).horizontalAdvance(text()) > t.right - t.left)
    f.setPixelSize(f.pixelSize() - 1);
  painter.setFont(f);
  painter.setPen(ColorFromRef(color));
  painter.drawText(QRect(t.left, t.top, t.right - t.left, t.bottom - t.top),
                   Qt::AlignCenter | Qt::TextSingleLine, text());
}

void SkinButton::DrawItem(QPainter& painter, const WinRect& r, int state) {
  const int d = bevelDepth;
  const WinRect focus{r.left + d + 2, r.top + d + 2, r.right - d - 2, r.bottom - d - 2};
  const WinRect textRect{d, d, width() - d, height() - d};
  FillRect(painter, r, faceColor);
  painter.save();
  painter.setClipRect(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
  DrawCaption(painter, textRect, captionColor.load());
  painter.restore();
  DrawBevel(painter, r, d);
  if (state & kFocus) {
    DrawFocusRect(painter, focus);
    if (state & kSelected) DrawBevel(painter, r, -d);
  } else if (state & kDisabled) {
    DrawCaption(painter, textRect, disabledCaptionColor);
  }
}
