#include "lamm/lamm_nonideal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "data/scan_file.h"
#include "data/scan_set.h"
#include "lamm/coefficients/nonideal_coefficients.h"
#include "lamm/quiet_steps.h"
#include "platform/paths.h"

namespace {
constexpr int kMaxForcedSteps = 10;
constexpr int kMaxTinySteps = 100;
}  // namespace

CLammNonIdeal::CLammNonIdeal() : path_(*this) {
  concDependentSolver_ = true;
  concDependentModel_ = true;
  positiveSOnly_ = true;
  cdModel_.singleNonideal = true;
}

CLammNonIdeal::~CLammNonIdeal() = default;

void CLammNonIdeal::CopyConstruct(const CLammNonIdeal& templ) {
  CopySettings(templ);
  CopyNonidealSettings(templ);
}

void CLammNonIdeal::CopyNonidealSettings(const CLammNonIdeal& templ) {
  matrix_ = templ.matrix_;  // read-only, shared by every copy
  nodeTable_ = templ.nodeTable_;
  nodeTimes_ = templ.nodeTimes_;
  nodeCount_ = templ.nodeCount_;
  nodeNodes_ = templ.nodeNodes_;
  nodeTableOn_ = templ.nodeTableOn_;
  dump_ = templ.dump_;
  dumpJob_ = templ.dumpJob_;
  dumpPrefix_ = templ.dumpPrefix_;
  dumpCount_ = 0;
  linearLimit_ = templ.linearLimit_;
  slopeS_ = templ.slopeS_;
  slopeD_ = templ.slopeD_;
  evalTolerance_ = templ.evalTolerance_;
}

void CLammNonIdeal::SetNonidealParameters(float a, float b, double scale, bool hardSphere,
                                          bool second) {
  concDependentSolver_ = true;
  concDependentModel_ = true;
  tableModel_ = false;
  cdModel_ = ConcDependentModel{};
  cdModel_.singleNonideal = !second;
  cdModel_.nonideality = true;
  cdModel_.hardSphere = hardSphere;
  cdModel_.a = a;
  cdModel_.b = b;
  cdModel_.signA = cdModel_.signB = true;
  cdModel_.scale = scale > 0 ? scale : 1.0;
}

bool CLammNonIdeal::LoadCtotMatrix(int n, int m, const double* const* rows, const double* rowTimes,
                                   const double* levels, double spacing, const char* name) {
  if (n < 1 || m < 1 || !rows || !rowTimes || !levels) return false;
  // The whole field once fitted one block addressed with 32 bits.
  const double doubles = (static_cast<double>(n) + 2) * (static_cast<double>(m) + 1) + n + 1;
  if (doubles * sizeof(double) > static_cast<double>(INT32_MAX)) return false;
  for (int i = 1; i <= n; ++i) {
    if (!rows[i] || !std::isfinite(rowTimes[i])) return false;
    if (i > 1 && !(rowTimes[i] > rowTimes[i - 1])) return false;  // equal times: no interpolation weight
  }
  for (int j = 2; j <= m; ++j)
    if (!(levels[j] >= levels[j - 1])) return false;
  auto M = std::make_shared<CtotMatrix>();
  M->n = n;
  M->m = m;
  M->spacing = spacing;
  M->radius.assign(static_cast<size_t>(n + 1) * (m + 1), 0.0);
  M->rowTime.assign(n + 1, 0.0);
  M->level.assign(m + 1, 0.0);
  for (int i = 1; i <= n; ++i) {
    M->rowTime[i] = rowTimes[i];
    for (int j = 1; j <= m; ++j) M->radius[static_cast<size_t>(i) * (m + 1) + j] = rows[i][j];
  }
  for (int j = 1; j <= m; ++j) M->level[j] = levels[j];
  M->name = name ? name : "";
  matrix_ = std::move(M);
  nodeTableOn_ = false;
  dumpCount_ = 0;
  return true;
}

void CLammNonIdeal::SetCtotNodeTable(int count, int nodeCount, float* const* profiles,
                                     const double* times) {
  nodeTableOn_ = false;
  if (!profiles || !times || count < 1 || nodeCount < 1 || nodeCount != opt_.defaultNodes) return;
  nodeTable_ = profiles;
  nodeTimes_ = times;
  nodeCount_ = count;
  nodeNodes_ = nodeCount;
  nodeTableOn_ = true;
  dumpCount_ = 0;
}

