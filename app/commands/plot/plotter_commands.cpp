#include "app/commands/plot/plotter_commands.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "app/window/road_services.h"
#include "app/window/shell_services.h"
#include "app/window/txla_window.h"
#include "automation/exchange/outside_program.h"
#include "automation/plot_exports.h"
#include "data/scan_set.h"
#include "distributions/conti_models.h"
#include "distributions/conti_settings.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "platform/error_box.h"
#include "platform/paths.h"
#include "platform/program_paths.h"
#include "platform/user_interface.h"
#include "plot/cwinplot.h"

const std::array<const char*, kPlotHelperCount> kPlotHelperNames = {
    "plot3d", "sedmovie", "plotfit", "plotfitdist", "plotsizeshape", "plotstructure"};

PlotHelperPathsRecord& PlotHelperPaths() {
  static PlotHelperPathsRecord record;
  return record;
}

namespace {

constexpr int kFirstHelperCommand = 878;
constexpr int kPlotProgramToken = 4113;
constexpr const char* k3d = "PLOT 3D";
constexpr const char* kFit = "PLOT FIT";

enum Row { kPlot3d = 0, kMovie, kFitPlot, kFitDistribution, kSizeShape, kStructure };

std::string D(int v) { return std::to_string(v); }
std::string E(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%e", v);
  return text;
}

CWINPlot* DataPlot() { return Road().dataPlot ? Road().dataPlot() : nullptr; }

int DataKind() {
  const DataTypeFlags& t = CurrentDataTypeFlags();
  int kind = 1;
  if (t.interference) kind = 2;
  if (t.fluorescence) kind = 3;
  return kind;
}

// Rows 1-4 plot velocity scans on the data plot's ranges.
bool ScanPlotPossible(Row row) {
  const ScanSet& s = CurrentScanSet();
  return s.count > 0 && !CurrentDataTypeFlags().dls && !s.equilibriumMode &&
         PlotHelperPaths().present[row] && DataPlot();
}

struct Ranges {
  float dataMin = 0, dataMax = 0, yMin = 0, yMax = 0, axisMin = 0, axisMax = 0;
};

Ranges AskRanges(bool fitPlot) {
  const CWINPlot& p = *DataPlot();
  const ScanSet& s = CurrentScanSet();
  Ranges r;
  r.dataMin = r.axisMin = p.xMin;
  r.dataMax = r.axisMax = p.xMax;
  bool chosen = false;
  if (platform::AskYes(k3d, "show data within fitting limits?")) {
    r.dataMin = r.axisMin = s.leftFitLimit;
    r.dataMax = r.axisMax = s.rightFitLimit;
    chosen = true;
  }
  if (platform::AskYes(k3d, "radial axis range from meniscus to bottom?")) {
    r.axisMin = gModelParams.meniscus;
    r.axisMax = gModelParams.bottom;
    chosen = true;
  }
  if (!chosen) platform::Tell(k3d, "using current display limits in the TARNEL data plot");
  r.yMin = p.yMin;
  r.yMax = p.yMax;
  bool askY = false;
  if (!fitPlot) {
    askY = !platform::AskYes(k3d, "use current y-axis limits?");
  } else if (platform::AskYes(kFit, "auto y-axis limits?")) {
    r.yMin = r.yMax = 0.0f;
  } else {
    askY = !platform::AskYes(kFit, "use current y-axis limits?");
  }
  if (askY) {
    AskFloat(r.yMin, "y-min", k3d);
    AskFloat(r.yMax, "y-max", k3d);
  }
  return r;
}

// Between 1 and the scan count; 20 unless fewer scans are loaded.
float AskScansToPlot(const char* prompt, const char* caption) {
  const int count = CurrentScanSet().count;
  float n = static_cast<float>(std::min(20, count));
  AskFloat(n, prompt, caption);
  return std::clamp(n, 1.0f, static_cast<float>(std::max(count, 1)));
}

std::vector<std::string> Head(int written, const Ranges& r) {
  return {D(kPlotProgramToken), platform::ProgramPaths.TempFolder, D(written), D(DataKind()),
          E(r.dataMin), E(r.dataMax), E(r.yMin), E(r.yMax), E(r.axisMin), E(r.axisMax)};
}

void Start(Row row, const std::vector<std::string>& args) {
  StartOutsideProgram(PlotHelperPaths().paths[row], args, "ERROR");
}

// ---- PELDO ---------------------------------------------------------------

std::string PeldoPath() { return platform::ProgramPaths.ProgramFolder + "PELDO/PELDO"; }

// Starts PELDO on a temp file with its switch; the distribution plot keeps
// its command line in "lastcommand.txt".
void LaunchPeldo(const char* option, const std::string& file, bool distribution) {
  const std::string program = PeldoPath();
  if (!OutsideProgramPresent(program)) {
    platform::Tell("PELDO", std::string(distribution ? "Can't seem to find PELDO executable at "
                                                     : "Can't seem to find PELDO script at ") +
                                program + " - Sorry!");
    return;
  }
  const std::string path = platform::ProgramPaths.TempFolder + file;
  if (distribution) {
    const std::string commandFile = platform::ProgramPaths.TempFolder + "lastcommand.txt";
    if (!platform::WriteWholeFile(commandFile, program + " " + option + " " + path)) {
      ErrorBox(("\n\aAttention: could not open " + commandFile).c_str());
      return;
    }
  }
  StartOutsideProgram(program, {option, path}, "ERROR");
}

}  // namespace

