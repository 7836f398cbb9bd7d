#include "fit/lamm_grid.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "data/scan_set.h"
#include "fit/global_lamm_connection.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "lamm/radial_nodes.h"
#include "numerics/brent_root.h"

namespace {

std::unique_ptr<double[]> ZeroBlock(std::size_t count) {
  return std::unique_ptr<double[]>(new (std::nothrow) double[count]());
}

bool ConcDependentFamily() {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  return sel.ConcDependentLammModel || sel.ConcDependentSolverSwitch ||
         sel.AnySelfAssociationModel() || sel.NonidealSingleSpeciesModel;
}

double** MainArray(LammGrid& g, int k) {
  double** arrays[16] = {&g.DisplayProfile,    &g.Concentration,      &g.Radius,
                         &g.PreviousConcentration, &g.RightHandSide,  &g.StiffnessNewSub,
                         &g.StiffnessNewDiag,  &g.StiffnessNewSuper,  &g.TridagWork,
                         &g.SystemSub,         &g.SystemDiag,         &g.SystemSuper,
                         &g.StiffnessOldSub,   &g.StiffnessOldDiag,   &g.StiffnessOldSuper,
                         nullptr};
  return arrays[k];
}

double** FrameArray(LammGrid& g, int k) {
  double** arrays[17] = {&g.DiffusionStiffnessSub,     &g.DiffusionStiffnessDiag,
                         &g.DiffusionStiffnessSuper,   &g.SedimentationStiffnessSub,
                         &g.SedimentationStiffnessDiag, &g.SedimentationStiffnessSuper,
                         &g.FrameStiffnessSub,         &g.FrameStiffnessDiag,
                         &g.FrameStiffnessSuper,       &g.FrameRadius,
                         &g.PeriodRhsSub,              &g.PeriodRhsDiag,
                         &g.PeriodRhsSuper,            &g.PeriodLhsSub,
                         &g.PeriodLhsDiag,             &g.PeriodLhsSuper,
                         &g.FactorRatio};
  return arrays[k];
}

}  // namespace

void FreeLammArrays() {
  LammGrid& g = CurrentLammGrid();
  if (!g.GridAllocated) return;
  for (int k = 0; k < 15; ++k) *MainArray(g, k) = nullptr;
  for (auto& b : g.mainBlocks) b.reset();
  g.massBlock.reset();
  g.MassSuper = g.MassDiag = g.MassSub = g.FactorPivot = nullptr;
  g.frameBlock.reset();
  for (int k = 0; k < 17; ++k) *FrameArray(g, k) = nullptr;
  g.FrameNewSub = g.FrameNewDiag = g.FrameNewSuper = nullptr;
  g.reactingBlock.reset();
  for (double*& p : g.ReactingArrays) p = nullptr;
  g.concBlock.reset();
  for (double*& p : g.ConcDependentArrays) p = nullptr;
  g.GridAllocated = 0;
}

