// Per-step output of CLammIdeal: when the simulated time reaches the next
// scan, the node profile is interpolated onto that scan's radii (or the
// common grid) and the run moves on to the next scan; plus the solver's
// debug log.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "data/fluorophore.h"
#include "data/load_hooks.h"
#include "data/scan_set.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_threads.h"
#include "lamm/solver_display.h"
#include "numerics/constants.h"
#include "numerics/regrid.h"
#include "platform/error_box.h"
#include "platform/input_events.h"
#include "platform/paths.h"

bool CLammIdeal::UserAbortRequested() {
  // A worker takes no keys: the thread that does turns a press into the
  // stop flag, which ends the species under way at its next scan instead
  // of after the whole species (minutes on a fine static grid).
  if (inWorker_) return platform::StopFlag().load(std::memory_order_relaxed);
  // On the thread that owns the window a key, a click or a fit out of time
  // raises the flag, which ends the species list and tells the fit (the
  // pump is throttled, so a scan's poll stays cheap).
  return platform::PollStop();
}

void ShowSolvingLammEquation(int equation, double s, double D, int thread, int x, int y) {
  const LoadHooks& h = CurrentLoadHooks();
  if (!h.drawText) return;
  char text[200];
  std::snprintf(text, sizeof text,
                "solving Lamm equation #%d for s = %.3f S, D=%1.3e cm^2/sec [Thread %d]      ", equation, s, D,
                thread);
  h.drawText(text, x, y);
}

void CLammIdeal::ShowSolvingProgress(int x, int y) {
  if (inWorker_ || !ShowsProgressText()) return;
  ShowSolvingLammEquation(scans_.component, s_, D_, threadNumber_, x, y);
}

void CLammIdeal::ShowStepLines(double change, bool last) const {
  const LammSolverDisplay& display = CurrentLammSolverDisplay();
  if (!display.drawText) return;
  if (!StepLinesDue(last)) return;
  char text[200];
  std::snprintf(text, sizeof text, "dt = %f sec  ", dt_);
  display.drawText(10, 70, text);
  std::snprintf(text, sizeof text, "#it = %d   ", stepCount_);
  display.drawText(10, 90, text);
  if (massTracking_)
    std::snprintf(text, sizeof text, "t = %.0f sec (M=%f) ", t_, cellContent_);
  else
    std::snprintf(text, sizeof text, "t = %.0f sec  ", t_);
  std::string line = text;
  const CFluorophore* f = fluorophore_.get();
  if (f && f->bBurning && t_ >= f->BurnStartTime && t_ < f->BurnEndTime) line += "(blasting) ";
  display.drawText(10, 110, line);
  std::snprintf(text, sizeof text, "ri=%f  ", change);
  display.drawText(10, 130, text);
}

void CLammIdeal::ShowStoredScan(int scan, const float* row, const float* radii, int n) const {
  // Drawing and files belong to the user-interface thread.
  if (inWorker_ || scans_.suppressText1 || scans_.suppressText2) return;
  const LammSolverDisplay& display = CurrentLammSolverDisplay();
  if (scans_.showProgress && row && radii && display.plotFloats) display.plotFloats(radii, row, n, EquationColour(scans_.component));
  // The co-sedimenting solvent goes with the first equation.
  if (scans_.component != 1 || !localSolvent_ || !solvent_.SedimentingCosolute || cosolute_.n < 1) return;
  if (solvent_.PlotCosoluteData && scans_.showProgress && display.plotDoubles)
    display.plotDoubles(cosolute_.r.data(), cosolute_.c.data(), cosolute_.n, kCosoluteColour);
  if (solvent_.SaveCosoluteData && !cosoluteBase_.empty() && scans_.records) {
    char name[40];
    std::snprintf(name, sizeof name, "comp2_%d.r00", outIndex_);
    WriteCosoluteScan(CosoluteFolder(cosoluteBase_) + name, cosolute_.r.data(), cosolute_.c.data(), cosolute_.n,
                      scans_.records[scan]);
  }
}

