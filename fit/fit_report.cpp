#include "fit/fit_report.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/rmsd.h"
#include "fit/fit_end.h"
#include "fit/fit_host.h"
#include "fit/fit_vector.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/simulation_switches.h"
#include "lamm/lamm_settings.h"

unsigned char gFitReportSuppressed = 0;

namespace {

FitInfoLines gLastLines;

// printf-style append to a growing string; no fixed-size line buffer.
void Appendf(std::string& s, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Appendf(std::string& s, const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) {
    va_end(copy);
    return;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    s.append(small, static_cast<size_t>(n));
  } else {
    const size_t old = s.size();
    s.resize(old + static_cast<size_t>(n) + 1);
    std::vsnprintf(&s[old], static_cast<size_t>(n) + 1, format, copy);
    s.resize(old + static_cast<size_t>(n));
  }
  va_end(copy);
}

const char* FlTag(bool fitted) { return fitted ? "(fl)" : ""; }

bool InAreaOrLsgMode() {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  return sel.SedTransformModel || sel.LsgExtrapolationModel || sel.LsgStarModel ||
         sel.LsgStarWith1DiscreteModel;
}

// The c(s) variants clear the plain c(s) switch when they are chosen, yet
// report with the family's regularisation and hydrodynamic lines.
bool CsVariantChosen(const ModelSelectorFlags& sel) {
  return sel.NonidealCSModel || sel.CSWith1DiscreteModel || sel.CSWith1DiscreteComponent ||
         sel.CSWithMsTableModel || sel.CSInvariantDModel || sel.CSModel521 || sel.ConformationalChangeCSModel ||
         sel.AnyBimodalCsModel() || sel.WormlikeChainCSModel ||
         sel.GeneralScalingLawCSModel || sel.FixFF0FloatingVbarCSModel || sel.HybridCSLsgModel;
}

bool EquilibriumMode() {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  return CurrentScanSet().equilibriumMode || sel.EquilibriumModel284 || sel.EquilibriumModel523;
}

std::string BufferLine(const FitReportInputs::Buffer& b) {
  std::string s;
  const bool mass = gFitEngineState.molarMassParameters != 0;
  Appendf(s, "buffer: %.3f", b.modeSwitch ? b.signal : -1.0 * b.signal);
  s += FlTag(b.signalFit);
  Appendf(s, ", D=%.2f", b.d);
  s += FlTag(b.sizeFit && !mass);
  Appendf(s, ", s=%.4f", b.s);
  s += FlTag(b.sFit);
  Appendf(s, ", Mb=%.1f", b.mb);
  s += FlTag(b.sizeFit && mass);
  if (b.meniscusMismatch || b.reference) {
    Appendf(s, ", meniscus diff (s-r)=%.4f", b.meniscusDifference);
    s += FlTag(b.meniscusDifferenceFit);
    Appendf(s, ", conc. ratio (s/r)=%.3f", b.concentrationRatio);
    s += FlTag(b.concentrationRatioFit);
  }
  if (b.reference) {
    Appendf(s, ", refD=%.2f", b.refD);
    s += FlTag(b.refSizeFit && !mass);
    Appendf(s, ", refs=%.4f", b.refS);
    s += FlTag(b.refSFit);
    Appendf(s, ", refMb=%.2f", b.refMb);
    s += FlTag(b.refSizeFit && mass);
  }
  return s;
}

std::string VbarLine(const FitReportInputs::Solvent& sv) {
  std::string s;
  const float vbar = gSolutionConditions.vbar;
  if (gFitEngineState.fitVbar && sv.inhomogeneous) {
    if (sv.apparentVbarOn)
      Appendf(s, "vbar = %.4f (fix), apparent vbar = %.4f (floating)", vbar, sv.apparentVbar);
    else
      Appendf(s, "vbar = %.4f (floating)", vbar);
  } else if (sv.apparentVbarOn) {
    Appendf(s, "vbar = %.4f (fix), apparent vbar = %.4f (fix)", vbar, sv.apparentVbar);
  } else {
    Appendf(s, "vbar = %.4f (fix)", vbar);
  }
  return s;
}

// Fluorescence-detection fragments; the printout uses two texts of its own.
void AppendFluorescence(std::string& s, const FitReportInputs::Fluorescence& f, bool print) {
  if (f.coneOn) {
    if (print)
      Appendf(s, f.coneFit ? " - excit. cone %.4f (floating)" : " - excit. cone %.4f (fix)", f.cone);
    else
      Appendf(s, f.coneFit ? " - excit. cone = %.4f (floating)" : " - excit. cone = %.4f (fix)", f.cone);
  }
  if (f.wienerOn)
    Appendf(s, f.wienerFit ? " W-skew = %.4f (floating)" : " W-skew = %.4f (fix)", f.wienerMagnitude);
  if (f.driftOn && f.bleachOn) {
    Appendf(s, f.bleachRateFit ? " - kbleach = %.4f 1/h (floating)" : " - kbleach = %.4f 1/h (fix)",
            f.bleachRate);
    Appendf(s, f.limitFit ? " - Alim = %.4f %% (floating)" : " - Alim = %.4f %% (fix)", 100.0 * f.limit);
  }
  if (f.driftOn && f.linearDriftOn)
    Appendf(s, f.linearDriftFit ? " - drift = %.3f %%/h (floating)" : " - drift = %.3f %%/h (fix)",
            100.0 * f.linearDrift);
  if (f.convolutionOn) {
    if (print)
      Appendf(s, f.convolutionFit ? " - convolution = %.4f (floating)" : " - convolution = %.4f (fix)",
              f.convolution);
    else
      Appendf(s, f.convolutionFit ? " - convolution %.4f (floating)" : " - convolution %.4f (fix)",
              f.convolution);
  }
  if (f.magnificationOn)
    Appendf(s, f.magnificationFit ? " - radial mag factor = %.4f (floating)" : " - radial mag factor = %.4f (fix)",
            f.magnification);
  if (f.nonlinearOn) {
    Appendf(s,
            f.nonlinearFit ? " - nonlin coeff = %.4f (floating), nonlin baseline = %f"
                           : " - nonlin coeff = %.4f (fix), nonlin baseline = %f",
            f.nonlinearCoefficient, f.nonlinearBaseline);
    s += f.showingTransformed ? " [showing transformed]" : " [showing non-transformed]";
  }
  if (f.depletionOn) {
    Appendf(s, f.depletionSFit ? " - JO-s = %.4f (float)" : " - JO-s = %.4f (fix)", f.depletionS);
    Appendf(s, f.depletionDFit ? " - JO-D = %.4f (float)" : " - JO-D = %.4f (fix)", f.depletionD * 1e7);
    Appendf(s, f.depletionAmplitudeFit ? " - JO-amp = %.4f (float)" : " - JO-amp = %.4f (fix)",
            f.depletionAmplitude);
    Appendf(s, f.depletionKsFit ? " - JO-Ks = %.4f (float)" : " - JO-Ks = %.4f (fix)",
            std::pow(10.0, f.depletionLgKs));
  }
}

// "fitting files a to b" with the speed and scanner clauses; empty without scans.
std::string FilesClause(bool withResolution) {
  const ScanSet& ss = CurrentScanSet();
  std::string s;
  if (ss.count < 1) return s;
  const std::string& first = ss.fileNames[ss.order[1]];
  const std::string& last = ss.fileNames[ss.order[ss.count]];
  if (CurrentDataTypeFlags().dls)
    Appendf(s, "fitting file %s", first.c_str());
  else if (withResolution && ss.radialResolution != 0.001f)
    Appendf(s, "fitting files %s to %s, radial resolution %.4f cm", first.c_str(), last.c_str(),
            ss.radialResolution);
  else
    Appendf(s, "fitting files %s to %s", first.c_str(), last.c_str());
  return s;
}

void AppendSpeedClause(std::string& s, const FitReportInputs& in) {
  if (in.speedProfileInUse)
    s += " with speedsteps";
  else if (!LammSettings().rampRotorSpeed)
    s += " with effective sedimentation time";
}

void ProgressLine(std::string& s, bool print) {
  const FitEngineState& fs = gFitEngineState;
  if (print) {
    Appendf(s, "s%d, step #%d     ", fs.minimiserRuns, fs.evaluationsThisRun);
    return;
  }
  // No fit has counted a step since the last Run: no counter to show.
  if (fs.minimiserRuns == 0 && fs.evaluationsThisRun == 0 && fs.evaluationsTotal == 0) return;
  const bool staticGrid = gSimulationSwitches.staticGridSolverRan != 0;
  if (fs.useMarquardt)
    Appendf(s, "sim #%d, ML step #%d, step #%d%s", fs.evaluationsTotal, fs.minimiserRuns,
            fs.evaluationsThisRun, staticGrid ? "        " : "     ");
  else if (fs.useAnnealing)
    Appendf(s, "sim #%d, SA step #%d, step#%d, T=%.3f%s", fs.evaluationsTotal, fs.minimiserRuns,
            fs.evaluationsThisRun, fs.annealTemperature, staticGrid ? "      " : "     ");
  else
    Appendf(s, "s%d, step #%d%s", fs.minimiserRuns, fs.evaluationsThisRun, "     ");
}

void RmsdLine(std::string& s) {
  const FitEngineState& fs = gFitEngineState;
  Appendf(s, "rmsd=%f (n=%.0f,SSR=%f)", fs.currentRmsd, fs.rmsdPointCount,
          RmsdSquareSum());
}

const char* SpeciesCaption() {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  if (gFitEngineState.molarMassParameters) return "M = ";
  if (sel.DlsStokesRadiiModel) return "R(nm) = ";
  if (sel.DlsCumulantModel) return "D or mu = ";
  return "D*10e7 = ";
}

// A fitted species size or s that ended at the end of its physical range.
void AppendSpeciesAtLimit(std::string& s, int k) {
  const ModelParameterVector& v = gModelParameterVector;
  float low = 0, high = 0;
  if (!v.F[k] || !SpeciesFitLimits(k, v.P[k <= 4 ? k + 4 : k], &low, &high)) return;
  if (v.P[k] == high)
    Appendf(s, "(at its upper fit limit %.5g) ", static_cast<double>(high));
  else if (v.P[k] == low && low != 0.0f)
    Appendf(s, "(at its lower fit limit %.5g) ", static_cast<double>(low));
}

// Family a): the species table of the discrete-species models (lines 4-6).
void DiscreteSpeciesLines(std::string& l4, std::string& l5, std::string& l6, bool bufferOn) {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  const ModelParams& mp = gModelParams;
  const float* P = gModelParameterVector.P;
  const bool cumulant = sel.DlsCumulantModel != 0;
  const bool concDependent = sel.ConcDependentSolverSwitch != 0;
  const AssociationModelParams& as = gAssociationModelParams;
  for (int i = 1; i <= 4; ++i) {
    if (!cumulant && !mp.included[i]) continue;
    if (i == 1 && concDependent)
      Appendf(l4, "%.3f (log10(kd) = %.3f)| ", P[1], as.logKd);
    else if (cumulant)
      Appendf(l4, "%.3e | ", P[i]);
    else {
      Appendf(l4, "%.3f ", P[i]);
      AppendSpeciesAtLimit(l4, i);
      l4 += "| ";
    }
  }
  if (cumulant) {
    Appendf(l5, "mu2/(mu1^2) (polydispersity) = %.3f", P[2] / (P[1] * P[1]));
  } else if (!CurrentDataTypeFlags().dls) {
    // Light scattering sees no sedimentation: its species have no s.
    l5 += "s = ";
    for (int i = 1; i <= 4; ++i) {
      if (!mp.included[i]) continue;
      if (i == 1 && concDependent)
        Appendf(l5, "%.3f (log10(ks) = %.3f)| ", P[5], as.logKs);
      else {
        Appendf(l5, "%.3f ", P[4 + i]);
        AppendSpeciesAtLimit(l5, 4 + i);
        l5 += "| ";
      }
    }
  }
  l6 += "c = ";
  for (int i = 1; i <= 4; ++i) {
    if (!(cumulant || mp.included[i])) continue;
    if (i == 4 && bufferOn) continue;
    Appendf(l6, "%.3f | ", P[8 + i]);
  }
  l6 += "(first is total, next are fractions)";
}

// The nonideal models' s0 where a fit ended at an end of its range.
void AppendNonidealSAtLimit(std::string& s) {
  const float* P = gModelParameterVector.P;
  float low = 0, high = 0;
  if (!gModelParameterVector.F[5] || !NonidealSLimits(5, &low, &high)) return;
  if (P[5] >= high)
    Appendf(s, " (at its upper fit limit %.5g)", static_cast<double>(high));
  else if (P[5] <= low)
    Appendf(s, " (at its lower fit limit %.5g)", static_cast<double>(low));
}

void NonidealMultipleLines(FitInfoLines& out, const FitReportInputs& in) {
  const float* P = gModelParameterVector.P;
  const bool two = P[27] > 0.0f, three = P[31] > 0.0f;
  for (int k = 4; k <= 6; ++k) out.line[k].clear();
  // A fitted D0 that ended at an end of its range says so.
  auto appendD = [&](const char* format, int k) {
    Appendf(out.line[4], format, P[k]);
    float low = 0, high = 0;
    if (!gModelParameterVector.F[k] || !NonidealDiffusionLimits(k, &low, &high)) return;
    if (P[k] >= high)
      Appendf(out.line[4], " (at its upper fit limit %.5g)", static_cast<double>(high));
    else if (P[k] <= low)
      Appendf(out.line[4], " (at its lower fit limit %.5g)", static_cast<double>(low));
  };
  appendD("D1 = %.3f", 1);
  if (two) appendD(" | D2 = %.3f", 29);
  if (three) appendD(" | D3 = %.3f", 33);
  Appendf(out.line[5], "s1 = %.3f", P[5]);
  AppendNonidealSAtLimit(out.line[5]);
  if (two) Appendf(out.line[5], " | s2 = %.3f", P[28]);
  if (three) Appendf(out.line[5], " | s3 = %.3f", P[32]);
  Appendf(out.line[6], "c1 = %.3f", P[9]);
  if (two) Appendf(out.line[6], " | c2 = %.3f", P[27]);
  if (three) Appendf(out.line[6], " | c3 = %.3f", P[31]);
  const double lgks = P[10], lgkd = P[11];
  const double signal = CurrentScanSet().signalPerConcentration;
  out.line[11].clear();
  if (in.nonideal.ksRepulsive && in.nonideal.kdRepulsive)
    Appendf(out.line[11],
            "non-ideality with repulsive ks = %.3e (log10 = %.3f), repulsive kD = %.3e (log10 = %.3f)/(mg/ml), "
            "with (mass signal)/(mg/ml) = %.3f",
            std::pow(10.0, lgks), lgks, std::pow(10.0, lgkd), lgkd, signal);
  else if (in.nonideal.ksRepulsive && !in.nonideal.kdRepulsive)
    Appendf(out.line[11],
            "non-ideality with repulsive ks = %.3e (log10 = %.3f), attractive kD = -%.3e (log10 = %.3f)/(mg/ml), "
            "with %.3f mass signal/(mg/ml)",
            std::pow(10.0, lgks), lgks, std::pow(10.0, lgkd), lgkd, signal);
  else if (!in.nonideal.ksRepulsive && !in.nonideal.kdRepulsive)
    Appendf(out.line[11],
            "non-ideality with attractive ks = -%.3e (log10 = %.3f), attractive kD = -%.3e (log10 = %.3f)/(mg/ml), "
            "with %.3f mass signal/(mg/ml)",
            std::pow(10.0, lgks), lgks, std::pow(10.0, lgkd), lgkd, signal);
  // A fitted term that ended at an end of its range (ks c or kd c at the
  // loading): at the upper one a minimum may lie beyond.
  for (int k : {10, 11}) {
    float low = 0, high = 0;
    if (!gModelParameterVector.F[k] || !NonidealTermLimits(k, &low, &high)) continue;
    const char* name = k == 10 ? "log10(ks)" : "log10(kd)";
    if (P[k] >= high)
      Appendf(out.line[11], " | %s at its upper fit limit %.3f", name, static_cast<double>(high));
    else if (P[k] <= low)
      Appendf(out.line[11], " | %s at its lower fit limit %.3f", name, static_cast<double>(low));
  }
  if (in.nonideal.syntheticBoundary) {
    out.line[13].clear();
    Appendf(out.line[13], "synthetic boundary at %.3f cm, overlay conc1 fraction = %.3f", P[25], P[26]);
    if (two) Appendf(out.line[13], " | conc2 fraction = %.3f", P[30]);
    if (three) Appendf(out.line[13], " | conc3 fraction = %.3f", P[34]);
  }
}

// Families c) to e) write their own lines 4-6 in place of the species table.
void SelfAssociationLines(std::string& l4, std::string& l5, std::string& l6) {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  const float* P = gModelParameterVector.P;
  if (!sel.AnySelfAssociationModel()) return;
  l4.clear();
  l5.clear();
  l6.clear();
  if (sel.MonomerDimerModel || sel.MonomerTrimerModel) {
    Appendf(l4, gFitEngineState.molarMassParameters ? "M1 = %.3f, M2 = %.3f" : "D1 = %.3f, D2 = %.3f", P[1],
            P[2]);
    Appendf(l5, "s1 = %.3f, s2 = %.3f", P[5], P[6]);
    Appendf(l6, "c=%.3f,lgK=%.3f", P[11], P[3]);
  } else if (sel.MonomerTetramerOctamerModel) {
    Appendf(l4, "M1 = %.0f, M4 = %.0f, M8 = %.0f", P[1], P[2], P[12]);
    Appendf(l5, "s1 = %.3f, s4 = %.3f, s8 = %.3f", P[5], P[6], P[8]);
    Appendf(l6, "c=%.3f,lgK14=%.3f, lgK18=%.3f", P[11], P[3], P[7]);
  } else if (sel.MonomerDimerTetramerModel) {
    Appendf(l4, "M1 = %.0f, M2 = %.0f, M4 = %.0f", P[1], P[2], P[12]);
    Appendf(l5, "s1 = %.3f, s2 = %.3f, s4 = %.3f", P[5], P[6], P[8]);
    Appendf(l6, "c=%.3f,lgK12=%.3f, lgK14=%.3f", P[11], P[3], P[7]);
  }
}

void NonidealSingleLines(FitInfoLines& out, const FitReportInputs& in) {
  const float* P = gModelParameterVector.P;
  const FitReportInputs::Nonideal& n = in.nonideal;
  for (int k = 4; k <= 6; ++k) out.line[k].clear();
  Appendf(out.line[4], "s = %.3f", P[5]);
  AppendNonidealSAtLimit(out.line[4]);
  Appendf(out.line[4], ", D = %.3f", n.D);
  float low = 0, high = 0;
  if (gModelParameterVector.F[1] && NonidealDiffusionLimits(1, &low, &high)) {
    if (P[1] >= high)
      Appendf(out.line[4], " (at its upper fit limit %.5g)", static_cast<double>(high));
    else if (P[1] <= low)
      Appendf(out.line[4], " (at its lower fit limit %.5g)", static_cast<double>(low));
  }
  Appendf(out.line[4], ", implies M= %.1f, ff0 = %.3f", n.impliedM, n.impliedFf0);
  // No particle has less friction than the sphere of its mass: a fit that
  // ended there (stopped, or run into it) is said to be off.
  if (n.impliedFf0 < 1.0f) out.line[4] += " (below 1: not physical)";
  out.line[4] += "                                    ";
  if (n.hardSphere) {
    if (n.sticky)
      Appendf(out.line[5],
              "sticky hard sphere vol.corr. %.3f, Baxter t=%.3f (red.B2=%.3f), ks(1mgml)=%.2f, ks(max)=%.2f, "
              "kd(1mgml)=%.2f, kd(max)=%.2f (all ml/g)",
              P[10], P[11], n.reducedB2, n.ks1, n.ksLoad, n.kd1, n.kdLoad);
    else
      Appendf(out.line[5],
              "hard sphere vol.corr. %.3f, ks(1mgml)=%.2f, ks(max)=%.2f, kd(1mgml)=%.2f, kd(max)=%.2f (all ml/g)",
              P[10], n.ks1, n.ksLoad, n.kd1, n.kdLoad);
  } else {
    Appendf(out.line[5], "log10(ks) = %.3f, log10(kd) = %.3f", P[10], P[11]);
    // A fitted term that ended at an end of its range (ks c or kd c at the
    // loading).
    for (int k : {10, 11}) {
      if (!gModelParameterVector.F[k] || !NonidealTermLimits(k, &low, &high)) continue;
      const char* name = k == 10 ? "log10(ks)" : "log10(kd)";
      if (P[k] >= high)
        Appendf(out.line[5], " | %s at its upper fit limit %.3f", name, static_cast<double>(high));
      else if (P[k] <= low)
        Appendf(out.line[5], " | %s at its lower fit limit %.3f", name, static_cast<double>(low));
    }
  }
  Appendf(out.line[6], "c=%.3f (vol fract %.2f%%)", P[9], 100.0 * n.volumeFraction);
}

void ContinuousLine5(std::string& l5, const FitReportInputs::Conti& c) {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  if (sel.CSInvariantDModel) {
    Appendf(l5, "D = %f        ", c.invariantD);
  } else if (sel.ElectrophoresisCVModel || sel.CMInvariantDModel) {
    Appendf(l5, "D = %f        ", c.ffValue);
  } else if (sel.AnyBimodalCsModel()) {
    Appendf(l5, "frict ratio = %f, except when s is within [%.2f,%.2f]: ff0 = %f", c.ffValue, c.secondSMin,
            c.secondSMax, c.secondFf);
  } else if (sel.NonidealCSModel) {
    if (c.nonidealHardSphere && c.nonidealSticky)
      Appendf(l5,
              "frict ratio = %f, sticky hard sphere vol.corr. %.3f, Baxter t=%.3f (red.B2(0)=%.3f), "
              "ks(1mgml)=%.2f, ks(100)=%.2f, kd(1mgml)=%.2f, kd(100)=%.2f (all ml/g)",
              c.ffValue, c.nonidealVolumeCorrection, c.nonidealBaxterT, c.nonidealReducedB2, c.ks1, c.ks100,
              c.kd1, c.kd100);
    else if (c.nonidealHardSphere)
      Appendf(l5,
              "frict ratio = %f, hard sphere vol.corr. %.3f, ks(1mgml)=%.2f, ks(100)=%.2f, kd(1mgml)=%.2f, "
              "kd(100)=%.2f (all ml/g)",
              c.ffValue, c.nonidealVolumeCorrection, c.ks1, c.ks100, c.kd1, c.kd100);
    else
      Appendf(l5, "frict ratio = %f, log10ks = %f, log10kd = %f        ", c.ffValue, c.logKs, c.logKd);
  } else if (sel.AnyCsff0Model()) {
    Appendf(l5, "s min = %f, s max = %f, #s-values = %d        ", c.sMin, c.sMax, c.gridSize);
  } else if (sel.WormlikeChainCSModel) {
    Appendf(l5,
            "persistence length = %.2f nm, dehydr. cross-section = %.2f nm^2, Monomer Mw = %.0f Da, "
            "hydration = %.2f, vbar = %.4f     ",
            c.persistenceLength, c.crossSection, c.monomerMw, c.hydration, c.vbar);
  } else if (sel.GeneralScalingLawCSModel || sel.FMScalingLawModel) {
    Appendf(l5, "Ks = %.3e 1/S, bs = %.3f          ", c.scalingKs, c.scalingBs);
  } else if (sel.FixFF0FloatingVbarCSModel) {
    Appendf(l5, "frict ratio = %f, vbar = %.4f     ", c.ffValue, c.vbar);
  } else {
    Appendf(l5, "frict ratio = %f        ", c.ffValue);
    // Where a fit pressed it against the end of its range.
    if (c.ffCeiling > 0.0f && c.ffValue >= c.ffCeiling)
      Appendf(l5, "(at its upper limit %.2f)  ", static_cast<double>(c.ffCeiling));
    else if (c.ffFloor > 0.0f && c.ffValue <= c.ffFloor)
      Appendf(l5, "(at its lower limit %.2f)  ", static_cast<double>(c.ffFloor));
  }
  const bool discrete = sel.BimodalFF0With1DiscreteCSModel || (sel.HybridCSLsgModel && !c.hybridDiscreteOff) ||
                        sel.CSWith1DiscreteModel || sel.CSWith1DiscreteComponent ||
                        (sel.NonidealCSModel && c.nonidealExtraDiscrete) || sel.CSff0With1DiscreteModel;
  if (discrete && c.discreteByD)
    Appendf(l5, " - [s1 = %.3f, D1 = %.3f]", c.discreteS, c.discreteD);
  else if (discrete)
    Appendf(l5, " - [s1 = %.3f, M1 = %.3f]", c.discreteS, c.discreteM);
}

void ContinuousLine4(std::string& l4, const FitReportInputs::Conti& c) {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  if (sel.AnyCsff0Model()) {
    // The number of f/f0 values is a count.
    Appendf(l4, "ff0 min = %f, ff0 max = %f, nff0 = %.0f        ", c.ffMin, c.ffMax, c.ffResolution);
    return;
  }
  if (c.maxEnt || c.showBoth) {
    if (c.showBoth && c.priorOn)
      Appendf(l4, "ME(black) and TP(blue) regularization P = %.2f, with prior probability %s", c.confidenceLevel,
              c.priorFileName.c_str());
    else if (c.showBoth)
      Appendf(l4, "ME(black) and TP(blue) regularization P = %.2f", c.confidenceLevel);
    else if (c.priorOn)
      Appendf(l4, "ME regularization P = %.2f, with prior probability %s", c.confidenceLevel,
              c.priorFilePath.c_str());
    else
      Appendf(l4, "ME regularization P = %.2f", c.confidenceLevel);
  } else if (c.secondDerivative) {
    Appendf(l4, "Tikhonov regularization P = %.2f", c.confidenceLevel);
  }
}

// A fitted value that ended on one of its limits: the fit may have wanted
// to go further.
void AppendAtLimit(std::string& s, int slot, float low, float high) {
  const ModelParameterVector& v = gModelParameterVector;
  if (!v.F[slot]) return;
  if (v.P[slot] == high)
    Appendf(s, "(at its upper fit limit %.4f)  ", static_cast<double>(high));
  else if (v.P[slot] == low)
    Appendf(s, "(at its lower fit limit %.4f)  ", static_cast<double>(low));
}

}  // namespace

