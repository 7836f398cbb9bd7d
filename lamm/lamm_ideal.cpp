// Copying a CLammIdeal, and the small pieces every stage of a run shares:
// the scan times, the output rows, the refusal box. The files of the class
// read top-down: the checked run (lamm_checked_run.cpp) on top, then the
// solver paths, the per-step output, loading and grid choice, and below
// them the rotor, the detection corrections, the solvent and the work
// memory; none of them calls a file above it.
#include "lamm/lamm_ideal.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "platform/error_box.h"
#include "numerics/regrid.h"
#include "platform/input_events.h"
#include "platform/program_paths.h"

void CLammIdeal::ShowRefusal(const char* text) {
  // Worker threads report through their return code only.
  if (!inWorker_) ErrorBox(text);
}

// ---------------------------------------------------------------- copying

void CLammIdeal::CopySettings(const CLammIdeal& o) {
  static_cast<LammIdealSettings&>(*this) = static_cast<const LammIdealSettings&>(o);
  CopyFluorophoreFrom(o);
  // Per-scan output goes to a block of the copy's own, never the template's.
  AllocPerScanBlock();
  // A reused solver starts without the errors and abort requests of its
  // last run.
  errNonConvergence_ = errTridag_ = errConcDependent_ = 0;
  pivotFailed_ = abortFlag_ = collapseFlag_ = false;
  abortRequest_ = false;
  endCondition_ = false;
}

double CLammIdeal::ScanTime(int k) const {
  const ScanRecord& rec = scans_.records[scans_.indexMap[k]];
  // With a simulated acceleration the scans' real elapsed times apply; at
  // constant speed the time equivalent of their w^2 t.
  const double t = (opt_.linearRamp || schedule_) ? rec.time : rec.timeRead;
  return startTimeOffset_ + t;
}

float* CLammIdeal::OutputRow(int scan, const float** radii, int* n) {
  if (perScanMode_) {
    *radii = scans_.perScanRadii[scan];
    *n = scans_.perScanCounts[scan];
    return ownMatrixBlock_ ? ownMatrixBlock_ + static_cast<size_t>(scan - 1) * ownCols_ - 1
                           : nullptr;
  }
  *radii = scans_.grid;
  *n = scans_.gridLength;
  return scans_.output[scan];
}

// Per-scan output needs a block of its own, a row per scan as wide as the
// longest scan (zeroed).
void CLammIdeal::AllocPerScanBlock() {
  delete[] ownMatrixBlock_;
  ownMatrixBlock_ = nullptr;
  ownRows_ = ownCols_ = 0;
  if (perScanMode_ && scans_.perScanCounts && scans_.scanCount > 0) {
    int cols = 0;
    for (int k = 1; k <= scans_.scanCount; ++k) cols = std::max(cols, scans_.perScanCounts[k]);
    ownRows_ = scans_.scanCount;
    ownCols_ = cols;
    ownMatrixBlock_ = new float[static_cast<size_t>(ownRows_) * std::max(1, ownCols_)]();
  }
}

void CLammIdeal::CopyFluorophoreFrom(const CLammIdeal& o) {
  fluorophore_.reset();
  fluorophoreWavelength_ = o.fluorophoreWavelength_;
  if (!o.fluorophore_) return;
  fluorophore_ = std::make_unique<CFluorophore>();
  o.fluorophore_->CopyTo(fluorophore_.get());
}
