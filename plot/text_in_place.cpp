#include "plot/text_in_place.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <map>
#include <utility>

#include "platform/bitmap.h"

namespace {

// The last text written at each place of the window (device pixels), with
// the pixels of its cell before and after it was written.
struct WrittenText {
  std::string text;
  int left = 0, top = 0;
  platform::Bitmap under, drawn;
  bool opaque = false;
};
std::map<std::pair<int, int>, WrittenText>& Written() {
  static std::map<std::pair<int, int>, WrittenText> texts;
  return texts;
}

platform::HFONT ReportFont(int pixels);

// The window writes at a few dozen places; more mean positions that move
// (a readout following the pointer), whose old texts a repaint removes.
constexpr std::size_t kMostPlaces = 256;

// Gives back, in `now` (pixels of the window from (left, top)), the pixels
// under a text where its strokes still stand. A pixel drawn over since (a
// plot redrawn, a newer line) keeps what was drawn: writing the old text
// again in white left white strokes across the scans. A stroke that still
// stands was drawn over by nothing, so what was under it when the text was
// written is what belongs there: every standing stroke is given back, or a
// line rewritten after part of it was painted over kept the old line's
// tail ("sec" of a longer line beside the new one). The white an opaque
// text stood on is given back only while most of its strokes stand: a text
// whose strokes are mostly gone was painted over whole (a plot replayed
// during a fit), and the white of its background where the picture is white
// again would bring back the scans and curves of the picture before.
bool GiveBackUnder(platform::Bitmap& now, int left, int top, const WrittenText& w) {
  if (w.under.Empty() || w.drawn.Empty()) return false;
  const int dx = w.left - left, dy = w.top - top;
  const platform::COLORREF background = 0xffffff;
  // The strokes: on its own white every dark pixel of the text, else those
  // it changed.
  const auto stroke = [&](platform::COLORREF d, platform::COLORREF u) {
    return d != background && (w.opaque || d != u);
  };
  const auto inside = [&](int nx, int ny) { return nx >= 0 && ny >= 0 && nx < now.Width() && ny < now.Height(); };
  int strokes = 0, standing = 0;
  for (int y = 0; y < w.drawn.Height(); ++y)
    for (int x = 0; x < w.drawn.Width(); ++x) {
      const platform::COLORREF d = w.drawn.GetPixel(x, y);
      if (!stroke(d, w.under.GetPixel(x, y)) || !inside(x + dx, y + dy)) continue;
      ++strokes;
      standing += now.GetPixel(x + dx, y + dy) == d;
    }
  const bool standsWhole = strokes == 0 || 2 * standing >= strokes;
  bool changed = false;
  for (int y = 0; y < w.drawn.Height(); ++y)
    for (int x = 0; x < w.drawn.Width(); ++x) {
      const int nx = x + dx, ny = y + dy;
      if (!inside(nx, ny)) continue;
      const platform::COLORREF d = w.drawn.GetPixel(x, y), u = w.under.GetPixel(x, y);
      if (d == u || now.GetPixel(nx, ny) != d || !(standsWhole || stroke(d, u))) continue;
      now.SetPixel(nx, ny, u);
      changed = true;
    }
  return changed;
}

void TakeAway(platform::DrawSurface& surface, const WrittenText& w) {
  if (w.under.Empty() || w.drawn.Empty()) return;
  platform::Bitmap now = surface.CopyPixels(w.left, w.top, w.under.Width(), w.under.Height());
  if (GiveBackUnder(now, w.left, w.top, w)) surface.PastePixels(now, w.left, w.top);
}

// cellHeight: the height of a line of the font the text is written in.
// opaque: the text stands on the window's white as wide as its characters
// (trailing blanks leave what is under them), else on what is drawn there.
void WriteInPlace(platform::DrawSurface& surface, platform::DrawContext& dc, int x, int y, const std::string& text,
                  int cellHeight, bool opaque) {
  auto& written = Written();
  const auto at = written.find({x, y});
  if (at != written.end()) TakeAway(surface, at->second);
  if (written.size() >= kMostPlaces && at == written.end()) written.clear();
  WrittenText& w = written[{x, y}];
  w.text = text;
  w.opaque = opaque;
  w.left = x - 1;
  w.top = y;
  // The cell of the text with a pixel's margin for overhanging strokes.
  const int measured = dc.MeasureText(text);
  const int width = text.empty() ? 0 : (measured > 0 ? measured : static_cast<int>(text.size()) * 8) + 3;
  w.under = width > 0 ? surface.CopyPixels(w.left, w.top, width, cellHeight) : platform::Bitmap();
  if (opaque) {
    // The white the characters stand on, in the font's own line height and
    // as far as the characters reach: the trailing blanks leave the scans.
    const std::size_t shown = text.find_last_not_of(' ') + 1;
    const int mode = dc.SetBkMode(platform::OPAQUE);
    const platform::COLORREF bk = dc.SetBkColor(0xffffff), colour = dc.SetTextColor(0xffffff);
    if (shown > 0) dc.ExtTextOut(x, y, 0, nullptr, std::string_view(text).substr(0, shown));
    dc.SetTextColor(colour);
    dc.SetBkColor(bk);
    dc.SetBkMode(mode);
  }
  const int mode = dc.SetBkMode(platform::TRANSPARENT);
  dc.TextOut(x, y, text);
  dc.SetBkMode(mode);
  w.drawn = width > 0 ? surface.CopyPixels(w.left, w.top, width, cellHeight) : platform::Bitmap();
}

}  // namespace

