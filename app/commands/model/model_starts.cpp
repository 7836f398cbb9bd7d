// The first start of the models whose start follows their switches: the
// species models (their solver, the fit boxes, the slots they empty, the
// species converted to their own quantity) and the models that start from
// values kept outside their entries. The stored values are read before the
// command, whose unpack reads the slots into those stores, and are written
// with the rest once the command has set its switches.
#include "app/commands/model/model_starts.h"
#include "distributions/hydrodynamics.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_table.h"
#include "lamm/lamm_settings.h"
#include "models/reacting/hetero_association_state.h"
#include "lamm/coefficients/mass_action.h"

#include <cmath>

namespace {

constexpr int n = kComponentSlots;

const SpeciesStart* StartOf(int id) {
  const ModelRow* row = FindModelRow(id);
  return row && row->startValues.species.Any() ? &row->startValues.species : nullptr;
}

// The species the slots took from model `from`, in the quantities of model
// `id`: a Stokes radius is no diffusion coefficient, and a model of one set
// of cumulants hands on one species.
void ConvertSpecies(int id, int from) {
  if (from == id || !SpeciesModelKey(from)) return;
  ModelParams& mp = gModelParams;
  float* P = gModelParameterVector.P;
  const float celsius = gSolutionConditions.temperature - kAbsoluteZero;
  const SpeciesQuantity was = SpeciesQuantityOf(from), to = SpeciesQuantityOf(id);
  for (int k = 1; k <= n && was != to; ++k) {
    if (to == SpeciesQuantity::MassOrD) {
      // Stokes radius (nm) to D (1e-7 cm^2/s).
      const float radius = P[k];
      P[k] = mp.massOrD[k] = radius > 0 ? DFromStokesRadius(radius * 1e-9f, celsius) * 1e7f : 0.0f;
    } else if (P[k] > 0) {
      // Stokes-Einstein maps D to the radius by the radius's own formula.
      P[k] = mp.massOrD[k] = DFromStokesRadius2(P[k] * 1e-7f, celsius) * 1e9f;
    } else {
      mp.included[k] = 0;
    }
  }
  const SpeciesStart* before = StartOf(from);
  const SpeciesStart* own = StartOf(id);
  if (!before || !before->oneSpecies || (own && own->oneSpecies)) return;
  for (int k = 2; k <= n; ++k) {
    mp.included[k] = 0;
    P[k] = mp.massOrD[k] = 0;
    P[n + k] = mp.s[k] = 0;
    P[2 * n + k] = mp.concentration[k] = 0;
  }
}

}  // namespace

EquilibriumStartValues& StoredEquilibriumStartValues() {
  static EquilibriumStartValues v;
  return v;
}

