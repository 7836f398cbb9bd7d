#include "plot/text_in_place.h"

#include <map>
#include <utility>

namespace {

// The last text written at each place of the window (device pixels).
std::map<std::pair<int, int>, std::string>& Written() {
  static std::map<std::pair<int, int>, std::string> texts;
  return texts;
}

// The window writes at a few dozen places; more mean positions that move
// (a readout following the pointer), whose old texts a repaint removes.
constexpr std::size_t kMostPlaces = 256;

}  // namespace

void DrawTextInPlace(platform::DrawContext& dc, int x, int y, const std::string& text) {
  auto& written = Written();
  const auto at = written.find({x, y});
  if (at != written.end() && !at->second.empty()) {
    // The older text written again in the background colour on its own
    // background: exactly its cells become blank.
    const platform::COLORREF ink = dc.SetTextColor(0xffffff);
    const platform::COLORREF paper = dc.SetBkColor(0xffffff);
    const int mode = dc.SetBkMode(platform::OPAQUE);
    dc.TextOut(x, y, at->second);
    dc.SetBkMode(mode);
    dc.SetBkColor(paper);
    dc.SetTextColor(ink);
  }
  dc.TextOut(x, y, text);
  if (written.size() >= kMostPlaces && at == written.end()) written.clear();
  written[{x, y}] = text;
}

void ForgetTextsInPlace() { Written().clear(); }
