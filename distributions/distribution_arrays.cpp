#include "distributions/distribution_arrays.h"

#include <cmath>

#include "data/scan_set.h"
#include "distributions/conti_model_family.h"
#include "distributions/conti_settings.h"
#include "distributions/prior_knowledge.h"
#include "fit/model_selector.h"
#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/user_interface.h"

namespace {

DistributionPlotHost* gHost = nullptr;

template <class T>
void Delete(T*& p) {
  delete p;
  p = nullptr;
}

void FreeF(float*& p, int n) {
  if (p) free_vector(p, 1, n);
  p = nullptr;
}
void FreeD(double*& p, int n) {
  if (p) free_dvector(p, 1, n);
  p = nullptr;
}

void SetLayout(int a, int b, int c, int d) {
  DistributionArrays& da = DistArrays();
  da.layout[0] = a;
  da.layout[1] = b;
  da.layout[2] = c;
  da.layout[3] = d;
  if (gHost) gHost->SetLayout(da.layout);
}

const ModelSelectorFlags& F() { return gModelSelectorFlags; }

// A new plot of c(M) or DLS I(D) draws over the molar-mass array (log10 D
// for I(D)); a c(M) transform of an s grid is redrawn by the transform.
bool NewPlotOverMass() { return F().AxisShownIsMass(CurrentDataTypeFlags().dls != 0, false); }

// f(M) is a distribution in M only through a usable s(M) = ks M^kb: without
// one the grid is not a mass grid of that law and the axis says c(M).
bool ScalingLawCalibrated() {
  const ContiSettings& cs = Conti();
  return std::isfinite(cs.scalingKs) && cs.scalingKs > 0 && std::isfinite(cs.scalingBs) &&
         cs.scalingBs != 0;
}

std::string MassTitleY() {
  return F().FMScalingLawModel && ScalingLawCalibrated() ? "f(M)" : "c(M)";
}

void Titles(std::string& x, std::string& y, bool& logX) {
  const ModelSelectorFlags& f = F();
  logX = false;
  if (f.DlsIDModel) {
    x = "log diffusion coefficient (cm^2/sec)";
    y = "Scattering Intensity";
    logX = true;
  } else if (f.DlsIRhModel || f.DlsIRhTimeCourseModel) {
    x = "log hydrodynamic radius (m)";
    y = "Scattering Intensity";
    logX = true;
  } else if (f.SedTransformModel) {
    x = "sed coefficient [S]";
    y = "G(s)";
  } else if (f.HybridCSLsgModel) {
    x = "sed coefficient [S]";
    y = "c(s)/ls-g*(s)";
  } else if (f.ElectrophoresisLsgModel || f.ElectrophoresisCVModel) {
    x = "migration velocity [um/sec]";
    y = f.ElectrophoresisLsgModel ? "ls-g*(s)" : "c(s)";
  } else if (f.LsgStarModel || f.LsgStarWith1DiscreteModel || f.ZoneCentrifugationLsgModel) {
    x = "sed coefficient [S]";
    y = "ls-g*(s)";
  } else if (MassGridModel()) {
    x = "molar mass [Da]";
    y = MassTitleY();
  } else if (Priors().discreteSpecies && !Conti().secondPeakTable) {
    // The prior of discrete species: the amplitudes are shares of the peaks.
    x = "sed coefficient [S]";
    y = "fraction";
  } else {
    x = "sed coefficient [S]";
    y = "c(s)";
  }
}

void DeleteViews() {
  DistributionArrays& a = DistArrays();
  Delete(a.distCurve);
  Delete(a.companionCurve);
  Delete(a.xView);
  Delete(a.distView);
  Delete(a.companionView);
  Delete(a.drawnDistCurve);
  Delete(a.drawnCompanionCurve);
  Delete(a.drawnXView);
  Delete(a.drawnDistView);
  Delete(a.drawnCompanionView);
  if (a.plotExists && gHost) gHost->Destroy();
  a.plotExists = false;
}

void Delete2DViews() {
  DistributionArrays& a = DistArrays();
  Delete(a.curve2D);
  Delete(a.x2DView);
  Delete(a.y2DView);
}

CVector* View(float* p, int n) {
  CVector* v = new CVector();
  if (p && n > 0) v->Attach(p, n, 1);
  return v;
}

void MakeCurves(float* axis) {
  DistributionArrays& a = DistArrays();
  ContiSettings& cs = Conti();
  const int n = cs.gridSize;
  a.xView = View(axis, n);
  a.distView = View(cs.distribution, n);
  a.companionView = View(cs.companionDistribution, n);
  a.distCurve = new CCurve(a.xView, a.distView);
  a.companionCurve = new CCurve(a.xView, a.companionView);
  // Joined to the grid, the discrete species of point 1 would draw a line
  // from its s across the whole distribution.
  if (LeadingTermModel() && n > 2) {
    a.drawnXView = View(axis ? axis + 1 : nullptr, n - 1);
    a.drawnDistView = View(cs.distribution ? cs.distribution + 1 : nullptr, n - 1);
    a.drawnCompanionView = View(cs.companionDistribution ? cs.companionDistribution + 1 : nullptr, n - 1);
    a.drawnDistCurve = new CCurve(a.drawnXView, a.drawnDistView);
    a.drawnCompanionCurve = new CCurve(a.drawnXView, a.drawnCompanionView);
  }
}


// The c(s,f/f0) map part of the graph description.
void Describe2DMap(DistributionPlotSpec& spec) {
  DistributionArrays& a = DistArrays();
  ContiSettings& cs = Conti();
  Delete2DViews();
  const int offset = F().CSff0With1DiscreteModel ? 1 : 0;
  const int count = cs.grid2DSize - offset;
  const uint8_t* sw = cs.display2DSwitch;
  float* xs = cs.grid2DS;
  float* ys = cs.grid2DFf;
  std::string xt = "sed coefficient [S]", yt = "c(s,*) or ff0";
  if (sw[0]) {
    ys = cs.grid2DM;
    yt = "molar mass [Da]";
  } else if (sw[1]) {
    ys = cs.grid2DStokes;
    yt = "Stokes radius (nm)";
  } else if (sw[2]) {
    ys = cs.grid2DD;
    yt = "D (cm^2/sec)";
  } else if (sw[3]) {
    xs = cs.grid2DM;
    ys = cs.grid2DFf;
    xt = "molar mass [Da]";
    yt = "frictional ratio";
  }
  a.x2DView = View(xs ? xs + offset : nullptr, count);
  a.y2DView = View(ys ? ys + offset : nullptr, count);
  a.curve2D = new CCurve(a.x2DView, a.y2DView);
  spec.map2D = true;
  spec.mapCurve = a.curve2D;
  spec.mapZ = cs.grid2DAmplitude ? cs.grid2DAmplitude + 1 + offset : nullptr;
  spec.mapCount = count;
  spec.xTitle = xt;
  spec.yTitle = yt;
  const bool anySwitch = sw[0] || sw[1] || sw[2] || sw[3];
  if (!anySwitch) {
    const int w = 320;
    spec.curveStyle = 11;
    spec.fixedYRange = true;
    spec.yMin = cs.ffMin;
    spec.yMax = cs.ffMax;
    spec.cellWidth = cs.ffCount > 1 ? static_cast<int>(0.5 * w / (cs.ffCount - 1)) + 1 : 1;
    spec.cellHeight = cs.resolution > 0 ? static_cast<int>(0.5 * 1.2 * w / cs.resolution) + 1 : 1;
    spec.painterSymbolSize = static_cast<int>(std::floor(1.5 * spec.cellWidth));
    spec.curves[0] = a.distCurve;
    spec.colours[0] = 0;
    spec.curveCount = 1;
    char t[64];
    std::snprintf(t, sizeof t, "ff0=%.2f", cs.ffMin);
    spec.annotation1 = t;
    std::snprintf(t, sizeof t, "ff0=%.2f", cs.ffMax);
    spec.annotation2 = t;
  } else {
    spec.curveStyle = 9;
    if (cs.symbolSize2D >= 0) spec.symbolSize = cs.symbolSize2D;
    spec.painterSymbolSize = static_cast<int>(std::floor(1.5 * spec.symbolSize));
  }
  cs.show2D = 1;
}

// Steps 4 and 5 of the graph: a new graph over the curves.
DistributionPlotSpec OneDimensionalSpec() {
  DistributionPlotSpec spec;
  spec.curves[0] = DrawnDistributionCurve();
  spec.colours[0] = 0;
  spec.curveCount = 1;
  if (Conti().showBothRegularizations) {
    spec.curves[1] = DrawnCompanionCurve();
    spec.colours[1] = 0xFF0000;
    spec.curveCount = 2;
  }
  Conti().show2D = 0;
  return spec;
}

void Show(const DistributionPlotSpec& spec) {
  DistributionArrays& a = DistArrays();
  a.lastSpec = spec;
  a.plotExists = true;
  if (gHost) gHost->Build(spec);
}

void FinishLayout(bool redrawOthers) {
  SetLayout(50, 350, 405, 575);
  if (gHost && redrawOthers && gHost->DataPlotExists()) {
    gHost->RelayoutAndRedrawPlots();
    gHost->CreateIntegrateButton();
  }
}

}  // namespace

