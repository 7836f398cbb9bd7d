#include "app/screens/mstar_screen.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/scan_set.h"
#include "equilibrium/mstar/mstar_screen.h"
#include "equilibrium/mstar/mstar_state.h"
#include "equilibrium/mstar/mstar_transform.h"
#include "fit/model_params.h"
#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "platform/draw_surface.h"
#include "platform/frame_window.h"
#include "platform/user_interface.h"
#include "plot/cwinplot.h"
#include "plot/mstar_plots.h"
#include "plot/screen_button.h"

namespace {

const char* const kTitle = "M* transformation";
const char* const kSmoothingTitle = "lnc-r2 transformation";
const char* const kDragCaption = "drag right mouse";

MStarState& State() { return CurrentMStarState(); }
MStarScreenRequests& Requests() { return CurrentMStarRequests(); }
bool Interference() { return CurrentDataTypeFlags().interference != 0; }

bool AskYesNo(const char* text) { return platform::AskYes(kTitle, text); }

void SetCaption(CScreenButton* b, const std::string& caption, const std::string& onCaption) {
  if (!b) return;
  b->SetText(caption.c_str(), static_cast<int>(caption.size()), onCaption.c_str(),
             static_cast<int>(onCaption.size()));
  b->FitCaption();
  b->Redraw();
}

void SetCaption(CScreenButton* b, const std::string& caption) { SetCaption(b, caption, caption); }

void PaintFace(TXLAWindow& w, CScreenButton* b) {
  platform::DrawSurface* surface = w.Frame().Surface();
  if (!b || !surface) return;
  b->Paint(*surface);
  w.Frame().FlushCanvas();
}

// Shows the button pressed or released, at once.
void Press(TXLAWindow& w, CScreenButton* b, bool pressed) {
  if (!b) return;
  if ((b->on != 0) != pressed)
    b->ToggleState();
  else
    b->Redraw();
  PaintFace(w, b);
}

int Count() { return State().count; }
int MeniscusSignalSlot(int d) { return 8 + 3 * Count() + d; }

// Cross while a range is asked for, arrow otherwise.
void ShowRequestCursor(TXLAWindow& w) {
  w.Frame().SetCursor(Requests().Pending() ? platform::CursorKind::Cross : platform::CursorKind::Arrow);
}

void ClearRequests(TXLAWindow& w) {
  Requests() = MStarScreenRequests{};
  w.Frame().SetCursor(platform::CursorKind::Arrow);
}

// Result captions after a recomputation. A signal at the meniscus that the
// user fixed keeps its mark; while the meniscus range is asked for, those
// buttons keep telling how to give it.
void WriteResultCaptions() {
  const MStarState& st = State();
  const int N = st.count;
  if (!st.HasData() || MStarButtons().size() != static_cast<size_t>(MStarSlotCount(N)) + 1) return;
  const MStarResultTexts t = ComposeMStarResultTexts(st);
  for (int i = 1; i <= N; ++i) {
    const size_t k = static_cast<size_t>(i - 1);
    if (k < t.mwavg.size()) SetCaption(MStarButton(8 + i), t.mwavg[k]);
    if (k < t.linearFit.size()) SetCaption(MStarButton(8 + N + i), t.linearFit[k]);
    if (k < t.baseline.size()) SetCaption(MStarButton(8 + 2 * N + i), t.baseline[k], "set");
    CScreenButton* b = MStarButton(MeniscusSignalSlot(i));
    if (b && !Requests().meniscusRange)
      SetCaption(b, MStarMeniscusSignalCaption(i, st.ca[static_cast<size_t>(i)], Interference(), b->on != 0));
  }
}

// The switches show what is in force, also after a set-up that was
// cancelled or changed them.
void SyncSwitches() {
  if (CScreenButton* b = MStarButton(5); b && (b->on != 0) != (gModelParams.riNoiseFit != 0)) b->ToggleState();
  if (CScreenButton* b = MStarButton(6); b && (b->on != 0) != State().settings.cmSmoothing) b->ToggleState();
}

void ReleaseFixedMeniscusSignals(TXLAWindow& w, bool wasStraightLine) {
  for (int i = 1; i <= Count(); ++i) {
    CScreenButton* b = MStarButton(MeniscusSignalSlot(i));
    if (wasStraightLine && b && b->on) b->ToggleState();
  }
  WriteResultCaptions();
  for (int i = 1; i <= Count(); ++i) PaintFace(w, MStarButton(MeniscusSignalSlot(i)));
}

bool AskNumber(float* value, float current, const char* prompt, const char* title = kTitle) {
  return InputFloat(value, current, true, prompt, title);
}

void RebuildMwappPlot() {
  FreeMwappPlot();
  // The selected form is the one that is smoothed.
  ComputeMStarFit(State());
  BuildMwappPlot(State());
}

// ---------------------------------------------------------------- actions

void SignalExtrapolation(TXLAWindow& w) {
  MStarSettings& s = State().settings;
  Press(w, MStarButton(1), true);
  float order = 0;
  if (!AskNumber(&order, static_cast<float>(s.signalOrder), "polynomial order (1 or 2):")) {
    Press(w, MStarButton(1), Requests().meniscusRange);
    return;
  }
  s.signalOrder = MStarExtrapolationOrderFromTyped(order);
  if (AskYesNo("change extrapolation basis?")) {
    Requests().meniscusRange = true;
    for (int i = 1; i <= Count(); ++i) {
      CScreenButton* b = MStarButton(MeniscusSignalSlot(i));
      SetCaption(b, kDragCaption);
      PaintFace(w, b);
    }
    ShowRequestCursor(w);
    return;
  }
  // A range asked for before is not wanted any more.
  Requests().meniscusRange = false;
  ShowRequestCursor(w);
  const bool wasStraightLine = s.straightLineBasis;
  s.straightLineBasis = false;
  WaitSeconds(0.1f);
  MStarActions().computeFitAndShow(w);
  ReleaseFixedMeniscusSignals(w, wasStraightLine);
  Press(w, MStarButton(1), false);
}

void SgSmoothing(TXLAWindow& w) {
  MStarSettings& s = State().settings;
  CScreenButton* b = MStarButton(2);
  Press(w, b, true);
  float v = 0;
  if (AskNumber(&v, s.sgHalfWidth / 10.0f, "SG smooth %distance:", kSmoothingTitle)) {
    s.sgHalfWidth = MStarHalfWidthFromPercent(v);
    if (AskNumber(&v, static_cast<float>(s.sgOrder), "SG smooth order (box=1):", kSmoothingTitle))
      s.sgOrder = MStarSgOrderFromTyped(v, s.sgHalfWidth);
  }
  // A narrower window may no longer carry the order.
  s.sgOrder = MStarSgOrderFromTyped(static_cast<float>(s.sgOrder), s.sgHalfWidth);
  SetCaption(b, MStarSgCaption(s));
  Press(w, b, false);
}

void MwappMean(TXLAWindow& w) {
  MStarSettings& s = State().settings;
  CScreenButton* b = MStarButton(3);
  Press(w, b, true);
  float v = 0;
  if (AskNumber(&v, s.mwappHalfWidth / 10.0f, "SG smooth %distance:")) s.mwappHalfWidth = MStarHalfWidthFromPercent(v);
  SetCaption(b, MStarMwappMeanCaption(s));
  Press(w, b, false);
}

void MStarExtrapolation(TXLAWindow& w) {
  MStarSettings& s = State().settings;
  CScreenButton* b = MStarButton(4);
  Press(w, b, true);
  float order = 0;
  if (!AskNumber(&order, static_cast<float>(s.mstarOrder), "polynomial order (1 or 2):")) {
    Press(w, b, Requests().bottomRange);
    return;
  }
  s.mstarOrder = MStarExtrapolationOrderFromTyped(order);
  if (AskYesNo("change extrapolation basis (in A(r) plot)?")) {
    Requests().bottomRange = true;
    SetCaption(b, "drag right mouse in A(r)");
    PaintFace(w, b);
    ShowRequestCursor(w);
    return;
  }
  Requests().bottomRange = false;
  ShowRequestCursor(w);
  SetCaption(b, "extrap.");
  Press(w, b, false);
}

void IndividualBaselines(TXLAWindow& w) {
  MStarState& st = State();
  if (CScreenButton* b = MStarButton(5)) b->ToggleState();
  gModelParams.riNoiseFit = gModelParams.riNoiseFit ? 0 : 1;
  PackModelParameters();
  if (!st.settings.cmSmoothing) return;
  st.settings.askMRange = false;
  MStarActions().transformationSetup(w);
  st.settings.askMRange = true;
}

void CofMSmoothing(TXLAWindow& w) {
  MStarState& st = State();
  if (CScreenButton* b = MStarButton(6)) b->ToggleState();
  if (!st.settings.cmSmoothing) {
    MStarActions().transformationSetup(w);
    return;
  }
  FreeMStarPlots();
  DeleteMStarButtons();
  st.FreeData();
  st.arraysExisted = false;
  st.settings.cmSmoothing = false;
  st.analysisMade = false;
  MStarActions().runTransformation(w);
}

void HingePoint(TXLAWindow& w) {
  if (CScreenButton* b = MStarButton(7)) b->ToggleState();
  w.Frame().Invalidate(true);
  MStarActions().showHingePointInfo(w);
  if (CScreenButton* b = MStarButton(7)) b->ToggleState();
  w.Frame().Invalidate(true);
}

void MwappForm(TXLAWindow& w) {
  if (CScreenButton* b = MStarButton(8)) b->ToggleState();
  w.Frame().Invalidate(true);
  MStarSettings& s = State().settings;
  s.dlncForm = !s.dlncForm;
  RebuildMwappPlot();
}

void Baseline(TXLAWindow& w, int d) {
  CScreenButton* b = MStarButton(8 + 2 * Count() + d);
  Press(w, b, true);
  ScanSet& scans = CurrentScanSet();
  char text[80];
  float v = 0;
  if (!gModelParams.riNoiseFit) {
    if (AskNumber(&v, gModelParams.baseline, "new baseline signal:")) gModelParams.baseline = v;
    std::snprintf(text, sizeof text, "Baseline = %.4f", gModelParams.baseline);
  } else {
    // Individual baselines are kept as the scans' RI noise, which a scan
    // set may not hold yet.
    if (!scans.riNoise) {
      scans.riNoise = vector(1, scans.count);
      for (int i = 1; i <= scans.count; ++i) scans.riNoise[i] = 0.0f;
    }
    char prompt[80];
    std::snprintf(prompt, sizeof prompt, "new baseline %d signal:", d);
    if (AskNumber(&v, scans.riNoise[d], prompt)) scans.riNoise[d] = v;
    std::snprintf(text, sizeof text, "Baseline(%d) = %.4f", d, scans.riNoise[d]);
  }
  PackModelParameters();
  SetCaption(b, text, "set");
  Press(w, b, false);
}

void MeniscusSignal(TXLAWindow& w, int d) {
  MStarState& st = State();
  char prompt[40];
  std::snprintf(prompt, sizeof prompt, Interference() ? "new Ja(%d):" : "new A0(%d):", d);
  float v = 0;
  if (!AskNumber(&v, st.ca[static_cast<size_t>(d)], prompt)) return;
  st.ca[static_cast<size_t>(d)] = v;
  CScreenButton* b = MStarButton(MeniscusSignalSlot(d));
  SetCaption(b, MStarMeniscusSignalCaption(d, v, Interference(), true));
  Press(w, b, true);
  st.settings.straightLineBasis = true;
  MStarDataSet& set = st.sets[static_cast<size_t>(d)];
  if (set.meniscusMarkerY.size() > 1) set.meniscusMarkerY[1] = v + MStarBaseline(d);
}

void MwappAbscissa() {
  MStarSettings& s = State().settings;
  s.mwappAgainstRadius = !s.mwappAgainstRadius;
  if (CScreenButton* b = MStarButton(MStarSlotCount(Count()))) b->ToggleState();
  RebuildMwappPlot();
}

}  // namespace

