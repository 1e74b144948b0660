// SPDX-License-Identifier: GPL-3.0-or-later
#include "skin/cdib.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <cstring>
#include <random>
#include <vector>

#include "temp_dir.h"

namespace {

void Put32(std::string& s, uint32_t v) {
  s.append(reinterpret_cast<const char*>(&v), 4);
}
void Put16(std::string& s, uint16_t v) {
  s.append(reinterpret_cast<const char*>(&v), 2);
}

// A BMP file: pixel rows given top-down as colour indices (or 0xRRGGBB for 24 bits).
std::string MakeBmp(int bits, const std::vector<std::vector<uint32_t>>& rows,
                    const std::vector<uint32_t>& table, uint32_t clrUsed = 0,
                    const std::string& extra = "") {
  const int width = static_cast<int>(rows[0].size());
  const int height = static_cast<int>(rows.size());
  const uint32_t rowSize = (bits * width + 31) / 32 * 4;
  std::string pixels;
  for (int y = height - 1; y >= 0; --y) {  // bottom-up
    std::string row(rowSize, '\0');
    for (int x = 0; x < width; ++x) {
      const uint32_t v = rows[y][x];
      if (bits == 24) {
        row[x * 3] = static_cast<char>(v & 0xFF);
        row[x * 3 + 1] = static_cast<char>((v >> 8) & 0xFF);
        row[x * 3 + 2] = static_cast<char>((v >> 16) & 0xFF);
      } else {
        const int perByte = 8 / bits;
        row[x / perByte] =
            static_cast<char>(row[x / perByte] | (v << (8 - bits * (x % perByte + 1))));
      }
    }
    pixels += row;
  }
  std::string info;
  Put32(info, 40);
  Put32(info, width);
  Put32(info, height);
  Put16(info, 1);
  Put16(info, static_cast<uint16_t>(bits));
  Put32(info, 0);
  Put32(info, static_cast<uint32_t>(pixels.size()));
  Put32(info, 2835);
  Put32(info, 2835);
  Put32(info, clrUsed);
  Put32(info, 0);
  for (uint32_t c : table)
    Put32(info, c);  // 0x00RRGGBB is blue, green, red, 0 in memory
  std::string file = "BM";
  Put32(file, static_cast<uint32_t>(14 + info.size() + pixels.size()));
  Put32(file, 0);
  Put32(file, static_cast<uint32_t>(14 + info.size()));
  return file + info + pixels + extra;
}

QImage Paint(CDib& dib, const QRect& dest, const QRect& src, int* result = nullptr) {
  QImage target(20, 20, QImage::Format_RGB32);
  target.fill(qRgb(1, 2, 3));
  QPainter painter(&target);
  const int r = dib.Draw(painter, dest, src);
  painter.end();
  if (result) *result = r;
  return target;
}

class CDibTest : public ::testing::Test {
 protected:
  uint32_t Load(const std::string& bytes) {
    WriteFileBytes(dir.File("skin.bmp"), bytes);
    return dib.LoadFile(dir.File("skin.bmp"));
  }
  TempDir dir;
  CDib dib;
};

TEST_F(CDibTest, EightBitWithPaletteAndExtraBytes) {
  const std::string bytes =
      MakeBmp(8, {{0, 1, 2}, {2, 1, 0}}, {0xFF0000, 0x00FF00, 0x0000FF}, 0, "tail!");
  ASSERT_EQ(Load(bytes), bytes.size());
  EXPECT_EQ(dib.GetWidth(), 3u);
  EXPECT_EQ(dib.GetHeight(), 2u);
  EXPECT_EQ(dib.ColorCount(), 256);  // biClrUsed 0 at 8 bits
  EXPECT_EQ(dib.Palette().size(), 256);
  EXPECT_EQ(dib.BitsSize(), 8u + 5u);  // two rows of 4 bytes, then the extra bytes
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(dib.Bits()) + 8, 5), "tail!");
  const QImage& image = dib.Image();
  EXPECT_EQ(image.pixel(0, 0), qRgb(255, 0, 0));  // top row first
  EXPECT_EQ(image.pixel(2, 0), qRgb(0, 0, 255));
  EXPECT_EQ(image.pixel(0, 1), qRgb(0, 0, 255));
}