CCurve* DrawnDistributionCurve() {
  DistributionArrays& a = DistArrays();
  return a.drawnDistCurve ? a.drawnDistCurve : a.distCurve;
}
CCurve* DrawnCompanionCurve() {
  DistributionArrays& a = DistArrays();
  return a.drawnCompanionCurve ? a.drawnCompanionCurve : a.companionCurve;
}

void SetDistributionPlotHost(DistributionPlotHost* host) { gHost = host; }
DistributionPlotHost* GetDistributionPlotHost() { return gHost; }

DistributionArrays& DistArrays() {
  static DistributionArrays a;
  return a;
}

void FreeDistributionArrays() {
  DistributionArrays& a = DistArrays();
  ContiSettings& cs = Conti();
  const int n = a.allocatedN;
  FreeF(cs.molarMasses, n);
  FreeF(cs.sValues, n);
  FreeF(cs.distribution, n);
  FreeF(cs.companionDistribution, n);
  FreeF(cs.unitWeights, n);  // made by the direct boundary model
  DeleteViews();
  const int n2 = a.allocated2D, nf = a.allocatedFf;
  FreeF(cs.grid2DAmplitude, n2);
  FreeF(cs.grid2DM, n2);
  FreeF(cs.grid2DS, n2);
  FreeF(cs.grid2DFf, n2);
  FreeF(cs.grid2DD, n2);
  FreeF(cs.grid2DStokes, n2);
  FreeF(cs.ffValues, nf);
  FreeF(cs.ffWork, nf);
  Delete2DViews();
  cs.show2D = 0;
  a.allocated2D = 0;
  a.allocatedFf = 0;
  SetLayout(50, 475, 550, 950);
  if (gHost && gHost->DataPlotExists() && cs.distributionShown) gHost->RelayoutAndRedrawPlots();
  if (gHost) gHost->DeleteIntegrateButton();
  FreeD(cs.prior, a.allocatedPrior);
  FreeD(cs.priorCompanion, a.allocatedPrior);
  a.allocatedN = 0;
  a.allocatedPrior = 0;
}