bool AllocLammArrays() {
  ConnectGlobalLammSolvers();
  LammGrid& g = CurrentLammGrid();
  const LammSolverSettings& st = LammSettings();
  const bool movingHat = st.movingHatAlgorithm != 0;
  const bool concDependent = ConcDependentFamily();
  if (!g.GridAllocated) {
    const int N = st.gridSize.inUse;
    if (N < 2) return false;
    const std::size_t n1 = static_cast<std::size_t>(N) + 1;
    for (int k = 0; k < 15; ++k) {
      g.mainBlocks[k] = ZeroBlock(n1);
      *MainArray(g, k) = g.mainBlocks[k].get();
    }
    g.massBlock = ZeroBlock(4 * n1);
    if (g.massBlock) {
      double* p = g.massBlock.get();
      g.MassSuper = p;
      g.MassDiag = p + n1;
      g.MassSub = p + 2 * n1;
      g.FactorPivot = p + 3 * n1;
    }
    if (g.reactingSystem) {
      g.reactingBlock = ZeroBlock(34 * n1);
      if (g.reactingBlock)
        for (int k = 0; k < 34; ++k) g.ReactingArrays[k] = g.reactingBlock.get() + k * n1;
    }
    if (movingHat) {
      g.frameBlock = ZeroBlock(17 * n1);
      if (g.frameBlock)
        for (int k = 0; k < 17; ++k) *FrameArray(g, k) = g.frameBlock.get() + k * n1;
      g.FrameNewSub = g.StiffnessNewSub;
      g.FrameNewDiag = g.StiffnessNewDiag;
      g.FrameNewSuper = g.StiffnessNewSuper;
    }
    if (concDependent) {
      g.concBlock = ZeroBlock(17 * n1);
      if (g.concBlock)
        for (int k = 0; k < 17; ++k) g.ConcDependentArrays[k] = g.concBlock.get() + k * n1;
    }
    g.AllocatedGridSize = N;
    g.GridAllocated = 1;
  }
  bool complete = g.MassSuper != nullptr;
  for (int k = 0; k < 15; ++k) complete = complete && *MainArray(g, k);
  if (movingHat)
    for (int k = 0; k < 17; ++k) complete = complete && *FrameArray(g, k);
  if (g.reactingSystem) complete = complete && g.ReactingArrays[0] && g.ReactingArrays[33];
  if (concDependent) complete = complete && g.ConcDependentArrays[0] && g.ConcDependentArrays[16];
  if (!complete) {
    FreeLammArrays();
    return false;
  }
  MakeRadialGrid();
  return true;
}

bool SetLammGridSize(std::int32_t n) {
  LammGrid& g = CurrentLammGrid();
  if (!g.GridAllocated) return false;
  FreeLammArrays();
  LammSolverSettings& st = LammSettings();
  st.gridSize.inUse = st.gridSize.inUse == std::numeric_limits<std::int32_t>::max()
                         ? std::numeric_limits<std::int32_t>::max() - 1
                         : n;
  return AllocLammArrays();
}

void MakeRadialGrid() {
  LammGrid& g = CurrentLammGrid();
  if (!g.GridAllocated || CurrentDataTypeFlags().dls) return;
  g.TwoZoneGridBuilt = 0;
  const LammSolverSettings& st = LammSettings();
  const int N = g.AllocatedGridSize;
  const double m = gModelParams.meniscus, b = gModelParams.bottom;
  double* r = g.Radius;
  if (st.movingHatAlgorithm) {
    MovingFrameNodes(m, b, N, CurrentLammRunState().sStar >= 0, r);
  } else if (st.claverieAlgorithm && !g.TwoZoneGridRequested) {
    EvenNodes(m, b, N, r);
  } else if (st.claverieAlgorithm) {
    // The count came from the same rule (SetTwoZoneGridSize): the grid fills
    // the arrays exactly.
    if (GradedNodes(m, b, g.TwoZoneBoundary, g.TwoZoneSpacing, N, r) == 0) EvenNodes(m, b, N, r);
    g.TwoZoneGridBuilt = 1;
  } else {
    CellCentredNodes(m, b, N, r);
  }
}

std::int32_t SetTwoZoneGridSize(float rc) {
  LammGrid& g = CurrentLammGrid();
  LammSolverSettings& st = LammSettings();
  const float m = gModelParams.meniscus, b = gModelParams.bottom;
  const std::int32_t N = st.gridSize.inUse;
  if (m == 0 || b == 0 || rc <= m || N < 50 || st.movingHatAlgorithm || !st.claverieAlgorithm) {
    SetLammGridSize(N);
    return st.gridSize.inUse;
  }
  const float dr = (b - m) / static_cast<float>(N - 1);
  std::int32_t count =
      GradedNodes(m, b, rc, dr, std::numeric_limits<std::int32_t>::max() / 2, nullptr);
  if (count == 0) count = N;  // a spacing that never reaches the bottom
  if (g.GridAllocated) FreeLammArrays();
  if (count < 50) {
    st.gridSize.inUse = 50;
    g.TwoZoneGridRequested = 0;
    AllocLammArrays();
  } else {
    st.gridSize.inUse =
        N == std::numeric_limits<std::int32_t>::max() ? N - 1 : count;
    g.TwoZoneGridRequested = 1;
    g.TwoZoneBoundary = rc;
    g.TwoZoneSpacing = dr;
    AllocLammArrays();
    g.TwoZoneGridRequested = 0;
  }
  return st.gridSize.inUse;
}