void CheckPlotHelpers(TXLAWindow& window) {
  PlotHelperPathsRecord& h = PlotHelperPaths();
  bool changed = false;
  for (int row = 0; row < kPlotHelperCount; ++row) {
    const auto r = static_cast<std::size_t>(row);
    h.paths[r] = platform::ProgramPaths.ProgramFolder + "bin/" + kPlotHelperNames[r];
    h.present[r] = OutsideProgramPresent(h.paths[r]);
    if (!h.present[r]) changed = window.Frame().Menu().Delete(kFirstHelperCommand + row) || changed;
  }
  if (changed) window.Frame().MenuChanged();
}

void InstallPlotterShellServices(ShellServices& services) {
  services.checkPlotHelpers = [](TXLAWindow& w) { CheckPlotHelpers(w); };
}

void TXLAWindow::CmPlot3dGraph() {
  if (!ScanPlotPossible(kPlot3d)) return;
  const int written = WriteDataCurvesForPlot();
  const Ranges r = AskRanges(false);
  const float scans = AskScansToPlot("#of scans to plot", k3d);
  std::vector<std::string> args = Head(written, r);
  args.push_back(E(scans));
  Start(kPlot3d, args);
}

void TXLAWindow::CmMakeSedimentationMovie() {
  if (!ScanPlotPossible(kMovie)) return;
  const int written = WriteDataCurvesForPlot();
  const Ranges r = AskRanges(false);
  platform::FileDialogRequest dialog;
  dialog.save = true;
  dialog.title = "select filename for movie file";
  dialog.initialFolder = CurrentScanSet().dataFolder;
  dialog.presetName = "sedmovie.avi";
  dialog.defaultExtension = ".avi";
  const platform::FileDialogResult movie = platform::UI().FileDialog(dialog);
  if (!movie.accepted || movie.paths.empty() || movie.paths[0].size() >= 260) return;
  std::vector<std::string> args = Head(written, r);
  args.insert(args.begin() + 2, movie.paths[0]);
  args.push_back(E(CurrentScanSet().count));
  Start(kMovie, args);
}

void TXLAWindow::CmPlotDataFitResiduals() {
  if (!ScanPlotPossible(kFitPlot)) return;
  const int written = WriteDataCurvesForPlot();
  WriteFitCurvesForPlot();
  const Ranges r = AskRanges(true);
  const float scans = AskScansToPlot("#of scans to plot (constant time interval)", kFit);
  std::vector<std::string> args = Head(written, r);
  args.push_back(E(scans));
  Start(kFitPlot, args);
}

void TXLAWindow::CmPlotDataFitResidualsDistribution() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  if (!ScanPlotPossible(kFitDistribution)) return;
  if (!(m.DistributionModel && (m.CSModel || m.AnyBimodalCsModel()))) return;
  if (!WriteDistributionForPlot(false, nullptr)) return;
  const int written = WriteDataCurvesForPlot();
  WriteFitCurvesForPlot();
  const Ranges r = AskRanges(true);
  const float scans = AskScansToPlot("#of scans to plot (constant time interval)", kFit);
  const ContiSettings& c = Conti();
  float sMin = c.sValues[1], sMax = c.sValues[c.gridSize];
  AskFloat(sMin, "minimum value for s-axis in distribution plot", kFit);
  AskFloat(sMax, "maximum value for s-axis in distribution plot", kFit);
  std::vector<std::string> args = Head(written, r);
  for (float v : {scans, sMin, sMax}) args.push_back(E(v));
  Start(kFitDistribution, args);
}

