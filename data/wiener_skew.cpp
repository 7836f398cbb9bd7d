#include "data/wiener_skew.h"

WienerSkewSettings& CurrentWienerSkew() {
  static WienerSkewSettings settings;
  return settings;
}

bool TakeWienerSkewEntries(float magnitudeEntry, bool fit, float signalPerConcentration) {
  if (magnitudeEntry < 0.0f && signalPerConcentration > 0.0f) return false;
  WienerSkewSettings& w = CurrentWienerSkew();
  if (!(magnitudeEntry > 0.0f)) {
    w.use = 0;
    return true;
  }
  w.magnitude = 1e-6f * magnitudeEntry;
  w.signalPerConcentration = signalPerConcentration;
  w.fit = fit ? 1 : 0;
  return true;
}
