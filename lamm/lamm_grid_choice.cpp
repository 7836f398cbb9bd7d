// Algorithm and grid-size choice of CLammIdeal: static grid or moving frame
// by the reduced sedimentation coefficient, N from the diffusion width of the
// boundary when it reaches the right fit limit, and the test for an
// equilibrium gradient at the bottom too steep for a coarse grid.
#include <algorithm>
#include <cmath>
#include <vector>

#include "data/scan_set.h"
#include "lamm/lamm_ideal.h"
#include "numerics/constants.h"

namespace {
constexpr double kR = 8.31451e7;  // erg / (mol K)
// Spacing of the pile-up at the bottom: decay sqrt(kPileUp / c) where the
// pile-up stands at c times the loading (see LayeredNodes).
constexpr double kPileUp = 1.2e-3;
// The width rule's nodes per width count at this fraction on the layered
// grid: that puts the boundary within 6e-4 of the loading at every scan
// from the first (at the full count within 3.5e-4, at 1.75 times the cost).
constexpr double kWidthShare = 0.75;

// Whether the equilibrium-like layer a species of s and D (at T in K and w in
// 1/s) builds against the bottom leaves less than `tolerance` of the mean at
// the right fit limit rR, m..b the cell: back diffusion from the bottom is
// then negligible there.
bool BackDiffusionBelow(double T, double w, double s, double D, double m, double b, double rR,
                        double tolerance) {
  const double Mb = T * s * 1e-13 * kR / D;
  const double A = static_cast<float>(w * w / (T * 1.6628944e8));
  const double k = Mb * A;
  if (k > 100) return true;
  if ((b * b - rR * rR) * k > 100) return true;
  const double ratio = 1.0 / (((std::exp((b * b - rR * rR) * k) - std::exp((m * m - rR * rR) * k)) /
                               (2 * A * Mb)) /
                              ((b * b - m * m) / 2));
  return ratio < tolerance;
}

// ---- the layered grid's fixed factors ----------------------------------------
// A first scan at 0 s would leave the early-width rule without a scale.
constexpr double kEarliestFirstScan = 1.0;  // s
// Even spacing at the end: half the pile-up's decay length, the same half
// that BottomLayerNodes counts with; where the layer stands high the
// pile-up rule (kPileUp) refines it further.
constexpr double kLayerSpacingDecays = 0.5;
// The pile-up falls off as exp(-e / decay) from up to a hundred times the
// loading: twelve decay lengths take it below 1e-3 of the loading.
constexpr double kPileUpDepthDecays = 12;
// Beyond the fit range the spacing is fine again this many decay lengths
// outside the fit limit: the pile-up there is still at exp(-4), 2 % of its
// height at that point, when it reaches the fitted data.
constexpr double kFitMarginDecays = 4;
// Away from the end the spacing is (layer + kGrowth g) / (1 + kGrowth), g the
// graded distance: it grows from the layer's by a sixth of that distance.
constexpr double kGrowth = 0.2;
// A sedimenting cosolute sharpens the boundary (the species behind it, in
// lighter solvent, catches up): widths count at 0.7. Under it the species
// piles up over three of the cosolute's decay lengths from the bottom, with
// a twentieth of that length as spacing there.
constexpr double kCosoluteSharpening = 0.7;
constexpr double kCosoluteDepthDecays = 3;
constexpr double kCosoluteSpacingDecays = 0.05;
// exp(50) is beyond any loading a floating pile can reach: the exponent is
// capped there so that expm1 does not overflow.
constexpr double kLargestExponent = 50.0;
// Bisection steps for the leading edge's arrival: 2^-30 of the interval.
constexpr int kArrivalBisections = 30;
// The early scans see the boundary narrow and steep: up to twice the first
// scan's time only half the time counts (a spacing 0.7 of the rule's),
// going over to the full rule by eight times the first scan's time.
constexpr double kEarlyTimeShare = 0.5;
constexpr double kEarlyUntil = 2, kEarlyRamp = 6;  // in first-scan times

// How far a species of s (S) travels from r during the linear acceleration
// to full speed: the integral of s (a t)^2 r over the ramp, s a^2 r T^3 / 3.
double RampDistance(double s, const LammRotor& rotor, double r) {
  const double rate = rotor.accelRate * (1.0 / 60.0) * 2 * kPi;
  return std::fabs(s) * (1.0 / 3.0) * 1e-13 * rate * rate * r * rotor.accelDuration *
         rotor.accelDuration * rotor.accelDuration;
}

// The boundary's middle on its way from the end it leaves: distance d from
// that end at time t, after the ramp (which carries it `ramp` far).
struct BoundaryPath {
  bool floating = false;
  double m = 0, b = 0, L = 0, sw2 = 0, ramp = 0, accelDuration = 0;
  double Radius(double d) const { return floating ? b - d : m + d; }
  // When the middle reaches d.
  double Arrival(double d) const {
    const double r = Radius(d);
    if (d <= ramp) return d / (sw2 * r);
    return (d - ramp) / (sw2 * r) + accelDuration;
  }
  // Where the middle is at time t (the inverse of Arrival).
  double Middle(double t, double d) const {
    const double base = std::min(ramp, d), x = sw2 * std::max(0.0, t - accelDuration);
    return floating ? (L - base) * x / (1 + x) + base : (m + base) * x / std::max(1e-9, 1 - x) + base;
  }
};

BoundaryPath TravelPath(bool floating, double m, double b, double sw2, double ramp,
                        double accelDuration) {
  BoundaryPath p;
  p.floating = floating;
  p.m = m;
  p.b = b;
  p.L = b - m;
  p.sw2 = sw2;
  p.ramp = ramp;
  p.accelDuration = accelDuration;
  return p;
}

// The boundary's leading part, a width ahead of its middle, reaches d
// earlier and narrower than the middle does: for slow species near the
// meniscus the middle's time made the spacing twice too coarse.
double LeadingEdgeArrival(const BoundaryPath& path, double D, double first, double d) {
  double t = std::max(path.Arrival(d), first);
  if (t > first) {
    auto ahead = [&](double at) { return path.Middle(at, d) + std::sqrt(2 * D * at) >= d; };
    double lo = first, hi = t;
    // Two halvings a round: the middle and both quarter points are judged
    // at once (their divisions and roots overlap instead of waiting on one
    // another), then the two halvings are taken as one after the other
    // would take them.
    static_assert(kArrivalBisections % 2 == 0);
    for (int k = 0; k < kArrivalBisections; k += 2) {
      const double mid = 0.5 * (lo + hi);
      const double left = 0.5 * (lo + mid), right = 0.5 * (mid + hi);
      const bool atMid = ahead(mid), atLeft = ahead(left), atRight = ahead(right);
      if (atMid) {
        hi = mid;
        (atLeft ? hi : lo) = left;
      } else {
        lo = mid;
        (atRight ? hi : lo) = right;
      }
    }
    t = hi;
  }
  return t;
}

// The share of the time t that counts for the boundary's width.
double EarlyScanShare(double t, double first) {
  return kEarlyTimeShare +
         (1 - kEarlyTimeShare) * std::clamp((t / first - kEarlyUntil) / kEarlyRamp, 0.0, 1.0);
}

// Even spacing over the pile-up at the end: inside the fit range it reaches
// kPileUpDepthDecays from the end; beyond the fit range it only has to be
// resolved at the end, the elements growing from there and shrinking again
// towards the fit limit.
struct EndGrading {
  double layer = 0, depth = 0, fit = 0;
  double Graded(double e) const {
    if (fit >= depth) return e;
    return e < fit ? std::min(e, fit - e) : std::max(0.0, e - depth);
  }
  double Spacing(double e) const { return (layer + kGrowth * Graded(e)) / (1 + kGrowth); }
};
static_assert(1 + kGrowth == 1.2);

EndGrading GradingAtTheEnd(double decay, double fitEdge) {
  EndGrading g;
  g.layer = kLayerSpacingDecays * decay;
  g.depth = kPileUpDepthDecays * decay;
  g.fit = std::max(0.0, fitEdge - kFitMarginDecays * decay);
  return g;
}

// Where a sedimenting cosolute piles up at the bottom the species does too.
struct CosoluteZone {
  double depth = 0, spacing = HUGE_VAL, sharpening = 1.0;
};

CosoluteZone CosoluteRefinement(const SolventGradientSettings& solvent, double finalRpm, double b,
                                double L) {
  CosoluteZone z;
  z.sharpening = kCosoluteSharpening;
  const double c0 = solvent.CosoluteLoadingConcentration;
  const double sc = solvent.CsClAt25C ? CsClSedimentationCoefficient25C(c0) : solvent.CosoluteS;
  const double Dc = solvent.CsClAt25C ? CsClDiffusionCoefficient25C(c0) : solvent.CosoluteD;
  const double w = RpmToOmega(finalRpm);
  const double v = std::fabs(sc) * 1e-13 * w * w * b;
  if (v > 0 && Dc > 0) {
    const double cosoluteDecay = std::min(Dc / v, L);
    z.depth = kCosoluteDepthDecays * cosoluteDecay;
    z.spacing = kCosoluteSpacingDecays * cosoluteDecay;
  }
  return z;
}

// The pile-up itself, about A exp(-e / l) at the distance e from the end:
// the straight lines between nodes and the elements' own error both go as
// h^2 c'' = (h / l)^2 c, so the spacing that keeps them within a few 1e-4
// of the loading is l sqrt(kPileUp / c). Beyond the fit limit the spacing
// stays that of the limit: the layer's content there sets the level inside
// the range (spacings growing to 3.5 times towards the bottom put 1.6 S to
// 3 S off by up to 4.5e-3 inside it).
struct PileUpLayers {
  struct Layer {
    double amplitude = 0, length = HUGE_VAL;
  } layers[2];
  double fitEdge = 0;
  double Spacing(double e) const {
    double h = HUGE_VAL;
    for (const Layer& y : layers) {
      const double c = y.amplitude * std::exp(-std::max(e, fitEdge) / y.length);
      if (c > kPileUp) h = std::min(h, y.length * std::sqrt(kPileUp / c));
    }
    return h;
  }
};

// By the last scan the layer has its decay length and holds what has
// reached the end, b (1 - exp(-2 s w^2 t)) / 2 per unit of b at the bottom,
// m (exp(2 |s| w^2 t) - 1) / 2 per unit of m at the meniscus (at most all
// there is); at the first scan of a slow species it is still the diffusion
// layer, sqrt(D t) thick and 2 v sqrt(t / (pi D)) high.
PileUpLayers PileUpAtTheEnd(bool floating, double m, double b, double pile, double sw2,
                            double decay, double D, double first, double last, double fitEdge) {
  PileUpLayers p;
  p.fitEdge = fitEdge;
  const double reached = floating ? std::expm1(std::min(2 * sw2 * last, kLargestExponent)) * m
                                  : -std::expm1(-2 * sw2 * last) * b;
  p.layers[0].length = decay;
  p.layers[0].amplitude = std::min(reached, (b * b - m * m) / pile) / (2 * decay);
  const double early = std::sqrt(D * first);
  if (early < decay) {
    p.layers[1].length = early;
    p.layers[1].amplitude = 2 * sw2 * pile * std::sqrt(first / (kPi * D));
  }
  return p;
}

// The radii from the walked distances x[1..]: the last node on the far end,
// the elements shrunk in proportion; 1-based, meniscus first.
std::vector<double> NodesFromSpacings(const std::vector<double>& x, const BoundaryPath& path) {
  const double scale = path.L / x.back();
  const size_t n = x.size() - 1;
  std::vector<double> r(n + 1, 0.0);
  for (size_t i = 1; i <= n; ++i) {
    const double d = x[i] * scale;
    r[path.floating ? n + 1 - i : i] = path.Radius(d);
  }
  r[1] = path.m;
  r[n] = path.b;
  return r;
}
}  // namespace