void AllocDistributionArrays(int n, int n2, int ffCount) {
  DistributionArrays& a = DistArrays();
  ContiSettings& cs = Conti();
  cs.gridSize = n;
  cs.sValues = vector(1, n);
  cs.molarMasses = vector(1, n);
  cs.distribution = vector(1, n);
  cs.companionDistribution = vector(1, n);
  cs.prior = dvector(1, n);
  cs.priorCompanion = dvector(1, n);
  for (int i = 1; i <= n; ++i) {
    cs.sValues[i] = cs.molarMasses[i] = cs.distribution[i] = cs.companionDistribution[i] = 0.0f;
    cs.prior[i] = 0.01;
    cs.priorCompanion[i] = 0.0;
  }
  a.allocatedN = n;
  a.allocatedPrior = n;
  if (n2 > 0) AllocDistributionArrays2D(n2, ffCount);
}

void AllocDistributionArrays2D(int n2, int ffCount) {
  DistributionArrays& a = DistArrays();
  ContiSettings& cs = Conti();
  float** arrays[] = {&cs.grid2DAmplitude, &cs.grid2DM, &cs.grid2DS,
                      &cs.grid2DFf, &cs.grid2DD, &cs.grid2DStokes};
  for (float** p : arrays) {
    if (*p && a.allocated2D > 0) free_vector(*p, 1, a.allocated2D);
    *p = vector(1, n2);
    for (int j = 1; j <= n2; ++j) (*p)[j] = 0.0f;
  }
  FreeF(cs.ffValues, a.allocatedFf);
  FreeF(cs.ffWork, a.allocatedFf);
  cs.ffValues = vector(1, ffCount);
  cs.ffWork = vector(1, ffCount);
  for (int k = 1; k <= ffCount; ++k) cs.ffValues[k] = cs.ffWork[k] = 0.0f;
  cs.grid2DSize = n2;
  a.allocated2D = n2;
  a.allocatedFf = ffCount;
  // The regularisation weighs every amplitude of the 2-D grid with the prior.
  if (n2 > a.allocatedPrior) {
    double* p = dvector(1, n2);
    double* q = dvector(1, n2);
    for (int j = 1; j <= n2; ++j) {
      p[j] = j <= a.allocatedPrior ? cs.prior[j] : 0.01;
      q[j] = j <= a.allocatedPrior ? cs.priorCompanion[j] : 0.0;
    }
    FreeD(cs.prior, a.allocatedPrior);
    FreeD(cs.priorCompanion, a.allocatedPrior);
    cs.prior = p;
    cs.priorCompanion = q;
    a.allocatedPrior = n2;
  }
}