MStarScreenActions& MStarActions() {
  static MStarScreenActions actions;
  return actions;
}

std::vector<std::unique_ptr<CScreenButton>>& MStarButtons() {
  static std::vector<std::unique_ptr<CScreenButton>> buttons;
  return buttons;
}

CScreenButton* MStarButton(int slot) {
  auto& t = MStarButtons();
  return slot >= 1 && static_cast<size_t>(slot) < t.size() ? t[static_cast<size_t>(slot)].get() : nullptr;
}

void DrawMStarScreen(TXLAWindow& w) {
  DeleteMStarButtons();
  const std::vector<MStarButtonSpec> layout =
      MStarButtonLayout(State(), gModelParams.riNoiseFit != 0, Interference(), w.ClientWidthF, w.ClientHeightF);
  auto& table = MStarButtons();
  table.resize(layout.size());
  for (size_t slot = 1; slot < layout.size(); ++slot) {
    const MStarButtonSpec& spec = layout[slot];
    if (!spec.exists) continue;
    table[slot] = MakeMStarButton(spec);
  }
}

void DeleteMStarButtons() { MStarButtons().clear(); }

void MStarScreenButtonHandler(TXLAWindow& w, int slot) {
  if (!State().screenShown || !State().HasData()) return;
  int d = 0;
  switch (MStarSlotAction(slot, Count(), &d)) {
    case MStarAction::SignalExtrapolation: SignalExtrapolation(w); break;
    case MStarAction::SgSmoothing: SgSmoothing(w); break;
    case MStarAction::MwappMean: MwappMean(w); break;
    case MStarAction::MStarExtrapolation: MStarExtrapolation(w); break;
    case MStarAction::IndividualBaselines: IndividualBaselines(w); break;
    case MStarAction::CofMSmoothing: CofMSmoothing(w); break;
    case MStarAction::HingePoint: HingePoint(w); break;
    case MStarAction::MwappForm: MwappForm(w); break;
    case MStarAction::Baseline: Baseline(w, d); break;
    case MStarAction::MeniscusSignal: MeniscusSignal(w, d); break;
    case MStarAction::MwappAbscissa: MwappAbscissa(); break;
    case MStarAction::MwavgText:
    case MStarAction::LinearFitText:
    case MStarAction::None: break;
  }
  // An action may have ended the analysis (a c(M) set-up that failed).
  if (!State().screenShown || !State().HasData()) return;
  MStarActions().computeFitAndShow(w);
  SyncSwitches();
  WriteResultCaptions();
}

