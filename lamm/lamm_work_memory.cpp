// Work storage of CLammIdeal: one zero-filled block per node count, carved
// into 1-based node arrays, the placement of the node radii, and the
// moving-frame core pointed at the object's storage.
#include <algorithm>
#include <limits>
#include <new>

#include "lamm/lamm_ideal.h"
#include "lamm/radial_nodes.h"

namespace {
constexpr int kArrays = 24;  // c, c_prev, r, rhs, M/K/A/B bands, gam, piv, profile, work,
                             // factors from the bottom
}

bool CLammIdeal::AllocWorkMemory() {
  if (N_ <= 0) return false;
  if (!allocated_) {
    const size_t stride = static_cast<size_t>(N_) + 1;
    block_.reset(new (std::nothrow) double[stride * kArrays]());
    if (!block_) {
      FreeWorkMemory();
      return false;
    }
    double* p = block_.get();
    double** arrays[kArrays] = {&c_,   &cPrev_, &r_,   &rhs_, &Mlo_, &Mdi_,     &Mup_,
                                &Klo_, &Kdi_,   &Kup_, &Alo_, &Adi_, &Aup_,     &Blo_,
                                &Bdi_, &Bup_,   &gam_, &piv_, &profile_, &work_, &bottomPiv_,
                                &bottomUp_, &bottomLo_, nullptr};
    for (int k = 0; k < kArrays && arrays[k]; ++k) *arrays[k] = p + stride * k;
    if (opt_.movingFrame && !opt_.staticGrid) {
      frameBlock_.reset(new (std::nothrow) double[stride * 17]());
      if (!frameBlock_) {
        FreeWorkMemory();
        return false;
      }
      double* q = frameBlock_.get();
      double** frame[16] = {&xi_,  &Clo_, &Cdi_, &Cup_, &L0lo_, &L0di_, &L0up_, &L1lo_,
                            &L1di_, &L1up_, &Tlo_, &Tdi_, &Tup_, &Slo_, &Spiv_, &Srat_};
      for (int k = 0; k < 16; ++k) *frame[k] = q + stride * k;
    }
    allocatedCount_ = N_;
    allocated_ = true;
  } else {
    // A reused block starts as a fresh one would: a solver that serves many
    // species gives each the same result as a new solver.
    std::fill(block_.get(), block_.get() + (static_cast<size_t>(N_) + 1) * kArrays, 0.0);
    if (frameBlock_)
      std::fill(frameBlock_.get(), frameBlock_.get() + (static_cast<size_t>(N_) + 1) * 17, 0.0);
  }
  PlaceGridNodes();
  return true;
}

void CLammIdeal::FreeWorkMemory() {
  block_.reset();
  frameBlock_.reset();
  xi_ = Clo_ = Cdi_ = Cup_ = L0lo_ = L0di_ = L0up_ = L1lo_ = L1di_ = L1up_ = nullptr;
  Tlo_ = Tdi_ = Tup_ = Slo_ = Spiv_ = Srat_ = nullptr;
  mf_.storedReady = false;
  c_ = cPrev_ = r_ = rhs_ = nullptr;
  Mlo_ = Mdi_ = Mup_ = Klo_ = Kdi_ = Kup_ = nullptr;
  Alo_ = Adi_ = Aup_ = Blo_ = Bdi_ = Bup_ = nullptr;
  gam_ = piv_ = profile_ = work_ = nullptr;
  bottomPiv_ = bottomUp_ = bottomLo_ = nullptr;
  bottomFactors_ = bottomFactorsFailed_ = false;
  allocated_ = false;
  allocatedCount_ = 0;
}

void CLammIdeal::FreeAllWorkMemory() { FreeWorkMemory(); }

bool CLammIdeal::ResizeWorkMemory(int n) {
  if (!allocated_) return false;
  FreeWorkMemory();
  N_ = n;
  return AllocWorkMemory();
}

