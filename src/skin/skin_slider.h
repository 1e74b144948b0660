// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>

// A horizontal slider of the skin: a flat coloured channel, filled up to the
// thumb, that handles mouse and keys itself and tells its parent of every change
// with a notification posted after its own handler returns.
class SkinSlider : public QWidget {
 public:
  // The notification codes.
  enum Code { kLineUp = 0, kLineDown, kPageUp, kPageDown, kThumbPosition, kThumbTrack };
  using Notifier = std::function<void(SkinSlider* slider, int code, int position)>;

  explicit SkinSlider(QWidget* parent = nullptr);

  void SetRange(int minimum, int maximum);
  int Minimum() const { return minimum.load(); }
  int Maximum() const { return maximum.load(); }
  int Position() const { return position.load(); }
  void SetLineSize(int size) { lineSize = size; }
  void SetPageSize(int size) { pageSize = size; }
  // Whether a page past either end wraps to the other (the default); a volume
  // control must not jump from silence to full level.
  void SetWrapping(bool on) { wrapping = on; }
  // A and B of a passage, drawn as ticks on the channel (positions; -1: none).
  void SetMarks(int a, int b);
  std::pair<int, int> Marks() const { return {markA, markB}; }
  // Safe from any thread: stores the position (clamped to the range) and asks
  // for a repaint.
  void SetPosition(int pos);
  // Sets the position to the minimum without repainting or notifying.
  void ResetPosition();
  void SetColors(uint32_t channel, uint32_t fill, uint32_t thumb, uint32_t dragThumb);
  // Who hears the notifications (posted to the parent's thread; none without a parent).
  void SetNotifier(Notifier notifier) { this->notifier = std::move(notifier); }

  // The position under x (client coordinates); true when it changed it.
  bool SetPositionFromPoint(int x);
  void NotifyParent(int code);

  // Paints the slider into an image the size of the widget.
  QImage Render() const;
  bool Dragging() const { return dragging; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  void SetStoredPosition(int pos);

  std::atomic<int> minimum{0};
  std::atomic<int> maximum{100};
  std::atomic<int> position{0};
  int lineSize = 1;
  int pageSize = 10;
  bool wrapping = true;
  int markA = -1, markB = -1;
  bool dragging = false;
  bool movedDuringDrag = false;
  uint32_t channelColor = 0xC6C3C6;
  uint32_t fillColor = 0x0000FF;
  uint32_t thumbColor = 0xC6C3C6;
  uint32_t dragThumbColor = 0xFF0040;
  int thumbHalfWidth = 4;
  Notifier notifier;
};
