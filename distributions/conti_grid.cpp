#include "distributions/conti_grid.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "distributions/conti_model_family.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/hydrodynamics.h"
#include "distributions/mixed_grid.h"
#include "distributions/ms_table.h"
#include "distributions/prior_assembly.h"
#include "distributions/work_blocks.h"
#include "distributions/work_storage.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "numerics/arrays.h"
#include "lamm/lamm_threads.h"
#include "numerics/constants.h"
#include "platform/machine_memory.h"
#include "platform/error_box.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

namespace {

const ModelSelectorFlags& F() { return gModelSelectorFlags; }

// x_1 and x_n given, inner points equally spaced in x.
void Spaced(float* x, int n) {
  for (int i = 2; i <= n - 1; ++i) x[i] = x[1] + (i - 1) * (x[n] - x[1]) / (n - 1);
}

float Log10Rh(float logD, float T) {
  return std::log10(StokesRadiusFromD(std::pow(10.0f, logD), T));
}
float Log10D(float logRh, float T) {
  return std::log10(DFromStokesRadius(std::pow(10.0f, logRh), T));
}

// The DLS parameter dialog's three spacings: dlsSpacingLinear is linear in
// D, dlsSpacingLog logarithmic in D, dlsSpacingMixed logarithmic in Rh.
void DlsGrid(int n) {
  ContiSettings& cs = Conti();
  float* rh = cs.sValues;      // log10 Rh (m)
  float* ld = cs.molarMasses;  // log10 D (cm^2/s)
  const float T = gSolutionConditions.temperature - kAbsoluteZero;
  auto fromD = [&]() {
    for (int i = 1; i <= n; ++i) rh[i] = Log10Rh(ld[i], T);
  };
  auto fromRh = [&]() {
    for (int i = 1; i <= n; ++i) ld[i] = Log10D(rh[i], T);
  };
  auto linearD = [&](float d1, float dn) {
    ld[1] = d1;
    ld[n] = dn;
    Spaced(ld, n);
    for (int i = 1; i <= n; ++i) ld[i] = std::log10(ld[i]);
    fromD();
  };
  // Without a chosen spacing the grid is logarithmic in the model's own
  // variable; left as allocated every point would have D = 1 cm^2/s.
  const bool chosen = cs.dlsSpacingLinear || cs.dlsSpacingLog || cs.dlsSpacingMixed;
  if (F().DlsIDModel) {
    if (cs.dlsSpacingLog || !chosen) {
      ld[1] = std::log10(cs.sMin * 1e-7f);
      ld[n] = std::log10(cs.sMax * 1e-7f);
      Spaced(ld, n);
      fromD();
    } else if (cs.dlsSpacingLinear) {
      linearD(cs.sMin * 1e-7f, cs.sMax * 1e-7f);
    } else if (cs.dlsSpacingMixed) {
      rh[1] = std::log10(StokesRadiusFromD(cs.sMin * 1e-7f, T));
      rh[n] = std::log10(StokesRadiusFromD(cs.sMax * 1e-7f, T));
      Spaced(rh, n);
      fromRh();
    }
  } else {
    if (cs.dlsSpacingMixed || !chosen) {
      rh[1] = std::log10(cs.sMin * 1e-9f);
      rh[n] = std::log10(cs.sMax * 1e-9f);
      Spaced(rh, n);
      fromRh();
    } else if (cs.dlsSpacingLog) {
      ld[1] = std::log10(DFromStokesRadius(cs.sMin * 1e-9f, T));
      ld[n] = std::log10(DFromStokesRadius(cs.sMax * 1e-9f, T));
      Spaced(ld, n);
      fromD();
    } else if (cs.dlsSpacingLinear) {
      linearD(DFromStokesRadius(cs.sMin * 1e-9f, T), DFromStokesRadius(cs.sMax * 1e-9f, T));
    }
  }
}

// Fills the s grid; false (with the reason) when the grid file was asked
// for and cannot be read, is no grid, or is too large to compute.
bool SGrid(int& n, std::string& refusal) {
  ContiSettings& cs = Conti();
  float* s = cs.sValues;
  if (cs.gridFromFile) {
    cs.logSpacedGrid = 0;
    std::vector<float> values;
    std::string reason;
    if (!ReadGridFile(GridFilePath(), values, &reason)) {
      refusal = "cannot read the s-values of the grid from " + GridFilePath() + (reason.empty() ? "" : ": " + reason);
      return false;
    }
    if (const std::string fault = GridValuesFault(values, GridPointMass); !fault.empty()) {
      refusal = "the grid of " + GridFilePath() + " cannot be used: " + fault;
      return false;
    }
    const ScanSet& sc = CurrentScanSet();
    const double points = static_cast<double>(values.size()) * (TwoDimensionalModel() ? std::max(1, cs.ffCount) : 1);
    if (std::string tooLarge = WorkStorageRefusal(points, sc.count, sc.gridLength); !tooLarge.empty()) {
      refusal = "the grid of " + GridFilePath() + ": " + tooLarge;
      return false;
    }
    const int m = static_cast<int>(values.size());
    if (m != n) {
      FreeDistributionArrays();
      AllocDistributionArrays(m, 0, 0);
      n = m;
      s = cs.sValues;
    }
    for (int i = 1; i <= n; ++i) s[i] = values[i - 1];
    cs.resolution = static_cast<float>(n);
    cs.sMin = s[1];
    cs.sMax = s[n];
    ModelParameterVector& p = gModelParameterVector;
    p.P[1] = cs.sMin;
    p.P[kComponentSlots + 1] = cs.sMax;
    p.P[2 * kComponentSlots + 1] = cs.resolution;
    return true;
  }
  if (n < 2) {
    s[1] = cs.sMin;
    return true;
  }
  if (cs.logSpacedGrid) {
    if (cs.sMin <= 0.0f || cs.sMax <= 0.0f) {
      if (cs.sMin == 0.0f && cs.sMax > 0.0f) {
        s[1] = std::log(0.05f);
        s[n] = std::log(cs.sMax);
        Spaced(s, n);
        for (int i = 1; i <= n; ++i) s[i] = std::exp(s[i]);
      } else {
        cs.logSpacedGrid = 0;
      }
    } else if (!F().NonidealCSModel && !(cs.useMinimumS && cs.minimumSValue > cs.sMin)) {
      // A minimum at or below smin leaves the whole range above it: the
      // plain log grid, not the linear one the mixed builder falls back to.
      s[1] = std::log(cs.sMin);
      s[n] = std::log(cs.sMax);
      Spaced(s, n);
      for (int i = 1; i <= n; ++i) s[i] = std::exp(s[i]);
    } else {
      MakeMixedLogGrid(s, cs.sMin, cs.sMax, cs.minimumSValue, n);
    }
  }
  if (!cs.logSpacedGrid) {
    s[1] = cs.sMin;
    for (int i = 2; i <= n; ++i) s[i] = cs.sMin + (i - 1) * (cs.sMax - cs.sMin) / (n - 1);
  }
  // The grid is kept for a later run with the grid from the file; a file
  // that cannot be written is said (once), and the earlier one stays whole.
  if (!WriteGridFile(s, n) && platform::FirstWriteFailure(GridFilePath()))
    ErrorBox(("\n\aAttention: could not write " + GridFilePath() +
              " - the grid is not kept for a run with the grid from the file")
                 .c_str());
  return true;
}

// The s range of an ls-g*(s) run against the fit limits of the last and the
// first scan in time: the boundaries must stay within them. In the linear
// geometry of electrophoresis the boundary of v (um/s) is at m + 1e-4 v t.
bool FitLimitCheck() {
  ScanSet& sc = CurrentScanSet();
  ContiSettings& cs = Conti();
  if (sc.count < 1 || sc.fitLimitQuestionAsked) return true;
  const ScanRecord& last = sc.records[sc.order[sc.count]];
  const ScanRecord& first = sc.records[sc.order[1]];
  const double w2 = SvedbergOmega2(last.rpm);
  const double m = gModelParams.meniscus;
  if (m <= 0.0) return true;
  const bool linear = F().ElectrophoresisLsgModel != 0;
  auto rate = [&](double r, double t) { return linear ? (r - m) / (1e-4 * t) : std::log(r / m) / (w2 * t); };
  const double sLeft = rate(sc.leftFitLimit, last.timeRead);
  const double sRight = rate(sc.rightFitLimit, first.timeRead);
  char text[400];
  if (cs.sMin > sRight) {
    std::snprintf(text, sizeof text,
                  "smin %.2f too low - boundary would be beyond right fit limit in last scan!\n"
                  "note: fit limits correspond to s-values of %.2f-%.2f\ncontinue anyway (may cause crash)?",
                  cs.sMin, sLeft, sRight);
  } else {
    const double x = w2 * cs.sMax * last.timeRead;
    double rb = x <= 2.0 ? m * std::exp(x) : 10.0;
    if (linear) rb = m + 1e-4 * cs.sMax * last.timeRead;
    if (!(rb < sc.leftFitLimit)) return true;
    std::snprintf(text, sizeof text,
                  "smax %.2f too low - boundary does not reach left fit limit in last scan!\n"
                  "note: fit limits correspond to s-values of %.2f-%.2f\ncontinue anyway? (maybe looking at flotation?)",
                  cs.sMax, sLeft, sRight);
  }
  const int answer = platform::UI().MessageBox("ERROR", text, platform::BoxButtons::YesNo,
                                               platform::BoxIcon::Question);
  if (answer != platform::IDYES) return false;
  sc.fitLimitQuestionAsked = 1;
  return true;
}

}  // namespace