void MStarRightMouseDrag(TXLAWindow& w, int which, int x1, int x2) {
  MStarState& st = State();
  MStarScreenRequests& req = Requests();
  const CWINPlot* plot = CurrentMStarPlots().signal.get();
  if (!plot || !st.HasData()) return;
  auto radius = [&](int px) {
    return static_cast<float>(MStarRadiusAtPixel(px, w.ClientWidthF, plot->xOffset, plot->xScale, plot->logX != 0));
  };
  float lower = radius(x1), upper = radius(x2);
  if (upper < lower) std::swap(lower, upper);
  if (which == 1 && req.meniscusRange) {
    req.meniscusRange = false;
    st.meniscusRange[1] = lower;
    st.meniscusRange[2] = upper;
    const bool wasStraightLine = st.settings.straightLineBasis;
    st.settings.straightLineBasis = false;
    MStarActions().computeFitAndShow(w);
    ReleaseFixedMeniscusSignals(w, wasStraightLine);
    Press(w, MStarButton(1), false);
  } else if (which == 4 && req.bottomRange) {
    CScreenButton* b = MStarButton(4);
    SetCaption(b, "extrap.");
    Press(w, b, false);
    req.bottomRange = false;
    st.bottomRange[1] = lower;
    st.bottomRange[2] = upper;
    MStarActions().computeFitAndShow(w);
  }
  ShowRequestCursor(w);
}