void BuildDistributionPlot() {
  DistributionArrays& a = DistArrays();
  ContiSettings& cs = Conti();
  if (a.plotExists) {
    // A graph of an earlier set-up: only the views go, the arrays stay.
    cs.distributionShown = 0;
    DeleteViews();
    Delete2DViews();
    cs.distributionShown = 1;
  } else {
    DeleteViews();
  }
  if (NewPlotOverMass()) {
    MakeCurves(cs.molarMasses);
  } else {
    MakeCurves(cs.sValues);
    cs.transformedToCM = 0;
  }
  DistributionPlotSpec spec;
  if (TwoDimensionalModel() && cs.grid2DS) {
    spec.curves[0] = nullptr;
    spec.curveCount = 0;
    Describe2DMap(spec);
  } else {
    spec = OneDimensionalSpec();
    Titles(spec.xTitle, spec.yTitle, spec.logX);
  }
  spec.yFromZero = true;
  Show(spec);
  FinishLayout(true);
}

void RebuildDistributionCurves() { BuildDistributionPlot(); }

void RebuildDistributionPlotKeepingRange(ContiSettings& cs) {
  const float keptMin = cs.sMin, keptMax = cs.sMax;
  DistArrays().modelJustChosen = true;
  MakeDistributionPlot();
  DistArrays().modelJustChosen = false;
  cs.sMin = keptMin;
  cs.sMax = keptMax;
}

