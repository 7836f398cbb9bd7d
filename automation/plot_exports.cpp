#include "automation/plot_exports.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "data/scan_set.h"
#include "distributions/conti_models.h"
#include "distributions/conti_settings.h"
#include "distributions/monte_carlo.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "platform/error_box.h"
#include "numerics/number_text.h"
#include "numerics/regrid.h"
#include "platform/paths.h"
#include "platform/program_paths.h"

namespace {

void ReportCannotOpen(const std::string& path) {
  const std::string text = "\n\aAttention: could not open " + path;
  ErrorBox(text.c_str());
}

// Every file here is written whole under a temporary name (CloseWritten
// renames it into place) and never opened when a pipe stands at its name.
std::FILE* OpenForWriting(platform::CheckedOutputFile& file) { return file.get(); }

// Fit-limit point range of scan i (0 stands for the first or last point).

// Closes a file written with fprintf: false (reported) when any write or
// the close failed, a full disk or a file-size limit.
bool CloseWritten(platform::CheckedOutputFile& file, const std::string& path) {
  if (file.Commit()) return true;
  const std::string text = "\n\aAttention: could not write " + path;
  ErrorBox(text.c_str());
  return false;
}

double At(const float* a, int i) { return a ? static_cast<double>(a[i]) : 0.0; }

void E(std::string& out, double v) { AppendE(out, v); }  // "%e"
void F(std::string& out, double v) { AppendF(out, v); }  // "%f"

// Writes a whole text: false (reported) when the file cannot be opened or
// written whole.
bool WriteText(const std::string& path, const std::string& text) {
  platform::CheckedOutputFile file(path);
  std::FILE* f = OpenForWriting(file);
  if (!f) {
    ReportCannotOpen(path);
    return false;
  }
  if (std::fwrite(text.data(), 1, text.size(), f) != text.size()) file.Discard();
  return CloseWritten(file, path);
}

std::string Temp(const std::string& name) { return platform::ProgramPaths.TempFolder + name; }

// The scan that is k-th by elapsed time (load order when no order is kept).
int ByTime(const ScanSet& s, int k) {
  return s.order.size() > static_cast<std::size_t>(k) && s.order[static_cast<std::size_t>(k)] > 0
             ? s.order[static_cast<std::size_t>(k)]
             : k;
}

// The systematic noise already taken from scan i, on the given radii: the
// removed TI noise there plus the scan's removed RI noise (0 where none was
// taken), so that data and fit are shown as they were loaded.
std::vector<float> SubtractedNoiseAt(const ScanSet& s, int i, const float* r, int n) {
  std::vector<float> ti(static_cast<std::size_t>(n) + 1, 0.0f);
  if (s.tiNoiseSubtracted && s.grid && n > 0)
    InterpolateOntoGrid(n, r, ti.data(), s.gridLength, s.grid, s.tiNoiseSubtracted);
  const float ri = s.riNoiseSubtracted ? s.riNoiseSubtracted[i] : 0.0f;
  for (int j = 1; j <= n; ++j) ti[static_cast<std::size_t>(j)] += ri;
  return ti;
}

// "<k><extension>" per scan in time order: radius and the chosen values.
int WriteCurveFiles(const char* extension, const std::vector<float*> ScanSet::*values) {
  const ScanSet& s = CurrentScanSet();
  std::string text;
  for (int k = 1; k <= s.count; ++k) {
    const int i = ByTime(s, k);
    const float* r = s.radii[static_cast<std::size_t>(i)];
    const float* y = (s.*values)[static_cast<std::size_t>(i)];
    text.clear();
    for (int j = 1; j <= s.points[static_cast<std::size_t>(i)]; ++j) {
      E(text, At(r, j));
      text += ' ';
      E(text, At(y, j));
      text += '\n';
    }
    if (!WriteText(Temp(std::to_string(k) + extension), text)) return 0;
  }
  return s.count;
}

}  // namespace

int WriteFitCurvesForPlot() { return WriteCurveFiles(".fit", &ScanSet::model); }

