#include "data/raw_data_transforms.h"

#include <algorithm>
#include <utility>

#include "data/data_messages.h"
#include "data/load_hooks.h"
#include "data/scan_file.h"
#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "numerics/regrid.h"
#include "platform/paths.h"

namespace {

// Marks the data changed; false (after the refusal) for DLS data.
bool Start(bool refuseDls) {
  ScanSet& s = CurrentScanSet();
  s.dataChanged = 1;
  if (refuseDls && CurrentDataTypeFlags().dls) {
    data_messages::RefuseDls();
    return false;
  }
  return s.count > 0;
}

template <typename F>
void EachPoint(F f) {
  ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= s.count; ++i)
    for (int k = 1; k <= s.points[i]; ++k) f(i, k);
}

}  // namespace

void ScaleSignals(float factor) {
  if (!Start(true)) return;
  ScanSet& s = CurrentScanSet();
  EachPoint([&](int i, int k) { s.signals[i][k] *= factor; });
  PrepareScanGrid();
}

void TransformRadii(float a, float b) {
  if (!Start(true)) return;
  ScanSet& s = CurrentScanSet();
  EachPoint([&](int i, int k) { s.radii[i][k] = a * s.radii[i][k] + b; });
  PrepareScanGrid();
}

void AddTimeAndW2tOffsets(float dt, float dw2t) {
  ScanSet& s = CurrentScanSet();
  s.dataChanged = 1;
  for (int i = 1; i <= s.count; ++i) {
    s.records[i].time += dt;
    s.records[i].w2t += dw2t;
  }
}

void AddScaledModelToSignals(float factor) {
  if (!Start(true)) return;
  ScanSet& s = CurrentScanSet();
  EachPoint([&](int i, int k) {
    if (s.model[i]) s.signals[i][k] += factor * s.model[i][k];
  });
  PrepareScanGrid();
}

void MirrorScans(float r1, float r2, bool upsideDown) {
  ScanSet& s = CurrentScanSet();
  if (CurrentDataTypeFlags().dls) {
    data_messages::RefuseDls();
    return;
  }
  const float low = std::min(r1, r2), high = std::max(r1, r2);
  for (int i = 1; i <= s.count; ++i) {
    const int n = s.points[i];
    for (int k = 1; k <= n; ++k) {
      s.radii[i][k] = high - (s.radii[i][k] - low);
      if (upsideDown) s.signals[i][k] = -s.signals[i][k];
    }
    std::reverse(s.radii[i] + 1, s.radii[i] + n + 1);
    std::reverse(s.signals[i] + 1, s.signals[i] + n + 1);
  }
}

void ScaleSignalsAddNoise(float sd, float scale) {
  ScanSet& s = CurrentScanSet();
  s.dataChanged = 1;
  if (s.count <= 0 || !(sd >= 0.0f)) return;
  LoadHooks& h = CurrentLoadHooks();
  EachPoint([&](int i, int k) {
    s.signals[i][k] = scale * s.signals[i][k];
    if (sd > 0.0f) s.signals[i][k] += static_cast<float>(sd * h.gaussRandom());
  });
  PrepareScanGrid();
}

bool SubtractBlankScanFile(const std::string& path) {
  if (!Start(true)) return false;
  ScanSet& s = CurrentScanSet();
  DataTypeFlags& flags = CurrentDataTypeFlags();
  const auto intensity = flags.intensity, absorbance = flags.absorbance,
             interference = flags.interference;
  ScanRecord record;
  int n = 0;
  float *radii = nullptr, *signals = nullptr, *reference = nullptr;
  const int ok = ReadScanFile(platform::ToNative(path).c_str(), &record, &n, &radii, &signals,
                              &reference, nullptr, 0.0f);
  flags.intensity = intensity;
  flags.absorbance = absorbance;
  flags.interference = interference;
  if (ok != 1) {
    data_messages::InfoSound();
    ErrorBox("LOAD ERROR");
    return false;
  }
  for (int i = 1; i <= s.count; ++i) {
    const int m = s.points[i];
    FloatVec blank(1, std::max(m, 1));
    for (int k = 1; k <= m; ++k) blank[k] = 0.0f;
    InterpolateOntoGrid(m, s.radii[i], blank, n, radii, signals);
    for (int k = 1; k <= m; ++k) s.signals[i][k] -= blank[k];
  }
  free_vector(radii, 1, n);
  free_vector(signals, 1, n);
  if (reference) free_vector(reference, 1, n);
  PrepareScanGrid();
  return true;
}