TEST_F(CDibTest, ColorCountRules) {
  ASSERT_NE(Load(MakeBmp(8, {{0}}, std::vector<uint32_t>(17, 0x123456), 17)), 0u);
  EXPECT_EQ(dib.ColorCount(), 17);
  EXPECT_EQ(dib.Palette().size(), 17);
  EXPECT_EQ(dib.ColorTableSize(), 68);
  ASSERT_NE(Load(MakeBmp(24, {{0x102030}}, {})), 0u);
  EXPECT_EQ(dib.ColorCount(), 0);
  EXPECT_FALSE(dib.HasPalette());
  EXPECT_EQ(dib.Image().pixel(0, 0), qRgb(0x10, 0x20, 0x30));
}

TEST_F(CDibTest, OneAndFourBitPixels) {
  ASSERT_NE(Load(MakeBmp(1, {{0, 1, 1, 0, 1, 0, 0, 1, 1}}, {0x000000, 0xFFFFFF})), 0u);
  EXPECT_EQ(dib.ColorCount(), 2);
  const QRgb white = qRgb(255, 255, 255), black = qRgb(0, 0, 0);
  const QRgb expected1[] = {black, white, white, black, white, black, black, white, white};
  for (int x = 0; x < 9; ++x)
    EXPECT_EQ(dib.Image().pixel(x, 0), expected1[x]) << x;
  std::vector<uint32_t> table(16);
  for (int i = 0; i < 16; ++i)
    table[i] = static_cast<uint32_t>(i * 0x111111);
  ASSERT_NE(Load(MakeBmp(4, {{15, 0, 7}}, table)), 0u);
  EXPECT_EQ(dib.ColorCount(), 16);
  EXPECT_EQ(dib.Image().pixel(0, 0), qRgb(0xFF, 0xFF, 0xFF));
  EXPECT_EQ(dib.Image().pixel(2, 0), qRgb(0x77, 0x77, 0x77));
}

TEST_F(CDibTest, BadFilesLeaveItEmpty) {
  const std::string good = MakeBmp(24, {{0x112233, 0x445566}}, {});
  ASSERT_NE(Load(good), 0u);
  std::string wrong = good;
  wrong[1] = 'N';
  EXPECT_EQ(Load(wrong), 0u);  // a second load that fails releases the first
  EXPECT_TRUE(dib.Empty());
  EXPECT_EQ(dib.GetWidth(), 0u);
  EXPECT_EQ(Load(good.substr(0, 10)), 0u);  // no whole file header
  EXPECT_EQ(Load(good.substr(0, 30)), 0u);  // shorter than its header says
  EXPECT_TRUE(dib.Empty());
  EXPECT_EQ(dib.LoadFile(dir.File("missing.bmp")), 0u);
  EXPECT_EQ(dib.ColorCount(), 0);
  int result = -1;
  Paint(dib, QRect(0, 0, 2, 1), QRect(0, 0, 2, 1), &result);
  EXPECT_EQ(result, 0);
}

TEST_F(CDibTest, AbsurdSizesAndDepthsAreNotDecoded) {
  // 54 bytes claiming 32768 x 32768 pixels of 0 bits: loaded as bytes, never
  // decoded (which would take 4 GiB).
  std::string tiny = MakeBmp(24, {{0}}, {});
  tiny.resize(54);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&tiny[at], &v, 4); };
  put32(18, 32768);
  put32(22, 32768);
  tiny[28] = 0;
  tiny[29] = 0;
  EXPECT_NE(Load(tiny), 0u);
  int result = -1;
  Paint(dib, QRect(0, 0, 2, 1), QRect(0, 0, 2, 1), &result);
  EXPECT_EQ(result, 0);
  // A real row wider than the limit is refused for drawing too; at the limit it draws.
  for (const uint32_t width :
       {static_cast<uint32_t>(CDib::kMaxSide) + 1, static_cast<uint32_t>(CDib::kMaxSide)}) {
    std::string wide = MakeBmp(24, {{0x112233}}, {});
    std::memcpy(&wide[18], &width, 4);
    wide.resize(54 + (width * 3 + 3) / 4 * 4, '\x40');
    const uint32_t fileSize = static_cast<uint32_t>(wide.size());
    std::memcpy(&wide[2], &fileSize, 4);
    ASSERT_NE(Load(wide), 0u);
    result = -1;
    Paint(dib, QRect(0, 0, 2, 1), QRect(0, 0, 2, 1), &result);
    EXPECT_EQ(result != 0, width == static_cast<uint32_t>(CDib::kMaxSide)) << width;
  }
}

