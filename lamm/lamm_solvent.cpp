// Inhomogeneous solvent on the solver object's static-grid and moving-frame
// paths: the species' local factors relative to the buffer (whose mean the
// run's s and D carry already) and the cosolute advanced in lock-step with
// the species (equations in lamm/solvent_model.h).
#include <string>

#include "lamm/lamm_ideal.h"
#include "platform/input_events.h"

void CLammIdeal::InitLocalSolventFactors(const double* r) {
  factors_.eReference = MeanViscosityFactor(solvent_);
  factors_.qReference = MeanBuoyancyRatio(solvent_, solventVbar_);
  factors_.Init(solvent_, solventVbar_, r, N_, meniscus_, solventRpm_ > 0 ? solventRpm_ : finalRpm_);
}

void CLammIdeal::UpdateLocalSolventFactors(const double* r) {
  // On the moving frame the factors belong to the nodes' present radii,
  // the integrals to the frame radii.
  factors_.UpdateFrom(solvent_, solventVbar_, cosolute_, r, movingFrame_ && xi_ ? xi_ : r, N_);
}

namespace {
std::string CosoluteProblem(const CosoluteState& cs, CosoluteState::Status status) {
  if (status == CosoluteState::kGridTooSmall) return "the cosolute grid needs at least 3 points";
  return "the cosolute's D(c) is not positive at c = " + std::to_string(cs.badConcentration) + " M";
}
}  // namespace

bool CLammIdeal::LammInitLoading() {
  const auto status = cosolute_.Init(solvent_, cosoluteSCoef_, cosoluteDCoef_, meniscus_, bottom_,
                                     rpm_, zoneLoading_ ? lamellaWidth_ : 0.0);
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
  double rpm = rpm_;
  if (schedule_ || (linearRamp_ && stepStart < accelDuration_)) {
    const double rpmSaved = rpm_;
    const bool acceleratingSaved = accelerating_;
    rpm = RotorOmegaInStep(stepStart, dt);
    rpm_ = rpmSaved;
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
