#include "distributions/conti_detection.h"

#include <algorithm>
#include <vector>

#include "data/fluorescence_corrections.h"
#include "data/scan_set.h"
#include "fit/model_evaluation.h"

namespace {

bool DetectionOn() {
  return CurrentFdsSignalParams().useNonlinearDetection != 0 && CurrentScanSet().count > 0;
}

std::vector<float> Copy(const float* a, int n) {
  return a && n > 0 ? std::vector<float>(a + 1, a + n + 1) : std::vector<float>();
}

void PutBack(const std::vector<float>& from, float* to, int n) {
  if (to && static_cast<int>(from.size()) == n) std::copy(from.begin(), from.end(), to + 1);
}

// Switching between the two copies rebuilds the common grid, which re-runs
// the fit-limit checks. That marks the data as changed, and the fit reads
// such a mark as an interrupted evaluation; the copies hold the same
// measurement, so the mark is put back as it was.
void Transform(int mode) {
  ScanSet& s = CurrentScanSet();
  const unsigned char changed = s.dataChanged;
  CurrentModelEvaluationHooks().nonlinearTransform(mode);
  s.dataChanged = changed;
}

}  // namespace

void SelectLinearisedScans() {
  if (DetectionOn()) Transform(1);
}

void RestoreScanChoice() {
  if (!DetectionOn()) return;
  ScanSet& s = CurrentScanSet();
  // The rebuilt grid starts with empty noise arrays. The noise just fitted
  // belongs to the linearised signals: it is kept when those stay on view,
  // and has no meaning beside the measured ones.
  const bool linearisedStays = CurrentFdsSignalParams().showTransformed != 0;
  const int length = s.gridLength, count = s.count;
  const std::vector<float> ti = linearisedStays ? Copy(s.tiNoise, length) : std::vector<float>();
  const std::vector<float> ri = linearisedStays ? Copy(s.riNoise, count) : std::vector<float>();
  Transform(0);
  if (s.gridLength == length && s.count == count) {
    PutBack(ti, s.tiNoise, length);
    PutBack(ri, s.riNoise, count);
  }
}

float DetectionObjectiveRmsd(float rmsd) { return DetectionOn() ? NonlinearDetectionRmsd() : rmsd; }
