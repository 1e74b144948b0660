// SPDX-License-Identifier: GPL-3.0-or-later
#include "skin/skin_slider.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <vector>

namespace {

QRgb Colour(uint32_t ref) {
  return qRgb(ref & 0xFF, (ref >> 8) & 0xFF, (ref >> 16) & 0xFF);
}

struct Heard {
  int code;
  int position;
  bool operator==(const Heard& o) const { return code == o.code && position == o.position; }
};

// A 46 x 5 slider (the volume slider of the window) in a parent that records
// the notifications.
class SliderTest : public ::testing::Test {
 protected:
  SliderTest() : slider(&parent) {
    parent.resize(100, 20);
    slider.resize(46, 5);
    parent.show();
    QCoreApplication::processEvents();
    slider.SetColors(0xC0C0C0, 0x0000FF, 0x00FF00, 0xC80040);
    slider.SetNotifier([this](SkinSlider*, int code, int pos) { heard.push_back({code, pos}); });
  }
  // Delivers the posted notifications.
  std::vector<Heard> Take() {
    QCoreApplication::processEvents();
    std::vector<Heard> out;
    out.swap(heard);
    return out;
  }
  // The columns of the thumb: where the thumb colour shows in the middle row.
  std::pair<int, int> ThumbColumns(QRgb thumb) {
    const QImage image = slider.Render();
    int first = -1, last = -1;
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixel(x, 2) == thumb) {
        if (first < 0) first = x;
        last = x;
      }
    }
    return {first, last};
  }

  QWidget parent;
  SkinSlider slider;
  std::vector<Heard> heard;
};

TEST_F(SliderTest, ThumbAtTheEndsAndBetween) {
  const QRgb thumb = Colour(0x00FF00);
  slider.SetPosition(0);
  EXPECT_EQ(ThumbColumns(thumb), std::make_pair(1, 6));  // [0, 8) inside its frame
  slider.SetPosition(100);
  EXPECT_EQ(ThumbColumns(thumb), std::make_pair(39, 44));  // [38, 46)
  slider.SetPosition(50);
  EXPECT_EQ(ThumbColumns(thumb), std::make_pair(20, 25));  // centre (36 * 50 / 100) + 5 = 23
  const QImage image = slider.Render();
  EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));         // channel frame: black top and left
  EXPECT_EQ(image.pixel(45, 4), qRgb(255, 255, 255));  // white bottom and right
  EXPECT_EQ(image.pixel(19, 0), qRgb(255, 255, 255));  // thumb frame highlight
  EXPECT_EQ(image.pixel(26, 4), qRgb(64, 64, 64));     // thumb frame shadow
  EXPECT_EQ(image.pixel(10, 2), qRgb(255, 0, 0));      // filled up to the thumb's centre
  EXPECT_EQ(image.pixel(30, 2), qRgb(192, 192, 192));  // the channel after it
}

TEST_F(SliderTest, KeysWithWrappingPages) {
  slider.setFocus();
  slider.SetPosition(95);
  QTest::keyClick(&slider, Qt::Key_PageUp);  // past the maximum: to the minimum
  EXPECT_EQ(slider.Position(), 0);
  QTest::keyClick(&slider, Qt::Key_PageDown);  // below the minimum: to the maximum
  EXPECT_EQ(slider.Position(), 100);
  QTest::keyClick(&slider, Qt::Key_Left);
  QTest::keyClick(&slider, Qt::Key_Down);
  QTest::keyClick(&slider, Qt::Key_Home);
  QTest::keyClick(&slider, Qt::Key_End);
  EXPECT_EQ(slider.Position(), 100);
  slider.SetPosition(0);
  QTest::keyClick(&slider, Qt::Key_Up);  // at the minimum: still reported
  EXPECT_EQ(Take(), (std::vector<Heard>{{2, 0}, {3, 100}, {0, 99}, {1, 100}, {0, 0}}));
}

TEST_F(SliderTest, WithoutWrappingPagesStopAtTheEnds) {
  slider.SetWrapping(false);
  slider.setFocus();
  slider.SetPosition(5);
  QTest::keyClick(&slider, Qt::Key_PageDown);
  EXPECT_EQ(slider.Position(), 0);
  QTest::keyClick(&slider, Qt::Key_PageDown);
  EXPECT_EQ(slider.Position(), 0);
  slider.SetPosition(95);
  QTest::keyClick(&slider, Qt::Key_PageUp);
  EXPECT_EQ(slider.Position(), 100);
  QTest::keyClick(&slider, Qt::Key_PageUp);
  EXPECT_EQ(slider.Position(), 100);
}

TEST_F(SliderTest, DragEndsWithOneThumbPosition) {
  slider.SetPosition(0);
  QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(18, 2));
  EXPECT_TRUE(slider.Dragging());
  QTest::mouseMove(&slider, QPoint(30, 2));
  QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(30, 2));
  // x = 18: 101 values over 36 pixels gives 50; x = 30: 84.
  EXPECT_EQ(Take(), (std::vector<Heard>{{5, 50}, {5, 84}, {4, 84}}));
  EXPECT_FALSE(slider.Dragging());
  // A click on the current position sends nothing.
  QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(30, 2));
  EXPECT_TRUE(Take().empty());
}

TEST_F(SliderTest, DraggingPastTheEndKeepsReporting) {
  slider.SetPosition(100);
  QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(80, 2));
  QTest::mouseMove(&slider, QPoint(90, 2));
  QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(95, 2));
  EXPECT_EQ(Take(), (std::vector<Heard>{{5, 100}, {5, 100}, {5, 100}, {4, 100}}));
}

TEST_F(SliderTest, ResizeResetsAndNoParentHearsNothing) {
  slider.SetPosition(70);
  slider.resize(60, 5);
  QCoreApplication::processEvents();
  EXPECT_EQ(slider.Position(), 0);
  EXPECT_TRUE(Take().empty());
  SkinSlider orphan;
  orphan.resize(46, 5);
  bool told = false;
  orphan.SetNotifier([&](SkinSlider*, int, int) { told = true; });
  orphan.setFocus();
  QTest::keyClick(&orphan, Qt::Key_Right);
  QCoreApplication::processEvents();
  EXPECT_EQ(orphan.Position(), 1);
  EXPECT_FALSE(told);
}

}  // namespace