bool CLammIdeal::CrossedTheCellBeforeTheFirstScan() const {
  if (schedule_ || s_ == 0 || !(D_ > 0) || !(bottom_ > meniscus_) || !(meniscus_ > 0) || scans_.scanCount < 1)
    return false;
  const double sw2 = std::fabs(s_) * 1e-13 * Omega2(SlowestScanRpm());
  return sw2 * TimeAtFullSpeed(1) >= std::log(bottom_ / meniscus_);
}

bool CLammIdeal::WideEndLayerAfterCrossing(double rpm) const {
  if (!EndLayersOnStaticGrid() || schedule_ || !(D_ > 0) || s_ == 0 || !(bottom_ > meniscus_) || !(meniscus_ > 0))
    return false;
  // Within the range its rules were checked in, the layered grid follows the
  // boundary in steps that follow the profile's change, where the frame
  // takes one per element the boundary travels over the whole run (some
  // 13 000 for -78 S over three hours, on 1000 nodes: 0.6 s). It resolves a
  // floating pile the fit range sees more closely than the frame (0.01 cm
  // from the fit limit: within 1e-3 of its height, the frame 1e-2); a
  // sedimenting species' layer only where the range does not see it.
  if (LayeredGridRange() && (s_ < 0 || EndLayerApartFromTheFitRange())) return true;
  const double sw2 = std::fabs(s_) * 1e-13 * Omega2(rpm);
  const double layer = D_ / (sw2 * (s_ > 0 ? bottom_ : meniscus_));
  return sw2 * TimeAtFullSpeed(1) >= std::log(bottom_ / meniscus_) &&
         layer >= 2 * (bottom_ - meniscus_) / std::max(1, opt_.defaultNodes);
}

