// SPDX-License-Identifier: GPL-3.0-or-later
#include "skin/skin_button.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

namespace {

// One application for the widget tests (offscreen: no display needed).
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (QApplication::instance() == nullptr) {
      static int argc = 1;
      static char name[] = "skin_tests";
      static char* argv[] = {name, nullptr};
      app = new QApplication(argc, argv);
    }
  }
  QApplication* app = nullptr;
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

QRgb Grey(int v) {
  return qRgb(v, v, v);
}

// A 39 x 30 button (26 x 20 dialog units) painted with the given state bits.
QImage PaintButton(int state, int depth = 2, const QString& caption = "阅读") {
  SkinButton button(caption);
  button.setFixedSize(39, 30);
  button.SetBevelDepth(depth);
  QImage image(39, 30, QImage::Format_RGB32);
  image.fill(qRgb(9, 9, 9));
  QPainter painter(&image);
  button.DrawItem(painter, WinRect{0, 0, 39, 30}, state);
  return image;
}

TEST(DrawBevel, RaisedAndSunkenRings) {
  const QImage up = PaintButton(0);
  EXPECT_EQ(up.pixel(0, 0), Grey(255));    // ring 0 top-left: white
  EXPECT_EQ(up.pixel(38, 29), Grey(127));  // ring 0 bottom-right: 255 / 2
  EXPECT_EQ(up.pixel(0, 29), Grey(255));   // the left edge runs to the bottom
  EXPECT_EQ(up.pixel(1, 1), Grey(223));    // ring 1: 192 + 63 / 2
  EXPECT_EQ(up.pixel(37, 28), Grey(85));   // ring 1: 255 / 3
  EXPECT_EQ(up.pixel(3, 3), Grey(222));    // the face

  const QImage down = PaintButton(SkinButton::kFocus | SkinButton::kSelected);
  EXPECT_EQ(down.pixel(0, 0), Grey(127));
  EXPECT_EQ(down.pixel(38, 29), Grey(255));
  EXPECT_EQ(down.pixel(1, 1), Grey(85));
  EXPECT_EQ(down.pixel(37, 28), Grey(1));  // the innermost ring's dark edge
  EXPECT_EQ(down.pixel(4, 4), Grey(0));    // the dotted focus rectangle, 4 inside
  EXPECT_EQ(down.pixel(5, 4), Grey(222));
}

TEST(DrawBevel, DepthOneAndZero) {
  const QImage one = PaintButton(0, 1);
  EXPECT_EQ(one.pixel(0, 0), Grey(255));
  EXPECT_EQ(one.pixel(38, 29), Grey(128));
  EXPECT_EQ(one.pixel(1, 1), Grey(222));  // no second ring
  const QImage none = PaintButton(SkinButton::kFocus, 0);
  EXPECT_EQ(none.pixel(0, 0), Grey(222));
  EXPECT_EQ(none.pixel(2, 2), Grey(0));  // focus rectangle 2 inside the edge
}

int CountPixels(const QImage& image, QRgb colour) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x)
      n += image.pixel(x, y) == colour;
  }
  return n;
}

TEST(SkinButton, CaptionColoursAndTheDisabledLook) {
  SkinButton probe("x");
  EXPECT_EQ(probe.CaptionColor(), 0u);
  const QImage normal = PaintButton(0);
  EXPECT_GT(CountPixels(normal, Grey(0)), 10);  // a black caption
  EXPECT_EQ(CountPixels(normal, Grey(135)), 0);
  const QImage disabled = PaintButton(SkinButton::kDisabled);
  EXPECT_GT(CountPixels(disabled, Grey(135)), 10);  // grey over the black one
  const QImage focusedDisabled = PaintButton(SkinButton::kDisabled | SkinButton::kFocus);
  EXPECT_EQ(CountPixels(focusedDisabled, Grey(135)), 0);
}

TEST(SkinButton, CaptionColourFromAnotherThread) {
  SkinButton button("复读");
  button.setFixedSize(39, 30);
  std::thread engine([&] { button.SetCaptionColor(0x00C800); });
  engine.join();
  QCoreApplication::processEvents();
  EXPECT_EQ(button.CaptionColor(), 0x00C800u);
  QImage image(39, 30, QImage::Format_RGB32);
  button.render(&image);
  EXPECT_GT(CountPixels(image, qRgb(0, 0xC8, 0)), 10);  // green text
}

}  // namespace

#include <QLabel>
#include <QPushButton>

#include "skin/about_dialog.h"
#include "skin/cdib.h"
#include "skin/skin_art.h"
#include "temp_dir.h"

namespace {

TEST(AboutDialog, TemplateTextsAndLayout) {
  AboutDialog about;
  EXPECT_EQ(about.windowTitle(), QStringLiteral("关于Kestro"));
  EXPECT_EQ(about.size(), QSize(215, 107));  // 143 x 71 dialog units
  QStringList texts;
  for (QLabel* label : about.findChildren<QLabel*>()) {
    if (!label->text().isEmpty()) texts << label->text();
  }
  EXPECT_TRUE(texts.contains(QStringLiteral("Kestro1.0")));
  EXPECT_EQ(texts.size(), 5);
  QPushButton* ok = about.findChild<QPushButton*>();
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), QStringLiteral("确定"));
  EXPECT_EQ(ok->geometry(), QRect(167, 5, 48, 18));
  ok->click();
  EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST(SkinArt, TheCommittedSkinIsWhatTheToolDraws) {
  const std::string committed = ReadFileBytes(KESTRO_RESOURCES_DIR "/Skin/main.bmp");
  EXPECT_TRUE(BytesEqual(EncodeBmp24(DrawSkinFace()), committed));
  TempDir dir;
  WriteFileBytes(dir.File("main.bmp"), committed);
  CDib skin;
  ASSERT_EQ(skin.LoadFile(dir.File("main.bmp")), committed.size());
  EXPECT_EQ(skin.GetWidth(), 292u);
  EXPECT_EQ(skin.GetHeight(), 186u);
  // The display area is dark; the title strip is not.
  EXPECT_LT(qGray(skin.Image().pixel(100, 70)), 40);
  EXPECT_GT(qGray(skin.Image().pixel(100, 8)), 40);
}

}  // namespace
