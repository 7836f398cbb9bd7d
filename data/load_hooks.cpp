#include "data/load_hooks.h"

#include <algorithm>
#include <random>

#include "data/dlsdat_file.h"
#include "data/fluorescence_corrections.h"
#include "data/scan_set.h"

namespace {

// Stand-ins for the upper-layer fields until the application wires its own.
struct LoadTargetStorage {
  float meniscus = 0, bottom = 0, meniscusParameter = 0, bottomParameter = 0, baseline = 0;
  std::uint8_t fittedBaseline = 0, meniscusWarningGiven = 0, riNoiseFitted = 0,
               loadModelSwitch = 0, meniscusBottomLimitsFixed = 0;
  std::uint8_t speciesArrays[5] = {};
  float smaxParameter = 0;
  int meniscusFit = 0, bottomFit = 0, baselineFit = 0, meniscusFitFlag = 0, bottomFitFlag = 0,
      baselineFitFlag = 0;
  float temperature = 293.15f, RT = 0, viscosity = 1.0f;
  std::uint8_t tiNoiseFitted = 0, equilibriumModelMode = 0, fitStopFlag = 0;
  std::uint8_t timesFromW2t = 0, timesFromW2tPending = 0, experimentalInitialDistribution = 0,
               initialDistributionCompanion = 0, scanTimeCorrection = 0;
  std::uint8_t contiModelSelected = 0, contiSecondModule = 0;
  int contiGridSize = 0;
  float contiSmax = 0;
  std::uint8_t hiddenDisplayFlag = 0, multiSpeedRawDataMode = 0,
               useOtherFolder = 0;
  std::string otherFolder;
  std::uint8_t checkTimeStamps = 0;
  double timeDilationThreshold = 1.001;
  std::uint8_t infoMessages = 1;
  std::uint8_t serialFitRunning = 0, automationRun = 0, approachToEquilibriumTest = 0;
};

LoadTargetStorage g_storage;
LoadTargets g_targets;
LoadHooks g_hooks;

}  // namespace

LoadTargets& CurrentLoadTargets() {
  static bool wired = (ResetLoadTargets(), true);
  (void)wired;
  return g_targets;
}

void ResetLoadTargets() {
  g_storage = LoadTargetStorage{};
  LoadTargetStorage& s = g_storage;
  LoadTargets& t = g_targets;
  t.meniscus = &s.meniscus;
  t.bottom = &s.bottom;
  t.meniscusParameter = &s.meniscusParameter;
  t.bottomParameter = &s.bottomParameter;
  t.baseline = &s.baseline;
  t.fittedBaseline = &s.fittedBaseline;
  t.meniscusWarningGiven = &s.meniscusWarningGiven;
  t.riNoiseFitted = &s.riNoiseFitted;
  t.loadModelSwitch = &s.loadModelSwitch;
  t.meniscusBottomLimitsFixed = &s.meniscusBottomLimitsFixed;
  for (int k = 0; k < 5; ++k) t.speciesArrays[k] = &s.speciesArrays[k];
  t.smaxParameter = &s.smaxParameter;
  t.meniscusFit = &s.meniscusFit;
  t.bottomFit = &s.bottomFit;
  t.baselineFit = &s.baselineFit;
  t.meniscusFitFlag = &s.meniscusFitFlag;
  t.bottomFitFlag = &s.bottomFitFlag;
  t.baselineFitFlag = &s.baselineFitFlag;
  t.temperature = &s.temperature;
  t.RT = &s.RT;
  t.viscosity = &s.viscosity;
  t.tiNoiseFitted = &s.tiNoiseFitted;
  t.equilibriumModelMode = &s.equilibriumModelMode;
  t.fitStopFlag = &s.fitStopFlag;
  t.timesFromW2t = &s.timesFromW2t;
  t.timesFromW2tPending = &s.timesFromW2tPending;
  t.experimentalInitialDistribution = &s.experimentalInitialDistribution;
  t.initialDistributionCompanion = &s.initialDistributionCompanion;
  t.scanTimeCorrection = &s.scanTimeCorrection;
  t.contiModelSelected = &s.contiModelSelected;
  t.contiSecondModule = &s.contiSecondModule;
  t.contiGridSize = &s.contiGridSize;
  t.contiSmax = &s.contiSmax;
  t.hiddenDisplayFlag = &s.hiddenDisplayFlag;
  t.multiSpeedRawDataMode = &s.multiSpeedRawDataMode;
  t.useOtherFolder = &s.useOtherFolder;
  t.otherFolder = &s.otherFolder;
  t.checkTimeStamps = &s.checkTimeStamps;
  t.timeDilationThreshold = &s.timeDilationThreshold;
  t.infoMessages = &s.infoMessages;
  t.serialFitRunning = &s.serialFitRunning;
  t.automationRun = &s.automationRun;
  t.approachToEquilibriumTest = &s.approachToEquilibriumTest;
}