// A floating species has no frictional ratio (its molar mass comes out
// negative), which otherwise leaves it the even default grid: about one
// spacing per decay length of its pile, the pile's tail 0.01 cm into the cell
// 10-50 % off. Asked to, the layered grid resolves the pile.
bool CLammIdeal::FloatingOnTheLayeredGrid() const {
  return EndLayersOnStaticGrid() && !schedule_ && s_ < 0 && D_ > 0 && LayeredGridRange();
}

void CLammIdeal::ChooseTimeStep() {
  if (concDependentModel_) {
    opt_.staticGrid = true;
    opt_.movingFrame = false;
    opt_.fixedTimeStep = false;
    opt_.optimiseGrid = false;
    opt_.automaticGridSize = false;
    return;
  }
  if (!opt_.automaticAlgorithm) return;
  double threshold = opt_.reducedSThreshold;
  if (opt_.optimiseGrid && opt_.automaticGridSize && !zone_.on) threshold = opt_.optimisedThreshold;
  if (s_ < 0 && D_ < 1e-8) threshold *= 0.1;
  const double rpm = scans_.records[scans_.indexMap[scans_.scanCount]].rpm;
  const double speed = rpm * 3.3333333333333335e-05;
  const double v = speed * speed;
  if (!schedule_ && threshold / v <= std::fabs(s_) && !WideEndLayerAfterCrossing(rpm)) {
    if (!opt_.movingFrame) {
      opt_.staticGrid = false;
      opt_.movingFrame = true;
      opt_.automaticSGrid = true;
    }
  } else if (!opt_.staticGrid) {
    opt_.staticGrid = true;
    opt_.fixedTimeStep = false;
    opt_.movingFrame = false;
  }
}