bool ComposeFitInfoLines(FitHost* host, FitInfoLines& out) {
  if (host && !host->DrawingEnabled()) return false;
  FitEngineState& fs = gFitEngineState;
  if (fs.currentRmsd < fs.startRmsd && fs.currentRmsd < fs.startRmsdCopy) {
    fs.startRmsdCopy = fs.currentRmsd;
    if (host) host->RedrawFitProgress();
  }
  for (std::string& l : out.line) l.clear();

  FitReportInputs in;
  if (host) host->FillFitReportInputs(in);
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  const ScanSet& ss = CurrentScanSet();
  const float* P = gModelParameterVector.P;
  const LammSolverSettings& lamm = LammSettings();

  if (in.buffer.on) out.line[14] = BufferLine(in.buffer);
  // Light scattering data take no partial-specific volume.
  if (!CurrentDataTypeFlags().dls) out.line[13] = VbarLine(in.solvent);
  AppendFluorescence(out.line[14], in.fds, false);

  std::string& l1 = out.line[1];
  if (ss.count < 1) {
    l1 = "no data loaded";
  } else {
    l1 = FilesClause(true);
    AppendSpeedClause(l1, in);
    if (CurrentDataTypeFlags().absorbance) {
      if (lamm.simulateTimeResolution && lamm.simulateRadialResolution)
        Appendf(l1, ", with scanner speed %.3f cm/min and radial res = %.4f cm", lamm.scanVelocity,
                lamm.convolutionRange);
      else if (lamm.simulateTimeResolution)
        Appendf(l1, ", with scanner speed %.3f cm/min ", lamm.scanVelocity);
      else if (lamm.simulateRadialResolution)
        Appendf(l1, ", with scanner radial res = %.4f cm", lamm.convolutionRange);
    }
  }
  if (in.solvent.inhomogeneous) l1 += " with inhomogeneous solvent model";

  // The mobility distribution reports as a member of the c(s) family.
  // The c(s) switch outlives the model reset: after a later discrete-species
  // or equilibrium choice it alone would put the regularisation text before
  // the species values and drop their caption.
  const bool csOn = sel.DistributionModel && (sel.CSModel || CsVariantChosen(sel));
  const bool csFamily = (csOn || sel.ElectrophoresisCVModel) && !InAreaOrLsgMode();
  if (ss.count >= 1) {
    ProgressLine(out.line[2], false);
    RmsdLine(out.line[3]);
    if (sel.AnyCsff0Model() || csFamily)
      ContinuousLine4(out.line[4], in.conti);
    else if (!csOn && !InAreaOrLsgMode())
      out.line[4] = SpeciesCaption();
  }

  if (sel.LammDiscreteModel) {
    DiscreteSpeciesLines(out.line[4], out.line[5], out.line[6], in.buffer.on);
  } else if (sel.NonidealMultipleSpeciesModel) {
    NonidealMultipleLines(out, in);
  } else if (sel.MonomerDimerModel || sel.MonomerTrimerModel || sel.MonomerTetramerOctamerModel ||
             sel.MonomerDimerTetramerModel) {
    SelfAssociationLines(out.line[4], out.line[5], out.line[6]);
  } else if (sel.NonidealSingleSpeciesModel) {
    NonidealSingleLines(out, in);
  } else if (EquilibriumMode()) {
    Appendf(out.line[4], "%.0f", P[1]);
    if (!fs.molarMassParameters) {
      out.line[5] = "s = ";
      Appendf(out.line[5], "%.3f | ", P[5]);
    }
  } else if (csFamily) {
    ContinuousLine5(out.line[5], in.conti);
  }

  // A species caption without species (a model of its own lines, or none
  // chosen) is no line.
  if (out.line[4] == SpeciesCaption()) out.line[4].clear();

  // Light-scattering data hold the ends of their log time axis where a cell
  // has meniscus and bottom: no line of a cell for them.
  const bool dls = CurrentDataTypeFlags().dls != 0;
  if (!dls) {
    Appendf(out.line[7], "Meniscus = %f  ", P[13]);
    AppendAtLimit(out.line[7], 13, fs.meniscusMin, fs.meniscusMax);
  }
  if (sel.ZoneCentrifugationModel) {
    Appendf(out.line[8], "Lamella thickness = %f  ", P[23]);
  } else if (!dls) {
    Appendf(out.line[8], "Bottom = %f  ", P[14]);
    AppendAtLimit(out.line[8], 14, fs.bottomMin, fs.bottomMax);
  }
  Appendf(out.line[10], "Baseline = %f  ", P[15]);
  if (in.fds.wienerOn)
    Appendf(out.line[10], " | Wiener skew with %.3e cm^2/(mg/ml) at %.3f signal/(mg/ml)  ", in.fds.wienerMagnitude,
            in.fds.wienerSignal);
  if (in.fitT0) {
    out.line[11].clear();
    Appendf(out.line[11], "t0 for simulation is at %f sec", P[24]);
  }
  Appendf(out.line[9], "fitting %1.4f - %1.4f", ss.leftFitLimit, ss.rightFitLimit);
  Appendf(out.line[12], "Runs test Z (#stddev) = %.2f, Residuals Histogram H = %.1f%%", in.runsZ, in.histogramH);
  return true;
}

