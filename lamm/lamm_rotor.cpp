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
  stepStart_.assign(sz, 0.0);
  stepEnd_.assign(sz, 0.0);
  stepRpm_.assign(sz, 0.0);
  stepRate_.assign(sz, 0.0);
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
  rotor_.checkAcceleration = false;
  rotor_.finalRpm = stepRpm_[n];
  atPlateau_ = scheduleFinished_ = false;
  currentStep_ = 1;

  if (checkMode > 0) {
    if (!geometryValid_ || !scans_.records || !scans_.indexMap || scans_.scanCount < 1) {
      if (!inWorker_) ErrorBox("can't check rotor speeds - data not loaded");
      return;
    }
    for (int k = 1; k <= scans_.scanCount; ++k) {
      ScanRecord& rec = const_cast<ScanRecord&>(scans_.records[scans_.indexMap[k]]);
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
  rotor_.maxStepAccelerating = 10.0;
  const ScanRecord& first = scans_.records[scans_.indexMap[1]];
  const ScanRecord& last = scans_.records[scans_.indexMap[scans_.scanCount]];
  if (!opt_.linearRamp) {
    rotor_.accelDuration = 0;
    rotor_.accelRate = first.acceleration;
    rotor_.finalRpm = last.rpm;
    rotor_.rpm = rotor_.finalRpm;
    accelerating_ = false;
  } else {
    rotor_.accelDuration = first.accelerationTime;
    rotor_.accelRate = first.acceleration;
    rotor_.finalRpm = last.rpm;
    rotor_.rpm = rotor_.finalRpm;
    if (rotor_.accelDuration < 10.0) {
      rotor_.accelDuration = 0;
      accelerating_ = false;
    }
  }
  if (schedule_) {
    rotor_.accelDuration = stepEnd_[1];
    rotor_.accelRate = stepRate_[1];
    rotor_.finalRpm = stepRpm_[steps_];
    currentStep_ = 1;
    if (stepEnd_[1] - stepStart_[1] < 10.0) rotor_.accelDuration = 0;
    atPlateau_ = scheduleFinished_ = false;
    accelerating_ = true;
    rotor_.rpm = std::sqrt(RpmAtTime(10.0) * RpmAtTime(10.0) * 0.5);
  }
  const double w = rotor_.finalRpm * (1.0 / 60.0) * 2 * kPi;
  rotor_.sw2Final = w * w * s_ * 1e-13;
}

void CLammIdeal::LimitAccelerationStep() {
  if (!(opt_.linearRamp && opt_.staticGrid && !opt_.automaticAlgorithm)) return;
  const double threshold =
      (opt_.optimiseGrid && opt_.automaticGridSize) ? opt_.optimisedThreshold : opt_.reducedSThreshold;
  const double v = scans_.records[scans_.indexMap[scans_.scanCount]].rpm * 3.3333333333333335e-05;
  if (std::fabs(s_) > threshold / (v * v)) rotor_.maxStepAccelerating = 1.0;
}

// The mean of rpm^2 over [t, t + dt] of the piecewise linear speed course.
// Steps end at every kink of the course (LimitTimeStep), so the exact mean of
// a linear piece is what the solvers see; a step that still crosses a kink is
// split there.
double CLammIdeal::MeanSquareRpm(double t, double dt) const {
  if (dt <= 0) {
    const double v = schedule_ ? RpmAtTime(t) : std::min(rotor_.accelRate * t, rotor_.finalRpm);
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
    addCut(rotor_.accelDuration);
    if (rotor_.accelRate > 0) addCut(rotor_.finalRpm / rotor_.accelRate);
  }
  cuts[n++] = t + dt;
  std::sort(cuts, cuts + n);
  auto speed = [&](double x) {
    if (schedule_) return RpmAtTime(x);
    return x < rotor_.accelDuration ? std::min(rotor_.accelRate * x, rotor_.finalRpm) : rotor_.finalRpm;
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
    if (rotor_.accelDuration < 10.0) {
      accelerating_ = false;
      result = rotor_.finalRpm;
    } else if (t < rotor_.accelDuration) {
      result = std::sqrt(MeanSquareRpm(t, dt));
    } else {
      result = rotor_.finalRpm;
      accelerating_ = false;
    }
    result = std::min(result, rotor_.finalRpm);
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
  rotor_.rpm = result;
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
    dt = std::min(dt, rotor_.maxStepAccelerating);
    // Only a limit that still lies ahead can end a step (a run may start
    // after the ramp).
    if (!hit && rotor_.accelDuration < t_ + dt && rotor_.accelDuration > t_) {
      dt = rotor_.accelDuration - t_;
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
      dt = std::min(dt, rotor_.maxStepAccelerating);
      if (!hit && stepEnd_[currentStep_] < t_ + dt && stepEnd_[currentStep_] > t_) {
        dt = stepEnd_[currentStep_] - t_;
        if (setFlag) hit = true;
      }
    }
  }
  if (timed_.on && timed_.nextTime < t_ + dt && timed_.nextTime > t_) dt = timed_.nextTime - t_;
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
