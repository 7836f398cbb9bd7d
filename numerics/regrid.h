#pragma once
// Moving sampled functions between abscissa grids (one-based arrays, both
// grids ascending) and Neville polynomial interpolation.
//
// The InterpolateOntoGrid family (nNew, xNew, yNew, nOld, xOld, yOld) writes
// yNew by linear interpolation of yOld(xOld), with fixed rules at the ends:
//  - nothing is written when either grid has fewer than 5 points, when the
//    grids do not overlap, or when xNew[5] > xOld[nOld - 4];
//  - left of xOld[1]: the straight line through the first two old points when
//    xNew[1] lies at most one old spacing to the left, else a constant (the
//    mean of yOld[1..10] when nOld >= 11, else yOld[1]);
//  - right of xOld[nOld]: the line through the last two old points when
//    xNew[nNew] lies at most one old spacing to the right, else a constant
//    (the mean of yOld[nOld-9..nOld] when nOld >= 11, else yOld[nOld]).
// The arithmetic is carried out in double: y = yOld[j-1] + t (yOld[j] - yOld[j-1])
// with t = (x - xOld[j-1]) / (xOld[j] - xOld[j-1]); a point on an old abscissa
// takes its value unchanged.
#include <vector>

// float grid <- float grid
void InterpolateOntoGrid(int nNew, const float* xNew, float* yNew, int nOld, const float* xOld,
                         const float* yOld);
// float grid <- double grid
void InterpolateOntoGridD(int nNew, const float* xNew, float* yNew, int nOld, const double* xOld,
                          const double* yOld);
// float grid <- double grid, adding to yNew instead of storing
void InterpolateOntoGridFD(int nNew, const float* xNew, float* yNew, int nOld, const double* xOld,
                           const double* yOld);
// double grid <- float grid
void InterpolateOntoGridDF(int nNew, const double* xNew, double* yNew, int nOld, const float* xOld,
                           const float* yOld);
// double grid <- double grid
void InterpolateOntoGridMixed(int nNew, const double* xNew, double* yNew, int nOld,
                              const double* xOld, const double* yOld);
// A solution in the cell, on nodes from the meniscus xOld[1] to the bottom,
// onto scan radii (float <- double): as InterpolateOntoGridD, except that
// radii below the meniscus (compared as float), in the air, get 0. The Add
// form adds as InterpolateOntoGridFD and leaves the air radii unchanged.
// Radii past the bottom keep the end rule (planning grids reach one step
// beyond it and integrate the profile there).
void InterpolateCellProfile(int nNew, const float* xNew, float* yNew, int nOld,
                            const double* xOld, const double* yOld);
void InterpolateCellProfileAdd(int nNew, const float* xNew, float* yNew, int nOld,
                               const double* xOld, const double* yOld);

// The fewest points on either side for which the rules above write anything.
constexpr int kRegridLeastPoints = 5;
// A profile on the solver's nodes x[1..nodes] (the meniscus first) onto
// radii r[1..n], any n >= 1: InterpolateCellProfile where both have five
// points or more; its rule writes nothing below that, and a scan of fewer
// radii would take a model of zeros. There each radius takes the same
// linear interpolation, 0 in the air above the meniscus and the last
// node's value beyond the bottom.
void CellProfileOntoRadii(int n, const float* r, float* y, int nodes, const double* x, const double* c);
// A curve on the common grid x[1..m] onto a scan's radii r[1..n], any
// n, m >= 1: InterpolateOntoGrid where both have five points or more;
// below that linear, the end value beyond either end.
void CurveOntoRadii(int n, const float* r, float* y, int m, const float* x, const float* c);

// InterpolateCellProfile from one set of nodes onto one set of radii, made
// once and applied to every profile on those nodes: the segment and weight
// of each radius are found when the plan is made, so that a solver writing
// fifty scans from one grid looks them up once. Its values are those of
// InterpolateCellProfile (Apply) and InterpolateCellProfileAdd (ApplyAdd),
// to the bit.
class CCellProfilePlan {
 public:
  // Made for these radii and nodes (compared by value, so that a plan is
  // never applied to grids that changed under the same arrays).
  bool MadeFor(int nNew, const float* xNew, int nOld, const double* xOld) const;
  void Make(int nNew, const float* xNew, int nOld, const double* xOld);
  // Make unless MadeFor.
  void Prepare(int nNew, const float* xNew, int nOld, const double* xOld) {
    if (!MadeFor(nNew, xNew, nOld, xOld)) Make(nNew, xNew, nOld, xOld);
  }
  // yOld on the nodes (1-based) onto yNew on the radii (1-based).
  void Apply(const double* yOld, float* yNew) const;
  void ApplyAdd(const double* yOld, float* yNew) const;

 private:
  struct Point {
    int a, b;  // yOld[a] + t (yOld[b] - yOld[a])
    double t;
  };
  template <bool Add>
  void Write(const double* yOld, float* yNew) const;
  int nNew_ = -1, nOld_ = -1;
  std::vector<float> xNew_;
  std::vector<double> xOld_;
  bool written_ = false;
  int air_ = 0;                               // radii 1..air_ lie above the meniscus
  int leftConstant_ = 0, rightConstant_ = 0;  // 1..left and right..nNew take the end means
  std::vector<Point> points_;                 // radii left+1 .. right-1
};

// double grid <- double grid, inner range only: new points outside
// [xOld[1], xOld[nOld]] keep their values; no count or fifth-point rules.
void InterpolateOntoGridDD(int nNew, const double* xNew, double* yNew, int nOld,
                           const double* xOld, const double* yOld);

// Neville: y = value at x of the polynomial through (xa[i], ya[i]), i = 1..n;
// dy = the last correction, an error estimate. Two equal abscissae are fatal
// ("Error in routine polint").
void polint(float* xa, float* ya, int n, float x, float* y, float* dy);

// A sampled profile yOld(xOld) (straight between its points, beyond them the
// end rules of the InterpolateOntoGrid family) as the node values yNew of the
// hat functions on the nodes xNew: the mean of its consistent and its lumped
// projection, weighted by the radius (sector) or by 1. Both keep the profile's
// amount, the integral of y w over [xNew[1], xNew[nNew]], and take noise finer
// than the nodes as its mean where point values alias it; their mean is exact
// for straight lines and, on even nodes, errs by O(h^4) where either alone
// errs by h^2 y''/12. False, and nothing written, where InterpolateOntoGridDF
// writes nothing.
bool ProjectOntoHatFunctions(int nNew, const double* xNew, double* yNew, int nOld, const float* xOld,
                             const float* yOld, bool sectorWeight);

// Negative node values of hat functions on the nodes x set to 0, their amount
// taken from the next nodes on (and back from the last), so that the amount of
// the whole profile stays; all 0 when it is not positive.
void ClearNegativesKeepingAmount(int n, const double* x, double* y, bool sectorWeight);