void CLammIdeal::PlaceGridNodes() {
  if (!allocated_) return;
  nonUniformGrid_ = false;
  const double m = meniscus_, b = bottom_;
  if (!opt_.movingFrame && !opt_.staticGrid) {
    // Radii in single precision on this grid, as it has always had them.
    CellCentredNodes(m, b, N_, r_);
    for (int i = 1; i <= N_; ++i) r_[i] = static_cast<float>(r_[i]);
  } else if (opt_.staticGrid && grading_) {
    N_ = GradedNodes(m, b, gradingRadius_, gradingStep_, N_, r_);
    nonUniformGrid_ = true;
  } else if (opt_.staticGrid && layered_ && layeredRadii_.size() == static_cast<size_t>(N_) + 1) {
    for (int i = 1; i <= N_; ++i) r_[i] = layeredRadii_[static_cast<size_t>(i)];
    nonUniformGrid_ = true;
  } else if (opt_.staticGrid) {
    // Nodes in double: the element integrals and the mass balance then see
    // exactly the grid the matrices were built for.
    EvenNodes(m, b, N_, r_);
    r_[N_] = b;
  } else {
    const double frameS = opt_.automaticSGrid ? s_ : opt_.sGridValue;
    MovingFrameNodes(m, b, N_, frameS >= 0, r_);
    nonUniformGrid_ = true;
  }
}

int CLammIdeal::SetupGradedGrid(float transitionRadius) {
  const double Rt = transitionRadius;
  if (meniscus_ == 0 || bottom_ == 0 || Rt <= meniscus_ || N_ < 50 || !opt_.staticGrid ||
      opt_.movingFrame) {
    ResizeWorkMemory(N_);
    return N_;
  }
  const double m = meniscus_, b = bottom_;
  const double h0 = (b - m) / (N_ - 1);
  const int count = GradedNodes(m, b, Rt, h0, std::numeric_limits<int>::max(), nullptr);
  if (allocated_) FreeWorkMemory();
  if (count < 50) {
    N_ = 50;
    grading_ = false;
    AllocWorkMemory();
  } else {
    N_ = count;
    grading_ = true;
    gradingRadius_ = Rt;
    gradingStep_ = h0;
    AllocWorkMemory();
    grading_ = false;
  }
  return N_;
}

void CLammIdeal::BindFrameCore() const {
  CMovingFrameCore& f = mf_;
  f.N = N_;
  f.meniscus = meniscus_;
  f.bottom = bottom_;
  f.s = s_;
  f.D = D_;
  f.sStar = sStar_;
  f.steep = steep_;
  f.quiet = inWorker_;
  f.solvent = localSolvent_ ? &factors_ : nullptr;
  f.xi = xi_;
  f.r = r_;
  f.c = c_;
  f.cPrev = cPrev_;
  f.rhs = rhs_;
  f.gam = gam_;
  f.Mlo = Mlo_, f.Mdi = Mdi_, f.Mup = Mup_;
  f.Klo = Klo_, f.Kdi = Kdi_, f.Kup = Kup_;
  f.Blo = Blo_, f.Bdi = Bdi_, f.Bup = Bup_;
  f.Clo = Clo_, f.Cdi = Cdi_, f.Cup = Cup_;
  f.L0lo = L0lo_, f.L0di = L0di_, f.L0up = L0up_;
  f.L1lo = L1lo_, f.L1di = L1di_, f.L1up = L1up_;
  f.Alo = Alo_, f.Adi = Adi_, f.Aup = Aup_;
  f.Tlo = Tlo_, f.Tdi = Tdi_, f.Tup = Tup_;
  f.Slo = Slo_, f.Spiv = Spiv_, f.Srat = Srat_;
}

void CLammIdeal::UpdateMovingGridRadii() {
  if (!xi_) return;
  BindFrameCore();
  mf_.UpdateRadii(t_);
}