void TXLAWindow::CmPlotSizeAndShapeDistribution() {
  if (!TwoDimensionalModel() || !PlotHelperPaths().present[kSizeShape]) return;
  WriteSasDistributionForPlot();
  const ContiSettings& c = Conti();
  const std::uint8_t* sw = c.display2DSwitch;
  const int kind = sw[3] ? 2 : sw[1] ? 3 : sw[2] ? 4 : sw[0] ? 5 : 1;
  // Least and largest of a grid quantity, scaled.
  auto span = [&c](const float* a, float scale, float& lo, float& hi) {
    lo = hi = 0.0f;
    for (int i = 1; a && i <= c.grid2DSize; ++i) {
      lo = i == 1 ? a[i] * scale : std::min(lo, a[i] * scale);
      hi = i == 1 ? a[i] * scale : std::max(hi, a[i] * scale);
    }
  };
  float v[10] = {};  // s, ff0, M, Rh, D: minimum and maximum
  auto askPair = [&v](int at, const char* axis) {
    AskFloat(v[at], (std::string("minimum value for ") + axis + " in distribution plot").c_str(), kFit);
    AskFloat(v[at + 1], (std::string("maximum value for ") + axis + " in distribution plot").c_str(), kFit);
  };
  if (kind != 2) {
    v[0] = c.sValues && c.gridSize > 0 ? c.sValues[1] : 0.0f;
    v[1] = c.sValues && c.gridSize > 0 ? c.sValues[c.gridSize] : 0.0f;
    askPair(0, "s-axis");
  }
  if (kind == 1 || kind == 2) {
    v[2] = c.ffValues && c.ffCount > 0 ? c.ffValues[1] : 0.0f;
    v[3] = c.ffValues && c.ffCount > 0 ? c.ffValues[c.ffCount] : 0.0f;
    askPair(2, "ff0-axis");
  }
  if (kind == 2 || kind == 5) {
    span(c.grid2DM, 0.001f, v[4], v[5]);
    askPair(4, "M-axis (kDa)");
  }
  if (kind == 3) {
    span(c.grid2DStokes, 1.0f, v[6], v[7]);
    askPair(6, "Rh-axis (nm)");
  }
  if (kind == 4) {
    span(c.grid2DD, 1e7f, v[8], v[9]);
    askPair(8, "D-axis (F)");
  }
  std::vector<std::string> args = {D(kPlotProgramToken), platform::ProgramPaths.TempFolder, D(kind),
                                   D(gModelSelectorFlags.CSff0With1DiscreteModel ? 1 : 0)};
  for (float x : v) args.push_back(E(x));
  Start(kSizeShape, args);
}

void TXLAWindow::CmPlotBestStructure() {
  if (!PlotHelperPaths().present[kStructure]) return;
  platform::FileDialogRequest dialog;
  dialog.title = "select structure file to plot";
  dialog.initialFolder = CurrentScanSet().dataFolder;
  dialog.presetName = "*.*";
  dialog.defaultExtension = ".*";
  const platform::FileDialogResult chosen = platform::UI().FileDialog(dialog);
  if (!chosen.accepted || chosen.paths.empty()) return;
  Start(kStructure, {D(kPlotProgramToken), platform::ProgramPaths.TempFolder, chosen.paths[0]});
}

void TXLAWindow::CmPeldoDistributionPlot() {
  if (CurrentScanSet().count <= 0 || !DataPlot()) return;
  if (!WriteDistributionForPlot(true, nullptr)) return;
  if (CurrentDataTypeFlags().dls) platform::Tell("Attention", "PELDO distribution will be in log10(R/nM)");
  LaunchPeldo("--cofs", "dist.txt", true);
}

void TXLAWindow::CmPeldoDataFitResidualsPlot() {
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return;
  if (CurrentDataTypeFlags().dls) return LaunchPeldoDls(*this);
  if (s.equilibriumMode) return LaunchPeldoSE(*this);
  if (!DataPlot() || WriteSvdfrData(nullptr) < 0) return;
  LaunchPeldo("--svdfr", "svdfrdata.dat", false);
}

void LaunchPeldoDls(TXLAWindow&) {
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0 || !CurrentDataTypeFlags().dls || !DataPlot()) return;
  if (WriteDlsDataFile() != s.count) return;
  const bool field = s.dlsRecords.size() > 1 && s.dlsRecords[1].fieldFlag;
  LaunchPeldo(field ? "--dls" : "--idls", "dlsdata.dat", false);
}

void LaunchPeldoSE(TXLAWindow&) {
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0 || !s.equilibriumMode || !DataPlot()) return;
  if (WriteSEDataFile() != s.count) return;
  LaunchPeldo("--sedfr", "SEdata.dat", false);
}

void TXLAWindow::CmPeldoPlotChoice() {
  if (platform::AskYes("PELDO", "PELDO for data, fit, and residuals?")) {
    if (CurrentDataTypeFlags().dls)
      LaunchPeldoDls(*this);
    else if (CurrentScanSet().equilibriumMode)
      LaunchPeldoSE(*this);
    else
      CmPeldoDataFitResidualsPlot();
  }
  if (gModelSelectorFlags.DistributionModel && platform::AskYes("PELDO", "PELDO for c(s)?")) CmPeldoDistributionPlot();
}
