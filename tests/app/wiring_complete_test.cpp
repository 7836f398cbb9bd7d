// The window as the program builds it at start-up, checked for hooks left
// empty: a lower layer calls each of these records' members and does
// nothing when one is missing, so a forgotten connection passes unnoticed
// everywhere else. Each record's hooks are listed here once; the size check
// catches a hook added to a record but not to its list.
#include <fstream>
#include <iterator>
#include <functional>
#include <map>
#include <string>
#include <typeinfo>
#include <vector>

#include "app/screens/mstar_screen.h"
#include "app/plot_input/marker_moves.h"
#include "app/plot_input/screen_buttons.h"
#include "app/startup/main_window_host.h"
#include "app/startup/startup.h"
#include "app/window/road_services.h"
#include "data/load_hooks.h"
#include "data/mouse_actions.h"
#include "data/scan_repair_hooks.h"
#include "data/synthetic_data.h"
#include "distributions/analysis/extrapolation_plot.h"
#include "distributions/conti_fit_display.h"
#include "distributions/conti_run.h"
#include "distributions/direct_boundary.h"
#include "distributions/monte_carlo.h"
#include "fit/model_evaluation.h"
#include "fit/model_selector.h"
#include "fit/saved_params.h"
#include "lamm/global/global_lamm_hooks.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/solver_display.h"
#include "models/buffer/buffer_sedimentation.h"
#include "plot/plot_window_set.h"
#include "tests/app/app_fixture.h"