void ComposeFitInfoText(FitHost* host) {
  FitInfoLines lines;
  if (!ComposeFitInfoLines(host, lines)) return;
  gLastLines = lines;
  DrawFitInfoLines(host, lines);
}

void DrawFitInfoLines(FitHost* host, const FitInfoLines& lines) {
  if (!host) return;
  host->PlaceReport(std::vector<std::string>(std::begin(lines.line), std::end(lines.line)));
  const bool line11 = gModelSelectorFlags.NonidealMultipleSpeciesModel || !lines.line[11].empty();
  for (int k = 1; k <= 14; ++k) {
    if (k == 11 && !line11) continue;
    host->DrawText(10, 10 + 20 * (k - 1), lines.line[k]);
  }
}

void ShowFitInfo(FitHost* host) {
  if (!gFitReportSuppressed) ComposeFitInfoText(host);
}

const FitInfoLines& LastFitInfoLines() { return gLastLines; }

bool ComposePrintFitInfoLines(FitHost* host, PrintFitInfoLines& out) {
  if (gModelSelectorFlags.NonidealMultipleSpeciesModel) return false;
  if (host && !host->DrawingEnabled()) return false;
  for (std::string& l : out.line) l.clear();
  FitReportInputs in;
  if (host) host->FillFitReportInputs(in);
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  const ScanSet& ss = CurrentScanSet();
  const float* P = gModelParameterVector.P;

  if (ss.count >= 1) {
    out.line[1] = FilesClause(false);
    AppendSpeedClause(out.line[1], in);
  }
  if (in.solvent.inhomogeneous) out.line[1] += " with inhomogeneous solvent model";
  ProgressLine(out.line[2], true);
  RmsdLine(out.line[3]);
  if (sel.LammDiscreteModel) {
    out.line[4] = gFitEngineState.molarMassParameters ? "M = "
                  : sel.DlsCumulantModel                ? "D or mu = "
                                                        : "D*10e7 = ";
    DiscreteSpeciesLines(out.line[4], out.line[5], out.line[6], in.buffer.on);
  } else {
    SelfAssociationLines(out.line[4], out.line[5], out.line[6]);
  }
  if (!CurrentDataTypeFlags().dls) {
    Appendf(out.line[7], "Meniscus = %f  ", P[13]);
    Appendf(out.line[8], "Bottom = %f  ", P[14]);
  }
  Appendf(out.line[9], "fitting %1.4f - %1.4f", ss.leftFitLimit, ss.rightFitLimit);
  Appendf(out.line[10], "Baseline = %f  ", P[15]);
  if (!CurrentDataTypeFlags().dls) out.line[11] = VbarLine(in.solvent);
  if (in.buffer.on) out.line[12] = BufferLine(in.buffer);
  AppendFluorescence(out.line[12], in.fds, true);
  return true;
}
