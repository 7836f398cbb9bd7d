#include "lamm/lamm_run_state.h"

#include <algorithm>
#include <cmath>

namespace {
thread_local LammRunState* tOwnState = nullptr;
}

LammRunState& CurrentLammRunState() {
  static LammRunState state;
  return tOwnState ? *tOwnState : state;
}

void UseThreadLammRunState(LammRunState* own) { tOwnState = own; }

double RotorSpeedDuringAcceleration(double t, double dt) {
  LammRunState& rs = CurrentLammRunState();
  if (rs.accelerationEnd < 10) {
    rs.accelerating = 0;
    return rs.fullSpeed;
  }
  double result;
  if (t >= rs.accelerationEnd) {
    rs.accelerating = 0;
    result = rs.fullSpeed;
  } else {
    const double a0 = rs.acceleration * t;
    const double a1 = rs.acceleration * (t + dt);
    result = std::sqrt((a0 * a0 + a1 * a1) / 2);
  }
  return result > rs.fullSpeed ? rs.fullSpeed : result;
}

bool AdvanceRunClock(double dt) {
  LammRunState& rs = CurrentLammRunState();
  ++rs.iteration;
  rs.t += dt;
  if (std::fabs(rs.t - rs.pendingTime) <= 1e-9 * std::max(1.0, rs.pendingTime)) rs.t = rs.pendingTime;
  if (!rs.accelerating || rs.t < rs.accelerationEnd) return false;
  rs.rpm = RotorSpeedDuringAcceleration(rs.t, dt);
  rs.accelerating = 0;
  return true;
}
