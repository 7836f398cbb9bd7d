#pragma once
// Rotor speeds for a sedimentation-equilibrium experiment on molar masses
// between Mlo and Mhi (Da) in a column m..b (cm) at 4 C:
//   first speed:  c(b)/c(m) = 5 for Mhi,   w1^2 = ln 5  2RT / ((1 - vbar rho) Mhi (b^2 - m^2));
//   second speed: c(b)/c(m) = 10 for Mlo,  w2^2 = ln 10 2RT / ((1 - vbar rho) Mlo (b^2 - m^2));
// both rounded down to 100 rpm; third speed: the first multiple of 1000 rpm
// up to 60000 at which Mlo is depleted at the meniscus to 0.01 of its
// loading. With them come the ideal equilibrium profiles (unit loading) of
// both masses and their mean at the three speeds, and the time (h) to the
// first equilibrium at the first speed for a moderately globular protein
// (f/f0 1.3, relative viscosity 1.6, precision 0.01).
#include <string>
#include <vector>

struct RotorSpeedEstimate {
  float rpm[4] = {};  // [1..3]; rpm[3] = 0 when no speed up to 60000 depletes the meniscus
  std::vector<float> radius;     // [1..100]
  std::vector<float> curve[10];  // [1..9][1..100]: Mhi at speeds 1-3, Mlo at 1-3, means at 1-3
  float hours = 0;               // time to the first equilibrium
};

inline constexpr int kRotorSpeedEstimatePoints = 100;

// Empty when the entries allow an estimate, else the reason.
std::string RotorSpeedEstimateRefusal(float Mlo, float Mhi, float meniscus, float bottom,
                                      float vbar, float density);
// Fills e (entries as checked by RotorSpeedEstimateRefusal).
void EstimateEquilibriumRotorSpeeds(float Mlo, float Mhi, float meniscus, float bottom, float vbar,
                                    float density, RotorSpeedEstimate& e);
