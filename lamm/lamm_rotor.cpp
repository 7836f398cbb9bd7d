// Rotor-speed model of CLammIdeal: constant speed, a linear ramp from rest,
// or a schedule of speed steps each ramping linearly from the previous speed.
// Speeds in rpm, times in s, rates in rpm/s.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "data/scan_set.h"
#include "lamm/lamm_ideal.h"
#include "numerics/constants.h"
#include "platform/error_box.h"

namespace {

// Mean of v(t)^2 over an interval on which v is linear with end values a, b.
double MeanSquareLinear(double a, double b) { return (a * a + a * b + b * b) / 3.0; }
}  // namespace

void CLammIdeal::LoadSpecies(int n, const float* startTimes, const float* speeds,
                             const float* rates, int checkMode) {
  if (n < 1 || !startTimes || !speeds || !rates) return;
  steps_ = n;
  const size_t sz = static_cast<size_t>(n) + 1;
  stepStart_.reset(new double[sz]());
  stepEnd_.reset(new double[sz]());
  stepRpm_.reset(new double[sz]());
  stepRate_.reset(new double[sz]());
  for (int i = 1; i <= n; ++i) {
    stepStart_[i] = startTimes[i];
    stepRpm_[i] = speeds[i];
    stepRate_[i] = rates[i];
  }
  for (int i = 1; i <= n; ++i) {
    const double change = std::fabs(stepRpm_[i] - (i > 1 ? stepRpm_[i - 1] : 0.0));
    // A step that keeps the speed needs no ramp, whatever its rate.
    if (change == 0)
      stepEnd_[i] = stepStart_[i];
    else if (i == 1)
      stepEnd_[i] = stepRpm_[1] / stepRate_[1];
    else
      stepEnd_[i] = stepStart_[i] + change / stepRate_[i];
  }
  for (int i = 1; i < n; ++i)
    if (stepStart_[i + 1] < stepEnd_[i]) stepEnd_[i] = stepStart_[i + 1] - 1.0;
  schedule_ = true;
  checkAcceleration_ = false;
  finalRpm_ = stepRpm_[n];
  atPlateau_ = scheduleFinished_ = false;
  currentStep_ = 1;

  if (checkMode > 0) {
    if (!geometryValid_ || !records_ || !indexMap_ || scanCount_ < 1) {
      if (!inWorker_) ErrorBox("can't check rotor speeds - data not loaded");
      return;
    }
    for (int k = 1; k <= scanCount_; ++k) {
      ScanRecord& rec = const_cast<ScanRecord&>(records_[indexMap_[k]]);
      const double predicted = RpmAtTime(rec.time);
      if (checkMode == 1) {
        if (std::fabs(rec.rpm - predicted) > 100 && !inWorker_) {
          char text[300];
          std::snprintf(text, sizeof text,
                        "\nrotor speed scan #%d is %f, incompatible with schedule at time %f "
                        "predicting %.0f",
                        k, static_cast<double>(rec.rpm), rec.time, predicted);
          ErrorBox(text);
        }
      } else if (checkMode == 2) {
        rec.rpm = static_cast<float>(predicted);
      }
    }
  }
}

double CLammIdeal::RpmAtTime(double t) const {
  double r = 0;
  for (int i = 1; i <= steps_; ++i) {
    if (stepStart_[i] > t) continue;
    if (stepEnd_[i] < t)
      r = stepRpm_[i];
    else if (i == 1)
      r = (t - stepStart_[1]) * stepRate_[1];
    else if (stepRpm_[i] <= stepRpm_[i - 1])
      r = stepRpm_[i - 1] - (t - stepStart_[i]) * stepRate_[i];
    else
      r = stepRpm_[i - 1] + (t - stepStart_[i]) * stepRate_[i];
  }
  return r;
}

void CLammIdeal::InitRotorRamp() {
  accelerating_ = opt_.linearRamp || schedule_;
  maxStepAccelerating_ = 10.0;
  const ScanRecord& first = records_[indexMap_[1]];
  const ScanRecord& last = records_[indexMap_[scanCount_]];
  if (!opt_.linearRamp) {
    accelDuration_ = 0;
    accelRate_ = first.acceleration;
    finalRpm_ = last.rpm;
    rpm_ = finalRpm_;
    accelerating_ = false;
  } else {
    accelDuration_ = first.accelerationTime;
    accelRate_ = first.acceleration;
    finalRpm_ = last.rpm;
    rpm_ = finalRpm_;
    if (accelDuration_ < 10.0) {
      accelDuration_ = 0;
      accelerating_ = false;
    }
  }
  if (schedule_) {
    accelDuration_ = stepEnd_[1];
    accelRate_ = stepRate_[1];
    finalRpm_ = stepRpm_[steps_];
    currentStep_ = 1;
    if (stepEnd_[1] - stepStart_[1] < 10.0) accelDuration_ = 0;
    atPlateau_ = scheduleFinished_ = false;
    accelerating_ = true;
    rpm_ = std::sqrt(RpmAtTime(10.0) * RpmAtTime(10.0) * 0.5);
  }
  const double w = finalRpm_ * (1.0 / 60.0) * 2 * kPi;
  sw2Final_ = w * w * s_ * 1e-13;
}