void CLammNonIdeal::SetCtotDump(bool on, int job, const char* prefix) {
  dump_ = on;
  dumpJob_ = job;
  dumpPrefix_ = prefix ? prefix : "";
}

void CLammNonIdeal::ChooseTimeStep() {
  opt_.optimiseGrid = false;
  opt_.automaticGridSize = false;
  opt_.staticGrid = true;
  opt_.fixedTimeStep = false;
  concDependentSolver_ = true;
  opt_.movingFrame = false;
}

void CLammNonIdeal::SetupGrid() {
  N_ = opt_.defaultNodes;
  if (allocated_ && allocatedCount_ != N_) FreeWorkMemory();
  AllocWorkMemory();
  steep_ = IsGradientTooSteep(s_, D_);
}

// ------------------------------------------------------------ ctot field

void CLammNonIdeal::UpdateCtot(double t) {
  if (static_cast<int>(ctot_.size()) < N_ + 2) ctot_.assign(static_cast<size_t>(N_) + 2, 0.0);
  if (nodeTableOn_ && nodeNodes_ == N_) {
    UpdateCtotFromNodeTable(t);
    if (dump_) DumpCtotVector(t, 2);
  } else if (matrix_) {
    UpdateCtotFromMatrix(t);
    if (dump_) DumpCtotVector(t, 1);
  }
}

// Level radii at t by linear interpolation between the bracketing rows
// (extrapolation beyond the last row); ctot at a node by linear interpolation
// between the levels around it.
void CLammNonIdeal::UpdateCtotFromMatrix(double t) {
  const CtotMatrix& M = *matrix_;
  int k = 1;
  while (k < M.n && !(M.rowTime[k] > t)) ++k;
  const double tHi = M.rowTime[k];
  const double tLo = k > 1 ? M.rowTime[k - 1] : 0.0;
  const double w = tHi > tLo ? (t - tLo) / (tHi - tLo) : 1.0;
  levelRadius_.assign(static_cast<size_t>(M.m) + 1, 0.0);
  for (int j = 1; j <= M.m; ++j) {
    const double lo = k > 1 ? M.Radius(k - 1, j) : meniscus_;
    levelRadius_[j] = (M.Radius(k, j) - lo) * w + lo;
  }
  // With the level radii in order (the usual case) the search goes on from
  // the previous node, the nodes being in order too; it ends where the
  // walk from the first level would.
  bool ordered = true;
  for (int j = 2; j <= M.m && ordered; ++j) ordered = levelRadius_[j] >= levelRadius_[j - 1];
  for (int i = 1; i < active_ && i <= N_; ++i) ctot_[i] = 0;
  int j = 2;
  for (int i = std::max(active_, 1); i <= N_; ++i) {
    const double r = r_[i];
    if (!ordered) j = 2;
    while (j <= M.m && levelRadius_[j] <= r) ++j;
    double v;
    if (M.m < 2 || j > M.m)
      v = M.level[M.m];
    else if (levelRadius_[j] == levelRadius_[j - 1])
      v = M.level[j];
    else
      v = M.level[j - 1] + M.spacing * (r - levelRadius_[j - 1]) / (levelRadius_[j] - levelRadius_[j - 1]);
    ctot_[i] = v < 0 ? 0.0 : v;
  }
}

void CLammNonIdeal::UpdateCtotFromNodeTable(double t) {
  int k = 1;
  while (k < nodeCount_ && !(nodeTimes_[k] > t)) ++k;
  for (int i = 1; i < active_ && i <= N_; ++i) ctot_[i] = 0;
  const float* hi = nodeTable_[k];
  if (k < 2 || k >= nodeCount_) {
    for (int i = std::max(active_, 1); i <= N_; ++i) ctot_[i] = hi[i];
    return;
  }
  const float* lo = nodeTable_[k - 1];
  const double tLo = nodeTimes_[k - 1], tHi = nodeTimes_[k];
  const double w = tHi > tLo ? (t - tLo) / (tHi - tLo) : 1.0;
  const float cap = lo[N_];
  for (int i = std::max(active_, 1); i <= N_; ++i) {
    float v = static_cast<float>((hi[i] - lo[i]) * w + lo[i]);
    if (v < -0.001f) v = 0;
    ctot_[i] = std::min(v, cap);
  }
}

