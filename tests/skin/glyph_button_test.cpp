// SPDX-License-Identifier: GPL-3.0-or-later
#include "skin/glyph_button.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <set>

#include "skin/skin_button.h"

namespace {

QRgb Grey(int v) {
  return qRgb(v, v, v);
}

QImage Paint(int kind, int w, int h, int state = 0) {
  GlyphButton button;
  button.SetGlyph(kind);
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(qRgb(9, 9, 9));
  QPainter painter(&image);
  button.DrawItem(painter, WinRect{0, 0, w, h}, state);
  return image;
}

// The pixels of colour c, as a set of "x,y" for easy comparison.
std::set<std::pair<int, int>> PixelsOf(const QImage& image, QRgb c) {
  std::set<std::pair<int, int>> out;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixel(x, y) == c) out.insert({x, y});
    }
  }
  return out;
}

std::set<std::pair<int, int>> Box(int l, int t, int r, int b) {
  std::set<std::pair<int, int>> out;
  for (int y = t; y < b; ++y) {
    for (int x = l; x < r; ++x)
      out.insert({x, y});
  }
  return out;
}

TEST(GlyphButton, SquareOfATwentyByTwelveButton) {
  GlyphButton button;
  const WinRect g = button.GlyphSquare(WinRect{0, 0, 20, 12});
  EXPECT_EQ(g.left, 7);
  EXPECT_EQ(g.top, 3);
  EXPECT_EQ(g.right, 13);
  EXPECT_EQ(g.bottom, 9);
  EXPECT_EQ(PixelsOf(Paint(GlyphButton::kStop, 20, 12), Grey(0)), Box(7, 3, 13, 9));
}

TEST(GlyphButton, KindsOutsideTheTableDrawFaceAndBevelOnly) {
  for (int kind : {0, 13}) {
    const QImage image = Paint(kind, 20, 12);
    EXPECT_TRUE(PixelsOf(image, Grey(0)).empty()) << kind;
    EXPECT_EQ(image.pixel(0, 0), Grey(255));
    EXPECT_EQ(image.pixel(19, 11), Grey(128));
    EXPECT_EQ(image.pixel(10, 6), Grey(222));
  }
}

TEST(GlyphButton, NarrowBarsAreTwoPixelsThick) {
  // W = 6 here: half of it over 5 is 0, so the bars are 1 + 1 pixels.
  EXPECT_EQ(PixelsOf(Paint(GlyphButton::kDelete, 20, 12), Grey(0)), Box(7, 5, 13, 7));
  std::set<std::pair<int, int>> plus = Box(7, 5, 13, 7);
  const auto vertical = Box(9, 3, 11, 9);
  plus.insert(vertical.begin(), vertical.end());
  EXPECT_EQ(PixelsOf(Paint(GlyphButton::kAdd, 20, 12), Grey(0)), plus);
  // In a frame: the outline of the square, then the bar.
  std::set<std::pair<int, int>> framed = Box(7, 5, 13, 7);
  for (auto p : Box(7, 3, 13, 9)) {
    if (p.first == 7 || p.first == 12 || p.second == 3 || p.second == 8) framed.insert(p);
  }
  EXPECT_EQ(PixelsOf(Paint(GlyphButton::kDeleteAll, 20, 12), Grey(0)), framed);
}

TEST(GlyphButton, ShapesStayInTheirSquare) {
  for (int kind = GlyphButton::kBegin; kind <= GlyphButton::kExchange; ++kind) {
    const auto black = PixelsOf(Paint(kind, 46, 14), Grey(0));
    EXPECT_FALSE(black.empty()) << kind;
    GlyphButton button;
    const WinRect g = button.GlyphSquare(WinRect{0, 0, 46, 14});
    for (auto [x, y] : black) {
      EXPECT_TRUE(x >= g.left && x < g.right && y >= g.top && y < g.bottom) << kind;
    }
  }
  // The play triangle points down: wide at the top, narrow at the bottom.
  const QImage play = Paint(GlyphButton::kPlay, 46, 30);
  int top = 0, bottom = 0;
  for (int x = 0; x < 46; ++x) {
    top += play.pixel(x, 4) == Grey(0);
    bottom += play.pixel(x, 24) == Grey(0);
  }
  EXPECT_GT(top, bottom);
}

TEST(GlyphButton, PressedShowsBothGlyphsDisabledRedrawsInGrey) {
  const QImage pressed =
      Paint(GlyphButton::kStop, 21, 13, SkinButton::kFocus | SkinButton::kSelected);
  std::set<std::pair<int, int>> both = Box(6, 2, 14, 10);
  const auto moved = Box(8, 4, 14, 10);
  both.insert(moved.begin(), moved.end());
  EXPECT_EQ(PixelsOf(pressed, Grey(0)), both);
  EXPECT_EQ(pressed.pixel(0, 0), Grey(128));  // sunken
  const QImage disabled = Paint(GlyphButton::kStop, 21, 13, SkinButton::kDisabled);
  EXPECT_EQ(PixelsOf(disabled, Grey(135)), Box(6, 2, 14, 10));
  const QImage focused =
      Paint(GlyphButton::kStop, 21, 13, SkinButton::kFocus | SkinButton::kDisabled);
  EXPECT_EQ(PixelsOf(focused, Grey(0)), Box(6, 2, 14, 10));
}

}  // namespace