namespace {

struct Probe {
  bool set;
  const std::type_info* type;
};

template <class R>
struct Hook {
  const char* name;
  Probe (*probe)(const R&);
};

#define H(m) Hook<R>{#m, [](const R& r) { return Probe{static_cast<bool>(r.m), &r.m.target_type()}; }}

// One record as the window left it: `pristine` is the record as its own
// layer fills it (a member whose callable is still that one was not
// connected), `otherBytes` the size of its members that are not hooks, and
// `onPurpose` the hooks the window leaves alone, each with the reason.
template <class R>
struct RecordCheck {
  const char* record;
  const R& installed;
  R pristine;
  std::vector<Hook<R>> hooks;
  std::size_t otherBytes;
  std::map<std::string, std::string> onPurpose;
};

template <class R>
void Check(const RecordCheck<R>& c, std::vector<std::string>& faults) {
  if (sizeof(R) != c.hooks.size() * sizeof(std::function<void()>) + c.otherBytes)
    faults.push_back(std::string(c.record) + ": a member is missing from the test's list");
  std::map<std::string, std::string> unused = c.onPurpose;
  for (const Hook<R>& h : c.hooks) {
    const Probe now = h.probe(c.installed);
    const Probe before = h.probe(c.pristine);
    const bool connected = now.set && !(before.set && *now.type == *before.type);
    const std::string name = std::string(c.record) + "::" + h.name;
    if (unused.erase(h.name)) {
      if (connected) faults.push_back(name + " is connected but listed as left alone on purpose");
    } else if (!now.set) {
      faults.push_back(name + " is empty");
    } else if (!connected) {
      faults.push_back(name + " still holds its layer's stand-in");
    }
  }
  for (const auto& [name, why] : unused) faults.push_back(std::string(c.record) + "::" + name + " is not a member");
}

// The hook's own default, set by the layer that calls it, is the whole work.
constexpr const char* kLayerDefault = "the layer's own default does the work";
// Found empty and not connected yet: an open fault, listed so that the
// suite stays green while it is; connecting it makes this test ask for the
// entry to go.
constexpr const char* kOpen = "not connected yet";

class Wiring : public AppTest {
 protected:
  void TearDown() override {
    platform::SetFrameWindowFactory({});
    // The program's own window stays registered otherwise: a later start
    // would open it and wait for a user.
    SetMainWindowFactory(nullptr);
    AppTest::TearDown();
  }
};

TEST_F(Wiring, TheProgramsOwnStartUpConnectsEveryHook) {
  // Each record as its layer leaves it without a window.
  ResetLoadHooks();
  const LoadHooks loadDefaults = CurrentLoadHooks();
  ResetSyntheticDataHooks();
  const SyntheticDataHooks syntheticDefaults = CurrentSyntheticDataHooks();
  // The program's services start as the shell installs them.
  Services() = DefaultShellServices();
  WriteAgreedDefaults();

  RegisterMainWindow();
  TXLAApp app("wiring");
  app.InitMainWindow();
  ASSERT_NE(app.MainWindow(), nullptr);

  std::vector<std::string> faults;
  {
    using R = LoadHooks;
    Check<R>({"LoadHooks", CurrentLoadHooks(), loadDefaults, {
    H(writeDiagnostics), H(deleteNonidealModel), H(setDefaultMeniscusBottomLimits), H(restoreScanTimes),
    H(cancelTimesFromW2t), H(createNoiseButtons), H(removeNoiseButtons), H(checkCorrectionMenuItems), H(buildPlotCurves), H(deletePlots),
    H(setPlotAxisTitles), H(clearComputedFlag), H(redrawDataPlot), H(requestRepaint), H(setWindowTitle),
    H(drawText), H(loadProgress), H(offerRestorePreviousAnalysis), H(newDataAboutToLoad), H(newDataLoaded), H(startZoomHistory),
    H(runModel), H(runModelFromTools), H(calcRmsd),
    H(checkTemperatureFluctuations), H(applyNonlinearDetection), H(freeNonlinearDetectionTables),
    H(computeTINoiseProfile), H(pushDataPlotZoom), H(animateNoiseButton), H(writeDlsdatSet),
    H(updateResidualsPlot), H(updateResidualHistogram), H(invalidateWindow), H(saveRawDataSet),
    H(bufferSedimentationOn), H(updateBufferSedimentation), H(switchOffBufferSedimentation), H(showDataRange),
    H(subtractAllNoiseCommand), H(showLastFitInfo), H(toggleDisplayFlag210), H(integrateDistribution),
    H(distributionGrid), H(rescaleZoomedDistribution), H(clearDistributionZoom), H(gaussRandom)}, 0, {
        {"restoreScanTimes", kLayerDefault}, {"cancelTimesFromW2t", kLayerDefault},
        {"applyNonlinearDetection", kLayerDefault}, {"freeNonlinearDetectionTables", kLayerDefault},
        {"computeTINoiseProfile", kLayerDefault}, {"writeDlsdatSet", kLayerDefault}, {"gaussRandom", kLayerDefault},
        {"clearComputedFlag", kOpen},
    }}, faults);
  }
  {
    using R = SavedParamsHooks;
    Check<R>({"SavedParamsHooks", CurrentSavedParamsHooks(), R{}, {
    H(getContiValue), H(setContiValue), H(reselectModel), H(reloadModelEntry), H(modelName), H(checkFitLimits), H(getBufferValue),
    H(setBufferValue), H(afterReload), H(checkCorrectionMenuItems), H(savedNonidealModel),
    H(reloadedNonidealModel)}, 0, {}}, faults);
  }
  {
    using R = ModelSelectionHooks;
    Check<R>({"ModelSelectionHooks", CurrentModelSelectionHooks(), R{}, {
    H(message), H(switchOffWienerSkewing), H(equilibriumTestMode), H(exitEquilibriumTestMode),
    H(mStarAnalysisActive), H(closeMStarAnalysis), H(checkMenuItem)}, 0, {}}, faults);
  }
  {
    using R = ModelEvaluationHooks;
    Check<R>({"ModelEvaluationHooks", CurrentModelEvaluationHooks(), R{}, {
    H(nonlinearTransform), H(nonlinearInverse), H(bufferSedimentationOn), H(bufferSignal),
    H(updateBufferSedimentation), H(applySolverOptions), H(markPlotsForRefresh), H(drawScanModel),
    H(simulateStaticGridLamm), H(sharpBoundaryCurve), H(frictionalRatio), H(equilibriumCurves),
    H(simulateHeteroAssociation), H(heteroAssociationKeysTaken), H(heteroAssociationSignal)}, 0, {}}, faults);
  }
  {
    using R = StaticGridSolventHooks;
    Check<R>({"StaticGridSolventHooks", CurrentStaticGridSolventHooks(), R{}, {
    H(useInhomogeneousSolvent), H(sedimentingCosolute), H(dynamicGradient), H(initLocalSDFactors),
    H(updateLocalSDFactors), H(initCosoluteGradient), H(setCosoluteTime), H(stepCosoluteGradient),
    H(densgradElementA), H(densgradElementB), H(densgradEndTermD), H(densgradEndTermS), H(solventStiffness)}, 0, {}}, faults);
  }
  {
    using R = LammSolverDisplay;
    Check<R>({"LammSolverDisplay", CurrentLammSolverDisplay(), R{}, {
    H(drawText), H(plotFloats), H(plotDoubles)}, 0, {}}, faults);
  }
  {
    using R = BufferSedHooks;
    Check<R>({"BufferSedHooks", CurrentBufferSedHooks(), R{}, {
    H(checkMenuItem)}, 0, {
    }}, faults);
  }
  {
    using R = ContiRunHooks;
    // The correction's switches and result ahead of the hooks.
    Check<R>({"ContiRunHooks", ContiHooks(), R{}, {
    H(updateBufferSedimentation), H(bufferConcentrationSolved), H(equilibriumKernels), H(checkMeanField),
    H(nonidealList), H(refineMeanField), H(endNonidealRun), H(host)}, 2 * sizeof(double), {}}, faults);
  }
  {
    using R = DirectBoundaryHooks;
    // The presence switch of the distribution plot, padded to a hook's alignment.
    Check<R>({"DirectBoundaryHooks", DirectBoundary(), R{}, {
    H(computeFixedNoise), H(redrawDistribution)}, alignof(std::function<void()>), {
    }}, faults);
  }
  {
    using R = ExtrapolationPlotHooks;
    Check<R>({"ExtrapolationPlotHooks", ExtrapolationPlotDisplay(), R{}, {
    H(changed)}, 0, {}}, faults);
  }
  {
    using R = ContiFitDisplayHooks;
    Check<R>({"ContiFitDisplayHooks", ContiFitDisplay(), R{}, {
    H(bufferComponentLine), H(apparentVbar), H(checkExternalMeanField)}, 0, {
        {"checkExternalMeanField", "the c(s) run checks the mean field itself, once it has chosen its scans"},
    }}, faults);
  }
  {
    using R = MonteCarloDisplayHooks;
    Check<R>({"MonteCarloDisplayHooks", MonteCarloDisplay(), R{}, {
    H(addLimitCurves), H(removeLimitCurves), H(drawText)}, 0, {
        {"drawText", "the distribution plot writes the progress line itself"},
    }}, faults);
  }
  {
    using R = SyntheticDataHooks;
    Check<R>({"SyntheticDataHooks", CurrentSyntheticDataHooks(), syntheticDefaults, {
    H(initialLoading), H(bandLoadingModel), H(setBandInverted), H(distributionModel), H(seriesRunning),
    H(holdFitSwitches), H(simulateModel), H(setSyntheticDistribution), H(loadDistribution),
    H(runDistribution), H(rampRotorSpeed), H(setRampRotorSpeed), H(clearDistributionDisplay)}, 0, {}}, faults);
  }
  {
    using R = ScanRepairHooks;
    Check<R>({"ScanRepairHooks", RepairHooks(), R{}, {
    H(pickScanPoint), H(residualPlotRadius), H(dataPlotRadius), H(drawFringeJump), H(drawRadiusJump),
    H(drawScratchTrack), H(plotScratches), H(scansChanged)}, 0, {}}, faults);
  }
  {
    using R = MouseActionMakers;
    Check<R>({"MouseActionMakers", MouseActionFactories(), R{}, {
    H(trackScratch), H(fixScratchJump), H(fixPointScanFringeJump)}, 0, {}}, faults);
  }
  {
    using R = PlotWindowHooks;
    Check<R>({"PlotWindowHooks", PlotHooks(), R{}, {
    H(surface), H(flush), H(painted), H(drawText), H(requestRepaint), H(invalidate), H(checkMenuItem), H(paintDataPlot),
    H(paintResidualPlots), H(paintDistributionPlot), H(createIntegrateButton), H(deleteIntegrateButton),
    H(dlsFieldAutocorrelation)}, 0, {}}, faults);
  }
  {
    using R = PlotMouseHooks;
    Check<R>({"PlotMouseHooks", MouseHooks(), R{}, {
    H(pointerModeLButtonDown), H(pointerModeLButtonUp), H(pointerModeLButtonDblClk),
    H(pointerModeRButtonDown), H(pointerModeRButtonUp), H(pointerModeRButtonDblClk), H(pointerModeMouseMove),
    H(pointerModeKeyDown), H(pointerModeEnd), H(pointerModeFinish), H(pressScreenButtons),
    H(showMarkerConfirmButtons), H(deleteMarkerConfirmButtons), H(noiseOrIntegrateButtonAt),
    H(pressPointEditCancel), H(showPointEditButtons), H(showScanNameButton), H(deleteScanNameButton),
    H(mStarRangeDrag), H(mouseTrackReset), H(mouseTrackAdd), H(mouseFlickContinue), H(readKey),
    H(waitSeconds), H(refreshMStar), H(cursorEditKey)}, 0, {
        {"pointerModeLButtonDown", kLayerDefault}, {"pointerModeLButtonUp", kLayerDefault},
        {"pointerModeLButtonDblClk", kLayerDefault}, {"pointerModeRButtonDown", kLayerDefault},
        {"pointerModeRButtonUp", kLayerDefault}, {"pointerModeRButtonDblClk", kLayerDefault},
        {"pointerModeMouseMove", kLayerDefault}, {"pointerModeKeyDown", kLayerDefault},
        {"pointerModeEnd", kLayerDefault}, {"pointerModeFinish", kLayerDefault},
        {"mouseTrackReset", kLayerDefault}, {"mouseTrackAdd", kLayerDefault},
        {"mouseFlickContinue", kLayerDefault}, {"readKey", kLayerDefault}, {"waitSeconds", kLayerDefault},
    }}, faults);
  }
  {
    using R = MStarScreenActions;
    Check<R>({"MStarScreenActions", MStarActions(), R{}, {
    H(runTransformation), H(transformationSetup), H(computeFitAndShow), H(resetAnalysis),
    H(showHingePointInfo)}, 0, {}}, faults);
  }
  {
    using R = ScreenButtonActions;
    Check<R>({"ScreenButtonActions", ButtonActions(), R{}, {H(clickIntegrate)}, 0, {}}, faults);
  }
  {
    using R = RoadServices;
    Check<R>({"RoadServices", Road(), R{}, {
    H(runContiSed), H(runContiSedAndShow), H(runEquilibrium), H(runEqTest), H(runLsgs),
    H(runVanHoldeWeischet), H(contiFit), H(fitEquilibrium),
    H(freeDistributionArrays), H(makeDistributionPlot), H(freeLammArrays), H(allocLammArrays),
    H(lammArraysAllocated), H(integrateDistribution), H(loadXpFile), H(loadDlsData),
    H(reloadParameters), H(calibrateCMPowerLaw), H(saveParametersToFile), H(updateSavedFitParameters),
    H(dataPlot), H(residualPlot), H(residualBitmapPlot), H(redrawDistributionPlot), H(showData),
    H(showResiduals), H(showModelCurves), H(showResidualsBitmap), H(updateResidualsPlot),
    H(drawResidualsBitmap), H(scanColor), H(paintScreenButtons), H(otherScreenShown), H(paintOtherScreen),
    H(mStarScreenShown), H(paintMStarScreen), H(extrapolationPlot), H(eqTestPlot),
    H(drawDataScreenMarkers), H(drawDataPlotMovie)}, 0, {
        {"integrateDistribution", "the window integrates the plotted grid itself"},
    }}, faults);
  }
  {
    using R = ShellServices;
    Check<R>({"ShellServices", Services(), R{}, {
    H(takeAutomationCommandLine), H(runAutomationAtStartup), H(finishAutomation), H(checkPlotHelpers),
    H(initApproachToEqSim), H(readLammEqParameterPreferences), H(createMouseActions),
    H(relayoutAndRedrawPlots), H(loadIntegrationRanges), H(setPlotAxisTitles), H(freeLammArrays),
    H(freeExtrapolationArrays), H(freeScanData), H(countSoundFiles), H(playSoundHi), H(playSoundOk),
    H(playSoundInfo), H(playSoundBye), H(playSoundBeer), H(setDataPlotRanges), H(redrawDataPlot),
    H(updateResidualsPlot), H(updateResidualBitmap), H(checkScanTimeStamps), H(loadListedScansAndSimulate),
    H(loadedScanCount)}, 0, {
        {"loadListedScansAndSimulate", "the window loads the listed scans itself"},
        {"freeScanData", "the start-up frees the scan set once the window has gone"},
    }}, faults);
  }
  {
    // Plain function pointers, filled once: each must be set after start-up.
    const GlobalLammHooks& g = CurrentGlobalLammHooks();
    const std::pair<const char*, bool> pointers[] = {
        {"meniscus", g.meniscus != nullptr},
        {"bottom", g.bottom != nullptr},
        {"electrophoresis", g.electrophoresis != nullptr},
        {"zoneCentrifugation", g.zoneCentrifugation != nullptr},
        {"planarGeometry", g.planarGeometry != nullptr},
        {"stepDone", g.stepDone != nullptr},
        {"lastScanTime", g.lastScanTime != nullptr},
        {"bufferSedimentation", g.bufferSedimentation != nullptr},
        {"bufferDiffusion", g.bufferDiffusion != nullptr},
        {"initFrameSolventFactors", g.initFrameSolventFactors != nullptr},
        {"initCosolute", g.initCosolute != nullptr},
        {"setCosoluteTime", g.setCosoluteTime != nullptr},
        {"stepCosolute", g.stepCosolute != nullptr},
        {"updateFrameSolventFactors", g.updateFrameSolventFactors != nullptr},
    };
    if (sizeof(GlobalLammHooks) != std::size(pointers) * sizeof(void (*)()))
      faults.push_back("GlobalLammHooks: a hook is not in this test's list");
    for (const auto& [name, set] : pointers)
      if (!set) faults.push_back(std::string("GlobalLammHooks.") + name);
  }
  platform::SetFrameWindowFactory({});
  std::string all;
  for (const std::string& f : faults) all += "\n  " + f;
  EXPECT_TRUE(faults.empty()) << faults.size() << " hooks:" << all;
}

#undef H

// Every line of a saved analysis is written by the record that owns it, or
// carried from the file read to the file written on purpose.
TEST_F(Wiring, EverySavedParameterLineHasAnOwnerOrIsCarried) {
  Services() = DefaultShellServices();
  WriteAgreedDefaults();
  RegisterMainWindow();
  TXLAApp app("wiring");
  app.InitMainWindow();
  ASSERT_NE(app.MainWindow(), nullptr);

  // A full file: switches off, no distribution model, vbar20 given, and a
  // value of its own in every carried line.
  const std::string in = (dir_ / "~tmppars.ra1").string();
  {
    std::ofstream f(in);
    for (int line = 1; line <= kSavedParamsLines; ++line)
      f << (IsCarriedSavedParamsLine(line) ? 1000.0 + line : line == 47 || line == 53 ? 0.73 : 0.0) << "\n";
  }
  ASSERT_EQ(ReloadParameters(in), 1);
  EXPECT_EQ(SavedParamsOwnershipFaults(), std::vector<int>{});

  const std::string out = (dir_ / "saved.ra1").string();
  ASSERT_TRUE(TmpSaveBestParams(out, false));
  std::ifstream f(out);
  std::vector<double> written(1, 0.0);
  for (double v; f >> v;) written.push_back(v);
  ASSERT_EQ(written.size(), static_cast<std::size_t>(kSavedParamsLines + 1));
  for (int line = 1; line <= kSavedParamsLines; ++line)
    if (IsCarriedSavedParamsLine(line)) {
      EXPECT_EQ(written[static_cast<std::size_t>(line)], 1000.0 + line) << line;
    }
  platform::SetFrameWindowFactory({});
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

}  // namespace
