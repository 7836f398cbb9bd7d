#include "plot/mstar_plots.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "data/scan_set.h"
#include "equilibrium/mstar/mstar_screen.h"
#include "equilibrium/mstar/mstar_state.h"
#include "equilibrium/mstar/mstar_transform.h"
#include "fit/model_params.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "plot/screen_button.h"

namespace {

// Layout of the screen (top, left, bottom, right in the plots' units).
struct Rect {
  int top, left, bottom, right;
};
constexpr Rect kSignalRect{50, 75, 450, 450};
constexpr Rect kMStarRect{525, 75, 925, 450};
constexpr Rect kLnCRect{50, 550, 450, 975};
constexpr Rect kMwappRect{525, 550, 925, 975};

constexpr platform::COLORREF kMarkerColor = platform::kBlack;

std::unique_ptr<CWINPlot> NewPlot(const Rect& r) {
  auto plot = std::make_unique<CWINPlot>();
  plot->SetPlotRect(r.top, r.left, r.bottom, r.right);
  return plot;
}

CVector* View(MStarPlotSet& p, std::vector<float>& v, int n) {
  auto view = std::make_unique<CVector>();
  // Arrays of too few entries get an empty view rather than a read past them.
  const int count = static_cast<int>(v.size()) > n ? n : 0;
  if (count > 0) view->Attach(v.data(), count, 1);
  p.views.push_back(std::move(view));
  return p.views.back().get();
}

// Adds the curve (x[1..n], y[1..n]) with its style, colour and point range
// (1-based, inclusive; last < first draws nothing).
void AddCurve(MStarPlotSet& p, CWINPlot& plot, std::vector<float>& x, std::vector<float>& y, int n, int style,
              platform::COLORREF colour, int first, int last) {
  p.curves.push_back(std::make_unique<CCurve>(View(p, x, n), View(p, y, n)));
  plot.AddCurve(p.curves.back().get());
  const int i = plot.curveCount - 1;
  plot.SetCurveStyle(i, style);
  plot.SetCurveColor(i, colour);
  if (last < first || n < 1)
    plot.SetCurveRange(i, 0, -1);
  else
    plot.SetCurveRange(i, first - 1, last - 1);
}

void AddAll(MStarPlotSet& p, CWINPlot& plot, std::vector<float>& x, std::vector<float>& y, int n, int style,
            platform::COLORREF colour) {
  AddCurve(p, plot, x, y, n, style, colour, 1, n);
}

// One group of curves: add(set) for every data set in order.
template <typename Add>
void Group(MStarState& st, Add add) {
  for (int d = 1; d <= st.count; ++d) add(st.sets[static_cast<size_t>(d)]);
}

void SignalCurves(MStarPlotSet& p, MStarState& st) {
  CWINPlot& plot = *p.signal;
  plot.ClearCurves();
  const bool smoothing = st.settings.cmSmoothing;
  Group(st, [&](MStarDataSet& s) {
    AddAll(p, plot, s.r, s.y, s.n, -1, 0);
  });
  Group(st, [&](MStarDataSet& s) {
    AddAll(p, plot, s.baselineRadii, s.baselineValues, kMStarGridPoints, 0xe, 0xfac896);
  });
  if (smoothing) {
    Group(st, [&](MStarDataSet& s) {
      AddCurve(p, plot, s.r, s.f, s.n, -1, 255, s.ma + 1, s.mb - 1);
    });
    return;
  }
  Group(st, [&](MStarDataSet& s) {
    AddAll(p, plot, s.meniscusGrid, s.meniscusSignal, kMStarGridPoints, -1, 255);
  });
  Group(st, [&](MStarDataSet& s) {
    AddAll(p, plot, s.meniscusMarkerX, s.meniscusMarkerY, 2, 1, kMarkerColor);
  });
}

void MStarCurves(MStarPlotSet& p, MStarState& st) {
  CWINPlot& plot = *p.mstar;
  plot.ClearCurves();
  Group(st, [&](MStarDataSet& s) {
    AddCurve(p, plot, s.r, s.mstar, s.n, -1, 100, s.iFirst, s.iLast - 1);
  });
  Group(st, [&](MStarDataSet& s) {
    if (st.settings.cmSmoothing)
      AddCurve(p, plot, s.r, s.mstarFit, s.n, -1, 255, s.ma + 1, s.mb - 1);
    else
      AddAll(p, plot, s.bottomGrid, s.bottomMStar, kMStarGridPoints, -1, 255);
  });
  Group(st, [&](MStarDataSet& s) {
    AddAll(p, plot, s.mwavgMarkerX, s.mwavgMarkerY, 1, 1, kMarkerColor);
  });
}

void LnCCurves(MStarPlotSet& p, MStarState& st) {
  CWINPlot& plot = *p.lnc;
  plot.ClearCurves();
  const bool smoothing = st.settings.cmSmoothing;
  const int hw = st.settings.sgHalfWidth;
  Group(st, [&](MStarDataSet& s) {
    AddCurve(p, plot, s.r2, s.lncRaw, s.n, -1, smoothing ? 0 : 0xffafaf, s.iFirst, s.iLast - 1);
  });
  if (smoothing) {
    Group(st, [&](MStarDataSet& s) {
      AddCurve(p, plot, s.r2, s.lnf, s.n, -1, 0x3232ff, s.ma + 1, s.mb - 1);
    });
    return;
  }
  Group(st, [&](MStarDataSet& s) {
    AddCurve(p, plot, s.r2, s.lncSmooth, s.n, -1, 0xc800, s.iFirst + hw, s.iLast - hw - 1);
  });
  Group(st, [&](MStarDataSet& s) {
    AddCurve(p, plot, s.r2, s.lncLine, s.n, 0xe, 0xc86464, s.iFirst, s.iLast - 1);
  });
}

void MwappCurves(MStarPlotSet& p, MStarState& st) {
  CWINPlot& plot = *p.mwapp;
  plot.ClearCurves();
  const MStarSettings& set = st.settings;
  const int edge = set.sgHalfWidth + set.mwappHalfWidth;
  Group(st, [&](MStarDataSet& s) {
    std::vector<float>& y = set.dlncForm ? s.mwappDlnc : s.mwappDcdr;
    AddCurve(p, plot, set.mwappAgainstRadius ? s.r : s.y, y, s.n, -1, 0x6400, s.iFirst + edge, s.iLast - edge - 1);
  });
  if (!set.cmSmoothing) return;
  Group(st, [&](MStarDataSet& s) {
    AddCurve(p, plot, set.mwappAgainstRadius ? s.r : s.f, s.mwappFit, s.n, -1, 0x3232ff, s.ma + 1, s.mb - 1);
  });
}

void Labels(const MStarPlotSet& p, const MStarState& st) {
  if (p.signal) {
    p.signal->SetXLabel("radius (cm)");
    p.signal->SetYLabel(CurrentDataTypeFlags().interference ? "signal (fringes)" : "signal (OD)");
  }
  if (p.mstar) {
    p.mstar->SetXLabel("radius (cm)");
    p.mstar->SetYLabel("M* (kDa)");
  }
  if (p.lnc) {
    p.lnc->SetXLabel("r^2(cm^2)");
    p.lnc->SetYLabel("ln(signal-baseline)");
  }
  if (p.mwapp) {
    const MStarSettings& s = st.settings;
    if (s.mwappAgainstRadius) {
      p.mwapp->SetXLabel("radius (cm)");
      p.mwapp->SetYLabel(s.dlncForm ? "Mwapp(r) [=(1/k)*dlnc/dr^2] (kDa)"
                                    : "Mwapp(r) [=(1/k)*{(1/2)(1/(c*r))*(dc/dr)}] (kDa)");
    } else {
      p.mwapp->SetXLabel("total signal");
      p.mwapp->SetYLabel(s.dlncForm ? "Mwapp(c) [=(1/k)*dlnc/dr^2] (kDa)"
                                    : "Mwapp(c) [=(1/k)*{(1/2)(1/(c*r))*(dc/dr)}] (kDa)");
    }
  }
  for (CWINPlot* plot : {p.signal.get(), p.mstar.get(), p.lnc.get(), p.mwapp.get()})
    if (plot) plot->ShowYAxisTitle();
}

void Apply(CWINPlot* plot, const MStarAxisRange& r) {
  if (!plot) return;
  plot->SetRanges(r.xMin, r.xMax, r.yMin, r.yMax);
  // The right column's value labels (50.005 kDa on the Mwapp plot) are wider
  // than the room between its frame and the window's edge.
  plot->KeepRightLabelsInside();
  plot->Plot();
}

}  // namespace

