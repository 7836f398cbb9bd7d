#include "app/commands/distribution/peak_labels.h"

#include <algorithm>

#include <memory>
#include <string>

#include "app/commands/distribution/integration_range.h"
#include "app/plot_input/pointer_hit_tests.h"
#include "app/plot_input/screen_buttons.h"
#include "app/window/txla_window.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/integrate_distribution.h"
#include "distributions/peak_area.h"
#include "distributions/peak_details.h"
#include "fit/model_selector.h"
#include "numerics/ccurve.h"
#include "platform/error_box.h"
#include "plot/cwinplot.h"
#include "plot/screen_button.h"
#include "platform/user_interface.h"

PeakLabelTable::PeakLabelTable() = default;
PeakLabelTable::~PeakLabelTable() = default;

PeakLabelTable& PeakLabels() {
  static PeakLabelTable table;
  return table;
}

void DeletePeakLabels(TXLAWindow& window) {
  PeakLabelTable& t = PeakLabels();
  if (t.count >= 1) {
    platform::DrawSurface* surface = window.Frame().Surface();
    for (int k = PeakLabelTable::kSlots; k >= 1; --k) {
      PeakLabelSlot& slot = t.slots[static_cast<size_t>(k)];
      slot.sw = slot.c = slot.fraction = 0;
      slot.index = 0;
      if (slot.label) {
        if (surface) slot.label->RestoreBackground(*surface);
        slot.label.reset();
      }
    }
    if (surface) window.Frame().FlushCanvas();
    t.count = 0;
  }
  t.labelsShown = false;
}

namespace {

constexpr int kThickLine = 12;

bool DistributionTransformed() { return DistArrays().transformedToS20 || DistArrays().transformedToR; }

// Plot-space height of a label: its caption (16 units) with room above and
// below (at 20 the tops of the letters were cut in small windows).
constexpr float kLabelHeight = 26;

// Plot-space half width of a label: its caption as the window draws it now,
// with a margin. The letters scale with the window's height and the label
// with its width, so a fixed width per character clipped the caption of a
// narrow window; without a window, 5 units per character.
float LabelHalfWidth(TXLAWindow& window, const std::string& text) {
  float half = 5.0f * static_cast<float>(text.size());
  platform::DrawSurface* surface = window.Frame().Surface();
  if (!surface || surface->ClientWidth() <= 0 || surface->ClientHeight() <= 0) return half;
  auto dc = surface->ClientDC();
  dc->SetMapMode(platform::MM_ANISOTROPIC);
  dc->SetWindowExt(PlotSpaceWidth(), PlotSpaceHeight());
  dc->SetViewportExt(surface->ClientWidth(), surface->ClientHeight());
  const platform::HGDIOBJ font = dc->SelectObject(ButtonFont());
  const int width = dc->MeasureText(text);
  dc->SelectObject(font);
  if (width > 0) half = 0.5f * static_cast<float>(width) + 8.0f;
  return half;
}

}  // namespace