bool StretchTwoZoneGrid(double x) {
  LammGrid& g = CurrentLammGrid();
  if (!g.GridAllocated || LammSettings().truncatedGridActive || !g.TwoZoneGridBuilt) return false;
  const int N = g.AllocatedGridSize;
  const double m = gModelParams.meniscus, b = gModelParams.bottom;
  double* r = g.Radius;
  const float bf = gModelParams.bottom;
  double rc = (10.0f / bf) * bf < x ? b * std::sqrt(1 - 10 / (x * b * b)) : m + 0.1 * (b - m);
  if (rc < m + 0.1 * (b - m)) rc = m + 0.1 * (b - m);
  int j = 2;
  for (; j < N; ++j) {
    r[j] = m + 1.1 * (r[j] - m);
    if (r[j] > rc) break;
  }
  if (j >= N) {
    r[N] = b;
    return true;
  }
  const double h = r[j] - r[j - 1];
  g.stretchNode = j;
  g.stretchRadius = rc;
  g.stretchStep = h;
  // f(q) = b - R(q): the last radius when each further spacing grows by q.
  auto f = [&](double q) {
    double R = r[j], step = h;
    for (int k = j + 1; k <= N; ++k) {
      step *= q;
      R += step;
    }
    return b - R;
  };
  double q = 1.0;
  if (!BrentRoot(f, 0.0, 10.0, f(0.0), f(10.0), 1e-6, std::numeric_limits<double>::epsilon(), 100,
                 &q))
    return false;
  g.stretchRatio = q;
  double step = h;
  for (int k = j + 1; k <= N; ++k) {
    step *= q;
    r[k] = r[k - 1] + step;
  }
  r[N] = b;
  return true;
}

void FreeCosoluteArrays() {
  CosoluteArrays& c = CurrentCosoluteArrays();
  if (!c.CosoluteArraysAllocated) return;
  c.block.reset();
  c.secondBlock.reset();
  for (double*& p : c.arrays) p = nullptr;
  c.CosoluteArraysAllocated = 0;
  c.CosoluteArraysSize = 0;
}

bool AllocCosoluteArrays() {
  CosoluteArrays& c = CurrentCosoluteArrays();
  const int n = c.gridSize;
  if (c.CosoluteArraysAllocated && c.CosoluteArraysSize != n) FreeCosoluteArrays();
  if (n < 2) return false;
  const std::size_t n1 = static_cast<std::size_t>(n) + 1;
  if (!c.CosoluteArraysAllocated) {
    c.block = ZeroBlock(22 * n1);
    bool ok = c.block != nullptr;
    if (ok)
      for (int k = 0; k < 22; ++k) c.arrays[k] = c.block.get() + k * n1;
    if (ok && c.secondComponent) {
      c.secondBlock = ZeroBlock(14 * n1);
      ok = c.secondBlock != nullptr;
      if (ok)
        for (int k = 0; k < 14; ++k) c.arrays[22 + k] = c.secondBlock.get() + k * n1;
    }
    if (!ok) {
      c.CosoluteArraysAllocated = 1;
      FreeCosoluteArrays();
      return false;
    }
  }
  const double m = gModelParams.meniscus, b = gModelParams.bottom;
  for (int i = 1; i <= n; ++i) c.arrays[0][i] = m + (i - 1) * (b - m) / (n - 1);
  c.CosoluteArraysAllocated = 1;
  c.CosoluteArraysSize = n;
  return true;
}