bool MakeDistributionPlot() {
  DistributionArrays& a = DistArrays();
  ContiSettings& cs = Conti();
  if (TwoDimensionalModel() && cs.show2D) return a.plotExists;
  if (!a.plotExists) {
    if (MassGridModel() || DlsDistributionModel()) {
      cs.sMin = 10000.0f;
      cs.sMax = 500000.0f;
    } else {
      cs.sMin = 0.0f;
      cs.sMax = 20.0f;
    }
    return false;
  }
  DeleteViews();
  float* axis = NewPlotOverMass() ? cs.molarMasses : cs.sValues;
  const int n = cs.gridSize;
  if (axis && n > 0) {
    cs.sMin = axis[1];
    cs.sMax = axis[n];
  }
  MakeCurves(axis);
  DistributionPlotSpec spec = OneDimensionalSpec();
  const ModelSelectorFlags& f = F();
  if (!MassGridModel() && !DlsDistributionModel()) {
    spec.xTitle = "sed coefficient [S]";
    spec.yTitle = "c(s)";
  } else if (cs.hybridThreshold != 0.0) {
    spec.xTitle = "sed coefficient [S]";
    spec.yTitle = "c(s)/ls-g*(s)";
  } else if (f.DlsIRhModel || f.DlsIRhTimeCourseModel) {
    spec.xTitle = "hydrodynamic radius (nm)";
    spec.yTitle = "Scattering Intensity";
  } else if (f.DlsIDModel) {
    spec.xTitle = "diffusion coefficient (10^-7 cm^2/sec)";
    spec.yTitle = "Scattering Intensity";
  } else {
    spec.xTitle = "molar mass [Da]";
    spec.yTitle = MassTitleY();
  }
  Show(spec);
  FinishLayout(!f.FMScalingLawModel);
  if (!cs.msTablePlot && !a.modelJustChosen)
    platform::Tell("", "may need to recalculate before integrating distribution data");
  return true;
}

void TransformDistributionPlotToCM() {
  ContiSettings& cs = Conti();
  const int n = cs.gridSize;
  if (cs.show2D || cs.msTablePlot || cs.transformedToCM || n < 3 || !cs.distribution) return;
  auto convert = [&](float* c) {
    const float* s = cs.sValues;
    const float* M = cs.molarMasses;
    c[2] *= std::fabs(s[3] - s[2]) / 2.0f;
    for (int i = 3; i < n; ++i) c[i] *= std::fabs(s[i + 1] - s[i - 1]) / 2.0f;
    c[n] *= std::fabs(s[n] - s[n - 1]) / 2.0f;
    c[2] = 2.0f * c[2] / (M[3] - M[2]);
    for (int i = 3; i < n; ++i) c[i] = c[i] / ((M[i + 1] - M[i - 1]) / 2.0f);
    c[n] = 2.0f * c[n] / (M[n] - M[n - 1]);
  };
  convert(cs.distribution);
  if (cs.showBothRegularizations) convert(cs.companionDistribution);
  DeleteViews();
  MakeCurves(cs.molarMasses);
  DistributionPlotSpec spec = OneDimensionalSpec();
  spec.xTitle = "molar mass [Da]";
  spec.yTitle = MassTitleY();
  Show(spec);
  FinishLayout(true);
  cs.transformedToCM = 1;
}

void PlotHydrodynamicRelation() {
  ContiSettings& cs = Conti();
  if (!cs.show2D || !cs.grid2DS || !cs.grid2DM || !cs.grid2DD || !cs.grid2DStokes ||
      !cs.grid2DFf || !cs.grid2DAmplitude)
    return;
  DistributionArrays& a = DistArrays();
  if (a.plotExists && gHost) gHost->Destroy();
  a.plotExists = false;
  DistributionPlotSpec spec;
  Describe2DMap(spec);
  spec.yFromZero = true;
  Show(spec);
}

void RestyleDistributionPlot(int style, int symbolSize, const std::vector<CCurve*>& extra) {
  DistributionArrays& a = DistArrays();
  if (!a.plotExists) return;
  DistributionPlotSpec spec = a.lastSpec;
  spec.firstCurveStyle = style;
  spec.firstCurveSymbolSize = symbolSize;
  spec.extraCurves = extra;
  Show(spec);
}

long RedrawDistributionPlot() {
  if (!DistArrays().plotExists || !gHost) return 0;
  return gHost->Redraw();
}
