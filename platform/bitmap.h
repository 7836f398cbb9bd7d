#pragma once
// A plain pixel block: residual maps, saved window areas and screenshots.
// Pixels are COLORREF values (0x00BBGGRR), row 0 at the top.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/draw_context.h"

namespace platform {

class Bitmap {
 public:
  Bitmap() = default;
  Bitmap(int width, int height, COLORREF fill = 0xffffff);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ <= 0 || height_ <= 0; }
  // Outside the bitmap: GetPixel gives 0 and SetPixel does nothing.
  COLORREF GetPixel(int x, int y) const;
  void SetPixel(int x, int y, COLORREF c);
  const std::vector<COLORREF>& Pixels() const { return pixels_; }
  std::vector<COLORREF>& Pixels() { return pixels_; }
  bool operator==(const Bitmap&) const = default;

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<COLORREF> pixels_;
};

// Writes a 24-bit uncompressed bottom-up BMP file; false when the file
// cannot be written or the bitmap is empty.
bool SaveBmp(const Bitmap& bitmap, const std::string& path);
// Reads 24- and 32-bit uncompressed BMP files (either row order); false for
// anything else.
bool LoadBmp(const std::string& path, Bitmap& out);

}  // namespace platform