void CLammIdeal::EachIterationOutput(double change) {
  if (reachedTime_) reachedTime_->store(t_, std::memory_order_relaxed);
  if (scans_.showProgress && !inWorker_ && !scans_.suppressText1 && !scans_.suppressText2)
    ShowStepLines(change, t_ >= nextScanTime_ && outIndex_ >= scans_.scanCount);
  if (t_ < nextScanTime_) {
    segmentIndex_ = scannedNodes_ = 0;
    scanElapsed_ = 0;
    if (timed_.on) ApplyTimedProfiles(t_);
    return;
  }
  if (UserAbortRequested()) {
    running_ = false;
    abortRequest_ = true;
  }
  if (opt_.movingFrame && !opt_.staticGrid) UpdateMovingGridRadii();
  const double* profile = c_;
  const double* nodeRadii = r_;
  if (FiniteScan()) {
    if (!AssembleScanSegment()) {
      // The path ends a step where the scanner reaches its next piece.
      pendingEvent_ = true;
      const double segmentTime = (bottom_ - meniscus_) / (scans_.scanVelocity / 60.0) / segments_;
      pendingTime_ = nextScanTime_ + scanElapsed_ + segmentTime;
      if (timed_.on) ApplyTimedProfiles(t_);
      return;
    }
    profile = profile_;
    nodeRadii = scanRadii_.data();
  }
  const int scan = scans_.indexMap[outIndex_];
  const float* radii = nullptr;
  int n = 0;
  float* row = OutputRow(scan, &radii, &n);
  if (profile == c_ && detection_.wiener && wienerRef_ && wienerWork1_ && wienerWork2_) {
    for (int i = 1; i <= N_; ++i) profile_[i] = c_[i];
    ApplyWienerSkewing(N_, r_, profile_, wienerCount_, wienerRef_.get());
    profile = profile_;  // skewed back onto the node radii themselves
  }
  if (row && radii) InterpolateScan(n, radii, row, nodeRadii, profile);
  ShowStoredScan(scan, row, radii, n);

  segmentIndex_ = scannedNodes_ = 0;
  scanElapsed_ = 0;
  if (outIndex_ < scans_.scanCount) {
    ++outIndex_;
    nextScanTime_ = ScanTime(outIndex_);
    pendingEvent_ = true;
    pendingTime_ = nextScanTime_;
  } else if (!continueAfterLast_) {
    ++outIndex_;
    running_ = false;
  } else {
    ++outIndex_;
    nextScanTime_ = 1e8;
    pendingEvent_ = false;
  }
  if (timed_.on) ApplyTimedProfiles(t_);
}

// The scans of a run on fixed nodes share their radii (a common grid) or
// come back to them in the next run on the same object: the segments are
// looked up once. Moving nodes differ at every scan.
void CLammIdeal::InterpolateScan(int n, const float* radii, float* row, const double* nodeRadii,
                                 const double* profile) {
  if ((opt_.movingFrame && !opt_.staticGrid) || n < kRegridLeastPoints || radii[kRegridLeastPoints] > nodeRadii[N_ - 4]) {
    CellProfileOntoRadii(n, radii, row, N_, nodeRadii, profile);
    return;
  }
  outputPlan_.Prepare(n, radii, N_, nodeRadii);
  outputPlan_.Apply(profile, row);
}

// A scan that takes time: the scanner leaves the meniscus at the scan time
// and moves out at v; the nodes it has passed are taken piece by piece, each
// piece at the time the scanner gets there. True when the last piece is in.
bool CLammIdeal::AssembleScanSegment() {
  const double v = scans_.scanVelocity / 60.0;  // cm/s
  const double segmentTime = (bottom_ - meniscus_) / v / segments_;
  auto takeUpTo = [this](double radius) {
    int count = scannedNodes_;
    while (count < N_ && r_[count + 1] < radius) ++count;
    for (int i = scannedNodes_ + 1; i <= count; ++i) {
      profile_[i] = c_[i];
      scanRadii_[static_cast<std::size_t>(i)] = r_[i];
    }
    scannedNodes_ = count;
  };
  if (segmentIndex_ == 0) {
    scanRadii_.assign(static_cast<std::size_t>(N_) + 1, 0.0);
    takeUpTo(meniscus_ + v * segmentTime);
    for (int i = scannedNodes_ + 1; i <= N_; ++i) {
      profile_[i] = 0.0;
      scanRadii_[static_cast<std::size_t>(i)] = r_[i];
    }
    scanElapsed_ = (t_ - nextScanTime_) + segmentTime;
    segmentIndex_ = 1;
    return false;
  }
  if (t_ < nextScanTime_ + scanElapsed_ + segmentTime - 1e-10) return false;
  if (segmentIndex_ >= segments_ - 1) {
    takeUpTo(1e30);
    scanElapsed_ += segmentTime;
    ++segmentIndex_;
    return true;
  }
  takeUpTo(meniscus_ + v * (segmentIndex_ + 1) * segmentTime);
  scanElapsed_ += segmentTime;
  ++segmentIndex_;
  return false;
}

