#include "platform/bitmap.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/paths.h"

namespace platform {

Bitmap::Bitmap(int width, int height, COLORREF fill) {
  if (width <= 0 || height <= 0) return;
  width_ = width;
  height_ = height;
  pixels_.assign(static_cast<size_t>(width) * static_cast<size_t>(height), fill & 0xffffff);
}

COLORREF Bitmap::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return pixels_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)];
}

void Bitmap::SetPixel(int x, int y, COLORREF c) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)] = c & 0xffffff;
}

namespace {

void Put16(std::vector<unsigned char>& b, size_t at, unsigned v) {
  b[at] = v & 0xff;
  b[at + 1] = (v >> 8) & 0xff;
}
void Put32(std::vector<unsigned char>& b, size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = (v >> (8 * i)) & 0xff;
}
std::uint32_t Get32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
unsigned Get16(const unsigned char* p) { return p[0] | (p[1] << 8); }

}  // namespace

bool SaveBmp(const Bitmap& bitmap, const std::string& path) {
  if (bitmap.Empty()) return false;
  const int w = bitmap.Width(), h = bitmap.Height();
  const size_t row = (static_cast<size_t>(w) * 3 + 3) & ~static_cast<size_t>(3);
  const size_t imageSize = row * static_cast<size_t>(h);
  std::vector<unsigned char> b(54 + imageSize, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<std::uint32_t>(b.size()));
  Put32(b, 10, 54);
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<std::uint32_t>(w));
  Put32(b, 22, static_cast<std::uint32_t>(h));  // positive: bottom row first
  Put16(b, 26, 1);
  Put16(b, 28, 24);
  Put32(b, 34, static_cast<std::uint32_t>(imageSize));
  Put32(b, 38, 3780);  // 96 dpi
  Put32(b, 42, 3780);
  for (int y = 0; y < h; ++y) {
    unsigned char* out = &b[54 + row * static_cast<size_t>(h - 1 - y)];
    for (int x = 0; x < w; ++x) {
      COLORREF c = bitmap.GetPixel(x, y);
      *out++ = static_cast<unsigned char>(GetBValue(c));
      *out++ = static_cast<unsigned char>(GetGValue(c));
      *out++ = static_cast<unsigned char>(GetRValue(c));
    }
  }
  return WriteWholeFile(path, std::string(b.begin(), b.end()));
}

bool LoadBmp(const std::string& path, Bitmap& out) {
  std::string content;
  if (!ReadRegularFile(path, content, false, kDataFileLimit)) return false;
  const std::vector<unsigned char> b(content.begin(), content.end());
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return false;
  const std::uint32_t offset = Get32(&b[10]);
  const int w = static_cast<int>(Get32(&b[18]));
  const int hRaw = static_cast<int>(Get32(&b[22]));
  const unsigned bpp = Get16(&b[28]);
  const std::uint32_t compression = Get32(&b[30]);
  if (w <= 0 || hRaw == 0 || compression != 0 || (bpp != 24 && bpp != 32)) return false;
  const int h = std::abs(hRaw);
  const size_t bytes = bpp / 8;
  const size_t row = (static_cast<size_t>(w) * bytes + 3) & ~static_cast<size_t>(3);
  if (offset + row * static_cast<size_t>(h) > b.size()) return false;
  Bitmap bm(w, h);
  for (int y = 0; y < h; ++y) {
    const int fileRow = hRaw > 0 ? h - 1 - y : y;
    const unsigned char* in = &b[offset + row * static_cast<size_t>(fileRow)];
    for (int x = 0; x < w; ++x, in += bytes) bm.SetPixel(x, y, RGB(in[2], in[1], in[0]));
  }
  out = std::move(bm);
  return true;
}

}  // namespace platform
