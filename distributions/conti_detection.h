#pragma once
// Nonlinear detection of fluorescence data in the c(s) family. The
// distribution is a linear superposition of Lamm solutions, so it can only
// be fitted to signals that are linear in concentration: the run works on
// the linearised copy of the scans, and afterwards the copy the user chose
// to look at comes back. All of it does nothing while the correction is off.

// Puts the linearised signals (power and baseline as entered or floated)
// into the scans and onto the common grid.
void SelectLinearisedScans();
// Puts back the signals and models of the copy the display switch selects.
// The model must have been mapped into both spaces first (the fill-in of
// the model does that), or a stale model comes back with the data.
void RestoreScanChoice();
// The misfit a continuous-model fit minimises: with the correction on, the
// rmsd of the measured (untransformed) signals against the back-transformed
// model; otherwise `rmsd` itself.
float DetectionObjectiveRmsd(float rmsd);

// The linearised scans for the length of a run; every way out restores the
// user's choice unless the run hands the linearised scans on (to a fill-in
// of the model that follows, or to the display step that restores itself).
class LinearisedScansDuringRun {
 public:
  LinearisedScansDuringRun() { SelectLinearisedScans(); }
  ~LinearisedScansDuringRun() {
    if (!handedOn_) RestoreScanChoice();
  }
  LinearisedScansDuringRun(const LinearisedScansDuringRun&) = delete;
  LinearisedScansDuringRun& operator=(const LinearisedScansDuringRun&) = delete;
  void HandOn() { handedOn_ = true; }

 private:
  bool handedOn_ = false;
};
