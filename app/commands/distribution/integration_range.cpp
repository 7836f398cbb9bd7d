#include "app/commands/distribution/integration_range.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/window/program_options.h"
#include "app/window/txla_window.h"
#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "distributions/conti_models.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/hydrodynamics.h"
#include "distributions/integrate_distribution.h"
#include "distributions/range_selection.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/coefficients/nonideal_coefficients.h"
#include "numerics/arrays.h"
#include "numerics/constants.h"
#include "plot/cwinplot.h"
#include "plot/direct_curve.h"
#include "plot/plot_window_set.h"
#include "plot/residual_bitmap.h"
#include "platform/draw_surface.h"

namespace {

constexpr int kInner[3] = {255, 0, 0};
constexpr int kOuter[3] = {150, 150, 150};
constexpr double kEdge = 0.05;

bool RangeModel() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  if (CurrentDataTypeFlags().dls || !m.DistributionModel || m.SedTransformModel || m.LsgStarWith1DiscreteModel)
    return false;
  return m.AnyCsFamilyModel() || m.HybridCSLsgModel || m.DlsIRhModel || m.DlsIRhTimeCourseModel ||
         m.AnyCsff0Model();
}

// Molar mass at s by the s-M relation of the chosen model (g/mol).
float MassAt(float s, float T) {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  const ContiSettings& cs = Conti();
  if (m.AnyBimodalCsModel() && s >= cs.secondFfSMin && s <= cs.secondFfSMax)
    return CalculateMff02(s, cs.secondFf);
  if (m.ConformationalChangeCSModel && s >= cs.conformationSMin && s <= cs.conformationSMax)
    return cs.conformationM;
  if (m.CSInvariantDModel) return DFromSM(s, cs.invariantD * 1e-7f, T - 273.15f);
  if (m.CSModel521) return CalculateMofSforLinearRod(s, ContiStore().rodValue);
  return CalculateM(s);
}

CWINPlot* DistributionPlot() { return DistArrays().plotExists ? Conti().distributionPlot : nullptr; }

// Boundary analyses over time, whose "distribution" is no density of s.
bool BoundaryExtrapolationMode() {
  return gModelSelectorFlags.SedTransformModel || gModelSelectorFlags.LsgExtrapolationModel;
}

// Records a curve over the distribution plot and shows it at once.
void ShowOverDistribution(TXLAWindow& w, platform::HMETAFILE mf) {
  if (!mf) return;
  if (platform::DrawSurface* surface = w.Frame().Surface()) {
    ReplayPlotPicture(*surface, mf);
    w.Frame().FlushCanvas();
  }
  platform::DeleteMetaFile(mf);
}

}  // namespace

RangeColouring ColourScanByRange(const float* r, int from, int to, double m, double w2t, double sigma2,
                                 float s1, float s2, bool errorPropagation, int** colours) {
  RangeColouring out;
  const double lo = s1 * 1e-13, hi = s2 * 1e-13;
  for (int i = from; i <= to; ++i) {
    const double sStar = std::log(r[i] / m) / w2t;
    double w = 1.0;
    int* c = colours[i];
    if (sStar > lo && sStar > hi) {
      w = std::exp(-std::pow(s2 - 1e13 * sStar, 2) / sigma2);
      for (int k = 0; k < 3; ++k) c[k + 1] = kOuter[k] + static_cast<int>(std::floor((kInner[k] - kOuter[k]) * w));
    } else if (sStar > lo) {
      for (int k = 0; k < 3; ++k) c[k + 1] = kInner[k];
    } else {
      w = std::exp(-std::pow(s1 - 1e13 * sStar, 2) / sigma2);
      for (int k = 0; k < 3; ++k) c[k + 1] = static_cast<int>(std::floor(kOuter[k] + (kInner[k] - kOuter[k]) * w));
    }
    const bool lastPoint = i == to;
    if (sStar < lo && (i == from || w <= kEdge)) out.first = i;
    if (sStar > hi) {
      if (lastPoint && w > kEdge) {
        if (!errorPropagation)
          out.last = i;
        else
          out.first = out.last = -1;
      } else if (w >= kEdge) {
        out.last = i;
      }
    } else if (lastPoint && !errorPropagation) {
      if (sStar > lo)
        out.last = i;
      else if (w <= kEdge)
        out.first = out.last = -1;
      else
        out.last = i;
    }
  }
  return out;
}

