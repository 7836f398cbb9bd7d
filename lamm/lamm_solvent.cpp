// Inhomogeneous solvent on the solver object's static-grid and moving-frame
// paths: the species' local factors relative to the buffer (whose mean the
// run's s and D carry already) and the cosolute advanced in lock-step with
// the species (equations in lamm/solvent_model.h).
#include <string>

#include "lamm/lamm_ideal.h"
#include "platform/input_events.h"

namespace {
// Density (g/ml) and viscosity (Pa s) of a solvent given at its two ends,
// linear in r between meniscus m and bottom b.
struct TwoEnds {
  double rhoM, rhoB, etaM, etaB, m, b;
  double Rho(double r) const { return rhoM + (rhoB - rhoM) * (r - m) / (b - m); }
  double Eta(double r) const { return etaM + (etaB - etaM) * (r - m) / (b - m); }
};
}  // namespace

// Mean factors of the buffer, which the run's s and D carry: those of the
// buffer at 1 atm, or the mean of the two ends of a solvent given there.
double CLammIdeal::SolventMeanViscosityFactor() const {
  if (!medium_.inhomogeneous) return 1.0;
  if (medium_.twoEnds)
    return 0.5 * (kWaterViscosity20C / medium_.endCoefficients[2] +
                  kWaterViscosity20C / medium_.endCoefficients[3]);
  return 1.0 / medium_.bufferViscosityRatio;
}

double CLammIdeal::SolventMeanBuoyancyRatio() const {
  if (!medium_.inhomogeneous) return 1.0;
  if (medium_.twoEnds)
    return 0.5 *
           (BuoyancyRatio(medium_.bufferVbar, medium_.endCoefficients[0], medium_.bufferVbar) +
            BuoyancyRatio(medium_.bufferVbar, medium_.endCoefficients[1], medium_.bufferVbar));
  const double v = medium_.staticGradient ? medium_.bufferVbar : medium_.gradientVbar;
  return BuoyancyRatio(v, medium_.bufferDensity, medium_.bufferVbar);
}

double CLammIdeal::SolventMeanScale() const {
  return SolventMeanBuoyancyRatio() * SolventMeanViscosityFactor();
}

void CLammIdeal::InitLocalSolventFactors(const double* r) {
  factors_.eReference = SolventMeanViscosityFactor();
  factors_.qReference = SolventMeanBuoyancyRatio();
  if (!medium_.twoEnds) {
    factors_.Init(solvent_, solventVbar_, r, N_, meniscus_, solventRpm_ > 0 ? solventRpm_ : rotor_.finalRpm);
    return;
  }
  const double* e = medium_.endCoefficients;
  const TwoEnds ends{e[0], e[1], e[2], e[3], meniscus_, bottom_};
  factors_.e.assign(N_ + 1, 1.0);
  factors_.q.assign(N_ + 1, 1.0);
  factors_.rhoWater.assign(N_ + 1, kWaterDensity20C);
  factors_.count = N_;
  for (int i = 1; i <= N_; ++i) {
    factors_.e[i] = kWaterViscosity20C / ends.Eta(r[i]) / factors_.eReference;
    factors_.q[i] =
        BuoyancyRatio(medium_.bufferVbar, ends.Rho(r[i]), medium_.bufferVbar) / factors_.qReference;
  }
  factors_.PrepareMoments(r, N_);
}

void CLammIdeal::UpdateLocalSolventFactors(const double* at, const double* grid) {
  // The cosolute is a step ahead of the species: the factors of the next
  // species step are those of the cosolute in the middle of that step, not
  // at its start (which lagged the species near the bottom by 2.5e-3 of the
  // loading as the cosolute piled up there).
  factors_.UpdateFrom(solvent_, solventVbar_, cosolute_, at, grid, N_, 0.5 * dt_);
}

namespace {
std::string CosoluteProblem(const CosoluteState& cs, CosoluteState::Status status) {
  if (status == CosoluteState::kGridTooSmall) return "the cosolute grid needs at least 3 points";
  return "the cosolute's D(c) is not positive at c = " + std::to_string(cs.badConcentration) + " M";
}
}  // namespace

bool CLammIdeal::LammInitLoading() {
  const auto status = cosolute_.Init(solvent_, cosoluteSCoef_, cosoluteDCoef_, meniscus_, bottom_,
                                     rotor_.rpm, zone_.on ? zone_.lamellaWidth : 0.0);
  if (status == CosoluteState::kOk) return true;
  // A run already stopped with a message (a list file missing) says no more.
  if (!platform::StopFlag()) ShowRefusal(CosoluteProblem(cosolute_, status).c_str());
  errConcDependent_ = 1;
  running_ = false;
  return false;
}

void CLammIdeal::LammTimeStep(double stepStart) {
  const double dt = t_ - stepStart;
  if (dt <= 0) return;
  // Inside an acceleration the cosolute feels the mean speed of the step;
  // the species' own rotor state stays as the step left it.
  double rpm = rotor_.rpm;
  if (schedule_ || (opt_.linearRamp && stepStart < rotor_.accelDuration)) {
    const double rpmSaved = rotor_.rpm;
    const bool acceleratingSaved = accelerating_;
    rpm = RotorOmegaInStep(stepStart, dt);
    rotor_.rpm = rpmSaved;
    accelerating_ = acceleratingSaved;
  }
  const auto status = cosolute_.Advance(dt, rpm);
  if (status == CosoluteState::kOk) return;
  if (status == CosoluteState::kSingular) {
    errTridag_ = 1;
    pivotFailed_ = true;
  } else {
    if (!platform::StopFlag()) ShowRefusal(CosoluteProblem(cosolute_, status).c_str());
    errConcDependent_ = 1;
  }
  running_ = false;
}
