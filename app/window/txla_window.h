#pragma once
// The program's one frame window, titled "Sedimentation Analysis": its menus
// and accelerators, the response table through which every command and
// window message arrives, and the window-wide flags that commands share.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/frame_window.h"
#include "platform/user_interface.h"

class TXLAWindow;

// One entry of the response table.
struct CommandEntry {
  int id;
  void (TXLAWindow::*handler)();
  bool helpTest;  // answers a pending F1 request with the help prompt instead of acting
  const char* name;
};

// The entry of a table with the id; null when it has none.
const CommandEntry* FindCommandEntry(const std::vector<CommandEntry>& table, int id);

// What the window's dispatch needs from the commands above it: the response
// table, and the head every model command runs through. The window is handed
// them when it is made, so that it names no command itself.
struct WindowCommands {
  const std::vector<CommandEntry>* table = nullptr;
  std::function<void(TXLAWindow&, int id, const std::function<void()>& handler)> runModelCommand;
};

// The command line as the start-up hands it on: the arguments after the
// program name, element 0 unused.
struct WindowCommandLine {
  int argCount = 0;
  char** argCopies = nullptr;
};

class TXLAWindow : public platform::IWindowEvents {
 public:
  TXLAWindow(TXLAWindow* parent, const std::string& title,
             WindowCommandLine commandLine = WindowCommandLine{});
  // Defined with the constructor in app/wiring/main_window.cpp: as the first
  // virtual member defined out of line it puts the class's event table, and
  // the inline handlers below that forward to the plot input and the
  // loaders, there rather than in the window's core.
  ~TXLAWindow() override;
  TXLAWindow(const TXLAWindow&) = delete;
  TXLAWindow& operator=(const TXLAWindow&) = delete;

  platform::IFrameWindow& Frame() { return *frame_; }
  // Creates the window on the screen (not shown); the frame then calls SetupWindow.
  void Create();

  // The response table, and its lookup: the window's own entries, else none.
  static const std::vector<CommandEntry>& CommandTable();
  static const CommandEntry* Find(int id);
  // Dispatches a command as a menu choice or an accelerator would.
  void Dispatch(int id);
  // The command being dispatched, innermost (0: none): a handler called on
  // the way of another command was not chosen by the user.
  int CommandInHand() const { return commandInHand_; }

  // The help test of the marked handlers: when F1 was pressed on the chosen
  // menu item, shows the help prompt, clears the flag and answers true.
  bool HelpTest();

  // Menu check marks by command id (every item of the id).
  void CheckMenuItem(int id, bool checked);
  bool IsMenuItemChecked(int id) const;

  // platform::IWindowEvents
  void SetupWindow() override;
  void OnCommand(int id) override { Dispatch(id); }
  void OnEnterIdle(int source, bool f1Down) override { EvEnterIdle(source, f1Down); }
  void OnKeyDown(int virtualKey, int repeat, unsigned flags) override {
    EvKeyDown(virtualKey, repeat, flags);
  }
  void OnChar(int character, int repeat, unsigned flags) override {
    EvChar(character, repeat, flags);
  }
  void OnMouse(platform::MouseMessage message, unsigned modKeys, int x, int y) override;
  void OnSize(int width, int height) override { EvSize(width, height); }
  void OnPaint(bool erase) override { Paint(erase); }
  bool CanPaint() const override;
  void OnDropFiles(const std::vector<std::string>& paths) override { EvDropFiles(paths); }
  void OnTimer(int id) override { EvTimer(id); }
  void OnInputWhileBusy(bool key) override;
  void OnBoxWhileBusy() override;
  bool OnClose() override;