std::string GridFilePath() {
  const ScanSet& s = CurrentScanSet();
  std::string ext;
  if (s.count >= 1 && s.fileNames.size() > 1) {
    const std::string& name = s.fileNames[1];
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) ext = name.substr(dot);
  }
  std::string folder = s.dataFolder;
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
  return folder + "sdist" + ext;
}

bool ReadGridFile(std::vector<float>& values) { return ReadGridFile(GridFilePath(), values, nullptr); }

bool ReadGridFile(const std::string& path, std::vector<float>& values, std::string* reason) {
  values.clear();
  const platform::CheckedInputFile in(platform::ToNative(path), platform::kTableFileLimit);
  if (!in) {
    if (reason) *reason = in.ErrorText();
    return false;
  }
  float v;
  while (std::fscanf(in.get(), "%f", &v) == 1) values.push_back(v);
  if (values.empty() && reason) *reason = "it holds no number";
  return !values.empty();
}

std::string GridValuesFault(const std::vector<float>& values, const std::function<double(float)>& massOf) {
  char text[200];
  if (values.size() < 2) {
    std::snprintf(text, sizeof text, "it holds %zu s-value%s, a grid needs at least two", values.size(),
                  values.size() == 1 ? "" : "s");
    return text;
  }
  for (std::size_t i = 0; i < values.size(); ++i) {
    const float v = values[i];
    if (!std::isfinite(v)) {
      std::snprintf(text, sizeof text, "value %zu (%g) is no finite number", i + 1, static_cast<double>(v));
      return text;
    }
    if (massOf && !std::isfinite(massOf(v))) {
      std::snprintf(text, sizeof text, "value %zu (%g S) gives no finite molar mass", i + 1, static_cast<double>(v));
      return text;
    }
    if (i > 0 && !(v > values[i - 1])) {
      std::snprintf(text, sizeof text, "value %zu (%g) is not above value %zu (%g): the s-values must increase", i + 1,
                    static_cast<double>(v), i, static_cast<double>(values[i - 1]));
      return text;
    }
  }
  return {};
}

