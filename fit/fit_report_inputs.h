#pragma once
// What the fit report takes from the layers above the fit engine, in a
// header of its own: the fillers (fluorescence options, buffer, non-ideal
// species, the window) need the record, not the report.
#include <string>

// Report inputs owned by the layers above the fit engine; the host fills
// them (FitHost::FillFitReportInputs) before every composition.
struct FitReportInputs {
  struct Buffer {
    bool on = false;
    bool modeSwitch = true;  // while off the signal is printed negated
    double signal = 0;
    bool signalFit = false;
    double d = 0, s = 0, mb = 0;
    bool sizeFit = false, sFit = false;
    bool meniscusMismatch = false;
    double meniscusDifference = 0, concentrationRatio = 0;
    bool meniscusDifferenceFit = false, concentrationRatioFit = false;
    bool reference = false;
    double refD = 0, refS = 0, refMb = 0;
    bool refSizeFit = false, refSFit = false;
  } buffer;
  struct Solvent {
    bool inhomogeneous = false;
    bool apparentVbarOn = false;
    float apparentVbar = 0;
  } solvent;
  struct Fluorescence {
    bool coneOn = false, coneFit = false;
    float cone = 0;
    bool wienerOn = false, wienerFit = false;
    float wienerMagnitude = 0, wienerSignal = 0;
    bool driftOn = false;
    bool bleachOn = false, bleachRateFit = false, limitFit = false;
    float bleachRate = 0, limit = 0;  // 1/h, fraction
    bool linearDriftOn = false, linearDriftFit = false;
    float linearDrift = 0;  // fraction per hour
    bool convolutionOn = false, convolutionFit = false;
    float convolution = 0;
    bool magnificationOn = false, magnificationFit = false;
    float magnification = 0;
    bool nonlinearOn = false, nonlinearFit = false, showingTransformed = false;
    double nonlinearCoefficient = 0, nonlinearBaseline = 0;
    bool depletionOn = false, depletionSFit = false, depletionDFit = false;
    bool depletionAmplitudeFit = false, depletionKsFit = false;
    float depletionS = 0, depletionD = 0, depletionAmplitude = 0, depletionLgKs = 0;  // D in cm^2/s
  } fds;
  bool speedProfileInUse = false;
  bool fitT0 = false;  // "Fit t0 of Sedimentation"
  float runsZ = 0;
  float histogramH = 0;
  bool initialScanIsModel = false;  // runs test starts at scan 2
  // Continuous distributions.
  struct Conti {
    float confidenceLevel = 0.95f;
    bool maxEnt = false, showBoth = false, secondDerivative = false;
    bool priorOn = false;
    std::string priorFileName;  // name and extension only
    std::string priorFilePath;  // full path
    float ffMin = 1, ffMax = 2, ffResolution = 10;
    float ffValue = 1.2f;       // f/f0 (D for c(M) with invariant D and c(v))
    float ffCeiling = 0;        // the largest f/f0 a fit of it may take (0: f/f0 not fitted)
    float ffFloor = 0;          // the smallest (0: f/f0 not fitted, or no floor)
    float invariantD = 0;
    float secondFf = 0, secondSMin = 0, secondSMax = 0;
    float sMin = 0, sMax = 0;
    int gridSize = 0;
    float persistenceLength = 36, crossSection = 23, monomerMw = 9000, hydration = 0.4f;
    float scalingKs = 0.003f, scalingBs = 0.667f;
    float vbar = 0.73f;
    bool hybridDiscreteOff = false;
    // Nonideal c(s): its extra discrete species is ticked (and then kept
    // out of the total concentration).
    bool nonidealExtraDiscrete = false;
    float discreteS = 0, discreteM = 0;
    // The plain one-discrete c(s) takes the component's diffusion
    // coefficient (1e-7 cm^2/s) instead of its molar mass.
    bool discreteByD = false;
    float discreteD = 0;
    // Non-ideal c(s) variants.
    bool nonidealHardSphere = false, nonidealSticky = false;
    float nonidealVolumeCorrection = 0, nonidealBaxterT = 0, nonidealReducedB2 = 0;
    float ks1 = 0, ks100 = 0, kd1 = 0, kd100 = 0;
    float logKs = 0, logKd = 0;
  } conti;
  // Non-ideal species models.
  struct Nonideal {
    bool syntheticBoundary = false;
    bool hardSphere = false, sticky = false;
    // The species' D (1e-7 cm^2/s) and M (Da) as the solver takes them:
    // the one entered, the other implied (P[1] holds M in the M-and-s form).
    float D = 0, impliedM = 0, impliedFf0 = 0;
    float reducedB2 = 0;
    float ks1 = 0, ksLoad = 0, kd1 = 0, kdLoad = 0;
    float volumeFraction = 0;  // of the loading concentration
    bool ksRepulsive = true, kdRepulsive = true;
  } nonideal;
};