TEST_F(CDibTest, DrawsUnscaledOrStretched) {
  ASSERT_NE(Load(MakeBmp(24, {{0xFF0000, 0x00FF00}, {0x0000FF, 0xFFFFFF}}, {})), 0u);
  int result = 0;
  QImage same = Paint(dib, QRect(5, 6, 2, 2), QRect(0, 0, 2, 2), &result);
  EXPECT_NE(result, 0);
  EXPECT_EQ(same.pixel(5, 6), qRgb(255, 0, 0));
  EXPECT_EQ(same.pixel(6, 7), qRgb(255, 255, 255));
  EXPECT_EQ(same.pixel(7, 7), qRgb(1, 2, 3));  // nothing beyond the rectangle
  // A part of the bitmap, given top-down.
  QImage part = Paint(dib, QRect(0, 0, 1, 1), QRect(1, 1, 1, 1));
  EXPECT_EQ(part.pixel(0, 0), qRgb(255, 255, 255));
  // Stretched twice as large: whole colours, no blending.
  QImage big = Paint(dib, QRect(0, 0, 4, 4), QRect(0, 0, 2, 2));
  EXPECT_EQ(big.pixel(0, 0), qRgb(255, 0, 0));
  EXPECT_EQ(big.pixel(1, 1), qRgb(255, 0, 0));
  EXPECT_EQ(big.pixel(2, 1), qRgb(0, 255, 0));
  EXPECT_EQ(big.pixel(3, 3), qRgb(255, 255, 255));
}

TEST_F(CDibTest, WritesWhatItRead) {
  const std::string bytes = MakeBmp(8, {{0, 1}, {1, 0}}, {0x000000, 0xFFFFFF}, 2);
  ASSERT_NE(Load(bytes), 0u);
  FILE* out = std::fopen(dir.File("copy.bmp").c_str(), "wb");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(dib.WriteTo(out), 54u + 8u + 8u);
  std::fclose(out);
  EXPECT_TRUE(BytesEqual(ReadFileBytes(dir.File("copy.bmp")), bytes));
  CDib empty;
  FILE* none = std::fopen(dir.File("none.bmp").c_str(), "wb");
  EXPECT_EQ(empty.WriteTo(none), 0u);
  std::fclose(none);
  EXPECT_EQ(ReadFileBytes(dir.File("none.bmp")), "");
}

}  // namespace

namespace {

TEST(CDibFuzz, GarbageNeverReadsOutsideTheFile) {
  TempDir dir;
  std::mt19937 random(7);
  const std::string good = MakeBmp(8, {{0, 1, 2, 3}, {3, 2, 1, 0}}, {0x010203, 0x040506}, 0);
  CDib dib;
  for (int i = 0; i < 400; ++i) {
    std::string bytes = good;
    // Flip header fields and sizes: offsets inside the headers, huge dimensions,
    // odd bit counts, truncation.
    const int flips = 1 + static_cast<int>(random() % 6);
    for (int f = 0; f < flips; ++f) {
      const size_t at = random() % std::min<size_t>(bytes.size(), 70);
      bytes[at] = static_cast<char>(random());
    }
    if (random() % 3 == 0) bytes.resize(random() % bytes.size());
    WriteFileBytes(dir.File("fuzz.bmp"), bytes);
    const uint32_t n = dib.LoadFile(dir.File("fuzz.bmp"));
    if (n == 0) {
      EXPECT_TRUE(dib.Empty());
      continue;
    }
    EXPECT_EQ(n, bytes.size());
    QImage target(8, 8, QImage::Format_RGB32);
    QPainter painter(&target);
    dib.Draw(painter, QRect(0, 0, 8, 8), QRect(0, 0, 4, 2));
    painter.end();
    FILE* out = std::fopen(dir.File("out.bmp").c_str(), "wb");
    dib.WriteTo(out);
    std::fclose(out);
  }
}

}  // namespace