float GridPointMass(float s) {
  const bool ownMass = gSolutionConditions.vbar == 0.0f || GridIsOwnMass();
  if (ownMass) return s;
  return CalculateM(gSolutionConditions.vbarRho <= 1.0f ? std::fabs(s) : s);
}

std::string WorkStorageRefusal(double points, int scans, int gridLength, int threads) {
  // The fitted points of the scans loaded, when their fit limits are set.
  const ScanSet& sc = CurrentScanSet();
  const int fitted = sc.count == scans && sc.gridLength == gridLength && sc.firstGridPoint >= 1 &&
                             sc.lastGridPoint >= sc.firstGridPoint && sc.lastGridPoint <= gridLength
                         ? sc.lastGridPoint - sc.firstGridPoint + 1
                         : gridLength;
  const double bytes = DistributionWorkStorageBytes(points, std::max(1, scans), std::max(0, gridLength), fitted);
  // What the last run kept for reuse is given up for this one.
  if (threads < 0) threads = std::max(Conti().multipleThreads ? static_cast<int>(Conti().normalEquationThreads) : 1,
                                      LammThreadCount());
  const double free = platform::MemoryForTheProgram(threads);
  double available = free + DistributionWorkStorageHeld();
  // A Run leaves mapped, beside the storage it keeps for reuse, heap and
  // arena pages its freed arrays came from, which no count of held arrays
  // sees: the same analysis judged again (the Fit after its Run) has the
  // memory it was granted then, so a grid the Run took is fitted. Memory
  // gone since by more than the analysis takes went elsewhere: the grant
  // no longer holds.
  static struct {
    double bytes = 0, available = 0;
    int scans = 0, gridLength = 0, fitted = 0, threads = 0;
  } granted;
  const bool same = gridLength > 0 && bytes <= granted.bytes && scans == granted.scans &&
                    gridLength == granted.gridLength && fitted == granted.fitted && threads == granted.threads;
  if (same && granted.available - free <= granted.bytes) available = std::max(available, granted.available);
  // (Past the largest int no grid index exists, whatever the memory.)
  if (bytes <= available && points <= std::numeric_limits<int>::max()) {
    if (gridLength > 0 && !same) granted = {bytes, available, scans, gridLength, fitted, threads};
    return {};
  }
  char over[80] = "";
  if (gridLength > 0) std::snprintf(over, sizeof over, " of %d points", gridLength);
  char text[400];
  std::snprintf(text, sizeof text,
                "%.0f grid points need %.1f GB of work storage over %d scans%s, more than the %.1f GB this "
                "computer has for the program - take fewer grid points",
                points, bytes / 1e9, std::max(1, scans), over, available / 1e9);
  return text;
}