  // Window messages.
  void EvEnterIdle(int source, bool f1Down);
  void EvKeyDown(int key, int repeatCount, unsigned flags);
  void EvChar(int key, int repeatCount, unsigned flags);
  void EvLButtonDown(unsigned modKeys, int x, int y);
  void EvLButtonUp(unsigned modKeys, int x, int y);
  void EvRButtonDown(unsigned modKeys, int x, int y);
  void EvRButtonUp(unsigned modKeys, int x, int y);
  void EvMouseMove(unsigned modKeys, int x, int y);
  void EvLButtonDblClk(unsigned modKeys, int x, int y);
  void EvRButtonDblClk(unsigned modKeys, int x, int y);
  void EvSize(int width, int height);
  void EvDropFiles(const std::vector<std::string>& paths);
  void EvTimer(int id);
  void Paint(bool erase);
  // Ends a marker edit: apply gives the dropped marker its value, discard
  // forgets the drop.
  void MoveMarkers(bool apply);
  // Lets a released marker slide on with the drag's momentum.
  void ReleaseDraggedMarker();

  // Command handlers, in the order of their command ids.
  void CmMonomerDimerModel();
  void CmDiscreteSpeciesModel();
  void CmFixIndividualScanJump199();
  void CmLoadNewFiles();
  void CmEditDataFiles();
  void CmSetInitialData();
  void CmSaveFitData();
  void CmCopyFitParameters();
  void CmCopyDataPlot();
  void CmCopyResidualsPlot();
  void CmSetRange();
  void CmFullRange();
  void CmShowResiduals();
  void CmToggleDisplayFlag210();
  void CmDataMarkSize();
  void CmParameters();
  void CmRun();
  void CmSingle();
  void CmFit();
  void CmNotepad();
  void CmFitMAndS();
  void CmSetVRho();
  void CmSetPolynomOrder();
  void CmAlignInterferenceOffset();
  void CmAbout();
  void CmToggleOption223();
  void CmSimplexSettings();
  void CmSaveEquilibriumData();
  void CmAddMoreFiles();
  void CmNonidealSingleSpeciesModel();
  void CmMonomerDimerTetramerModel();
  void CmMonomerTrimerModel();
  void CmExit();
  // The steps of Exit without its question.
  void ExitProgram();
  // Asks before work that was not saved is left behind; true to go on.
  bool LeaveUnsavedWork();
  void CmSaveIntensityAsAbsorbance();
  void CmShowData();
  void CmPrinterSetup();
  void CmPrint();
  void CmContinuousCMModel();
  void CmSetFitLimitsMeniscusBottom();
  void CmSMContour();
  void CmOldFilenameConvention();
  void CmS1S2Contour();
  void CmKContour();
  void CmZoneCentrifugationSpeciesModel();
  void CmDontLoadSpikes();
  void CmHelp();
  void CmSaveNoiseInFile();
  void CmSubtractNoiseFromEqData();
  void CmFitT0();
  void CmSedimentationTimeOffset();
  void CmUpdate();
  void CmCopyDataTable();
  void CmCopyFitDataTable();
  void CmCopyResidualsTable();
  void CmCopyRINoiseTable();
  void CmCopyTINoiseTable();
  void CmSaveRawDataSet();
  void CmEliminateJitter();
  void CmSetNColumns();
  void CmFitTimeDependentSM();
  void CmModel267();
  void CmHowToGetHelp();
  void CmHalveGridFirst();
  void CmCalculateAxialAndFrictionalRatios();
  void CmSaveContinuousDistribution();
  void CmVarianceRatioFStatistics();
  void CmCopyDistributionPlot();
  void CmCopyDistribution();
  void CmContinuousCSModel();
  void CmSphereSFromM();
  void CmCMInvariantDModel();
  void CmCMPowerLawModel();
  void CmCMPriorVbarModel();
  void CmLinearLammModel();
  void CmExternalLoadingCellModel();
  void CmModel282();
  void CmSubtractBlankScan();
  void CmEquilibriumModel284();
  void CmCalculateErrorInS();
  void CmCalculateErrorInM();
  void CmFindFringeJumpsFromDiscontinuity();
  void CmLsgStarModel();
  void CmSaveIntensityAsPseudoAbsorbance();
  void CmReloadForFloTools();
  void CmElectrophoresisLammModel();
  void CmVanHoldeWeischet();
  void CmExtrapolateLsgAreaFractions();
  void CmRegularization2ndDerivative();
  void CmRegularizationMaxEnt();
  void CmMonteCarloForDistributions();
  void CmLoadDlsData();
  void CmDlsPS99v520();
  void CmIntegrateDistribution();
  void CmRescaleDistributionPlot();
  void CmFullscaleDistributionPlot();
  void CmAddSubtractSimulatedData();
  void CmTransformDifferentialToIntegral();
  void CmCalculateRadialDilution();
  void CmSwBySecondMoment();
  void CmCalculatePressure();
  void CmSaveMeanDlsData();
  void CmElectrophoresisLsgModel();
  void CmDlsIDModel();
  void CmDlsIRhModel();
  void CmShowResidualsBitmap();
  void CmBitmapBlackWhite();
  void CmBitmapContinuousShading();
  void CmCopyResidualsBitmap();
  void CmSubtractTINoise();
  void CmSubtractRINoise();
  void CmZoneCentrifugationLsgModel();
  void CmZoneCentrifugationCSModel();
  void CmElectrophoresisCVModel();
  void CmConformationalChangeCSModel();
  void CmLoadEquilibriumData();
  void CmShowLastFitInfo();
  void CmDataRange();
  void CmSubtractAllNoise();
  void CmMonomerTetramerOctamerModel();
  void CmCSModel521();
  void CmDlsIRhTimeCourseModel();
  void CmEquilibriumModel523();
  void CmSave6ChannelSubsets();
  void CmTransformSToRDistribution();
  void CmCSInvariantDModel();
  void CmDlsBIC();
  void CmDlsCD();
  void CmUsePriorProbabilities();
  void CmFaxenSimulation();
  void CmCSWith1DiscreteModel();
  void CmDls2ColumnG2();
  void CmTransformGsToDirectBoundary();
  void CmDlsALV();
  void CmInvertRawData();
  void CmDlsStokesRadiiModel();
  void CmShowTemperaturePlot();
  void CmLsgStarWith1DiscreteModel();
  void CmRealtimeUpdate();
  void CmStopRealtimeUpdate();
  void CmInhomogeneousSolvent();
  void CmDlsPS99v526();
  void CmDlsOldDosBIC();
  void CmSwByDifferentialSecondMoment();
  void CmMonteCarloIntegratedSw();
  void CmEllipsoidFromFrictionalRatio();
  void CmBimodalFF0CSModel();
  void CmCorrectIFRadialCalibration();
  void CmAddConstantTimeAndW2t();
  void CmAddNoiseOrScale();
  void CmBufferSedimentation();
  void CmSubtractBufferMismatch();
  void CmExportXpToMorlean();
  void CmCalculateFrictionForce();
  void CmSortEqDataToDisk();
  void CmExcludeRegion();
  void CmSxpToS20w();
  void CmDlsPhotoCor();
  void CmDlsPS99v6();
  void CmNonidealCSModel();
  void CmCSWithMsTableModel();
  void CmTransformCSToCM();
  void CmSetRadialResolution();
  void CmExcludeWorstScan();
  void CmChangeFitUpdatingPreferences();
  void CmSerializeFitByCellOrDir();
  void CmSound();
  void CmCSff0Model();
  void CmPlaySoundBeer();
  void CmCSff0With1DiscreteModel();
  void CmDls2ColumnG2m1();
  void CmDlsPSv4();
  void CmFixFF0FloatingVbarCSModel();
  void CmWormlikeChainCSModel();
  void CmMFromS();
  void CmRestoreTINoise();
  void CmShowPeakMw();
  void CmScanColorTemperatureFromTime();
  void CmInfoAndWizardMessages();
  void CmLammEquationParameters();
  void CmCopyPriorKnowledgeTable();
  void CmPriorKnowledgeDiscreteSpecies();
  void CmSubtractConstantValueFromScan();
  void CmShowBothRegularizations();
  void CmUseIntegrationRangesFromFile();
  void CmTestApproachToEquilibrium();
  void CmCopyScreenshot();
  void CmSeries();
  void CmMultipleThreads();
  void CmMarquardtLevenberg();
  void CmSimulatedAnnealing();
  void CmSimplexAlgorithm();
  void CmUpdateSavedFitParameters();
  void CmChangeCell();
  void CmSuppressBaselineCorrelation();
  void CmSphereSFromRh();
  void CmSphereRhFromS();
  void TransformDistributionToS20w();
  void CmToggleMouseSliding();
  void CmDiagnosticsOutput();
  void CmFlagTooStrongGradients();
  void CmKeyboardShortcuts();
  void CmBimodalFF0With1DiscreteCSModel();
  void CmGeneralScalingLawCSModel();
  void CmMinimizeTimeToEquilibrium();
  void CmEstimateEquilibriumRotorSpeeds();
  void CmStartHydroPro();
  void CmToggleExportMatrices();
  void CmPlot3dGraph();
  void CmMakeSedimentationMovie();
  void CmPlotDataFitResiduals();
  void CmPlotDataFitResidualsDistribution();
  void CmPlotSizeAndShapeDistribution();
  void CmPlotBestStructure();
  void CmExtractSFromBest();
  void CmMirrorRawData();
  void CmFMScalingLawModel();
  void CmCalculateBoundaryBroadening();
  void CmDlsCumulantModel();
  void CmNonidealMultipleSpeciesModel();
  void CmAlwaysLoadG2m1();
  void CmCalculateFromProteinSequence();
  void CmTransformEqDataToMStar();
  void CmDlsDynamics7();
  void CmToggleG2m1G1();
  void CmPeldoDistributionPlot();
  void CmPeldoDataFitResidualsPlot();
  void CmPeldoPlotChoice();
  void CmCheckElapsedTimeAgainstTimestamp();
  void CmSortFluorescenceDataToDisk();
  void CmSerializeFitByListFile();
  void CmSignalMagnificationRadialGradient();
  void CmNonlinearDetection();
  void CmSignalMagnificationDriftWithTime();
  void CmSignalRadialConvolution();
  void CmExcitationShadowAtBottom();
  void CmFloToolBox();
  void CmAverageScans();
  void CmCopyLnCData();
  void CopyMStarData();
  void CmCopyMavgData();
  void CmRestoreTimeAndW2t();
  void CmSerializeFitWithPeldoMonitoring();
  void CmJohnstonOgstonSignalDepletion();
  void CmUndoRotorStretch();
  void CmConvertSpeedStepsToEqu();
  void CmShowResidualsHistogram();
  void CmCopyResidualsHistogram();
  void CmShowRotorSpeedPlot();
  void CmCreateSpeedStepsFromScans();
  void CmLoadRawMultiSpeedDataAndAutocorrect();
  void CmHybridCSLsgModel();
  void CmErrorPropagationToSw();
  void CmReloadSavedFitParameters();
  void CmNonidealSingleSpeciesModel1099();
  void CmNonidealCSModel1100();
  void CmLoadCtotFiles();
  void CmSaveCtotFile();
  void CmRerunWithMeanField();
  void CmClearMeanFieldCtot();
  void CmMinimumSForLogGrid();
  void CmWienerSkewingCorrection();
  void CmTrackTINoiseFeature();
  void CmFixScratchJump();
  void CmFixIndividualScanJump();
  void CmFinishAutomation();

  // Window-wide flags.
  bool HelpRequested = false;
  void* ZoomDC = nullptr;  // client drawing context held while a zoom rectangle is dragged
  bool ZoomDragging = false;
  std::string DiagBanner;
  std::string DiagFileName;
  bool DiagLogOpened = false;
  bool PrinterCreated = false;
  bool RunBusy = false;
  bool FitBusy = false;
  bool DialogOpen = false;
  platform::FileDialogRequest LoadFileDialog;
  platform::FileDialogRequest DropFileDialog;
  float ClientWidthF = 0;
  float ClientHeightF = 0;

 private:
  void PrepareOpenFileDialog(platform::FileDialogRequest& dialog);
  void RunDisclaimer();

  std::unique_ptr<platform::IFrameWindow> frame_;
  WindowCommandLine commandLine_;
  WindowCommands commands_;
  int dispatchDepth_ = 0;
  int commandInHand_ = 0;
};

// Program-wide switches set from the command line.
struct CommandLineFlags {
  std::uint8_t AutomationMode = 0;
};
CommandLineFlags& CommandLineState();

// Program-wide buffers of the load dialogs and the last data folder.
std::string& LastDataFolder();