void CLammNonIdeal::DumpCtotVector(double t, int kind) {
  if (scans_.component != dumpJob_ || !scans_.records || !scans_.indexMap) return;
  ++dumpCount_;
  char name[400];
  std::snprintf(name, sizeof name, "%sit%dctot%3d.ip0", dumpPrefix_.c_str(), kind, dumpCount_);
  // Diagnostics never interrupt a run: an unwritable place is skipped.
  if (!platform::CheckedOutputFile(name)) return;
  std::vector<float> radii(static_cast<size_t>(N_) + 1), values(static_cast<size_t>(N_) + 1);
  for (int i = 1; i <= N_; ++i) {
    radii[i] = static_cast<float>(r_[i]);
    values[i] = static_cast<float>(ctot_[i]);
  }
  char description[80];
  std::snprintf(description, sizeof description, "ctotvec t=%.0f", t);
  const int scan = scans_.indexMap[std::clamp(outIndex_, 1, scans_.scanCount)];
  WriteScanFile(name, N_, radii.data(), values.data(), nullptr, description, 0, scans_.records[scan]);
}

// ------------------------------------------------------------ coefficients

void CLammNonIdeal::FindLinearRange() {
  linearLimit_ = -1.0;
  slopeS_ = slopeD_ = -1.0;
  evalTolerance_ = 0.01f;
  if (!model_.hardSphere) return;
  const double s = s_, D = D_;
  auto eval = [&](double x, double& slS, double& slD) {
    double sx = 0, Dx = 0;
    ConcentrationFactorsSD(static_cast<float>(x), model_.k, model_.tau, static_cast<float>(s),
                           static_cast<float>(D), model_.vbar, model_.rho, model_.T, model_.eta, &sx, &Dx);
    slS = -(sx - s) / x;
    slD = (Dx - D) / x;
    return std::isfinite(sx) && std::isfinite(Dx) && sx * s >= 0 && Dx >= 0;
  };
  double s0, d0;
  if (!eval(0.01, s0, d0)) return;
  if (s0 == 0) {
    // No crowding at all (k = 0): the constant coefficients hold everywhere.
    linearLimit_ = HUGE_VAL;
    slopeS_ = slopeD_ = 0;
    return;
  }
  linearLimit_ = 0.01;
  slopeS_ = s0;
  slopeD_ = d0;
  for (double x = 0.02; x <= 50; x += 0.02) {
    double a, b;
    if (!eval(x, a, b) || std::fabs(a - s0) / std::fabs(s0) > 0.001) break;
    slopeS_ = a;
    slopeD_ = b;
    linearLimit_ = x;
  }
}

void CLammNonIdeal::SetNodeCoefficients(double t) {
  UpdateCtot(t);
  double* sN = path_.sN.data();
  double* DN = path_.DN.data();
  const double s = s_, D = D_;
  // Exact evaluations of this pass, for interpolation between neighbours
  // whose totals differ by less than the evaluation tolerance.
  double xLast = -1, sLast = 0, DLast = 0, xPrev = -1, sPrev = 0, DPrev = 0;
  for (int i = std::max(active_, 1); i <= N_; ++i) {
    const double ct = ctot_[i];
    if (!model_.hardSphere) {
      double fs, fd;
      if (!model_.Factors(ct, static_cast<float>(s), static_cast<float>(D), fs, fd)) errConcDependent_ = 1;
      sN[i] = static_cast<float>(fs * s);
      DN[i] = static_cast<float>(fd * D);
      continue;
    }
    const double x = ct / model_.scale;
    if (x <= 0) {
      sN[i] = s;
      DN[i] = D;
    } else if (x <= linearLimit_) {
      sN[i] = s - x * slopeS_;
      DN[i] = D + x * slopeD_;
    } else if (xLast > 0 && std::fabs(x - xLast) / xLast <= evalTolerance_) {
      const double x0 = xPrev > 0 ? xPrev : 0.0, s0 = xPrev > 0 ? sPrev : s, D0 = xPrev > 0 ? DPrev : D;
      const double w = xLast != x0 ? (x - x0) / (xLast - x0) : 1.0;
      sN[i] = s0 + w * (sLast - s0);
      DN[i] = D0 + w * (DLast - D0);
    } else {
      double si = 0, Di = 0;
      lastPhi_ = static_cast<float>(ConcentrationFactorsSD(static_cast<float>(x), model_.k, model_.tau,
                                                           static_cast<float>(s), static_cast<float>(D),
                                                           model_.vbar, model_.rho, model_.T, model_.eta,
                                                           &si, &Di));
      if (!(std::isfinite(si) && std::isfinite(Di) && si * s >= 0 && Di >= 0)) errConcDependent_ = 1;
      if (xLast > 0) {
        xPrev = xLast;
        sPrev = sLast;
        DPrev = DLast;
      }
      xLast = x;
      sLast = si;
      DLast = Di;
      sN[i] = si;
      DN[i] = Di;
    }
  }
}