void CLammIdeal::SetupGrid() {
  refineRequested_ = false;
  layered_ = false;
  double T = 0;
  if (schedule_) {
    scheduleGrid_ = true;
    steep_ = false;
    N_ = opt_.defaultNodes;
  } else if (!opt_.automaticGridSize || zone_.on || D_ <= 0) {
    N_ = opt_.defaultNodes;
  } else if (opt_.ff0 < 0.5 && !FloatingOnTheLayeredGrid()) {
    steep_ = false;
    defaultGrid_ = true;
    N_ = opt_.defaultNodes;
  } else {
    defaultGrid_ = false;
    // A sedimenting cosolute makes the solvent denser and more viscous
    // towards the bottom: the species slows there and its pile-up reaches
    // far into the cell (a 6 S species over 0.5 M of a 2 S cosolute is at
    // 1.4 times its loading at 7.10 cm after 5100 s), which an outflow at
    // the bottom, right for the same species in water, would take away.
    steep_ = !CosolutePilesUpAtTheBottom() && IsGradientTooSteep(s_, D_);
    const double rR = std::max<double>(rightFitLimit_, meniscus_ + 0.001);
    const double x = RampDistance(s_, rotor_, meniscus_);
    const double sw2 = std::fabs(rotor_.sw2Final);
    if (rR - meniscus_ <= x)
      T = (rR - meniscus_) / (sw2 * rR);
    else
      T = (rR - x - meniscus_) / (sw2 * rR) + rotor_.accelDuration;
    double w = std::sqrt(D_ * T);
    if (!(w >= 0.001)) w = std::max(w, 0.001);  // also catches T = inf at s = 0
    if (!std::isfinite(w)) w = bottom_ - meniscus_;
    // The boundary's width alone can leave the pile-up at the bottom to a
    // handful of nodes; where that pile-up reaches the fit range it must be
    // resolved too, or the solution rings there.
    const double boundaryNodes = std::floor((bottom_ - meniscus_) * opt_.pointsPerWidth / w);
    const double cand = std::max(boundaryNodes, BottomLayerNodes());
    staticCandidate_ = static_cast<float>(cand);
    // The width at the right fit limit is the boundary's largest: at the
    // first scans it is narrower by the square root of the times, and an
    // even grid for the widest boundary leaves the early ones to two or
    // three elements (errors of 1e-2 of the loading). The layered grid
    // follows the width where the boundary passes, and a pile-up at the
    // bottom where there is one.
    if (opt_.staticGrid && !opt_.movingFrame && (s_ > 0 || (s_ < 0 && LayeredGridRange()))) {
      layeredRadii_ = LayeredNodes(std::max<double>(boundaryNodes, opt_.minNodes));
      const int n = static_cast<int>(layeredRadii_.size()) - 1;
      layered_ = n >= opt_.minNodes && n <= opt_.maxNodes;
      if (layered_) staticCandidate_ = static_cast<float>(n);
    }
    refineRadius_ = static_cast<float>(rR);
    // The moving frame's spacing at the boundary hardly changes as it
    // travels: it must suit the narrowest boundary any scan sees, the one of
    // the first scan, not the widest at the right fit limit.
    // At a fifth of the first scan's width the straight lines between the
    // nodes still miss the boundary's bends by up to 1e-3 of the loading
    // (40 S at 300 s); at 0.8 of that spacing they keep within 6e-4.
    double wFrame = w;
    const double first = ScanTime(1);
    if (first > 0 && first < T) wFrame = std::max(0.8 * std::sqrt(D_ * first), 0.001);
    // A sedimenting cosolute's gradient sharpens the boundary (see LayeredNodes).
    if (CosolutePilesUpAtTheBottom()) wFrame *= kCosoluteSharpening;
    double c = std::max(cand, std::floor((bottom_ - meniscus_) * opt_.pointsPerWidth / wFrame));
    c = std::min(c, static_cast<double>(opt_.maxNodes) + 1);
    const double q = bottom_ / meniscus_;
    while (c > opt_.minNodes) {
      if (wFrame / opt_.pointsPerWidth <
          meniscus_ * (std::pow(q, 1.5 / (c - 1)) - std::pow(q, 0.5 / (c - 1)))) {
        c = c + 1;
        break;
      }
      c = c - 1;
    }
    movingCandidate_ = static_cast<float>(c);
    const double chosen = opt_.movingFrame ? movingCandidate_ : staticCandidate_;
    N_ = static_cast<int>(std::clamp<double>(chosen, opt_.minNodes, opt_.maxNodes));
    refineRequested_ = opt_.staticGrid && opt_.optimiseGrid && steep_ && !zone_.on && !layered_;
  }
  if (allocated_ && (allocatedCount_ != N_ || (opt_.movingFrame && !opt_.staticGrid && !frameBlock_)))
    FreeWorkMemory();
  AllocWorkMemory();
  if (D_ == 0) {
    steep_ = false;
  } else if (IsFloatingPileTooSteep()) {
    steep_ = true;
  } else if (refineRequested_) {
    SetupGradedGrid(refineRadius_);
  }
}

