#include "plot/plot_fonts.h"

#include <map>

using namespace platform;

HFONT AxisFont = 0;
HFONT LabelFont = 0;
HFONT VerticalLabelFont = 0;
HFONT TitleFont = 0;

namespace {

HFONT PlotFont(int height, int escapement) {
  FontSpec f;
  f.height = height;
  f.width = 0;
  f.escapement = escapement;
  f.orientation = 0;
  f.weight = FW_NORMAL;
  f.charSet = ANSI_CHARSET;
  f.outPrecision = OUT_TT_PRECIS;
  f.clipPrecision = CLIP_DEFAULT_PRECIS;
  f.quality = PROOF_QUALITY;
  f.pitchAndFamily = FF_ROMAN;  // default pitch, a serif face of the system's choice
  return CreateFontIndirect(f);
}

}  // namespace

void CreatePlotFonts() {
  AxisFont = PlotFont(AxisFontHeight, 0);
  LabelFont = PlotFont(LabelFontHeight, 0);
  VerticalLabelFont = PlotFont(LabelFontHeight, 900);
  TitleFont = PlotFont(TitleFontHeight, 0);
}

HFONT VerticalLabelFontOfHeight(int height) {
  if (height >= LabelFontHeight) return VerticalLabelFont;
  static std::map<int, HFONT> fonts;
  HFONT& font = fonts[height];
  if (!font) font = PlotFont(height, 900);
  return font;
}

int AxisNumberWidth(const char* text, int digitPercent) {
  int width = 0;
  for (const char* c = text; *c; ++c)
    width += (*c == '.' || *c == '-') ? AxisFontHeight / 4 + 1 : AxisFontHeight * digitPercent / 100;
  return width;
}
