#include "distributions/conti_fit_display.h"

#include <cstdarg>
#include <cstdio>

#include "data/fluorescence_corrections.h"
#include "data/scan_set.h"
#include "distributions/conti_fit_vector.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/distribution_transforms.h"
#include "distributions/normal_equations.h"
#include "distributions/work_blocks.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_vector.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/coefficients/nonideal_coefficients.h"
#include "platform/diagnostics.h"
#include "platform/program_paths.h"

ContiFitDisplayHooks& ContiFitDisplay() {
  static ContiFitDisplayHooks hooks;
  return hooks;
}

namespace {

std::string Format(const char* format, ...) {
  char buffer[400];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

std::string ModelLine() {
  const ModelSelectorFlags& f = gModelSelectorFlags;
  const ContiSettings& cs = Conti();
  const float* P = gModelParameterVector.P;
  if (f.AnyCsff0Model())
    return Format("ff0 min = %f, ff0 max = %f, nff0 = %.0f        ", cs.ffMin, cs.ffMax,
                  cs.ffResolution);
  if (f.LammDiscreteModel || f.LsgStarModel || f.LsgStarWith1DiscreteModel) return "";
  std::string line;
  if (f.CSInvariantDModel) {
    line = Format("D = %f        ", cs.invariantD);
  } else if (f.ElectrophoresisCVModel) {
    line = Format("D = %f        ", cs.constantD);
  } else if (cs.constantDSwitch && f.CMInvariantDModel) {
    line = Format("D = %f        ", cs.ffValue);
  } else if (f.AnyBimodalCsModel()) {
    line = Format("frict ratio = %f, except when s is within [%.2f,%.2f]: ff0 = %f", cs.ffValue,
                  cs.secondFfSMin, cs.secondFfSMax, cs.secondFf);
  } else if (f.NonidealCSModel) {
    if (!f.NonidealCSVariant)
      line = Format("frict ratio = %f, log10ks = %f, log10kd = %f        ", cs.ffValue, P[20], P[21]);
    else if (StickyHardSphereFlag)
      line = Format("frict ratio = %f, volume correction factor = %f, Baxter temperature = %f        ",
                    cs.ffValue, P[20], P[21]);
    else
      line = Format("frict ratio = %f, volume correction factor = %f                ", cs.ffValue, P[20]);
  } else if (f.WormlikeChainCSModel) {
    line = Format(
        "persistence length = %.2f nm, dehydr. cross-section = %.2f nm^2, Monomer Mw = %.0f Da, "
        "hydration = %.2f, vbar = %.4f     ",
        cs.wormPersistenceLength, cs.wormCrossSection, cs.wormMonomerMass, cs.wormHydration,
        gSolutionConditions.vbar);
  } else if (f.GeneralScalingLawCSModel || f.FMScalingLawModel) {
    line = Format("Ks = %.3e 1/S, bs = %.3f          ", cs.scalingKs, cs.scalingBs);
  } else if (f.FixFF0FloatingVbarCSModel) {
    line = Format("frict ratio = %f, vbar = %.4f        ", cs.ffValue, gSolutionConditions.vbar);
  } else {
    line = Format("frict ratio = %f        ", cs.ffValue);
  }
  if (f.CSWithMsTableModel) line = Format("M(s) as in %s", platform::ProgramPaths.MofsTablePath.c_str());
  return line;
}

std::string ComponentLine() {
  const ModelSelectorFlags& f = gModelSelectorFlags;
  const ContiSettings& cs = Conti();
  const float* P = gModelParameterVector.P;
  if (f.CSWith1DiscreteModel && !f.CSWith1DiscreteComponent)
    return Format("discrete component s = %.3f, D = %.3f", cs.discreteS, cs.discreteD);
  if (ContiFitDisplay().bufferComponentLine) {
    const std::string buffer = ContiFitDisplay().bufferComponentLine();
    if (!buffer.empty()) return buffer;
  }
  const bool discrete = f.BimodalFF0With1DiscreteCSModel || f.CSWith1DiscreteModel ||
                        f.CSWith1DiscreteComponent || f.CSWithMsTableModel || f.NonidealCSModel ||
                        (f.HybridCSLsgModel && cs.hybridDiscrete) || f.LsgStarWith1DiscreteModel;
  if (!discrete) return "";
  if (!f.NonidealCSModel)
    return Format("discrete component s = %.3f, M = %.3f", cs.discreteS, cs.discreteM);
  if (f.NonidealCSVariant && StickyHardSphereFlag)
    return Format("discrete component s = %.3f, M = %.3f, volume correction fact = %.3f, Baxter temperature = %.3f",
                  cs.discreteS, cs.discreteM, P[20], P[21]);
  if (f.NonidealCSVariant)
    return Format("discrete component s = %.3f, M = %.3f, volume correction fact = %.3f",
                  cs.discreteS, cs.discreteM, P[20]);
  return Format("discrete component s = %.3f, M = %.3f, log(ks) = %.3f, log(kD) = %.3f",
                cs.discreteS, cs.discreteM, P[20], P[21]);
}

std::string VbarLine() {
  const float vbar = gSolutionConditions.vbar;
  float apparent = 0.0f;
  const bool apparentMode = ContiFitDisplay().apparentVbar && ContiFitDisplay().apparentVbar(&apparent);
  const bool fitted = CurrentFitOptions().entry[kFitOptionVbar].present;
  if (!fitted)
    return apparentMode ? Format("vbar = %.4f (fix), apparent vbar = %.4f (fix)", vbar, apparent)
                        : Format("vbar = %.4f (fix)", vbar);
  return apparentMode ? Format("vbar = %.4f (fix), apparent vbar = %.4f (floating)", vbar, apparent)
                      : Format("vbar = %.4f (floating)", vbar);
}

// The fluorescence signal corrections in use, each with its value and
// whether the fit floats it.
std::string SignalCorrectionLine() {
  const FdsSignalParams& p = CurrentFdsSignalParams();
  std::string s;
  auto piece = [&s](bool floating, const char* floated, const char* fixed, double value) {
    s += Format(floating ? floated : fixed, value);
  };
  if (p.useShadow)
    piece(p.fitConeRadius, " - excit. cone = %.4f (floating)", " - excit. cone = %.4f (fix)", p.coneRadius);
  if (p.useDrift && p.useExponentialDrift) {
    piece(p.fitDriftRate, " - kbleach = %.4f 1/h (floating)", " - kbleach = %.4f 1/h (fix)", p.driftRate);
    piece(p.fitLimitingLevel, " - Alim = %.4f %% (floating)", " - Alim = %.4f %% (fix)",
          100.0 * p.limitingLevel);
  }
  if (p.useDrift && p.useLinearDrift)
    piece(p.fitLinearDrift, " - drift = %.3f %%/h (floating)", " - drift = %.3f %%/h (fix)",
          100.0 * p.linearDrift);
  if (p.useConvolution)
    s += p.fitConvolutionWidth ? Format(" - w convolution %.4f (floating)", p.convolutionWidth)
                               : std::string(" - w convolution (fix)");
  if (p.useRadialGradient)
    piece(p.fitRadialGradient, " - radial mag factor = %.4f (floating)", " - radial mag factor = %.4f (fix)",
          p.radialGradient);
  if (p.useNonlinearDetection) {
    s += Format(p.fitDetectionPower ? " - nonlin coeff = %.4f (floating), nonlin baseline = %f"
                                    : " - nonlin coeff = %.4f (fix), nonlin baseline = %f",
                p.detectionPower, p.detectionBaseline);
    s += p.showTransformed ? " [showing transformed]" : " [showing non-transformed]";
  }
  if (p.useDepletion) {
    piece(p.fitDepletionS, " - JO-s = %.4f (float)", " - JO-s = %.4f (fix)", p.depletionS);
    piece(p.fitDepletionD, " - JO-D = %.4f (float)", " - JO-D = %.4f (fix)", p.depletionD * 1e7);
    piece(p.fitDepletionAmplitude, " - JO-amp = %.4f (float)", " - JO-amp = %.4f (fix)", p.depletionAmplitude);
  }
  return s;
}

// The displayed distribution follows the solution of the best evaluation.
void RefreshDistribution(FitHost* host) {
  FitEngineState& fs = gFitEngineState;
  fs.startRmsdCopy = fs.currentRmsd;
  CalculateppAFit();
  if (!CopySolutionToDistribution()) return;
  RebuildDistributionCurves();
  RedrawDistributionPlot();
  if (host) host->RedrawFitProgress();
}

}  // namespace

std::array<std::string, 8> ComposeContiFitLines() {
  const FitEngineState& fs = gFitEngineState;
  const ModelSelectorFlags& f = gModelSelectorFlags;
  const float* P = gModelParameterVector.P;
  std::array<std::string, 8> lines;
  if (fs.useMarquardt)
    lines[0] = Format("sim #%d, ML step #%d, step #%d         ", fs.evaluationsTotal,
                      fs.minimiserRuns, fs.evaluationsThisRun);
  else if (fs.useAnnealing)
    lines[0] = Format("sim #%d, SA step #%d, step #%d, T=%.3f        ", fs.evaluationsTotal,
                      fs.minimiserRuns, fs.evaluationsThisRun, fs.annealTemperature);
  else
    lines[0] = Format("s%d, step #%d        ", fs.minimiserRuns, fs.evaluationsThisRun);
  lines[1] = Format("rmsd=%e             ", fs.currentRmsd);
  lines[2] = ModelLine();
  const bool zone = f.ZoneCentrifugationModel || f.ZoneCentrifugationCSModel ||
                    f.ZoneCentrifugationLsgModel;
  lines[3] = zone ? Format("Lamella thickness = %f             ", P[23])
                  : Format("Bottom = %f             ", P[14]);
  lines[4] = Format("Meniscus = %f           ", P[13]);
  // Light-scattering data have no cell: their log time axis ends there.
  if (CurrentDataTypeFlags().dls) lines[3] = lines[4] = "";
  lines[5] = ComponentLine();
  lines[6] = VbarLine();
  lines[7] = SignalCorrectionLine();
  return lines;
}

void DisplayBestContiParams(FitHost* host) {
  const FitEngineState& fs = gFitEngineState;
  platform::WriteDiagnostics("\nStarting DisplayBestContiParams");
  if (fs.currentRmsd < fs.startRmsd && fs.currentRmsd < fs.startRmsdCopy) RefreshDistribution(host);
  const std::array<std::string, 8> lines = ComposeContiFitLines();
  if (host && host->DrawingEnabled())
    for (int k = 0; k < 8; ++k) host->DrawText(10, 70 + 20 * k, lines[k]);
  platform::WriteDiagnostics(" --> DONE");
}

void ShowBestContiVertex(FitHost* host, float* vertex) {
  ContiFitVectorToParameters(vertex, host);
  DisplayBestContiParams(host);
}