void CloseMStarScreen(TXLAWindow& w) {
  MStarState& st = State();
  FreeMStarPlots();
  DeleteMStarButtons();
  st.arraysExisted = false;
  st.screenShown = false;
  ClearRequests(w);
  RequestRepaint(w);
}

bool MStarScreenClick(TXLAWindow& w, float x, float y) {
  if (!State().screenShown) return false;
  auto& table = MStarButtons();
  for (size_t slot = 1; slot < table.size(); ++slot) {
    CScreenButton* b = table[slot].get();
    if (b && b->Click(x, y)) {
      MStarScreenButtonHandler(w, static_cast<int>(slot));
      return true;
    }
  }
  return false;
}

bool MStarRangeRequestPending() { return State().screenShown && Requests().Pending(); }

void MStarRangeDragEnded(TXLAWindow& w, int x1, int x2) {
  const int left = std::min(x1, x2), right = std::max(x1, x2);
  if (right - left > 10) {
    MStarRightMouseDrag(w, Requests().meniscusRange ? 1 : 4, left, right);
    MStarScreenButtonHandler(w, 0);
  }
  ShowRequestCursor(w);
}

bool MStarLetsLoadGoAhead(TXLAWindow& w) {
  const MStarState& st = State();
  if (st.screenShown) {
    // The screen's plots hold the loaded data: new files would pull them away.
    platform::Tell(kTitle, "the M* screen shows the loaded data:\npress Esc to end the M* analysis, then load");
    return false;
  }
  if (st.analysisActive) MStarActions().resetAnalysis(w);
  return true;
}

void PaintMStarButtons(TXLAWindow& w) {
  platform::DrawSurface* surface = w.Frame().Surface();
  if (!surface || !State().screenShown) return;
  for (auto& b : MStarButtons())
    if (b) b->Paint(*surface);
}