StoredStartValues TakeStoredStart(int id) {
  StoredStartValues out;
  const SpeciesStart* own = StartOf(id);
  if (!own) return out;
  auto put = [&](int i, float value) { out.P.emplace_back(i, value); };
  auto fit = [&](int i, int box) { out.F.emplace_back(i, box); };
  switch (own->stored) {
    case StoredStart::None:
      break;
    case StoredStart::ThreeStateAssociation: {
      // The n-mers' masses (or D) follow from the monomer's.
      const AssociationModelParams& st = gAssociationModelParams;
      put(1, st.monomer3);
      fit(1, st.monomer3Fit);
      put(2, own->oligomerA * st.monomer3);
      put(2 * n + 4, own->oligomerB * st.monomer3);
      fit(2, 0);
      fit(2 * n + 4, 0);
      put(3, st.logK3a);
      fit(3, st.logK3aFit);
      put(n + 1, st.s3[1]);
      fit(n + 1, st.s3Fit[1]);
      put(n + 2, st.s3[2]);
      fit(n + 2, st.s3Fit[2]);
      put(n + 3, st.logK3b);
      fit(n + 3, st.logK3bFit);
      put(n + 4, st.s3[3]);
      fit(n + 4, st.s3Fit[3]);
      put(2 * n + 3, st.totalConcentration);
      fit(2 * n + 3, st.totalConcentrationFit);
      break;
    }
    case StoredStart::ReactingSystem: {
      // (The complex, slot 3, follows from the mass action.)
      const HeteroAssociationState& st = CurrentHeteroAssociationState();
      for (const auto& [i, value] : {std::pair{1, st.DA}, {2, st.DB}, {4, st.epsA}, {5, st.sA}, {6, st.sB},
                                     {7, st.sAB}, {8, st.logK}, {9, st.loadA}, {10, st.loadB}, {12, st.epsB}})
        put(i, value);
      break;
    }
    case StoredStart::EquilibriumAssociation: {
      const EquilibriumStartValues& st = StoredEquilibriumStartValues();
      for (const auto& [i, value] : {std::pair{9, st.concentration1}, {10, st.concentration2}, {4, st.massOrD4},
                                     {12, st.concentration4}, {1, st.massOrD1}, {2, st.massOrD2}, {8, st.s4}})
        put(i, value);
      for (int i = 5; i <= 7; ++i) {
        put(i, 1.0f);
        fit(i, 0);
      }
      put(3, st.massOrD1 + st.massOrD2);
      // A zero divisor gives no complex rather than a NaN start value.
      const double a = st.massOrD4 != 0 ? static_cast<double>(st.concentration1) / st.massOrD4 : 0.0;
      const double b = st.concentration4 != 0 ? static_cast<double>(st.concentration2) / st.concentration4 : 0.0;
      put(11, static_cast<float>(SmallerComplexRoot(a, b, std::pow(10.0, static_cast<double>(st.s4)))));
      break;
    }
    case StoredStart::NonidealSpecies: {
      const AssociationModelParams& st = gAssociationModelParams;
      put(10, st.logKs);
      put(11, st.logKd);
      break;
    }
  }
  return out;
}

void WriteSpeciesStart(int id, int speciesFrom, const StoredStartValues& stored) {
  const SpeciesStart* own = StartOf(id);
  if (!own) return;
  LammSolverSettings& ls = LammSettings();
  if (own->automatic >= 0) ls.automaticAlgorithm = static_cast<std::uint8_t>(own->automatic);
  if (own->claverie >= 0) ls.claverieAlgorithm = static_cast<std::uint8_t>(own->claverie);
  if (own->movingHat >= 0) ls.movingHatAlgorithm = static_cast<std::uint8_t>(own->movingHat);
  if (own->fixedTimeStep >= 0) ls.fixedTimeStep = static_cast<std::uint8_t>(own->fixedTimeStep);
  if (own->modelInitial) {
    ls.modelInitialDistribution = 1;
    ls.experimentalInitialDistribution = 0;
  }
  ModelParams& mp = gModelParams;
  ModelParameterVector& v = gModelParameterVector;
  if (TakesSpeciesKey(id)) ConvertSpecies(id, speciesFrom);
  for (int k = 1; k <= n; ++k)
    if (own->emptyExtras & (1u << (k - 1))) v.P[15 + k] = mp.extra[k] = 0;
  if (own->fixAll) FixAllParameters();
  if (own->emptyThirdSlots) {
    for (int k = 2 * n + 1; k <= 3 * n; ++k) v.P[k] = 0;
  }
  if (own->floatBaseline) v.F[3 * n + 3] = 1;
  if (own->oneSpecies) {
    // One set of cumulants: component 1 alone, its amplitude floating.
    mp.included[1] = 1;
    v.F[2 * n + 1] = 1;
    for (int k = 2; k <= n; ++k) {
      mp.included[k] = 0;
      v.F[2 * n + k] = 0;
      v.P[k] = 0;
    }
  }
  if (own->zoneLoading) {
    // The lamella loaded on top of the column is what the zone fit adjusts.
    v.P[23] = FindModelRow(id)->startValues.loading;
    v.F[23] = 1;
  }
  if (own->fitNoise) {
    gFitEngineState.fitTINoise = 1;
    mp.riNoiseFit = 1;
  }
  for (const auto& [i, value] : stored.P) v.P[i] = value;
  for (const auto& [i, box] : stored.F) v.F[i] = box;
  if (own->stored == StoredStart::NonidealSpecies) {
    // The species takes component 1's s and D.
    AssociationModelParams& st = gAssociationModelParams;
    v.P[n + 1] = st.nonidealS = mp.s[1];
    v.P[1] = st.nonidealD = mp.massOrD[1];
  }
  UnpackModelParameters();
}
