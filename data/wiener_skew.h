#pragma once
// The Wiener skewing correction of interference profiles: a refractive-index
// gradient bends the light, so a boundary is recorded at radii shifted by
// magnitude x the concentration gradient. The command "Wiener Skewing
// Correction" switches it on; the parameter question sets the values; the
// fit can float the magnitude.
#include <cstdint>

struct WienerSkewSettings {
  std::uint8_t use = 0;
  float magnitude = 0;                  // cm^2 ml/mg
  std::int32_t fit = 0;                 // non-zero: the magnitude is floated
  float signalPerConcentration = 1.0f;  // signal per mg/ml
};
WienerSkewSettings& CurrentWienerSkew();

// Takes the two entries of the parameter question, the magnitude in units
// of 1e-6 cm^2 ml/mg. False (nothing changed) for a negative magnitude
// together with a positive signal per mg/ml. A magnitude that is not
// positive switches the correction off.
bool TakeWienerSkewEntries(float magnitudeEntry, bool fit, float signalPerConcentration);