// Nodes for a spacing of half the decay length D / (s w^2 b) of the
// equilibrium-like gradient at the bottom; none when that gradient is steep
// (the bottom is then an outflow) or there is no pile-up.
double CLammIdeal::BottomLayerNodes() const {
  if (steep_ || s_ <= 0 || D_ <= 0) return 0;
  const double sw2 = std::fabs(rotor_.sw2Final);
  if (!(sw2 > 0)) return 0;
  const double decay = D_ / (sw2 * bottom_);
  return std::floor((bottom_ - meniscus_) / (0.5 * decay)) + 1;
}

// ---- the layered static grid ------------------------------------------------
// Spacing at r: the boundary's width sqrt(D t) over pointsPerWidth when it
// passes r at time t (not before the first scan), at most that of
// boundaryNodes even nodes; near the end the species piles up at (the bottom,
// the meniscus for a floating species) the spacing its pile-up needs.
// Distances d run from the end the boundary leaves, e = L - d from the other.
std::vector<double> CLammIdeal::LayeredNodes(double boundaryNodes) const {
  const double m = meniscus_, b = bottom_, L = b - m;
  const bool floating = s_ < 0;
  // Outside the range the rules below were made for, the grid of before:
  // the boundary's middle, all of the width rule's nodes, no pile-up rule.
  const bool ranged = LayeredGridRange();
  const double share = ranged ? kWidthShare : 1.0;
  const double sw2 = std::fabs(rotor_.sw2Final);
  const double first = std::max(ScanTime(1), kEarliestFirstScan);
  const BoundaryPath path = TravelPath(floating, m, b, sw2, RampDistance(s_, rotor_, floating ? b : m),
                                       rotor_.accelDuration);
  const double coarsest = L / std::max(2.0, boundaryNodes - 1);
  // Where the gradient at the end is steep the end is an outflow: no pile-up
  // to resolve there.
  const bool outflow = floating ? IsFloatingPileTooSteep() : steep_;
  const double pile = floating ? m : b;
  const double decay = outflow ? HUGE_VAL : D_ / (sw2 * pile);
  const double fitEdge = std::max(0.0, floating ? static_cast<double>(leftFitLimit_) - m
                                                : b - static_cast<double>(rightFitLimit_));
  const EndGrading grading = GradingAtTheEnd(decay, fitEdge);
  const CosoluteZone cosolute = !floating && CosolutePilesUpAtTheBottom()
                                    ? CosoluteRefinement(solvent_, rotor_.finalRpm, b, L)
                                    : CosoluteZone{};
  PileUpLayers layers;
  layers.fitEdge = fitEdge;
  if (ranged && !outflow && scans_.scanCount > 0)
    layers = PileUpAtTheEnd(floating, m, b, pile, sw2, decay, D_, first, ScanTime(scans_.scanCount),
                            fitEdge);

  const double perWidth = std::max(1.0f, opt_.pointsPerWidth);
  std::vector<double> x{0.0, 0.0};
  while (x.back() < L && x.size() <= static_cast<size_t>(opt_.maxNodes) + 1) {
    const double d = x.back();
    const double t = ranged ? LeadingEdgeArrival(path, D_, first, d) : std::max(path.Arrival(d), first);
    const double width = std::sqrt(D_ * EarlyScanShare(t, first) * t) / (perWidth * share);
    const double e = L - d;
    double h = std::min(
        {cosolute.sharpening * width, cosolute.sharpening * coarsest, grading.Spacing(e)});
    if (e < cosolute.depth) h = std::min(h, cosolute.spacing);
    h = std::min(h, layers.Spacing(e));
    x.push_back(d + h);
  }
  return NodesFromSpacings(x, path);
}