void RefreshFitRangeProfile() {
  ScanSet& s = CurrentScanSet();
  if (s.count <= 0 || s.gridLength <= 0 || !s.meanProfile) return;
  for (int j = 1; j <= s.gridLength; ++j) {
    double sum = 0;
    for (int i = 1; i <= s.count; ++i) sum += s.gridSignals[i][j];
    s.meanProfile[j] = static_cast<float>(sum / s.count);
  }
  double sum = 0;
  int n = 0;
  for (int j = std::max(1, s.firstGridPoint); j <= std::min(s.gridLength, s.lastGridPoint); ++j) {
    sum += s.meanProfile[j];
    ++n;
  }
  s.profileSum = static_cast<float>(s.count * sum);
  s.profileWeight = static_cast<float>(s.count * n);
}

namespace {

void RestoreScanTimesDefault() {
  LoadTargets& t = CurrentLoadTargets();
  if (!*t.timesFromW2t) return;
  *t.timesFromW2t = 0;
  const DataTypeFlags& flags = CurrentDataTypeFlags();
  if (flags.electrophoresis || flags.dls) return;
  ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= s.count; ++i) s.records[i].timeRead = s.records[i].time;
}

}  // namespace

LoadHooks& CurrentLoadHooks() {
  static bool filled = (ResetLoadHooks(), true);
  (void)filled;
  return g_hooks;
}

void ResetLoadHooks() {
  LoadHooks& h = g_hooks;
  h.writeDiagnostics = [](const std::string&) {};
  h.deleteNonidealModel = [] {};
  h.setDefaultMeniscusBottomLimits = [] {};
  h.restoreScanTimes = RestoreScanTimesDefault;
  h.cancelTimesFromW2t = [] { *CurrentLoadTargets().timesFromW2tPending = 0; };
  h.createNoiseButtons = [] {};
  h.removeNoiseButtons = [] {};
  h.checkCorrectionMenuItems = [] {};
  h.buildPlotCurves = [] {};
  h.deletePlots = [] {};
  h.setPlotAxisTitles = [] {};
  h.clearComputedFlag = [] {};
  h.redrawDataPlot = [](bool) {};
  h.requestRepaint = [] {};
  h.setWindowTitle = [](const std::string&) {};
  h.drawText = [](const std::string&, int, int) {};
  h.offerRestorePreviousAnalysis = [] { return false; };
  h.newDataAboutToLoad = [] {};
  h.newDataLoaded = [] {};
  h.startZoomHistory = [] {};
  h.runModel = [] {};
  h.runModelFromTools = [] {};
  h.calcRmsd = [] { return 0.0; };
  h.checkTemperatureFluctuations = [](double) {};
  h.applyNonlinearDetection = [] { ReapplyNonlinearDetection(); };
  h.freeNonlinearDetectionTables = FreeNonlinearDetectionTables;
  h.computeTINoiseProfile = RefreshFitRangeProfile;
  h.pushDataPlotZoom = [](float, float, float, float) {};
  h.animateNoiseButton = [] {};
  h.writeDlsdatSet = [](const std::string& path, int n, const float* x, const float* y,
                        const std::string& description, int scan) {
    const ScanSet& s = CurrentScanSet();
    if (scan < 1 || static_cast<std::size_t>(scan) >= s.dlsRecords.size()) return false;
    return WriteDlsdatSet(path, n, x, y, description.c_str(), s.dlsRecords[static_cast<std::size_t>(scan)]);
  };
  h.updateResidualsPlot = [] {};
  h.updateResidualHistogram = [] {};
  h.invalidateWindow = [] {};
  h.saveRawDataSet = [] {};
  h.bufferSedimentationOn = [] { return false; };
  h.updateBufferSedimentation = [](bool) {};
  h.switchOffBufferSedimentation = [] {};
  h.showDataRange = [] {};
  h.subtractAllNoiseCommand = [] {};
  h.showLastFitInfo = [] {};
  h.toggleDisplayFlag210 = [] {};
  h.integrateDistribution = [](double, double) { return 0.0; };
  h.distributionGrid = [](int& size, int& firstIndex) -> const float* {
    size = 0;
    firstIndex = 2;
    return nullptr;
  };
  h.rescaleZoomedDistribution = [] {};
  h.clearDistributionZoom = [] {};
  h.gaussRandom = [] {
    static std::mt19937 engine(12345);
    static std::normal_distribution<double> normal(0.0, 1.0);
    return normal(engine);
  };
}
