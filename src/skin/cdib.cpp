// SPDX-License-Identifier: GPL-3.0-or-later
#include "skin/cdib.h"

#include <sys/stat.h>
#include <QPainter>

#include <cstring>
#include <new>

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kColorTableOffset = 40;

uint32_t Get32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void Put32(uint8_t* p, uint32_t v) {
  std::memcpy(p, &v, 4);
}

}  // namespace

CDib::~CDib() {
  Release();
}

void CDib::Release() {
  bits.reset();
  info.reset();
  bitsSize = infoSize = 0;
  palette.clear();
  havePalette = false;
  image = QImage();
}

uint32_t CDib::Field32(uint32_t offset) const {
  return (info && offset + 4 <= infoSize + 1024) ? Get32(info.get() + offset) : 0;
}

uint16_t CDib::Field16(uint32_t offset) const {
  if (!info || offset + 2 > infoSize + 1024) return 0;
  uint16_t v;
  std::memcpy(&v, info.get() + offset, 2);
  return v;
}

uint32_t CDib::GetWidth() const {
  return Field32(4);
}
uint32_t CDib::GetHeight() const {
  return Field32(8);
}

uint16_t CDib::ColorCount() const {
  if (!info) return 0;
  const uint32_t used = Field32(32);
  if (used != 0) return static_cast<uint16_t>(used);
  switch (Field16(14)) {
    case 1:
      return 2;
    case 4:
      return 16;
    case 8:
      return 256;
    default:
      return 0;
  }
}

uint32_t CDib::LoadFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    Release();
    return 0;
  }
  const uint32_t result = ReadFrom(file);
  std::fclose(file);
  return result;
}

uint32_t CDib::ReadFrom(FILE* file) {
  Release();
  uint8_t header[kFileHeaderSize];
  if (file == nullptr || std::fread(header, 1, sizeof(header), file) != sizeof(header)) return 0;
  if (header[0] != 'B' || header[1] != 'M') return 0;
  const uint32_t offBits = Get32(header + 10);
  struct stat st;
  if (offBits < kFileHeaderSize || ::fstat(::fileno(file), &st) != 0 ||
      st.st_size < static_cast<off_t>(offBits) || st.st_size > 0x7FFFFFFF) {
    return 0;
  }
  // The info block gets 1024 zero bytes more than it holds, so that reading a
  // header field or colour entry past a short block finds zeros.
  infoSize = offBits - kFileHeaderSize;
  info.reset(new (std::nothrow) uint8_t[infoSize + 1024]());
  if (!info) {
    Release();
    return 0;
  }
  if (std::fread(info.get(), 1, infoSize, file) != infoSize) {
    Release();
    return 0;
  }
  // The pixel bits run to the end of the file, whatever the header says.
  bitsSize = static_cast<uint32_t>(st.st_size) - offBits;
  bits.reset(new (std::nothrow) uint8_t[bitsSize == 0 ? 1 : bitsSize]());
  if (!bits || std::fread(bits.get(), 1, bitsSize, file) != bitsSize) {
    Release();
    return 0;
  }
  BuildPalette();
  Decode();
  return offBits + bitsSize;
}

bool CDib::BuildPalette() {
  if (!info) return false;
  const uint16_t count = ColorCount();
  if (count == 0) return true;
  palette.clear();
  havePalette = false;
  if (kColorTableOffset + count * 4u > infoSize + 1024) return false;  // no room for it
  palette.reserve(count);
  const uint8_t* table = info.get() + kColorTableOffset;
  for (uint16_t i = 0; i < count; ++i) {
    palette.push_back(qRgb(table[i * 4 + 2], table[i * 4 + 1], table[i * 4]));
  }
  havePalette = true;
  return true;
}

void CDib::Decode() {
  image = QImage();
  const int32_t width = static_cast<int32_t>(GetWidth());
  const int32_t rawHeight = static_cast<int32_t>(GetHeight());
  const uint16_t bitCount = Field16(14);
  const uint32_t compression = Field32(16);
  // Only what can be drawn, of a sane size, and described by the file's own
  // bytes is decoded; all of it is checked before anything is allocated.
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32) return;
  if (width <= 0 || rawHeight == 0 || width > kMaxSide || rawHeight > kMaxSide ||
      rawHeight < -kMaxSide) {
    return;
  }
  if (compression != 0 && !(compression == 3 && bitCount == 32)) return;  // RLE and others
  const bool topDown = rawHeight < 0;
  const int height = topDown ? -rawHeight : rawHeight;
  const uint64_t rowSize = (static_cast<uint64_t>(bitCount) * width + 31) / 32 * 4;
  if (rowSize * height > bitsSize) return;  // the file is shorter than its rows
  QImage out(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = bits.get() + rowSize * (topDown ? y : height - 1 - y);
    QRgb* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < width; ++x) {
      switch (bitCount) {
        case 1:
        case 4:
        case 8: {
          const int perByte = 8 / bitCount;
          const int shift = 8 - bitCount * (x % perByte + 1);
          const int index = (row[x / perByte] >> shift) & ((1 << bitCount) - 1);
          line[x] = index < palette.size() ? palette[index] : qRgb(0, 0, 0);
          break;
        }
        case 24:
          line[x] = qRgb(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]);
          break;
        case 32:
          line[x] = qRgb(row[x * 4 + 2], row[x * 4 + 1], row[x * 4]);
          break;
        default:
          return;  // 16-bit and other forms are not decoded
      }
    }
  }
  image = out;
}

int CDib::Draw(QPainter& painter, const QRect& dest, const QRect& src) {
  if (!info || image.isNull()) return 0;
  if (dest.size() == src.size()) {
    painter.drawImage(dest.topLeft(), image, src);
  } else {
    const bool smooth = painter.testRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);  // colour on colour
    painter.drawImage(dest, image, src);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
  }
  return src.height();
}

uint32_t CDib::WriteTo(FILE* file) {
  if (!info || file == nullptr) return 0;
  const uint32_t compression = Field32(16);
  const uint32_t rowSize = (Field16(14) * GetWidth() + 31) / 32 * 4;
  uint32_t imageSize;
  if (compression == 1 || compression == 2) {
    imageSize = Field32(20);
  } else {
    imageSize = rowSize * GetHeight();
    Put32(info.get() + 20, imageSize);
  }
  const uint32_t biSize = Field32(0);
  const uint32_t tableSize = ColorTableSize();
  uint8_t header[kFileHeaderSize] = {'B', 'M'};
  Put32(header + 2, kFileHeaderSize + biSize + tableSize + imageSize);
  Put32(header + 10, kFileHeaderSize + biSize + tableSize);
  if (std::fwrite(header, 1, sizeof(header), file) != sizeof(header)) return 0;
  const uint32_t infoBytes = kColorTableOffset + tableSize;
  if (infoBytes > infoSize + 1024 || std::fwrite(info.get(), 1, infoBytes, file) != infoBytes) {
    return 0;
  }
  // Never more than the bits held, whatever the header claims.
  uint32_t pixelBytes = GetHeight() * rowSize;
  if (pixelBytes > bitsSize) pixelBytes = bitsSize;
  if (std::fwrite(bits.get(), 1, pixelBytes, file) != pixelBytes) return 0;
  return 54 + tableSize + pixelBytes;
}