MStarPlotSet& CurrentMStarPlots() {
  static MStarPlotSet set;
  return set;
}

void BuildMStarSignalPlot(MStarState& st, std::function<void()> reclaimed) {
  MStarPlotSet& p = CurrentMStarPlots();
  FreeMStarSignalPlot();
  p.signal = NewPlot(kSignalRect);
  PlotWindowSet& w = CurrentPlotWindows();
  p.savedDataPlot = w.dataPlot;
  p.savedTop = w.dataTop;
  p.savedBottom = w.dataBottom;
  w.dataPlot = p.signal.get();
  w.dataTop = kSignalRect.top;
  w.dataBottom = kSignalRect.bottom;
  w.endDataPlotLoan = std::move(reclaimed);
  p.placed = true;
  UpdateMStarPlots(st);
}

void BuildMStarPlot(MStarState& st) {
  CurrentMStarPlots().mstar = NewPlot(kMStarRect);
  UpdateMStarPlots(st);
}

void BuildLnCPlot(MStarState& st) {
  CurrentMStarPlots().lnc = NewPlot(kLnCRect);
  UpdateMStarPlots(st);
}

void BuildMwappPlot(MStarState& st) {
  CurrentMStarPlots().mwapp = NewPlot(kMwappRect);
  UpdateMStarPlots(st);
}