// ------------------------------------------------------------ steps

bool CLammNonIdeal::TrialStep(double dt) {
  if (accelerating_ || schedule_) RotorOmegaInStep(t_, dt);
  SetNodeCoefficients(t_ + dt / 2);
  path_.AssembleCrankNicolson(path_.sN.data(), path_.DN.data(), steep_, dt);
  if (!path_.SolveCrankNicolson(cPrev_, c_, active_)) {
    for (int i = 1; i <= N_; ++i) c_[i] = cPrev_[i];
    return true;
  }
  const int a = active_;
  if (a > 3 && a + 3 <= N_) {
    // A depletion front that rings around its mean is replaced by a smooth
    // ramp with the same sum.
    const double m = 0.2 * (c_[a - 1] + c_[a] + c_[a + 1] + c_[a + 2] + c_[a + 3]);
    if (m < 10 * trimThreshold_ && (c_[a] - m) * (c_[a - 1] - m) < 0 && (c_[a + 1] - m) * (c_[a] - m) < 0) {
      const double f[5] = {5, 10, 20, 40, 60};
      for (int q = 0; q < 5; ++q) c_[a - 1 + q] = m * f[q] / 27.0;
    }
  }
  if (s_ > 0) {
    for (int i = std::max(1, a - 2); i <= N_ - 1; ++i) {
      if (c_[i] > 0.1) break;
      if (c_[i] < 0 && c_[i] > -0.001) {
        c_[i + 1] += c_[i] * r_[i] / r_[i + 1];
        c_[i] = 0;
      }
    }
  }
  for (int i = 1; i <= N_; ++i)
    if (!(std::fabs(c_[i]) <= 1e100)) {
      errNonConvergence_ = 1;
      return false;
    }
  return true;
}

void CLammNonIdeal::SpreadTrialNegatives() {
  auto spread = [&](int i) {
    c_[i - 1] += static_cast<float>(0.5 * c_[i] * r_[i] / r_[i - 1]);
    c_[i + 1] += static_cast<float>(0.5 * c_[i] * r_[i] / r_[i + 1]);
    c_[i] = 0;
  };
  if (t_ < 10 && (zone_.on || initialProfile_ || syntheticBoundary_ || cdModel_.cleanUp)) {
    for (int i = 2; i <= N_ - 1; ++i)
      if (c_[i] < 1e-10) spread(i);
  }
  if (schedule_) {
    if (c_[1] < 0) {
      c_[2] += c_[1] * r_[1] / r_[2];
      c_[1] = 0;
    }
    for (int i = 2; i <= N_ - 1; ++i)
      if (c_[i] < 0 && c_[i - 1] > 0 && c_[i + 1] > 0) spread(i);
  }
}

void CLammNonIdeal::AcceptStep() {
  ++stepCount_;
  t_ += dt_;
  if (!schedule_ && accelerating_ && t_ >= rotor_.accelDuration) {
    accelerating_ = false;
    rotor_.rpm = rotor_.finalRpm;
  }
  if (schedule_ && !scheduleFinished_) UpdateSpeedStep(t_);
  // A small undershoot at the meniscus is reflected into the second node
  // with the node weights, keeping the amount.
  if (-trimThreshold_ < c_[1] && c_[1] < 0) FixNegativeMeniscus();
  if (massTracking_) cellContent_ = CellContent();
}

double CLammNonIdeal::StepChange() {
  bool undershoot = false;
  const double e = RelativeStepChange(c_, cPrev_, std::max(active_, 1), N_, trimThreshold_, undershoot);
  return undershoot ? ctl_.Undershoot() : e;
}

int CLammNonIdeal::AdvanceActiveStart() {
  int i = active_;
  while (i <= N_ - 10 && (c_[i] + c_[i + 1] + c_[i + 2]) / 3 <= trimThreshold_) {
    active_ = i;
    ++i;
  }
  return active_;
}

