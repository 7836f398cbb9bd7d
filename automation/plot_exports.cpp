#include "automation/plot_exports.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "numerics/error_box.h"
#include "numerics/regrid.h"
#include "platform/paths.h"
#include "platform/program_paths.h"

namespace {

void ReportCannotOpen(const std::string& path) {
  const std::string text = "\n\aAttention: could not open " + path;
  ErrorBox(text.c_str());
}

std::FILE* OpenForWriting(const std::string& path) {
  return std::fopen(platform::ToNative(path).c_str(), "w");
}

// Fit-limit point range of scan i (0 stands for the first or last point).
void FitRange(const ScanSet& s, int i, int& first, int& last) {
  first = s.firstFitPoint.size() > static_cast<std::size_t>(i) ? s.firstFitPoint[i] : 0;
  last = s.lastFitPoint.size() > static_cast<std::size_t>(i) ? s.lastFitPoint[i] : 0;
  if (first <= 0) first = 1;
  if (last <= 0 || last > s.points[i]) last = s.points[i];
}

// Closes a file written with fprintf: false (reported) when any write or
// the close failed, a full disk or a file-size limit.
bool CloseWritten(std::FILE* f, const std::string& path) {
  const bool written = !std::ferror(f);
  if (std::fclose(f) == 0 && written) return true;
  const std::string text = "\n\aAttention: could not write " + path;
  ErrorBox(text.c_str());
  return false;
}

double At(const float* a, int i) { return a ? static_cast<double>(a[i]) : 0.0; }

}  // namespace

int WriteDistributionForPlot(bool withEndMarker, const char* path) {
  const ContiSettings& c = Conti();
  if (!c.sValues || !c.distribution || c.gridSize <= 0) return 0;
  const std::string target =
      path ? std::string(path)
           : platform::ProgramPaths.TempFolder + (withEndMarker ? "dist.txt" : "dist.dat");
  std::FILE* f = OpenForWriting(target);
  if (!f) {
    ReportCannotOpen(target);
    return 0;
  }
  const double shift = CurrentDataTypeFlags().dls ? 9.0 : 0.0;
  for (int i = 1; i <= c.gridSize; ++i)
    std::fprintf(f, "%e %e\n", static_cast<double>(c.sValues[i]) + shift,
                 static_cast<double>(c.distribution[i]));
  if (withEndMarker) std::fprintf(f, "-999.999 -999.999\n");
  return CloseWritten(f, target) ? 1 : 0;
}

int WriteSvdfrData(const char* path) {
  const ScanSet& s = CurrentScanSet();
  const std::string target =
      path ? std::string(path) : platform::ProgramPaths.TempFolder + "svdfrdata.dat";
  std::FILE* f = OpenForWriting(target);
  if (!f) {
    ReportCannotOpen(target);
    return -1;
  }
  const int scans = s.count;

  // TI span on the common grid: one point beyond the fit limits on each side.
  int gs = 0, ge = -1;
  if (s.grid && s.gridLength > 0) {
    gs = s.firstGridPoint > 0 ? s.firstGridPoint : 1;
    ge = s.lastGridPoint > 0 ? s.lastGridPoint : s.gridLength;
    if (gs >= 2) --gs;
    if (ge < s.gridLength) ++ge;
  }
  const int N = ge >= gs ? ge - gs + 1 : 0;

  // Each scan's points inside its fit limits, in time order, with the TI
  // noise already taken from the data added back.
  struct Block {
    std::vector<float> r, data, fit;
  };
  std::vector<Block> blocks(static_cast<std::size_t>(scans) + 1);
  bool anyModel = false;
  for (int i = 1; i <= scans; ++i) {
    if (!s.model[i]) continue;
    for (int k = 1; k <= s.points[i]; ++k)
      if (s.model[i][k] != 0.0f) anyModel = true;
  }
  int R = std::max(N, scans);
  for (int k = 1; k <= scans; ++k) {
    const int i = s.order[k];
    int first, last;
    FitRange(s, i, first, last);
    const int n = last >= first ? last - first + 1 : 0;
    Block& b = blocks[static_cast<std::size_t>(k)];
    b.r.assign(static_cast<std::size_t>(n) + 1, 0.0f);
    for (int j = 0; j < n; ++j) b.r[static_cast<std::size_t>(j) + 1] = s.radii[i][first + j];
    std::vector<float> ti(static_cast<std::size_t>(n) + 1, 0.0f);
    if (s.tiNoiseSubtracted && s.grid && n > 0)
      InterpolateOntoGrid(n, b.r.data(), ti.data(), s.gridLength, s.grid, s.tiNoiseSubtracted);
    b.data.assign(static_cast<std::size_t>(n) + 1, 0.0f);
    b.fit.assign(static_cast<std::size_t>(n) + 1, 0.0f);
    for (int j = 1; j <= n; ++j) {
      const float signal = s.signals[i][first + j - 1];
      const float model = s.model[i] ? s.model[i][first + j - 1] : 0.0f;
      b.data[static_cast<std::size_t>(j)] = signal + ti[static_cast<std::size_t>(j)];
      // Before any fit the fit column stands just above the data.
      b.fit[static_cast<std::size_t>(j)] =
          anyModel ? model + ti[static_cast<std::size_t>(j)]
                   : signal + 0.001f + ti[static_cast<std::size_t>(j)];
    }
    R = std::max(R, n);
  }

  // Grid index of each TI row (0: padding).
  std::vector<int> tiIndex(static_cast<std::size_t>(R) + 1, 0);
  const bool fluorescence = CurrentDataTypeFlags().fluorescence != 0;
  if (fluorescence && N > 0 && N < R) {
    // The first point is doubled and the last one dropped.
    tiIndex[1] = gs;
    for (int row = 2; row <= N; ++row) tiIndex[static_cast<std::size_t>(row)] = gs + row - 2;
  } else {
    for (int row = 1; row <= N; ++row) tiIndex[static_cast<std::size_t>(row)] = gs + row - 1;
  }
  const bool riFitted = gModelParams.riNoiseFit != 0;

  for (int row = 1; row <= R; ++row) {
    const int g = tiIndex[static_cast<std::size_t>(row)];
    double tr = 0, tv = 0;
    if (g > 0) {
      tr = At(s.grid, g);
      if (fluorescence && N >= R && row == 1) tr -= 0.001;
      tv = At(s.tiNoiseSubtracted, g) + At(s.tiNoise, g);
    }
    double ri = 0;
    if (riFitted && row <= scans) ri = At(s.riNoise, s.order[row]);
    std::fprintf(f, "%e %e %e ", tr, tv, ri);
    for (int k = 1; k <= scans; ++k) {
      const Block& b = blocks[static_cast<std::size_t>(k)];
      const int n = static_cast<int>(b.r.size()) - 1;
      if (row <= n)
        std::fprintf(f, "%e %e %e ", static_cast<double>(b.r[static_cast<std::size_t>(row)]),
                     static_cast<double>(b.data[static_cast<std::size_t>(row)]),
                     static_cast<double>(b.fit[static_cast<std::size_t>(row)]));
      else
        std::fprintf(f, "%e %e %e ", 0.0, 0.0, 0.0);
    }
    std::fprintf(f, "\n");
  }
  return CloseWritten(f, target) ? scans : -1;
}