void UpdateMStarPlots(MStarState& st) {
  MStarPlotSet& p = CurrentMStarPlots();
  // The plots let go of the old views before they are destroyed.
  for (CWINPlot* plot : {p.signal.get(), p.mstar.get(), p.lnc.get(), p.mwapp.get()})
    if (plot) {
      plot->ClearCurves();
      plot->highlightCount = 0;
    }
  p.curves.clear();
  p.views.clear();
  if (!st.HasData()) return;
  if (p.signal) {
    SignalCurves(p, st);
    p.views.push_back(std::make_unique<CVector>());
    p.views.back()->Attach(st.meniscusRange, 2, 1);
    p.signal->AddHighlight(p.views.back().get());
    p.views.push_back(std::make_unique<CVector>());
    p.views.back()->Attach(st.bottomRange, 2, 1);
    p.signal->AddHighlight(p.views.back().get());
  }
  if (p.mstar) MStarCurves(p, st);
  if (p.lnc) LnCCurves(p, st);
  if (p.mwapp) MwappCurves(p, st);
  Labels(p, st);
  const MStarAxisRanges r = ComputeMStarAxisRanges(st);
  Apply(p.signal.get(), r.signal);
  Apply(p.mstar.get(), r.mstar);
  Apply(p.lnc.get(), r.lnc);
  Apply(p.mwapp.get(), r.mwapp);
}

namespace {

void FreePlot(std::unique_ptr<CWINPlot>& plot) {
  if (plot) plot->ClearCurves();
  plot.reset();
}

// Views and curves go when no plot is left to refer to them.
void FreeCurvesWhenUnused(MStarPlotSet& p) {
  if (p.Built()) return;
  p.curves.clear();
  p.views.clear();
}

}  // namespace