void ShowPeakLabels(TXLAWindow& window) {
  PeakLabelTable& t = PeakLabels();
  if (t.count > 0) DeletePeakLabels(window);
  CWINPlot* plot = Conti().distributionPlot;
  CCurve* curve = DistArrays().distCurve;
  if (!plot || !DistArrays().plotExists || !curve || DistributionTransformed()) return;
  float xs[PeakLabelTable::kSlots + 1] = {}, ys[PeakLabelTable::kSlots + 1] = {};
  int index[PeakLabelTable::kSlots + 1] = {};
  t.count = curve->FindPeaks(xs, ys, index, PeakLabelTable::kSlots, 2);
  const ContiSettings& cs = Conti();
  for (int k = 1; k <= t.count; ++k) {
    PeakLabelSlot& slot = t.slots[static_cast<size_t>(k)];
    slot.index = index[k];
    const PeakArea peak = IntegratePeakAt(index[k], 0.9f);
    if (!(peak.fraction > 0.0001f)) continue;
    slot.sw = peak.sw;
    slot.c = peak.area;
    slot.fraction = peak.fraction;
    float x = PlotPositionX(*plot, peak.sw);
    float y = PlotPositionY(*plot, cs.distribution[index[k]]) - 25;
    const std::string text = PeakLabelText(peak.sw);
    const float half = LabelHalfWidth(window, text);
    // A peak near an edge of the plot keeps its whole label inside the plot.
    const float left = std::min(PlotPositionX(*plot, plot->xMin), PlotPositionX(*plot, plot->xMax));
    const float right = std::max(PlotPositionX(*plot, plot->xMin), PlotPositionX(*plot, plot->xMax));
    const float top = std::min(PlotPositionY(*plot, plot->yMin), PlotPositionY(*plot, plot->yMax));
    if (right - left > 2 * half) x = std::clamp(x, left + half, right - half);
    y = std::max(y - (kLabelHeight - 20), top);
    auto label = std::make_unique<CScreenButton>();
    label->SetRect(y, x - half, y + kLabelHeight, x + half);
    label->SetText(text.c_str(), static_cast<int>(text.size()), text.c_str(), static_cast<int>(text.size()));
    if (platform::DrawSurface* surface = window.Frame().Surface()) label->SaveBackground(*surface);
    label->faceColor = kTransientButtonColor;
    label->Redraw();
    PaintButton(window, *label);
    slot.label = std::move(label);
  }
  t.labelsShown = false;
  t.labelsNew = true;
}

void ShowPeakDetails(TXLAWindow& window, int k) {
  PeakLabelTable& t = PeakLabels();
  if (k < 1 || k > t.count || !t.slots[static_cast<size_t>(k)].label) return;
  PeakLabelSlot& slot = t.slots[static_cast<size_t>(k)];
  t.peakBoxOpen = true;
  ShowPressed(window, *slot.label);
  std::string text = PeakDetailsText(slot.sw, slot.c, slot.fraction);
  const PeakArea peak = IntegratePeakAt(slot.index, 0.9f);
  if (peak.iLo > 0) PlotIntegrationRange(window, peak.sLo, peak.sHi, kThickLine, platform::kRed);
  float area = 0, mean = 0, total = 0;
  IntegrateDistribution(peak.sLo, peak.sHi, &area, &mean, &total);
  text += ShowRangeOnData(window, peak.sLo, peak.sHi, total, peak.area, true);
  window.DialogOpen = true;
  platform::Tell("PEAK INFO", text);
  window.DialogOpen = false;
  // The label may have gone with the box open (a repaint, a new run).
  if (k <= t.count && slot.label) {
    slot.label->ToggleState();
    PaintButton(window, *slot.label);
  }
  t.labelsShown = true;
  t.peakBoxOpen = false;
  WaitSeconds(1.0f);
  window.Frame().Invalidate(true);
}

bool PressPeakLabels(TXLAWindow& window, float bx, float by) {
  PeakLabelTable& t = PeakLabels();
  for (int k = 1; k <= t.count; ++k) {
    CScreenButton* label = t.slots[static_cast<size_t>(k)].label.get();
    if (label && label->Click(bx, by)) {
      ShowPeakDetails(window, k);
      return true;
    }
  }
  return false;
}

void PaintPeakLabels(TXLAWindow& window) {
  PeakLabelTable& t = PeakLabels();
  if (!t.labelsShown && !t.labelsNew) {
    // The fresh picture has no use for the pixels saved under the labels.
    for (PeakLabelSlot& slot : t.slots) slot = PeakLabelSlot{};
    t.count = 0;
    return;
  }
  t.labelsNew = false;
  platform::DrawSurface* surface = window.Frame().Surface();
  for (int k = 1; k <= t.count; ++k) {
    CScreenButton* label = t.slots[static_cast<size_t>(k)].label.get();
    if (!label) continue;
    if (surface) label->SaveBackground(*surface);
    PaintButton(window, *label);
  }
}

void TXLAWindow::CmShowPeakMw() {
  // The nonideal c(s) gets labels too, though they show s (PeakLabelsShowSw).
  const ModelSelectorFlags& m = gModelSelectorFlags;
  if (m.AnyCsff0Model() || !DistArrays().distCurve) return;
  if (m.AnyCsFamilyModel()) ShowPeakLabels(*this);
}