int WriteDataCurvesForPlot() {
  const ScanSet& s = CurrentScanSet();
  if (WriteCurveFiles(".dat", &ScanSet::signals) != s.count) return 0;
  std::string text;
  for (int k = 1; k <= s.count; ++k) {
    E(text, s.records[static_cast<std::size_t>(ByTime(s, k))].timeRead);
    text += '\n';
  }
  return WriteText(Temp("times.dat"), text) ? s.count : 0;
}

int WriteSasDistributionForPlot() {
  if (!TwoDimensionalModel()) return 0;
  return SaveMonteCarloTable(Temp("sasdist.dat")) ? 1 : 0;
}

int WriteSEDataFile() {
  const ScanSet& s = CurrentScanSet();
  std::string text;
  auto pair = [&text](double a, double b) {
    F(text, a);
    text += '\t';
    F(text, b);
    text += '\n';
  };
  for (int i = 1; i <= s.count; ++i) {
    int first, last;
    ScanFitRange(s, i, first, last);
    const int n = last >= first ? last - first + 1 : 0;
    const float* r = s.radii[static_cast<std::size_t>(i)];
    const std::vector<float> ti = SubtractedNoiseAt(s, i, r ? r + first - 1 : nullptr, r ? n : 0);
    const float* data = s.signals[static_cast<std::size_t>(i)];
    const float* model = s.model[static_cast<std::size_t>(i)];
    for (int j = 1; j <= n; ++j) pair(At(r, first + j - 1), At(data, first + j - 1) + ti[static_cast<std::size_t>(j)]);
    text += "-666.666 -666.666\n";
    for (int j = 1; j <= n; ++j) pair(At(r, first + j - 1), At(model, first + j - 1) + ti[static_cast<std::size_t>(j)]);
    text += "-777.777 -777.777\n";
    text += "-999.999 -999.999\n";
  }
  text += "-1001 -1001\n";
  if (gFitEngineState.fitTINoise && s.grid && s.gridLength > 0) {
    int g0 = s.firstGridPoint > 0 ? s.firstGridPoint : 1;
    const int g1 = s.lastGridPoint > 0 ? s.lastGridPoint : s.gridLength;
    if (g0 >= 2) --g0;
    for (int g = g0; g <= g1; ++g) pair(At(s.grid, g), At(s.tiNoiseSubtracted, g) + At(s.tiNoise, g));
  } else {
    text += "0 nan\n";
  }
  text += "-1010 -1010\n";
  text += "-1100 -1100\n";
  if (gModelParams.riNoiseFit) {
    for (int i = 1; i <= s.count; ++i) {
      text += "0\t";
      F(text, TotalRINoise(s, i));
      text += '\n';
    }
  } else {
    text += "0 nan\n";
  }
  text += "-1110 -1110\n";
  return WriteText(Temp("SEdata.dat"), text) ? s.count : 0;
}

int WriteDlsDataFile() {
  const ScanSet& s = CurrentScanSet();
  std::string text, lag;
  std::vector<std::size_t> lagEnd;  // the formatted lag times, one after another
  for (int i = 1; i <= s.count; ++i) {
    int first, last;
    ScanFitRange(s, i, first, last);
    const float* x = s.radii[static_cast<std::size_t>(i)];
    // The three blocks share their lag times: each is worked out once.
    lag.clear();
    lagEnd.clear();
    for (int j = first; j <= last; ++j) {
      E(lag, std::pow(10.0, At(x, j)));
      lag += '\t';
      lagEnd.push_back(lag.size());
    }
    const struct {
      const float* y;
      const char* end;
    } blocks[] = {{s.signals[static_cast<std::size_t>(i)], "-666.666 -666.666\n"},
                  {s.model[static_cast<std::size_t>(i)], "-777.777 -777.777\n"},
                  {s.residuals[static_cast<std::size_t>(i)], "-888.888 -888.888\n"}};
    for (const auto& b : blocks) {
      std::size_t from = 0;
      for (int j = first; j <= last; ++j) {
        const std::size_t to = lagEnd[static_cast<std::size_t>(j - first)];
        text.append(lag, from, to - from);
        from = to;
        E(text, At(b.y, j));
        text += '\n';
      }
      text += b.end;
    }
    text += "-999.999 -999.999\n";
  }
  return WriteText(Temp("dlsdata.dat"), text) ? s.count : 0;
}