// 0.1 to 100 S either way (floating, with SetWideEndLayersOnStaticGrid, to
// 300 S), 3000 to 60000 rpm, the last scan within 24 h: where the layered
// grid's rules are checked against finite volumes.
bool CLammIdeal::LayeredGridRange() const {
  const double s = std::fabs(s_);
  // Asked to, floating species up to 300 S, checked against finite volumes
  // for annealing's far ends: within 3e-3 of the loading or 2.5e-4 of the
  // pile's height where the frame was 1-7 % off.
  const double top = EndLayersOnStaticGrid() && s_ < 0 ? 300 : 100;
  if (!(s >= 0.1 && s <= top) || !(rotor_.finalRpm >= 3000 && rotor_.finalRpm <= 60000)) return false;
  return scans_.scanCount > 0 && ScanTime(scans_.scanCount) <= 24 * 3600 + 1;
}

bool CLammIdeal::CosolutePilesUpAtTheBottom() const {
  if (!(localSolvent_ && solvent_.DynamicGradient && solvent_.SedimentingCosolute)) return false;
  return solvent_.NonidealCosolute || solvent_.CsClAt25C || solvent_.CosoluteS > 0;
}

bool CLammIdeal::IsGradientTooSteep(double s, double D) const {
  if (opt_.forceSteep) return true;
  if (!opt_.backDiffusionCheck) return false;
  if (s <= 0 || D <= 0) return false;
  const ScanRecord& last = scans_.records[scans_.indexMap[scans_.scanCount]];
  return BackDiffusionBelow(last.temperature + 273.15, RpmToOmega(last.rpm), s, D, meniscus_,
                            bottom_, rightFitLimit_, opt_.backDiffusionTolerance);
}