void CLammIdeal::LimitAccelerationStep() {
  if (!(opt_.linearRamp && opt_.staticGrid && !opt_.automaticAlgorithm)) return;
  const double threshold =
      (opt_.optimiseGrid && opt_.automaticGridSize) ? opt_.optimisedThreshold : opt_.reducedSThreshold;
  const double v = records_[indexMap_[scanCount_]].rpm * 3.3333333333333335e-05;
  if (std::fabs(s_) > threshold / (v * v)) maxStepAccelerating_ = 1.0;
}

// The mean of rpm^2 over [t, t + dt] of the piecewise linear speed course.
// Steps end at every kink of the course (LimitTimeStep), so the exact mean of
// a linear piece is what the solvers see; a step that still crosses a kink is
// split there.
double CLammIdeal::MeanSquareRpm(double t, double dt) const {
  if (dt <= 0) {
    const double v = schedule_ ? RpmAtTime(t) : std::min(accelRate_ * t, finalRpm_);
    return v * v;
  }
  double cuts[64];
  int n = 0;
  cuts[n++] = t;
  auto addCut = [&](double x) {
    if (x > t && x < t + dt && n < 62) cuts[n++] = x;
  };
  if (schedule_) {
    for (int i = 1; i <= steps_ && n < 60; ++i) {
      addCut(stepStart_[i]);
      addCut(stepEnd_[i]);
    }
  } else {
    addCut(accelDuration_);
    if (accelRate_ > 0) addCut(finalRpm_ / accelRate_);
  }
  cuts[n++] = t + dt;
  std::sort(cuts, cuts + n);
  auto speed = [&](double x) {
    if (schedule_) return RpmAtTime(x);
    return x < accelDuration_ ? std::min(accelRate_ * x, finalRpm_) : finalRpm_;
  };
  double sum = 0;
  for (int i = 0; i + 1 < n; ++i) {
    const double a = cuts[i], b = cuts[i + 1];
    if (b <= a) continue;
    // Two inner points fix the line on this piece even at a jump at its ends.
    const double q = 0.25 * (b - a);
    const double v1 = speed(a + q), v3 = speed(b - q);
    const double va = 1.5 * v1 - 0.5 * v3, vb = 1.5 * v3 - 0.5 * v1;
    sum += MeanSquareLinear(va, vb) * (b - a);
  }
  return sum / dt;
}

double CLammIdeal::RotorOmegaInStep(double t, double dt) {
  double result;
  if (!schedule_) {
    if (accelDuration_ < 10.0) {
      accelerating_ = false;
      result = finalRpm_;
    } else if (t < accelDuration_) {
      result = std::sqrt(MeanSquareRpm(t, dt));
    } else {
      result = finalRpm_;
      accelerating_ = false;
    }
    result = std::min(result, finalRpm_);
  } else {
    const int i = std::clamp(currentStep_, 1, steps_);
    if (stepEnd_[i] - stepStart_[i] >= 10.0) {
      result = std::sqrt(MeanSquareRpm(t, dt));
      if (i == 1) {
        result = std::min(result, stepRpm_[1]);
      } else if (stepRpm_[i] > stepRpm_[i - 1]) {
        result = std::min(result, stepRpm_[i]);
      } else {
        result = std::max(result, stepRpm_[i]);
      }
    } else {
      result = stepRpm_[i];
    }
  }
  rpm_ = result;
  return result;
}

void CLammIdeal::UpdateSpeedStep(double t) {
  if (!schedule_ || scheduleFinished_) return;
  accelerating_ = false;
  atPlateau_ = true;
  for (int i = 1; i <= steps_; ++i) {
    if (stepStart_[i] > t) continue;
    currentStep_ = i;
    accelerating_ = t < stepEnd_[i];
    atPlateau_ = !accelerating_;
  }
  if (atPlateau_ && currentStep_ == steps_) scheduleFinished_ = true;
}

double CLammIdeal::LimitTimeStep(bool setFlag, bool& hit) {
  double dt = dt_;
  if (opt_.linearRamp && accelerating_ && !schedule_) {
    dt = std::min(dt, maxStepAccelerating_);
    // Only a limit that still lies ahead can end a step (a run may start
    // after the ramp).
    if (!hit && accelDuration_ < t_ + dt && accelDuration_ > t_) {
      dt = accelDuration_ - t_;
      if (setFlag) hit = true;
    }
  }
  if (schedule_ && !scheduleFinished_) {
    if (!accelerating_) {
      if (currentStep_ < steps_ && !hit && stepStart_[currentStep_ + 1] < t_ + dt &&
          stepStart_[currentStep_ + 1] > t_) {
        dt = stepStart_[currentStep_ + 1] - t_;
        if (setFlag) hit = true;
      }
    } else {
      dt = std::min(dt, maxStepAccelerating_);
      if (!hit && stepEnd_[currentStep_] < t_ + dt && stepEnd_[currentStep_] > t_) {
        dt = stepEnd_[currentStep_] - t_;
        if (setFlag) hit = true;
      }
    }
  }
  if (timed_ && timedNextTime_ < t_ + dt && timedNextTime_ > t_) dt = timedNextTime_ - t_;
  dt_ = dt;
  return dt;
}

bool CLammIdeal::IsScheduleMonotonicAfter(double t) const {
  if (!schedule_) return false;
  int k = 0;
  for (int i = 1; i <= steps_; ++i)
    if (stepStart_[i] <= t) k = i;
  if (k == steps_) return true;
  const double v = k > 0 ? stepRpm_[k] : 0.0;
  for (int i = k + 1; i <= steps_; ++i)
    if (stepRpm_[i] < v) return false;
  return true;
}