double CLammNonIdeal::AdaptiveStep() {
  const int from = active_ >= 4 ? active_ - 2 : 1;
  for (int i = from; i <= N_; ++i) cPrev_[i] = c_[i];
  auto cut = [&]() {
    if (nextScanTime_ > t_ && t_ + dt_ > nextScanTime_) dt_ = nextScanTime_ - t_;
  };
  bool hit = false;
  // The step within the rotor's and the scans' limits; false (the step set
  // to 1 s) when nothing of it is left.
  auto limit = [&] {
    LimitTimeStep(true, hit);
    cut();
    if (dt_ > 0) return true;
    dt_ = 1.0;
    return false;
  };
  if (!limit()) return 1.0;
  auto failed = [&] { return errNonConvergence_ || errTridag_ || errConcDependent_; };
  auto trial = [&] {
    if (!TrialStep(dt_) || failed()) return false;
    SpreadTrialNegatives();
    return true;
  };
  if (!trial()) return 0;
  if (stepCount_ == 0 && c_[1] > 0) {
    AcceptStep();
    return dt_;
  }
  double err = StepChange();
  if (!steep_ && s_ > 0 && c_[N_] < cPrev_[N_] && dt_ > 1) {
    dt_ *= 0.5;
    if (!trial()) return 0;
    err = StepChange();
  }
  while (err > ctl_.tol) {
    if (ctl_.forced > kMaxForcedSteps) {
      errNonConvergence_ = 1;
      return 0;
    }
    dt_ = ctl_.Shrink(err, dt_);
    if (!limit()) return 1.0;
    if (!trial()) return 0;
    err = StepChange();
  }
  AcceptStep();
  dt_ = ctl_.Grow(err, dt_);
  cut();
  LimitTimeStep(false, hit);
  return err;
}

// ------------------------------------------------------------ the run

void CLammNonIdeal::SolveConcDependent() { TimeLoop(); }

void CLammNonIdeal::TimeLoop() {
  if (N_ < 2 || !allocated_) return;
  path_.Allocate(0);
  path_.AssembleNonidealMatrices();
  ctot_.assign(static_cast<size_t>(N_) + 2, 0.0);
  errNonConvergence_ = errTridag_ = errConcDependent_ = 0;
  // The mean field always carries a nonideality.
  cdModel_.nonideality = true;
  model_ = NonidealityFromSettings(*this);
  if (!model_.hardSphere && model_.ks * c_[1] > 1.0) {
    errConcDependent_ = 1;
    return;
  }
  ctl_.Start(opt_.stepTolerance, opt_.stepLowerTolerance, opt_.stepTarget, opt_.stepFactor, opt_.blend);
  for (int i = 1; i <= N_; ++i) cPrev_[i] = c_[i];
  FindLinearRange();
  active_ = 1;
  trimming_ = s_ > 0;
  trimThreshold_ = opt_.truncationSetting * c_[1];
  SetNodeCoefficients(0);
  if (maxTimeGiven_)
    ctl_.dtMax = maxTimeValue_;
  else
    ctl_.dtMax = std::clamp(s_ != 0 ? 0.5 * rotor_.rpm * rotor_.rpm * D_ / s_ : 1000.0, 10.0, 1000.0);
  int watch = N_;
  for (int i = 1; i <= N_; ++i)
    if (r_[i] > rightFitLimit_) {
      watch = i;
      break;
    }
  const double watchThreshold = watchFraction_ * c_[watch];
  const bool wiener = detection_.wiener;
  if (wiener) AllocProfileBuffers(N_);
  const double lastScanTime = ScanTime(scans_.scanCount);
  endCondition_ = false;
  int tiny = 0;
  CQuietSteps quiet;
  while (running_) {
    if (errNonConvergence_ || errTridag_ || errConcDependent_) break;
    const double dtUsed = dt_;
    double q = AdaptiveStep();
    if (errNonConvergence_ || errTridag_ || errConcDependent_) break;
    if (trimming_) AdvanceActiveStart();
    if (dt_ < 1e-12) {
      if (++tiny > kMaxTinySteps) errNonConvergence_ = 1;
    } else {
      tiny = 0;
    }
    if (wiener && wienerRef_ && t_ >= nextScanTime_) {
      UpdateCtot(t_);
      for (int i = 1; i <= N_; ++i) wienerRef_[i] = ctot_[i] / model_.scale;
    }
    EachIterationOutput(q);
    q /= dtUsed;
    if (running_ && s_ > 0 && !zone_.on && !initialProfile_ && !syntheticBoundary_ &&
        (c_[watch] < watchThreshold || watch < active_)) {
      endCondition_ = true;
      running_ = false;
    }
    const double remaining = std::max(0.0, lastScanTime - t_);
    if (quiet.Count(IsQuietStep(dtUsed, q, opt_.steadyTolerance, remaining))) {
      endCondition_ = true;
      running_ = false;
    }
  }
  if (wiener) FreeProfileBuffers();
}
