// The checks of the static-grid path's steps: the change a step made, the
// active region [start, end] outside which the solution is depleted
// (before start) or an analytic plateau (after end), the end of the run
// at a depleted fit range, and the even steps up to the next scan on a
// layered grid.
#include <algorithm>
#include <cmath>

#include "lamm/lamm_ideal.h"
#include "lamm/static_grid_kernels.h"

namespace {
// Longest step on a layered grid as a fraction of the time the boundary
// takes to move, or to widen, by its own width: beside the change rule, and
// for a sedimenting species alone (see TimeLoopStaticGrid).
constexpr double kWidthFraction = 0.06, kWidthFractionAlone = 0.05;
}  // namespace

// Whether the element where the depletion starts (at the meniscus, for
// flotation at the bottom) is fine enough for the layer D / (s w^2 r) the
// species leaves there: beyond a cell Peclet number s w^2 r h / D of 2 the
// elements undershoot below zero at any step length, and refusing such
// steps only shrinks them without end (10 S with 1e-8 cm^2/s: millions).
bool CLammIdeal::DepletionLayerResolved() const {
  if (N_ < 2 || !(D_ > 0)) return false;
  const bool floating = s_ < 0;
  const double r = floating ? r_[N_] : r_[1];
  const double h = floating ? r_[N_] - r_[N_ - 1] : r_[2] - r_[1];
  return std::fabs(w2s_) * r * h <= 2 * D_;
}

// Whether that layer is so much thinner than its element (a cell Peclet
// number above 50: a diffusion next to nothing, 1e-10 cm^2/s and less at
// common speeds) that the static grid's solution rings behind the boundary
// at any step and grid it can take: 4e-2 of the loading within 0.05 cm of
// the boundary for D 1e-10 on 2000 nodes. The moving frame's nodes travel
// with the boundary and carry such a species as it is.
bool CLammIdeal::DepletionLayerBeyondTheGrid() const {
  constexpr double kPeclet = 50;
  if (N_ < 2 || !(D_ > 0) || s_ == 0) return false;
  const bool floating = s_ < 0;
  const double r = floating ? r_[N_] : r_[1];
  const double h = floating ? r_[N_] - r_[N_ - 1] : r_[2] - r_[1];
  return std::fabs(w2s_) * r * h > kPeclet * D_;
}

double CLammIdeal::StepChangeAtBottom() {
  const double cmax = std::max(LargestValue(c_, start_, end_, 0.0), cPlateau0_);
  const double floor = 1e-4 * cmax;
  double change = 0;
  if (c_[end_] > floor && cPrev_[end_] >= floor)
    change = std::fabs((c_[end_] - cPrev_[end_]) / cPrev_[end_]);
  const bool layered = zone_.on || initialProfile_;
  if (!layered && t_ < 10 && DepletionLayerResolved()) {
    for (int i = end_ - 1; i >= start_; --i) {
      if (c_[i] < -cThr_) {
        ++retryCounter_;
        return 2 * opt_.stepTolerance;
      }
    }
  }
  // A NaN at the bottom node stays the result, as a NaN never gives way to
  // a larger value.
  if (!std::isnan(change)) change = LargestChange(c_, cPrev_, start_, end_ - 1, floor, change);
  // A non-finite solution is never a small change.
  if (!std::isfinite(change)) return 1e300;
  return change;
}

int CLammIdeal::AdvanceDepletedStart() {
  if (startTrimming_ && !fullGrid_) {
    const int before = start_;
    int i = start_;
    while (i <= end_ - 10 && (c_[i] + c_[i + 1] + c_[i + 2]) / 3 <= cThr_) {
      start_ = i;
      ++i;
    }
    start_ = std::min(start_, maxStart_);
    widthMax_ = std::max(widthMax_, end_ - start_);
    widthMin_ = std::min(widthMin_, end_ - start_);
    if (before != lastStart_) {
      lastStart_ = before;
      startChanged_ = true;
    }
  } else {
    start_ = 1;
  }
  return start_;
}

