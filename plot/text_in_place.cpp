#include "plot/text_in_place.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace {

// The last text written at each place of the window (device pixels), and
// the pixel size of the report font it was written in (0: the window's font).
struct WrittenText {
  std::string text;
  int fontPixels = 0;
};
std::map<std::pair<int, int>, WrittenText>& Written() {
  static std::map<std::pair<int, int>, WrittenText> texts;
  return texts;
}

platform::HFONT ReportFont(int pixels);

// The window writes at a few dozen places; more mean positions that move
// (a readout following the pointer), whose old texts a repaint removes.
constexpr std::size_t kMostPlaces = 256;

}  // namespace

namespace {

// The older text written again in the background colour, without a
// background: exactly its strokes become blank. Blanking its whole cells
// left white bars across the scans and plot lines under the report.
void Blank(platform::DrawContext& dc, int x, int y, const std::string& text) {
  if (text.empty()) return;
  const platform::COLORREF ink = dc.SetTextColor(0xffffff);
  const int mode = dc.SetBkMode(platform::TRANSPARENT);
  dc.TextOut(x, y, text);
  dc.SetBkMode(mode);
  dc.SetTextColor(ink);
}

}  // namespace

namespace {

void WriteInPlace(platform::DrawContext& dc, int x, int y, const std::string& text, int fontPixels) {
  auto& written = Written();
  const auto at = written.find({x, y});
  if (at != written.end()) Blank(dc, x, y, at->second.text);
  // No background either: the lines stand over the plots.
  const int mode = dc.SetBkMode(platform::TRANSPARENT);
  dc.TextOut(x, y, text);
  dc.SetBkMode(mode);
  if (written.size() >= kMostPlaces && at == written.end()) written.clear();
  written[{x, y}] = {text, fontPixels};
}

}  // namespace

void DrawTextInPlace(platform::DrawContext& dc, int x, int y, const std::string& text) {
  WriteInPlace(dc, x, y, text, 0);
}

void ForgetTextsInPlace() { Written().clear(); }

void EraseTextsInPlace(platform::DrawContext& dc) {
  for (const auto& [place, written] : Written()) {
    const platform::HGDIOBJ font = written.fontPixels ? dc.SelectObject(ReportFont(written.fontPixels)) : 0;
    Blank(dc, place.first, place.second, written.text);
    if (font) dc.SelectObject(font);
  }
  Written().clear();
}

namespace {

double ReportLineStep(int clientHeight) {
  if (clientHeight <= 0 || clientHeight >= 1000) return 20.0;
  return std::max(13.0, std::round(20.0 * clientHeight / 1000.0));
}

// One font per pixel size, kept for the program's life.
platform::HFONT ReportFont(int pixels) {
  static std::map<int, platform::HFONT> fonts;
  platform::HFONT& font = fonts[pixels];
  if (!font) {
    platform::FontSpec spec;
    spec.height = -pixels;  // the character height
    font = platform::CreateFontIndirect(spec);
  }
  return font;
}

}  // namespace

int ReportTextRow(int clientHeight, int y) {
  return 10 + static_cast<int>(std::lround((y - 10) * ReportLineStep(clientHeight) / 20.0));
}

void DrawReportTextInPlace(platform::DrawContext& dc, int clientHeight, int x, int y, const std::string& text) {
  const double step = ReportLineStep(clientHeight);
  platform::HGDIOBJ font = 0;
  const int pixels = step < 20.0 ? std::max(10, static_cast<int>(std::lround(12.0 * step / 20.0))) : 0;
  if (pixels) font = dc.SelectObject(ReportFont(pixels));
  WriteInPlace(dc, x, ReportTextRow(clientHeight, y), text, pixels);
  if (font) dc.SelectObject(font);
}