// How many pieces a scan of finite duration needs. Halving the pieces' time
// changes a recorded value by at most the lag it removes (one piece, T / n
// for a scan of duration T) times the fastest change of the signal inside
// the fitted range. Two changes are bounded, per unit of loading signal:
// - the boundary passing a point, at its steepest when the first scan is
//   taken and moving at the speed it has at the cell end:
//   s w^2 b / (2 sqrt(pi D t1)), plus 2 s w^2 for the radial dilution;
// - the material piling up at the cell end it sediments to, in a layer of
//   width D / (s w^2 b) growing at s w^2 b times the layer's height, seen
//   at the fit limit a distance d from that end: (s w^2 b)^2 / D exp(-d s w^2 b / D).
// The count is the smallest that keeps the change of a doubling below 1e-4
// of the loading signal, at least 3 (2 or less is one instantaneous scan)
// and at most 1000, since every piece ends a time step.
int CLammIdeal::FiniteScanSegments(double s, double D, double omega2, double m, double b, double v,
                                   double t1, double distance) {
  constexpr int kMost = 1000;
  if (!(v > 0) || !(b > m)) return 0;
  if (!(D > 0)) return kMost;
  const double duration = (b - m) / (v / 60.0);
  const double u = std::fabs(s) * 1e-13 * omega2 * b;  // boundary speed at the cell end, cm/s
  // Before the first scan has passed the boundary is as sharp as it gets.
  const double t = std::max(t1, duration);
  const double boundary = u / (2.0 * std::sqrt(kPi * D * t)) + 2.0 * u / b;
  const double pileUp = u * u / D * std::exp(-std::max(distance, 0.0) * u / D);
  const double needed = std::ceil((boundary + pileUp) * duration / 1e-4);
  if (!(needed < kMost)) return kMost;
  return std::max(3, static_cast<int>(needed));
}

void CLammIdeal::ChooseScanSegments() {
  segmentIndex_ = scannedNodes_ = 0;
  scanElapsed_ = 0;
  segments_ = 0;
  if (!scans_.timeResolution || !(scans_.scanVelocity > 0)) return;
  if (forcedSegments_ > 0) {
    segments_ = forcedSegments_;
    return;
  }
  double rpm = rotor_.finalRpm;
  for (int k = 1; k <= scans_.scanCount; ++k) rpm = std::max(rpm, static_cast<double>(scans_.records[scans_.indexMap[k]].rpm));
  const double omega = rpm * kOmegaPerRpm;
  // The fitted range ends this far from the cell end the species moves to.
  const double distance = s_ >= 0 ? bottom_ - rightFitLimit_ : leftFitLimit_ - meniscus_;
  segments_ = FiniteScanSegments(s_, D_, omega * omega, meniscus_, bottom_, scans_.scanVelocity,
                                 scans_.scanCount > 0 ? ScanTime(1) : 0.0, distance);
}

// The run ended before every scan was reached because nothing changes any
// more (steady state) or the watched boundary has left the observed region:
// the later scans show the final profile.
void CLammIdeal::FillRemainingScansWithFinalProfile() {
  if (opt_.movingFrame && !opt_.staticGrid) UpdateMovingGridRadii();
  while (outIndex_ <= scans_.scanCount) {
    const int scan = scans_.indexMap[outIndex_];
    const float* radii = nullptr;
    int n = 0;
    float* row = OutputRow(scan, &radii, &n);
    if (row && radii) InterpolateScan(n, radii, row, r_, c_);
    ++outIndex_;
  }
}

void CLammIdeal::DebugLog(const char* text) const {
  if (debugLog_->Started()) {
    debugLog_->Append(text, !inWorker_);
    return;
  }
  // The first call writes only the header.
  char name[100];
  std::snprintf(name, sizeof name, "c:\\temp\\debug_t%d_%ld.txt", threadNumber_, static_cast<long>(getpid()));
  char header[1000];
  std::snprintf(header, sizeof header,
                "starting new debugging session for Lamm equation s = %.4f S, D = %.3f F", s_,
                D_ * 1e7);
  debugLog_->Start(name, header, !inWorker_);
}