int ElectrophoresisGridSize(double v, double D, int inUse) {
  constexpr double kMaxNodes = 20000;
  const LammSolverSettings& st = LammSettings();
  const ScanSet& ss = CurrentScanSet();
  const ModelParams& mp = gModelParams;
  const double L = mp.bottom - mp.meniscus;
  if (!(L > 0) || !(D > 0)) return std::max(3, inUse);
  double n = std::ceil(L * std::fabs(v) * 1e-4 / (2.0 * D)) + 1;
  if (st.automaticGridSize && ss.count >= 1) {
    const ScanRecord& first = ss.records[ss.order[1]];
    const double t0 = mp.startTimeFit || mp.startTime != 0.0f ? mp.startTime : 0.0;
    const double t = std::max((st.rampRotorSpeed ? first.time : first.timeRead) - t0, 1.0);
    const double width = std::max(std::sqrt(D * t), 1e-4);
    n = std::max(n, std::clamp(std::floor(L * st.pointsPerSigma / width), static_cast<double>(st.gridSizeLowerLimit),
                               static_cast<double>(st.gridSizeUpperLimit)));
  } else {
    n = std::max(n, static_cast<double>(inUse));
  }
  return static_cast<int>(std::clamp(n, 3.0, kMaxNodes));
}

std::vector<double> MobilityKernelRadii(double v, double D, int inUse) {
  const LammSolverSettings& st = LammSettings();
  const ModelParams& mp = gModelParams;
  const double m = mp.meniscus, b = mp.bottom, L = b - m;
  const double speed = std::fabs(v) * 1e-4;
  // The spacing of the width rule of ElectrophoresisGridSize.
  double nWidth = inUse;
  const ScanSet& ss = CurrentScanSet();
  if (st.automaticGridSize && ss.count >= 1) {
    const ScanRecord& first = ss.records[ss.order[1]];
    const double t0 = mp.startTimeFit || mp.startTime != 0.0f ? mp.startTime : 0.0;
    const double t = std::max((st.rampRotorSpeed ? first.time : first.timeRead) - t0, 1.0);
    const double width = std::max(std::sqrt(D * t), 1e-4);
    nWidth = std::clamp(std::floor(L * st.pointsPerSigma / width), static_cast<double>(st.gridSizeLowerLimit),
                        static_cast<double>(st.gridSizeUpperLimit));
  }
  nWidth = std::clamp(nWidth, 3.0, 20000.0);
  const double hWidth = L / (nWidth - 1);
  std::vector<double> r;
  if (!(L > 0) || !(D > 0) || !(speed > 0)) {
    const int n = static_cast<int>(nWidth);
    r.assign(static_cast<size_t>(n) + 1, 0.0);
    for (int i = 1; i <= n; ++i) r[i] = m + (i - 1) * L / (n - 1);
    r[n] = b;
    return r;
  }
  const double hPeclet = 2 * D / speed;
  const double hFinest = std::min(hPeclet, hWidth);
  const double hLayer = std::min(hFinest, 0.25 * hPeclet);
  const double hCoarsest = L / std::max(2.0, st.gridSizeLowerLimit - 1.0);
  // 0.7 of the width rule's nodes per width where the boundary passes: the
  // lag of the steps (2e-3 of the loading) outweighs what the spacing then
  // adds (2e-4), and the solve costs as much less.
  const double pps = 0.7 * std::max(1.0, static_cast<double>(st.pointsPerSigma));
  // At distance d from the end the boundary leaves, the boundary arrives at
  // the age d / v with the width sqrt(D d / v); at distance e from the end
  // it piles up at, the layer is D / v thick.
  // The layer's grading holds at the far end of each element: h = hLayer +
  // 0.2 (e - h), so that no element near the pile-up is coarser than its rule.
  auto spacing = [&](double d, double e) {
    const double aged = std::sqrt(D * d / speed) / pps;
    return std::min({std::max(hFinest, aged), (hLayer + 0.2 * e) / 1.2, hCoarsest});
  };
  std::vector<double> x{0.0};
  while (x.back() < L && x.size() < 20000) {
    const double d = x.back();
    x.push_back(d + spacing(d, std::max(0.0, L - d)));
  }
  const double scale = L / x.back();
  const int n = static_cast<int>(x.size());
  r.assign(static_cast<size_t>(n) + 1, 0.0);
  for (int i = 1; i <= n; ++i) {
    const double d = x[static_cast<size_t>(i - 1)] * scale;
    r[v >= 0 ? i : n + 1 - i] = v >= 0 ? m + d : b - d;
  }
  r[1] = m;
  r[n] = b;
  return r;
}
