#pragma once
// One trial of the maximum-entropy Marquardt step, several of which (for
// different step multipliers) run at once on the persistent worker pool.
// From the current amplitudes c_old, the step multiplier mu and a direction
// d (delta = mu d) it forms a non-negative trial vector
//   c = c_old + s delta,  s <= 1 the largest step that keeps c > 0,
// (points that would leave the bound are held there and the step solved
// again without them) and evaluates there the objective of the
// regularisation, with A, b, Syy the normal equations and alpha:
//   Q = Syy - 2 c'b + c'Ac + alpha sum_i E_i,
//   E_i = c_i l_i + m_i - c_i (prior m_i),  E_i = c_i l_i (constant m),
//   l_i = ln(c_i / m_i) or ln(c_i / m),
// its gradient g_i = b_i - (alpha/2) dE_i/dc_i - (Ac)_i and curvature
// A + diag((alpha/2) / c_i). Each trial works on its own copies; the normal
// equations and c_old are only read, so trials never share a written value.
#include <cstddef>
#include <vector>

class MTMaxEntmrqstep {
 public:
  // What the objective needs besides the normal equations.
  struct Inputs {
    std::vector<double> b;    // [1..n] of the normal equations
    double sumSquares = 0.0;  // Syy
    double alpha = 0.0;
    double m = 1.0;           // constant m without a prior
    bool priorInUse = false;
    std::vector<double> prior;  // m_i [1..n]
    bool suppressBaselineCorrelation = false;  // l_1 -= ln(0.001)
    bool leadingTerm = false;   // point 1 is a discrete species: no entropy there
    bool alternativeStep = false;  // only points below 0 limit the step
  };

  MTMaxEntmrqstep();

  // A [1..n][1..n] (the normal matrix of the objective, and the matrix of
  // the step system A d = r with its right-hand side r [1..n]), read now
  // and never again.
  void Setup(int n, double* const* normalMatrix, const double* rhs, const Inputs& in);
  // delta = multiplier x direction; c_old is read during Run and must
  // outlive it; free flags [1..n] (0 = held at its bound in bounded mode).
  void SetStep(float multiplier, bool boundedMode, const double* direction, const double* cOld,
               const int* freeFlags);
  // The trial (on whichever thread runs it); returns 0.
  int Run();
  // Q, entropy, gradient and curvature at the trial vector.
  void Objective();

  int n = 0;
  float multiplier = 1.0f;
  bool boundedMode = false;
  bool failed = false;   // some c_old,i < 0: no trial vector
  bool stopped = false;  // the stop flag was set: no objective
  double scale = 1.0;    // s
  double objective = 0.0, entropy = 0.0;
  std::vector<double> c, l, delta;  // [1..n]; delta holds the gradient after Objective
  std::vector<int> freeFlags;
  std::vector<double> curvature;    // row-major (n+1) x (n+1), [i*(n+1) + j]
  double Curvature(int i, int j) const { return curvature[static_cast<size_t>(i) * (n + 1) + j]; }

 private:
  // delta = multiplier x the solution of A d = r over the points not held
  // (held ones 0), by a Cholesky factor in the trial's own work block.
  void SolveWithoutHeld();

  Inputs in_;
  std::vector<double> a_;    // A, row-major like curvature
  std::vector<double> rhs_;
  std::vector<char> held_;   // [1..n] taken out of the step system
  std::vector<int> free_;    // indices not held
  std::vector<double> factor_, work_;
  const double* cOld_ = nullptr;
};

// Runs every trial on `threads` workers of the pool (0 or 1: one after the
// other on this thread, which otherwise polls the keyboard into the stop
// flag). Results do not depend on the thread count.
void RunMaxEntTrials(std::vector<MTMaxEntmrqstep>& trials, int threads);