bool WriteGridFile(const float* values, int n) {
  std::string text;
  char line[64];
  for (int i = 1; i <= n; ++i) {
    const int length = std::snprintf(line, sizeof line, "%f\n", values[i]);
    text.append(line, static_cast<size_t>(std::clamp(length, 0, static_cast<int>(sizeof line) - 1)));
  }
  // A file that already holds this grid (the Run before on the same grid)
  // stays: a read costs a fraction of a replacement's file operations.
  const std::string path = GridFilePath();
  std::string held;
  if (platform::ReadWholeFile(platform::ToNative(path), held, text.size()) == platform::FileReadError::None &&
      held == text)
    return true;
  // Whole or not at all: the next run with the grid from the file reads it.
  return platform::WriteWholeFile(path, text);
}

bool SetupContiGrid() {
  ContiSettings& cs = Conti();
  DistributionArrays& da = DistArrays();
  const ScanSet& sc = CurrentScanSet();
  cs.distributionShown = 0;
  FreeDistributionArrays();
  cs.distributionShown = 1;

  const double requested = std::floor(static_cast<double>(cs.resolution));
  const bool dls = CurrentDataTypeFlags().dls != 0;
  const bool massGrid = MassGridModel() || F().FMScalingLawModel;
  // The grid file serves the s-grids; its values decide their size.
  const bool fromFile = cs.gridFromFile && !dls && !massGrid;
  if (!(requested >= 2) && !fromFile) {
    // Every spacing rule divides by n - 1: a grid needs both of its ends.
    ErrorBox("resolution must be at least 2");
    return false;
  }
  const bool twoD = TwoDimensionalModel();
  const double ffCount = std::floor(static_cast<double>(cs.ffResolution));
  // Refused before anything is allocated: a size the computer cannot hold
  // would otherwise grow until the system stops the program.
  if (!fromFile) {
    const double points = requested * (twoD ? std::max(1.0, ffCount) : 1.0);
    if (const std::string tooLarge = WorkStorageRefusal(points, sc.count, sc.gridLength); !tooLarge.empty()) {
      ErrorBox(("resolution: " + tooLarge).c_str());
      return false;
    }
  }
  int n = fromFile ? 2 : static_cast<int>(requested);
  cs.ffCount = ffCount >= 1 ? static_cast<int>(std::min(ffCount, static_cast<double>(std::numeric_limits<int>::max())))
                            : 0;
  if (twoD && cs.ffCount < 1) cs.ffCount = 1;
  AllocDistributionArrays(n, 0, 0);

  if (dls) {
    DlsGrid(n);
  } else if (massGrid) {
    float* M = cs.molarMasses;
    M[1] = std::pow(cs.sMin, 0.66666666f);
    M[n] = std::pow(cs.sMax, 0.66666666f);
    Spaced(M, n);
    for (int i = 1; i <= n; ++i) M[i] = std::pow(M[i], 1.5f);
    M[1] = cs.sMin;
    M[n] = cs.sMax;
  } else {
    std::string refusal;
    if (!SGrid(n, refusal)) {
      // A grid file that is not there or no grid: the run says so.
      ErrorBox(refusal.c_str());
      return false;
    }
    for (int i = 1; i <= n; ++i) cs.molarMasses[i] = GridPointMass(cs.sValues[i]);
  }

  // The c(s,f/f0) arrays follow the grid actually built (a grid file may
  // have changed the point count), never the requested resolution.
  if (twoD && !dls) {
    const int nf = cs.ffCount;
    const int n2 = n * nf;
    AllocDistributionArrays2D(n2, nf);
    const float* s1 = cs.sValues;
    for (int k = 1; k <= nf; ++k)
      cs.ffValues[k] = nf > 1 ? cs.ffMin + (k - 1) * (cs.ffMax - cs.ffMin) / (nf - 1) : cs.ffMin;
    const float T = gSolutionConditions.temperature - kAbsoluteZero;
    for (int k = 1; k <= nf; ++k)
      for (int i = 1; i <= n; ++i) {
        const int j = (k - 1) * n + i;
        const float s = s1[i];
        cs.grid2DS[j] = s;
        cs.grid2DFf[j] = cs.ffValues[k];
        cs.grid2DM[j] = CalculateMff02(s, cs.ffValues[k]);
        cs.grid2DD[j] = SvedbergD(cs.grid2DM[j], s, T);
        cs.grid2DStokes[j] = StokesRadiusFromD(cs.grid2DD[j], T) * 1e9f;
      }
  }
  if (!dls) AssemblePriorProbability();

  da.lastResolution = cs.resolution;
  da.lastGrid2DSize = cs.grid2DSize;
  da.lastFfResolution = cs.ffResolution;
  da.lastSMin = cs.sMin;
  da.lastSMax = cs.sMax;
  da.lastFfMin = cs.ffMin;
  da.lastFfMax = cs.ffMax;
  cs.lastGridSize = n;

  if ((F().LsgStarModel || F().HybridCSLsgModel) && !dls && !CurrentSpeedProfile.Active() &&
      !FitLimitCheck())
    return false;

  BuildDistributionPlot();
  const int m = twoD ? cs.grid2DSize : n;
  // (Without scans there is nothing to hold: the grid alone is what was asked.)
  const char* noMemory = "not enough memory for the distribution's work arrays - nothing was computed";
  if (!AllocDistributionWorkArrays(m, sc.count, sc.gridLength)) {
    if (sc.count >= 1) ErrorBox(noMemory);
    return false;
  }
  if (!AllocNormalEquationBlock(m, sc.count, sc.gridLength)) {
    FreeDistributionWorkArrays(m);
    if (sc.count >= 1) ErrorBox(noMemory);
    return false;
  }
  if (!twoD && F().CSWithMsTableModel && !LoadSMTable()) return false;
  return true;
}
