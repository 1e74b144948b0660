// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QRect>
#include <QVector>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class QPainter;

// A device-independent bitmap held exactly as a BMP file stores it (info block
// and pixel bits), with the palette of its colour table, painted with Qt. The
// skin of the main window is one.
class CDib {
 public:
  // The largest width or height that is decoded for drawing.
  static constexpr int32_t kMaxSide = 16384;

  CDib() = default;
  virtual ~CDib();
  CDib(const CDib&) = delete;
  CDib& operator=(const CDib&) = delete;

  // Reads the BMP file at path; its length in bytes, or 0 (and empty) on failure.
  uint32_t LoadFile(const std::string& path);
  // Replaces the held bitmap with one read from file's current position.
  uint32_t ReadFrom(FILE* file);
  // Writes the held bitmap as a BMP stream; the bytes written, 0 when empty.
  uint32_t WriteTo(FILE* file);
  // Builds the palette from the colour table; false when empty or when it fails.
  bool BuildPalette();
  // Paints the src part of the bitmap (top-down coordinates) into dest, scaled
  // with nearest-neighbour sampling when the sizes differ; 0 when nothing was painted.
  int Draw(QPainter& painter, const QRect& dest, const QRect& src);

  uint32_t GetWidth() const;
  uint32_t GetHeight() const;
  uint16_t ColorCount() const;
  uint16_t ColorTableSize() const { return static_cast<uint16_t>(ColorCount() * 4); }
  void Release();

  bool Empty() const { return !info; }
  // The palette built from the colour table (empty for bitmaps without one).
  const QVector<QRgb>& Palette() const { return palette; }
  bool HasPalette() const { return havePalette; }
  // The pixel bits and their size: the file's bytes after bfOffBits.
  const uint8_t* Bits() const { return bits.get(); }
  uint32_t BitsSize() const { return bitsSize; }
  // The bitmap as an image (null when empty or in a form this program does not decode).
  const QImage& Image() const { return image; }

 private:
  uint32_t Field32(uint32_t offset) const;
  uint16_t Field16(uint32_t offset) const;
  void Decode();

  std::unique_ptr<uint8_t[]> bits;
  std::unique_ptr<uint8_t[]> info;
  uint32_t bitsSize = 0;
  uint32_t infoSize = 0;
  QVector<QRgb> palette;
  bool havePalette = false;
  QImage image;
};