void DrawTextInPlace(platform::DrawSurface& surface, platform::DrawContext& dc, int x, int y,
                     const std::string& text) {
  // No background: these lines stand over the plots.
  WriteInPlace(surface, dc, x, y, text, 20, false);
}

platform::Bitmap PixelsWithoutTextsInPlace(platform::DrawSurface& surface, int left, int top, int width,
                                           int height) {
  platform::Bitmap now = surface.CopyPixels(left, top, width, height);
  for (const auto& [place, written] : Written()) {
    const bool apart = written.left >= left + width || written.left + written.drawn.Width() <= left ||
                       written.top >= top + height || written.top + written.drawn.Height() <= top;
    if (!apart) GiveBackUnder(now, left, top, written);
  }
  return now;
}

void ForgetTextsInPlace() { Written().clear(); }

void EraseTextsInPlace(platform::DrawSurface& surface) {
  for (const auto& [place, written] : Written()) TakeAway(surface, written);
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

int ReportTextStep(int clientHeight) { return static_cast<int>(ReportLineStep(clientHeight)); }

namespace {

int ReportFontPixels(double step) {
  return step < 20.0 ? std::max(10, static_cast<int>(std::lround(12.0 * step / 20.0))) : 0;
}

}  // namespace

int ReportTextWidth(platform::DrawContext& dc, int clientHeight, const std::string& text) {
  const int pixels = ReportFontPixels(ReportLineStep(clientHeight));
  const platform::HGDIOBJ font = pixels ? dc.SelectObject(ReportFont(pixels)) : 0;
  const int width = dc.MeasureText(text);
  if (font) dc.SelectObject(font);
  return width;
}

void DrawReportTextInPlace(platform::DrawSurface& surface, platform::DrawContext& dc, int x, int y,
                           const std::string& text) {
  const int clientHeight = surface.ClientHeight();
  const double step = ReportLineStep(clientHeight);
  platform::HGDIOBJ font = 0;
  const int pixels = ReportFontPixels(step);
  if (pixels) font = dc.SelectObject(ReportFont(pixels));
  // A line's cell reaches to the next row: the rows' cells do not overlap.
  // The report's rows cross the data plot, where scans of every colour
  // would run through the characters: each line stands on white.
  WriteInPlace(surface, dc, x, ReportTextRow(clientHeight, y), text, static_cast<int>(step), true);
  if (font) dc.SelectObject(font);
}

std::vector<std::string> WrapTextToWidth(const std::string& text, int maxWidth,
                                         const std::function<int(std::string_view)>& width) {
  std::vector<std::string> lines;
  const std::string_view all(text);
  std::size_t start = 0;
  while (start < all.size()) {
    const std::string_view rest = all.substr(start);
    if (width(rest) <= maxWidth) {
      lines.emplace_back(rest);
      break;
    }
    // The longest head that fits, at the best kind of break it has.
    std::size_t comma = 0, separator = 0, character = 0;
    for (std::size_t end = 1; end < rest.size(); ++end) {
      if (width(rest.substr(0, end)) > maxWidth) break;
      character = end;
      const char last = rest[end - 1];
      if (last == ' ' && end >= 2 && rest[end - 2] == ',') comma = end;
      if (last == '/' || last == '\\' || last == ' ') separator = end;
    }
    std::size_t end = comma ? comma : separator ? separator : character;
    if (end == 0) end = 1;  // not even one character fits: one a line
    lines.emplace_back(rest.substr(0, end));
    start += end;
  }
  return lines;
}
