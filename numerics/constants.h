#pragma once
// Mathematical constants and the rotor-speed conversions built from them,
// defined once for every layer: a copied value drifts.

inline constexpr double kPi = 3.14159265358979323846;

// pi rounded to single precision (3.1415927f), for the routines that work
// in float throughout.
inline constexpr float kPiF = static_cast<float>(kPi);

// The cell's sector factor (cm): optical path 1.2 cm times the 2 degree
// sector angle in radians; the amount in the sector is this times
// int r c(r) dr.
inline constexpr double kSectorFactor = 1.2 * (2.0 * kPi / 180.0);

// Angular velocity w (rad/s) for a rotor speed in rpm.
inline constexpr double RpmToOmega(double rpm) { return rpm * 2 * kPi / 60.0; }

// 2 pi / 60 as one factor (0.10471975511965977 rad/s per rpm): rpm times
// it can differ from RpmToOmega in the last bit, so each routine keeps the
// form it was built and checked with.
inline constexpr double kOmegaPerRpm = 2.0 * kPi / 60.0;
// The same to eight digits: the factor the working times are recovered
// from w^2t with at loading and by the time-stamp checks.
inline constexpr double kOmegaPerRpm8 = 0.10471976;

// w^2 (1/s^2) for a rotor speed in rpm.
inline constexpr double Omega2(double rpm) {
  const double w = RpmToOmega(rpm);
  return w * w;
}

// w^2 1e-13 (1/s per Svedberg) for a rotor speed in rpm: s (S) times this
// is s w^2 in 1/s.
inline constexpr double SvedbergOmega2(double rpm) { return Omega2(rpm) * 1e-13; }
