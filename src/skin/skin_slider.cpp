// SPDX-License-Identifier: GPL-3.0-or-later
#include "skin/skin_slider.h"

#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

#include "skin/skin_drawing.h"

namespace {
constexpr uint32_t kFocusThumb = 0xFF0040;
constexpr uint32_t kPassageMark = 0x00D0FF;  // amber (0x00BBGGRR)
constexpr uint32_t kHighlight = 0xFFFFFF;    // the button-highlight colour
constexpr uint32_t kDarkShadow = 0x404040;   // the 3-D dark-shadow colour
}  // namespace

SkinSlider::SkinSlider(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::ClickFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);  // the paint covers everything
  ResetPosition();
}

void SkinSlider::SetRange(int lo, int hi) {
  minimum = lo;
  maximum = std::max(lo, hi);
  SetStoredPosition(position.load());
}

void SkinSlider::SetStoredPosition(int pos) {
  position = std::clamp(pos, minimum.load(), maximum.load());
}

void SkinSlider::SetPosition(int pos) {
  SetStoredPosition(pos);
  // Widgets are painted on their own thread: the repaint is posted there.
  QMetaObject::invokeMethod(
      this, [this] { repaint(); }, Qt::QueuedConnection);
}

void SkinSlider::ResetPosition() {
  SetStoredPosition(0);
}

void SkinSlider::SetColors(uint32_t channel, uint32_t fill, uint32_t thumb, uint32_t dragThumb) {
  channelColor = channel;
  fillColor = fill;
  thumbColor = thumb;
  dragThumbColor = dragThumb;
}

bool SkinSlider::SetPositionFromPoint(int x) {
  const int lo = minimum.load(), hi = maximum.load();
  const int span = width() - 10;
  if (span <= 0) return false;  // too narrow to point at anything
  const int target =
      lo + static_cast<int>(static_cast<double>(x) * (hi - lo + 1) / static_cast<double>(span));
  if (target == position.load()) return false;
  SetStoredPosition(target);
  return true;
}

void SkinSlider::NotifyParent(int code) {
  QWidget* parent = parentWidget();
  if (parent == nullptr || !notifier) return;
  const int pos = position.load();
  // Posted, as a window message would be: handled after this handler returns.
  QMetaObject::invokeMethod(
      parent, [this, code, pos] { notifier(this, code, pos); }, Qt::QueuedConnection);
}

void SkinSlider::SetMarks(int a, int b) {
  if (a == markA && b == markB) return;
  markA = a;
  markB = b;
  update();
}

QImage SkinSlider::Render() const {
  QImage image(std::max(width(), 1), std::max(height(), 1), QImage::Format_RGB32);
  QPainter painter(&image);
  const int lo = minimum.load(), hi = maximum.load(), pos = position.load();
  const WinRect r{0, 0, width(), height()};
  const int w = r.right - r.left;
  int x;
  if (pos == lo) {
    x = r.left;
  } else if (pos == hi) {
    x = r.right;
  } else {
    x = (w - 10) * (pos - lo) / (hi - lo) + 5;
  }
  const int h = thumbHalfWidth;
  WinRect t{x - h, r.top, x + h, r.bottom};
  if (t.left > t.right || t.left < 0) {
    t.left = 0;
    t.right = x < 0 ? r.right : 2 * h;
  }
  if (t.right >= r.right) {
    t.right = r.right;
    t.left = r.right <= 2 * h ? 0 : r.right - 2 * h;
  }
  if (t.left <= r.left) {
    t.left = r.left;
    t.right = r.right <= r.left + 2 * h ? r.right : r.left + 2 * h;
  }
  FillRect(painter, r, channelColor);
  FillRect(painter, WinRect{r.left, r.top, x, r.bottom}, fillColor);
  DrawFrame(painter, r, 0, 0xFFFFFF);
  const uint32_t thumb = dragging ? dragThumbColor : hasFocus() ? kFocusThumb : thumbColor;
  FillRect(painter, t, thumb);
  DrawFrame(painter, t, kHighlight, kDarkShadow);
  // The passage's ends, where the thumb would stand at them, over everything.
  for (const int mark : {markA, markB}) {
    if (mark < lo || mark > hi || hi == lo) continue;
    const int mx = std::clamp((w - 10) * (mark - lo) / (hi - lo) + 5, 1, w - 2);
    FillRect(painter, WinRect{mx - 1, r.top, mx + 1, r.bottom}, kPassageMark);
  }
  return image;
}

void SkinSlider::paintEvent(QPaintEvent*) {
  // Drawn off screen and copied in one piece, so frequent updates do not flicker.
  QPainter painter(this);
  painter.drawImage(0, 0, Render());
}

void SkinSlider::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ResetPosition();
}

void SkinSlider::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || dragging) {
    QWidget::mousePressEvent(event);
    return;
  }
  dragging = true;
  movedDuringDrag = false;
  grabMouse();
  setFocus(Qt::MouseFocusReason);
  if (SetPositionFromPoint(event->position().toPoint().x())) {
    movedDuringDrag = true;
    NotifyParent(kThumbTrack);
  }
  repaint();
}

void SkinSlider::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging) {
    QWidget::mouseMoveEvent(event);
    return;
  }
  if (SetPositionFromPoint(event->position().toPoint().x())) {
    movedDuringDrag = true;
    NotifyParent(kThumbTrack);
    repaint();
  }
}

void SkinSlider::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragging || event->button() != Qt::LeftButton) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  dragging = false;
  releaseMouse();
  if (SetPositionFromPoint(event->position().toPoint().x())) {
    NotifyParent(kThumbTrack);
    movedDuringDrag = true;
  }
  if (movedDuringDrag) {
    NotifyParent(kThumbPosition);
    movedDuringDrag = false;
  }
  repaint();
}

void SkinSlider::keyPressEvent(QKeyEvent* event) {
  const int lo = minimum.load(), hi = maximum.load(), pos = position.load();
  int next;
  int code;
  switch (event->key()) {
    case Qt::Key_PageUp:
      next = pos + pageSize <= hi ? pos + pageSize : wrapping ? lo : hi;
      code = kPageUp;
      break;
    case Qt::Key_PageDown:
      // hi + 1 is stored as the maximum.
      next = pos - pageSize >= lo ? pos - pageSize : wrapping ? hi + 1 : lo;
      code = kPageDown;
      break;
    case Qt::Key_End:
    case Qt::Key_Home:
      return;  // consumed, nothing changes
    case Qt::Key_Left:
    case Qt::Key_Up:
      next = std::max(pos - lineSize, lo);
      code = kLineUp;
      break;
    case Qt::Key_Right:
    case Qt::Key_Down:
      next = std::min(pos + lineSize, hi);
      code = kLineDown;
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  SetStoredPosition(next);
  repaint();
  NotifyParent(code);
}

void SkinSlider::keyReleaseEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_End:
    case Qt::Key_Home:
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
      return;
    default:
      QWidget::keyReleaseEvent(event);
  }
}