void PaintDistributionIntegrationRange(TXLAWindow& window, float s1, float s2, int* first, int* last, float* err) {
  const ContiSettings& cs = Conti();
  // The s of a term at point 1 (a discrete species) is no end of the grid.
  const int firstPoint = LeadingTermModel() ? 2 : 1;
  if (!cs.sValues || cs.gridSize < firstPoint) return;
  const float gridLo = cs.sValues[firstPoint], gridHi = cs.sValues[cs.gridSize];
  s1 = std::clamp(s1, gridLo, gridHi);
  s2 = std::clamp(s2, gridLo, gridHi);
  if (!RangeModel()) return;
  ScanSet& s = CurrentScanSet();
  CWINPlot* plot = CurrentPlotWindows().dataPlot;
  if (s.count < 1 || !plot) return;
  const float T = gSolutionConditions.temperature;
  const double D1 = DFromMGlobalFf0(MassAt(s1, T), T - 273.15f);
  const int lastScan = s.order[s.count];
  const double omega = s.records[lastScan].rpm * (1.0 / 60.0) * 2.0 * kPi;
  const double m = gModelParams.meniscus;
  const bool profile = CurrentSpeedProfile.Active();
  const bool errorPropagation = Options().ErrorPropagationToSw;
  platform::DrawSurface* surface = window.Frame().Surface();
  for (int k = 1; k <= s.count; ++k) {
    const int i = s.order[k];
    const int n = s.points[i];
    const double t = s.records[i].timeRead;
    const double w2t = profile ? s.records[i].w2t : omega * omega * t;
    const double sigma2 = profile ? 4e7 * D1 * 1e19 * t / (w2t * w2t * m * m)
                                  : 4e7 * D1 * 1e19 / (std::pow(omega, 4) * t * m * m);
    int** colours = imatrix(1, n, 1, 3);
    for (int p = 1; p <= n; ++p)
      for (int c = 1; c <= 3; ++c) colours[p][c] = kOuter[c - 1];
    const RangeColouring range = ColourScanByRange(s.radii[i], s.firstFitPoint[i], s.lastFitPoint[i], m, w2t,
                                                   sigma2, s1, s2, errorPropagation, colours);
    if (first && last) {
      first[i] = range.first;
      last[i] = range.last;
    }
    if (errorPropagation && err && first && last) {
      const float* r = s.radii[i];
      if (range.first < 1 || range.last <= range.first || range.last >= n) {
        err[i] = 0;
      } else {
        double sum = 0;
        for (int p = range.first; p <= range.last; ++p)
          sum += (static_cast<double>(r[p + 1]) - r[p]) * s.residuals[i][p] * r[p];
        const double rl = r[range.last];
        err[i] = static_cast<float>(sum / (omega * omega * rl * rl * (m * m / (rl * rl))));
      }
    }
    if (surface && static_cast<int>(s.modelCurve.size()) > i && s.modelCurve[i]) {
      const platform::HMETAFILE mf = DrawCurveInDC2(plot, s.modelCurve[i], s.firstFitPoint[i], s.lastFitPoint[i],
                                                    colours, 12, plot->symbolSize);
      if (mf) {
        ReplayPlotPicture(*surface, mf);
        platform::DeleteMetaFile(mf);
      }
    }
    free_imatrix(colours, 1, n, 1, 3);
  }
  if (surface) window.Frame().FlushCanvas();
}

float ConcentrationMovedLimit(float s, float total) {
  const ModelSelectorFlags& f = gModelSelectorFlags;
  const double c0 = CurrentScanSet().referenceTotalConcentration;
  if (!f.NonidealCSModel || !(c0 > 0)) return s;
  const float* P = gModelParameterVector.P;
  if (!f.NonidealCSVariant) return static_cast<float>(s * (1.0 - (total / c0) * std::pow(10.0, P[20])));
  float below = 0, mean = 0, all = 0;
  IntegrateDistribution(0.1f, s, &below, &mean, &all);
  return static_cast<float>(
      s * ConcentrationFactorSSimple(static_cast<float>(below / c0), P[20], P[21], Conti().ffValue,
                                     gSolutionConditions.vbar));
}

void PlotIntegrationRange(TXLAWindow& w, float a, float b, int style, platform::COLORREF colour) {
  CWINPlot* plot = DistributionPlot();
  if (a == b || !plot || CurrentDataTypeFlags().dls || BoundaryExtrapolationMode()) return;
  const RangePolyline p = DistributionRangePolyline(a, b);
  if (p.x.empty()) return;
  // One-based copies for the plot's array drawing.
  std::vector<float> x(1, 0.0f), y(1, 0.0f);
  x.insert(x.end(), p.x.begin(), p.x.end());
  y.insert(y.end(), p.y.begin(), p.y.end());
  ShowOverDistribution(w, PlotFloatArrays(plot, x.data(), y.data(), static_cast<int>(p.x.size()), colour, style,
                                          plot->symbolSize));
}

std::string ShowRangeOnData(TXLAWindow& w, float lo, float hi, float total, float c, bool anySign) {
  ScanSet& s = CurrentScanSet();
  if (s.count < 1) return {};
  const size_t n = static_cast<size_t>(s.count) + 1;
  std::vector<int> first(n, 0), last(n, 0);
  std::vector<float> transport(n, 0.0f);
  // Boundaries of the nonideal c(s) models sediment slower than their s:
  // the painted limits move with the concentration.
  if (!CurrentDataTypeFlags().dls && (anySign || (lo > 0.0f && hi > 0.0f)))
    PaintDistributionIntegrationRange(w, ConcentrationMovedLimit(lo, total), ConcentrationMovedLimit(hi, total),
                                      first.data(), last.data(), transport.data());

  PeakBandSelection& band = CurrentPeakBand();
  if (CurrentPlotWindows().showBitmap) {
    band.on = 1;
    band.first = first;
    band.last = last;
    if (platform::DrawSurface* surface = w.Frame().Surface()) {
      DrawResidualsBitmap(*surface);
      w.Frame().FlushCanvas();
    }
  }
  band.on = 0;
  band.first.clear();
  band.last.clear();

  if (!Options().ErrorPropagationToSw || CurrentSpeedProfile.Active() || !(c / total > 0.05f) || !(c > 0.001f))
    return {};
  std::vector<double> R, t;
  for (int k = 1; k <= s.count; ++k) {
    const int i = s.order[k];
    R.push_back(transport[static_cast<size_t>(i)]);
    t.push_back(s.records[i].timeRead);
  }
  return SwErrorLine(EstimateSwError(R, t, c));
}
