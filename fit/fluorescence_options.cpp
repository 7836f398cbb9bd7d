#include "fit/fluorescence_options.h"

#include "data/fluorescence_corrections.h"
#include "fit/fit_report_inputs.h"
#include "fit/fit_vector.h"
#include "lamm/lamm_ideal.h"

namespace {

const FdsSignalParams& Fds() { return CurrentFdsSignalParams(); }

void Float(FitOptionEntries& entries, int index, bool present, float* value) {
  FitOptionEntry& e = entries.entry[index];
  e.present = present;
  e.f = present ? value : nullptr;
}

}  // namespace

void ApplyFluorescenceCorrections(CLammIdeal& L) {
  const FdsSignalParams& p = Fds();
  if (p.useRadialGradient) L.SetStretchFactor(true, p.radialGradient);
  if (p.useDrift)
    L.SetTimeShiftOptions(true, p.useLinearDrift != 0, p.linearDrift, p.useExponentialDrift != 0, p.driftRate,
                          p.limitingLevel);
  if (p.useShadow) L.SetSecondCoefficient(true, p.coneRadius);
  if (p.useConvolution) L.SetRadialConvolution(true, p.convolutionWidth, p.convolutionCutoff);
}

void ProvideFluorescenceFitOptions(FitOptionEntries& e) {
  FdsSignalParams& p = CurrentFdsSignalParams();
  const bool exponential = p.useDrift && p.useExponentialDrift;
  const bool linear = p.useDrift && p.useLinearDrift;
  Float(e, kFitOptionConeRadius, p.useShadow && p.fitConeRadius, &p.coneRadius);
  Float(e, kFitOptionPhotophysicsRate, exponential && p.fitDriftRate, &p.driftRate);
  Float(e, kFitOptionLimitingLevel, exponential && p.fitLimitingLevel, &p.limitingLevel);
  Float(e, kFitOptionLinearDrift, linear && p.fitLinearDrift, &p.linearDrift);
  Float(e, kFitOptionConvolutionWidth, p.useConvolution && p.fitConvolutionWidth, &p.convolutionWidth);
  Float(e, kFitOptionMagnificationGradient, p.useRadialGradient && p.fitRadialGradient, &p.radialGradient);
  Float(e, kFitOptionNonlinearPower, p.useNonlinearDetection && p.fitDetectionPower, &p.detectionPower);
  Float(e, kFitOptionDepletionS, p.useDepletion && p.fitDepletionS, &p.depletionS);
  Float(e, kFitOptionDepletionD, p.useDepletion && p.fitDepletionD, &p.depletionD);
  Float(e, kFitOptionDepletionAmplitude, p.useDepletion && p.fitDepletionAmplitude, &p.depletionAmplitude);
  Float(e, kFitOptionDepletionKs, p.useDepletion && p.fitDepletionKs, &p.depletionLogKs);
}

void FillFluorescenceReportInputs(FitReportInputs& in) {
  const FdsSignalParams& p = Fds();
  FitReportInputs::Fluorescence& f = in.fds;
  f.coneOn = p.useShadow != 0;
  f.coneFit = p.fitConeRadius != 0;
  f.cone = p.coneRadius;
  f.driftOn = p.useDrift != 0;
  f.bleachOn = p.useExponentialDrift != 0;
  f.bleachRateFit = p.fitDriftRate != 0;
  f.limitFit = p.fitLimitingLevel != 0;
  f.bleachRate = p.driftRate;
  f.limit = p.limitingLevel;
  f.linearDriftOn = p.useLinearDrift != 0;
  f.linearDriftFit = p.fitLinearDrift != 0;
  f.linearDrift = p.linearDrift;
  f.convolutionOn = p.useConvolution != 0;
  f.convolutionFit = p.fitConvolutionWidth != 0;
  f.convolution = p.convolutionWidth;
  f.magnificationOn = p.useRadialGradient != 0;
  f.magnificationFit = p.fitRadialGradient != 0;
  f.magnification = p.radialGradient;
  f.nonlinearOn = p.useNonlinearDetection != 0;
  f.nonlinearFit = p.fitDetectionPower != 0;
  f.showingTransformed = p.showTransformed != 0;
  f.nonlinearCoefficient = p.detectionPower;
  f.nonlinearBaseline = p.detectionBaseline;
  f.depletionOn = p.useDepletion != 0;
  f.depletionSFit = p.fitDepletionS != 0;
  f.depletionDFit = p.fitDepletionD != 0;
  f.depletionAmplitudeFit = p.fitDepletionAmplitude != 0;
  f.depletionKsFit = p.fitDepletionKs != 0;
  f.depletionS = p.depletionS;
  f.depletionD = p.depletionD;
  f.depletionAmplitude = p.depletionAmplitude;
  f.depletionLgKs = p.depletionLogKs;
}