int WriteDistributionForPlot(bool withEndMarker, const char* path) {
  const ContiSettings& c = Conti();
  if (!c.sValues || !c.distribution || c.gridSize <= 0) return 0;
  const std::string target =
      path ? std::string(path)
           : platform::ProgramPaths.TempFolder + (withEndMarker ? "dist.txt" : "dist.dat");
  platform::CheckedOutputFile file(target);
  std::FILE* f = OpenForWriting(file);
  if (!f) {
    ReportCannotOpen(target);
    return 0;
  }
  const double shift = CurrentDataTypeFlags().dls ? 9.0 : 0.0;
  for (int i = 1; i <= c.gridSize; ++i)
    std::fprintf(f, "%e %e\n", static_cast<double>(c.sValues[i]) + shift,
                 static_cast<double>(c.distribution[i]));
  if (withEndMarker) std::fprintf(f, "-999.999 -999.999\n");
  return CloseWritten(file, target) ? 1 : 0;
}

int WriteSvdfrData(const char* path) {
  const ScanSet& s = CurrentScanSet();
  const std::string target =
      path ? std::string(path) : platform::ProgramPaths.TempFolder + "svdfrdata.dat";
  platform::CheckedOutputFile file(target);
  std::FILE* f = OpenForWriting(file);
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

  // Each scan's points inside its fit limits, in time order, with the
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
    ScanFitRange(s, i, first, last);
    const int n = last >= first ? last - first + 1 : 0;
    Block& b = blocks[static_cast<std::size_t>(k)];
    b.r.assign(static_cast<std::size_t>(n) + 1, 0.0f);
    for (int j = 0; j < n; ++j) b.r[static_cast<std::size_t>(j) + 1] = s.radii[i][first + j];
    const std::vector<float> ti = SubtractedNoiseAt(s, i, b.r.data(), n);
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

  // Built in memory and written a piece of about a megabyte at a time: the
  // matrix of a long run holds hundreds of thousands of numbers, too many
  // for a write each, and held whole it was tens of megabytes of fresh
  // memory, which the system zeroes page by page.
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  const std::size_t rowBytes = (3 + 3 * static_cast<std::size_t>(scans)) * 14 + 1;
  std::string text;
  text.reserve(std::min(static_cast<std::size_t>(R) * rowBytes, kPiece + rowBytes));
  bool written = true;
  auto flush = [&] {
    if (written && std::fwrite(text.data(), 1, text.size(), f) != text.size()) written = false;
    text.clear();
  };
  auto triple = [&text](double a, double b, double c) {
    E(text, a);
    text += ' ';
    E(text, b);
    text += ' ';
    E(text, c);
    text += ' ';
  };
  for (int row = 1; row <= R; ++row) {
    const int g = tiIndex[static_cast<std::size_t>(row)];
    double tr = 0, tv = 0;
    if (g > 0) {
      tr = At(s.grid, g);
      if (fluorescence && N >= R && row == 1) tr -= 0.001;
      tv = At(s.tiNoiseSubtracted, g) + At(s.tiNoise, g);
    }
    double ri = 0;
    if (riFitted && row <= scans) ri = TotalRINoise(s, s.order[row]);
    triple(tr, tv, ri);
    for (int k = 1; k <= scans; ++k) {
      const Block& b = blocks[static_cast<std::size_t>(k)];
      const int n = static_cast<int>(b.r.size()) - 1;
      if (row <= n)
        triple(b.r[static_cast<std::size_t>(row)], b.data[static_cast<std::size_t>(row)],
               b.fit[static_cast<std::size_t>(row)]);
      else
        triple(0.0, 0.0, 0.0);
    }
    text += '\n';
    if (text.size() >= kPiece) flush();
  }
  flush();
  if (!written) file.Discard();
  return CloseWritten(file, target) ? scans : -1;
}