void FreeMwappPlot() {
  FreePlot(CurrentMStarPlots().mwapp);
  FreeCurvesWhenUnused(CurrentMStarPlots());
}

void FreeLnCPlot() {
  FreePlot(CurrentMStarPlots().lnc);
  FreeCurvesWhenUnused(CurrentMStarPlots());
}

void FreeMStarPlot() {
  FreePlot(CurrentMStarPlots().mstar);
  FreeCurvesWhenUnused(CurrentMStarPlots());
}

void FreeMStarSignalPlot() {
  MStarPlotSet& p = CurrentMStarPlots();
  if (p.placed) {
    PlotWindowSet& w = CurrentPlotWindows();
    w.endDataPlotLoan = nullptr;
    if (w.dataPlot == p.signal.get()) {
      w.dataPlot = p.savedDataPlot;
    } else {
      // The data plot was replaced meanwhile (and the signal plot deleted
      // with it): the new one stays, the kept one is out of date.
      (void)p.signal.release();
      delete p.savedDataPlot;
    }
    w.dataTop = p.savedTop;
    w.dataBottom = p.savedBottom;
    p.savedDataPlot = nullptr;
    p.placed = false;
  }
  FreePlot(p.signal);
  FreeCurvesWhenUnused(p);
}

void FreeMStarPlots() {
  FreeMwappPlot();
  FreeLnCPlot();
  FreeMStarPlot();
  FreeMStarSignalPlot();
}

void DrawMStarHingeMarks(platform::DrawContext& dc, const MStarState& st, int d) {
  const MStarPlotSet& p = CurrentMStarPlots();
  if (!st.HasData() || d < 1 || d > st.count || static_cast<int>(st.hinge.size()) <= d) return;
  const MStarHinge& h = st.hinge[static_cast<size_t>(d)];
  const float bd = MStarBaseline(d);
  const platform::HPEN pen = platform::CreatePen(platform::PS_SOLID, 0, 0x0000ff);
  const platform::HGDIOBJ old = dc.SelectObject(pen);
  const int rop = dc.SetROP2(platform::R2_COPYPEN);
  auto vertical = [&](const CWINPlot* plot, float x) {
    if (!plot) return;
    const int px = plot->ToPixelX(x);
    dc.MoveTo(px, plot->plotTop);
    dc.LineTo(px, plot->plotBottom);
  };
  auto horizontal = [&](const CWINPlot* plot, float y, float x1, float x2) {
    if (!plot) return;
    const int py = plot->ToPixelY(y);
    dc.MoveTo(plot->ToPixelX(x1), py);
    dc.LineTo(plot->ToPixelX(x2), py);
  };
  vertical(p.signal.get(), h.radius);
  vertical(p.lnc.get(), h.radius * h.radius);
  // Against the total signal the loading sits at c0 + b_d, as on the signal plot.
  vertical(p.mwapp.get(), st.settings.mwappAgainstRadius ? h.radius : h.loading + bd);
  horizontal(p.signal.get(), h.loading + bd, gModelParams.meniscus, gModelParams.bottom);
  if (p.mwapp) horizontal(p.mwapp.get(), h.mwapp, p.mwapp->xMin, p.mwapp->xMax);
  dc.SetROP2(rop);
  dc.SelectObject(old);
  platform::DeleteObject(pen);
}

std::unique_ptr<CScreenButton> MakeMStarButton(const MStarButtonSpec& spec) {
  auto b = std::make_unique<CScreenButton>();
  b->kind = 1;
  b->SetSecondOption();
  b->faceColor = spec.offFill;
  b->onFaceColor = spec.onFill;
  b->SetRect(spec.top, spec.left, spec.bottom, spec.right);
  b->SetText(spec.caption.c_str(), static_cast<int>(spec.caption.size()), spec.onCaption.c_str(),
             static_cast<int>(spec.onCaption.size()));
  b->on = spec.pressed ? 1 : 0;
  b->pixelAspect = spec.aspect;
  b->FitCaption();
  b->Redraw();
  return b;
}