// The mirror of the test above for a floating species: its pile at the
// meniscus is too thin for any grid when the equilibrium-like layer leaves
// less than the tolerance of the mean at the left fit limit. The pile then
// leaves through the meniscus; a grid that tries to hold it rings and
// collapses. Taken whatever the back-diffusion switch says, as the pile
// can never be resolved.
bool CLammIdeal::IsFloatingPileTooSteep() const {
  if (!(s_ < 0) || !(D_ > 0)) return false;
  const ScanRecord& last = scans_.records[scans_.indexMap[scans_.scanCount]];
  const double T = last.temperature + 273.15;
  const double w = RpmToOmega(last.rpm);
  const double Mb = T * -s_ * 1e-13 * kR / D_;
  const double k = Mb * (w * w / (T * 1.6628944e8));
  if (!(k > 0)) return false;
  if (k > 100) return true;
  const double b = bottom_, m = meniscus_, rL = std::max<double>(leftFitLimit_, m);
  if ((rL * rL - m * m) * k > 100) return true;
  // c(rL) / mean for c ~ exp(-k (r^2 - m^2)).
  const double ratio =
      k * (b * b - m * m) / (std::exp(k * (rL * rL - m * m)) - std::exp(k * (rL * rL - b * b)));
  return ratio < opt_.backDiffusionTolerance;
}

bool CLammIdeal::NeedsBackDiffusionShutOff(double t, double rpm, double s, double D) const {
  if (!IsScheduleMonotonicAfter(t)) return false;
  if (opt_.forceSteep) return true;
  if (!opt_.backDiffusionCheck || s <= 0 || D <= 0) return false;
  const ScanRecord& last = scans_.records[scans_.indexMap[scans_.scanCount]];
  return BackDiffusionBelow(last.temperature + 273.15, RpmToOmega(rpm), s, D, meniscus_, bottom_,
                            rightFitLimit_, opt_.backDiffusionTolerance);
}

bool CLammIdeal::ShutOffNegligibleDiffusion() {
  if (!(s_ > 0 && D_ != 0 && schedule_)) return false;
  int used = 0;
  for (int k = 1; k <= scans_.scanCount; ++k) {
    const ScanRecord& rec = scans_.records[scans_.indexMap[k]];
    if (meniscus_ * std::exp(s_ * 1e-13 * rec.w2t) >= rightFitLimit_) break;
    used = k;
  }
  if (used == 0) {
    D_ = 0;
    return true;
  }
  const double traw = scans_.records[scans_.indexMap[used]].timeRead;
  if (10 * (bottom_ - meniscus_) / (N_ - 1) >= std::sqrt(D_ * traw)) {
    D_ = 0;
    return true;
  }
  return false;
}
