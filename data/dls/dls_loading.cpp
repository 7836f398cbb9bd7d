#include "data/dls/dls_loading.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <utility>
#include <vector>

#include "data/data_messages.h"
#include "data/dlsdat_file.h"
#include "data/load_hooks.h"
#include "data/scan_grid.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "numerics/arrays.h"
#include "platform/paths.h"

namespace {

// Solvent viscosity relative to water at 20 degC (0.01002 P).
constexpr double kRelativeToWater = 99.80039920159682;
constexpr double kGasConstant = 8.31451e7;  // erg/(mol K)

// Folder and analysis-file names of the set, after its first file.
void SetDataPaths(const std::string& firstPath) {
  LoadedDataPaths& p = CurrentDataPaths();
  const platform::PathParts f = platform::SplitPath(firstPath);
  const bool old = CurrentScanSet().oldFileNameConvention != 0;
  p.drive = f.drive;
  p.folder = f.folder;
  std::string folder = f.drive + f.folder;
  if (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  p.dataFolder = folder;
  p.lastName = f.name;
  p.lastExtension = f.extension;
  const std::string base = f.drive + f.folder;
  p.notesFile = old ? platform::Combine(base, f.name + ".not") : platform::Combine(base, "notes" + f.extension);
  p.parameterFile = old ? platform::Combine(base, f.name + ".~p") : platform::Combine(base, "~tmppars" + f.extension);
}

template <typename T>
void Permute(std::vector<T>& table, const std::vector<int>& from) {
  if (table.size() < from.size()) return;
  std::vector<T> moved(table.size());
  for (std::size_t i = 1; i < from.size(); ++i) moved[i] = std::move(table[static_cast<std::size_t>(from[i])]);
  for (std::size_t i = 1; i < from.size(); ++i) table[i] = std::move(moved[i]);
}

// Moves every set to its place in time order, arrays and views together.
void SortSetsByTime(ScanSet& s) {
  std::vector<int> from(static_cast<std::size_t>(s.count) + 1);
  std::iota(from.begin(), from.end(), 0);
  std::stable_sort(from.begin() + 1, from.end(), [&](int a, int b) {
    return s.dlsRecords[static_cast<std::size_t>(a)].time < s.dlsRecords[static_cast<std::size_t>(b)].time;
  });
  Permute(s.fileNames, from);
  Permute(s.dlsRecords, from);
  Permute(s.records, from);
  Permute(s.points, from);
  Permute(s.firstFitPoint, from);
  Permute(s.lastFitPoint, from);
  for (auto* t : {&s.radii, &s.signals, &s.signals2, &s.model, &s.model2, &s.residuals, &s.work}) Permute(*t, from);
  for (auto* t : {&s.radiusVec, &s.signalVec, &s.signal2Vec, &s.modelVec, &s.residualVec}) Permute(*t, from);
  for (auto* t : {&s.dataCurve, &s.signal2Curve, &s.modelCurve, &s.residualCurve}) Permute(*t, from);
  for (int i = 1; i <= s.count; ++i) s.order[static_cast<std::size_t>(i)] = i;
}

// The record that the rest of the program reads per scan.
void FillScanRecord(ScanRecord& r, const DlsHeaderRecord& h) {
  std::memcpy(r.description, h.description, sizeof r.description);
  r.temperature = h.temperature;
  r.time = r.timeRead = r.timeOriginal = h.time;
  r.points = h.points;
}

void SwitchModelForDls(ScanSet& s) {
  const LoadTargets& t = CurrentLoadTargets();
  double kelvin = 0, viscosity = 0;
  for (int i = 1; i <= s.count; ++i) {
    kelvin += s.dlsRecords[static_cast<std::size_t>(i)].temperature + 273.15;
    viscosity += s.dlsRecords[static_cast<std::size_t>(i)].viscosity;
  }
  kelvin /= s.count;
  *t.temperature = static_cast<float>(kelvin);
  *t.viscosity = static_cast<float>(viscosity / s.count * kRelativeToWater);
  *t.RT = static_cast<float>(kelvin * kGasConstant);

  *t.meniscus = *t.meniscusParameter = s.radii[1][1];
  *t.bottom = *t.bottomParameter = s.radii[1][s.points[1]];
  FitLimitsFromEntries();
  if (*t.bottom < s.leftFitLimit || *t.meniscus > s.rightFitLimit || s.leftFitLimit == 0 || s.rightFitLimit == 0) {
    s.leftFitLimit = *t.meniscus;
    s.rightFitLimit = *t.bottom;
  }
  s.equilibriumMode = 0;
  *t.equilibriumModelMode = 0;
  *t.tiNoiseFitted = 0;
  *t.riNoiseFitted = 0;
  *t.meniscusFit = *t.bottomFit = *t.meniscusFitFlag = *t.bottomFitFlag = 0;
  *t.baselineFit = *t.baselineFitFlag = 1;
  *t.fittedBaseline = 1;
  *t.experimentalInitialDistribution = 0;
  *t.initialDistributionCompanion = 1;
}

}  // namespace

int LoadDLSData(const std::string& selection, bool keepG2) {
  ScanSet& s = CurrentScanSet();
  DataTypeFlags& flags = CurrentDataTypeFlags();
  LoadHooks& h = CurrentLoadHooks();
  h.writeDiagnostics("\nEnter LoadDLSData");
  const std::vector<std::string> paths = SelectionPaths(selection);
  if (paths.empty()) return 0;
  if (s.count > 0) FreeScanData();
  s.dataChanged = 1;
  const int count = static_cast<int>(paths.size());
  SetDataPaths(paths[0]);
  AllocateScanTables(s, count);
  s.dlsRecords.assign(static_cast<std::size_t>(count) + 1, DlsHeaderRecord{});
  for (int i = 1; i <= count; ++i) {
    const std::string& path = paths[static_cast<std::size_t>(i) - 1];
    const platform::PathParts p = platform::SplitPath(path);
    s.order[i] = i;
    s.fileNames[i] = p.name + p.extension;
    DlsHeaderRecord& header = s.dlsRecords[static_cast<std::size_t>(i)];
    std::string reason;
    if (!ReadDlsdatForLoad(path, &header, &s.points[i], &s.radii[i], &s.signals[i], keepG2, &reason)) {
      data_messages::InfoSound();
      data_messages::Box("LOAD ERROR", path + "\n" + reason);
      s.count = i;
      FreeScanData();
      flags.dls = 0;
      return 0;
    }
    FillScanRecord(s.records[i], header);
    AttachScanArraysAndViews(i);
  }
  // The kind of data decides the grid, the fit limits and the axis titles.
  flags.dls = 1;
  flags.absorbance = flags.interference = flags.intensity = flags.fluorescence = 0;
  SwitchModelForDls(s);
  SortSetsByTime(s);
  h.buildPlotCurves();
  PrepareScanGrid();
  CheckLeftFitLimit();
  CheckRightFitLimit();
  h.removeNoiseButtons();
  h.setPlotAxisTitles();
  h.redrawDataPlot(true);
  h.requestRepaint();
  return 1;
}

bool DlsDataLoaded() {
  const ScanSet& s = CurrentScanSet();
  return CurrentDataTypeFlags().dls && s.count > 0 && s.dlsRecords.size() > static_cast<std::size_t>(s.count);
}

bool DlsFieldAutocorrelationLoaded() { return DlsDataLoaded() && CurrentScanSet().dlsRecords[1].fieldFlag != 0; }

bool SaveAveragedDlsData(const std::string& path) {
  if (!DlsDataLoaded()) return false;
  const ScanSet& s = CurrentScanSet();
  const int n = s.gridLength;
  if (n < 1 || !s.grid) return false;
  FloatVec mean(1, n);
  for (int j = 1; j <= n; ++j) {
    double sum = 0;
    for (int i = 1; i <= s.count; ++i) {
      const double y = s.gridSignals[static_cast<std::size_t>(i)][j];
      // g(1) values are squared back into g(2) - 1, keeping their sign.
      sum += s.dlsRecords[static_cast<std::size_t>(i)].fieldFlag ? (y < 0 ? -y * y : y * y) : y;
    }
    mean[j] = static_cast<float>(sum / s.count);
  }
  DlsHeaderRecord header = s.dlsRecords[1];
  header.temperature = *CurrentLoadTargets().temperature - 273.15f;
  return WriteDlsdatSet(path, n, s.grid, mean, "averaged", header);
}

bool ToggleDlsFieldAutocorrelation() {
  if (!DlsDataLoaded()) return false;
  ScanSet& s = CurrentScanSet();
  const bool toField = s.dlsRecords[1].fieldFlag == 0;
  for (int i = 1; i <= s.count; ++i) {
    DlsHeaderRecord& r = s.dlsRecords[static_cast<std::size_t>(i)];
    if (toField)
      ConvertG2ToG1(s.points[i], s.signals[i], r);
    else
      ConvertG1ToG2(s.points[i], s.signals[i], r);
    RefreshGridCopy(i);
  }
  CurrentLoadHooks().computeTINoiseProfile();
  return toField;
}