int CLammIdeal::ExtendActiveEnd(double t) {
  if (endLimitation_ && !fullGrid_ && end_ < N_) {
    // The plateau follows from the sedimentation the accepted steps applied.
    cPlateau_ = std::exp(-2 * sw2Integral_) * cPlateau0_;
    tPlateau_ = t;
    // The truncation level is a share of the plateau, whatever the loading.
    endThreshold_ = (1 - opt_.truncationLevel) * cPlateau_;
    const int lowest = std::max(end_ - extensionStep_, 3);
    for (int i = end_; i >= lowest; --i) {
      if ((c_[i] + c_[i - 1] + c_[i - 2]) / 3 < endThreshold_) {
        int newEnd = end_ + extensionStep_;
        if (newEnd > N_ - 10) newEnd = N_;
        MoveActiveEndRows(newEnd);
        end_ = newEnd;
        widthMax_ = std::max(widthMax_, end_ - start_);
        widthMin_ = std::min(widthMin_, end_ - start_);
        break;
      }
    }
  } else if (!endLimitation_ || fullGrid_) {
    end_ = N_;
  }
  return end_;
}

void CLammIdeal::FindBoundaryNode() {
  watchNode_ = N_;
  if (s_ > 0) {
    for (int i = 1; i <= N_; ++i)
      if (r_[i] > rightFitLimit_) {
        watchNode_ = i;
        break;
      }
  } else if (s_ < 0) {
    watchNode_ = 1;
    for (int i = 1; i <= N_; ++i)
      if (r_[i] <= leftFitLimit_) watchNode_ = i;
  }
  watchThreshold_ = watchFraction_ * c_[watchNode_];
  endCondition_ = false;
}

bool CLammIdeal::IsBoundaryReached() {
  // In a density gradient a depleted region may fill again.
  if (zone_.on || initialProfile_ || s_ == 0 || localSolvent_) return false;
  if (c_[watchNode_] < watchThreshold_ || watchNode_ < start_) {
    endCondition_ = true;
    return true;
  }
  return false;
}

// On a layered grid the nodes follow the boundary's width sqrt(2 D t) where
// it passes; the steps follow it as well, or Crank-Nicolson's error in the
// young, steep boundary outweighs the grid's. The steps up to the next scan
// are equal, so that one factorisation serves them all, and the step after
// a scan does not start from a remainder cut off before it.
bool CLammIdeal::EvenStepsToEvents() const {
  return layered_ && opt_.staticGrid && pendingEvent_ && !speedChanging_ && !schedule_ && !timed_.on &&
         !opt_.fixedTimeStep && N_ >= 2 &&
         layeredRadii_.size() == static_cast<size_t>(N_) + 1;
}

// A sedimenting species within the range the layered grid's rules were
// checked over (elsewhere the steps of before).
bool CLammIdeal::StepsByBoundaryAlone() const { return s_ > 0 && LayeredGridRange(); }

double CLammIdeal::EvenStepToEvent(double dt) {
  const double left = pendingTime_ - t_;
  if (!(left > 0) || !(dt > 0)) return dt;
  const double v = std::fabs(w2s_) * meniscus_;
  if (v > 0) {
    const double width = std::sqrt(2 * D_ * std::max(t_, 0.0)) + (r_[2] - r_[1]);
    // A slow species' depletion layer at the meniscus widens by diffusion,
    // at D / width, far faster than the boundary travels at first (0.5 S was
    // 1.05e-3 of the loading off at the first scan, now 1.7e-4). The
    // floating side's layer at the bottom is left to the travel alone (its
    // grid leaves no room for the error the shorter steps no longer offset),
    // and so is every species outside the layered grid's checked range.
    const bool alone = StepsByBoundaryAlone();
    const double widening = alone ? D_ / width : 0.0;
    dt = std::min(dt, (alone ? kWidthFractionAlone : kWidthFraction) * width / (v + widening));
  }
  // The step of the stretch stays while it still divides the time left and
  // the wanted step exceeds it by less than half.
  const double snap = 1e-9 * std::max(1.0, pendingTime_);
  if (evenDt_ > 0 && dt >= evenDt_ && dt < 1.5 * evenDt_) {
    const double k = std::round(left / evenDt_);
    if (k >= 1 && std::fabs(left - k * evenDt_) <= snap) return evenDt_;
  }
  evenDt_ = left / std::max(1.0, std::ceil(left / dt - 1e-9));
  return evenDt_;
}
