#include "fit/nonideal_species.h"

#include <cmath>

#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_report_inputs.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/species_slots.h"
#include "lamm/coefficients/nonideal_coefficients.h"
#include "lamm/lamm_ideal.h"

void LoadNonidealComponents(CLammIdeal& solver) {
  const AssociationModelParams& as = gAssociationModelParams;
  const ModelParams& mp = gModelParams;
  // The non-ideal terms: 3, 4, 5 concentration, s and D of the second
  // component, 7, 8, 9 those of the third (D in 1e-7 cm^2/s like the first).
  const float* term = mp.nonidealTerm;
  const double c1 = mp.concentration[1];
  const double s1 = as.nonidealS, D1 = std::fabs(as.nonidealD) * 1e-7;
  const bool one = term[3] <= 0 && term[7] <= 0;
  const double conc[] = {0, c1, term[3], term[7]};
  const double s[] = {0, s1, term[4], term[8]};
  const double D[] = {0, D1, std::fabs(term[5]) * 1e-7, std::fabs(term[9]) * 1e-7};
  const double weight[] = {0, as.extinction[1], as.extinction[2], as.extinction[3]};
  const double overlay[] = {0, term[2], term[6], term[10]};
  solver.SetSolventComponents({.model = true, .concDependentSolver = true, .tableModel = true,
                               .count = one ? 1 : 3, .concentrations = conc, .sValues = s,
                               .dValues = D, .weights = weight, .s = s1, .D = D1, .c0 = c1,
                               .syntheticBoundary = mp.syntheticBoundary != 0,
                               .boundaryPosition = term[1], .overlayFractions = overlay});
  ConcDependentModel model;
  model.nonideality = true;
  model.a = as.logKs;
  model.b = as.logKd;
  model.scale = CurrentScanSet().signalPerConcentration > 0 ? CurrentScanSet().signalPerConcentration : 1.0;
  model.scheme = s1 < 0 ? -2.0f : 2.0f;
  solver.SetConcDependentModel(model);
}

void FillNonidealReportInputs(FitReportInputs& in) {
  FitReportInputs::Nonideal& n = in.nonideal;
  const float* P = gModelParameterVector.P;
  const SolutionConditions& sc = gSolutionConditions;
  n.hardSphere = gModelSelectorFlags.NonidealVariantModel != 0;
  n.syntheticBoundary = gModelSelectorFlags.NonidealMultipleSpeciesModel && gModelParams.syntheticBoundary;
  n.sticky = StickyHardSphereFlag != 0;
  if (gFitEngineState.molarMassParameters) {
    n.impliedM = P[1];
    n.D = static_cast<float>(SpeciesDiffusion(P[5], P[1]) * 1e7);
  } else {
    n.D = P[1];
    n.impliedM = MolarMassFromSAndD(P[5], P[1], sc.vbar * sc.density, sc.temperature);
  }
  n.impliedFf0 = FrictionalRatioFromMassAndS(n.impliedM, P[5], sc.vbar, sc.density, sc.viscosity);
  const double signal = CurrentScanSet().signalPerConcentration;
  const float load = static_cast<float>(signal > 0 ? P[9] / signal : P[9]);
  const float k = std::fabs(P[10]), tau = std::fabs(P[11]);
  n.reducedB2 = static_cast<float>(HardSphereCorrectionFactor(tau));
  // ml/g from the change over the next mg/ml.
  n.ks1 = 1000 * ConcentrationFactorSDifference(1, k, tau, n.impliedFf0, sc.vbar);
  n.ksLoad = 1000 * ConcentrationFactorSDifference(load, k, tau, n.impliedFf0, sc.vbar);
  n.kd1 = 1000 * ConcentrationFactorDDifference(1, k, tau, n.impliedFf0, sc.vbar);
  n.kdLoad = 1000 * ConcentrationFactorDDifference(load, k, tau, n.impliedFf0, sc.vbar);
  n.volumeFraction = static_cast<float>(HydrodynamicVolumeFraction(load, k, n.impliedFf0, sc.vbar));

  // Nonideal c(s): its two terms are log10 ks and kd, or, in the hard-sphere
  // variant, the volume correction and the Baxter temperature.
  FitReportInputs::Conti& c = in.conti;
  const AssociationModelParams& as = gAssociationModelParams;
  c.logKs = as.logKs;
  c.logKd = as.logKd;
  c.nonidealHardSphere = gModelSelectorFlags.NonidealCSVariant != 0;
  c.nonidealSticky = c.nonidealHardSphere && StickyHardSphereFlag != 0;
  const float volume = std::fabs(as.logKs), baxter = std::fabs(as.logKd);
  c.nonidealVolumeCorrection = volume;
  c.nonidealBaxterT = baxter;
  c.nonidealReducedB2 = static_cast<float>(HardSphereCorrectionFactor(baxter));
  c.ks1 = 1000 * ConcentrationFactorSDifference(1, volume, baxter, c.ffValue, sc.vbar);
  c.ks100 = 1000 * ConcentrationFactorSDifference(100, volume, baxter, c.ffValue, sc.vbar);
  c.kd1 = 1000 * ConcentrationFactorDDifference(1, volume, baxter, c.ffValue, sc.vbar);
  c.kd100 = 1000 * ConcentrationFactorDDifference(100, volume, baxter, c.ffValue, sc.vbar);
}
