#pragma once
// The concentration-dependent path of CLammIdeal: the Lamm equation
//
//   dc/dt = (1/r) d/dr [ r D(c) dc/dr - s(c) w^2 r^2 c ],   zero flux at m and b,
//
// with s (S) and D (cm^2/s) interpolated linearly between the nodes of a
// uniform grid (hat functions phi), so that the Galerkin system reads
//
//   A dc/dt = K c,   A_ij = int r phi_i phi_j dr,
//   K_ij = sum_k [ s_k w^2 1e-13 int r^2 phi_i' phi_j phi_k dr
//                  - D_k int r phi_i' phi_j' phi_k dr ],
//
// advanced by Crank-Nicolson, (A - dt/2 K) c_new = (A + dt/2 K) c_old, with
// a predictor whose coefficients come from the step start and an optional
// corrector, and an adaptive step length. r in cm, t in s, rotor speed in rpm.
// The object lives for one run and owns the path's work arrays; the solver
// object keeps c, r and the scan output.
#include <functional>
#include <vector>

#include "lamm/coefficients/association_models.h"

class CLammIdeal;

// Step-length control of the concentration-dependent solvers (s): a step
// whose error measure exceeds tol is redone shorter, one below tolLow lets
// the next grow; both aim at target, by the weight w (1: straight at it) and
// the growth factor g, never more than 10 times the step nor dtMax, never
// below a tenth of it.
struct ConcStepControl {
  double tol = 1, tolLow = 0.05, target = 0.2, dtMax = 1000, g = 2, w = 1;
  int forced = 0;  // steps forced to the floor, and undershoots

  void Start(double tolerance, double lower, double aim, double growth, double weight);
  // The length to try after rejecting a step of dt.
  double Shrink(double err, double dt);
  // The length of the next step after accepting one of dt.
  double Grow(double err, double dt) const;
  // A trial value below the trim threshold: the rest of the run keeps half
  // the tolerances; returns an error measure that rejects the step.
  double Undershoot();
};

// Largest relative change |c_new - c_old| / c_old over nodes first..N, where
// nodes below 1e-4 of the largest new value are measured against a loaded
// neighbour. `undershoot` is set when a new value of nodes first..N-1 lies
// below -trim; the change returned then means nothing.
double RelativeStepChange(const double* cNew, const double* cOld, int first, int N, double trim,
                          bool& undershoot);

// The nonideality of a solver's settings: ks = +-10^a / scale and
// kd = +-10^b / scale, or k = |a| and tau = |b| for hard spheres, with the
// solver's solvent.
NonidealityModel NonidealityFromSettings(const CLammIdeal& L);

class CConcDependentPath {
 public:
  explicit CConcDependentPath(CLammIdeal& owner) : L_(owner) {}

  // Work arrays for the owner's N nodes and `components` component vectors.
  void Allocate(int components);
  // The mass bands and the element integrals of the owner's uniform grid.
  void AssembleNonidealMatrices();
  // D, or the capped copy of it where some node's D lies above the floor.
  const double* CappedDiffusion(const double* s, const double* D, double w2);
  // The Crank-Nicolson bands A -+ dt/2 K of the K for per-node s and D at
  // the owner's current rotor speed; `closedBottom` adds the outflow row at
  // the bottom (s_N > 0).
  void AssembleCrankNicolson(const double* s, const double* D, bool closedBottom, double dt);
  // rhs = (A + dt/2 K) x, then (A - dt/2 K) out = rhs, on the rows from
  // first - 1 (rows before it stay 0). False, out untouched, on a zero pivot.
  bool SolveCrankNicolson(const double* x, double* out, int first);
  // The sweeps over rows f..N of the left bands, y holding the right-hand
  // side on entry and the solution on return; false on a zero pivot (y then
  // partly solved).
  bool SweepInPlace(double* y, int f);
  // The Thomas sweeps in parts: the first row, rows from..to of the forward
  // elimination, and the back substitution from row N down to f.
  struct SweepState {
    double th1 = 0, th2 = 1, piv = 0, v = 0;
  };
  bool SweepFirstRow(double* y, int f, SweepState& st);
  bool SweepForward(double* y, int from, int to, SweepState& st);
  void SweepBack(double* y, int f, double v);
  // The sweeps of StepCrankNicolson from both ends, y holding the
  // right-hand side on entry and the solution on return (solved_ told of
  // every node); false on a zero pivot.
  bool SweepFromBothEnds(double* y);
  bool TridagFailure(const char* text);
  void SumComponents(const std::vector<std::vector<double>>& from, double* to) const;
  // StepComponents (from old_ into `to`) for one component of weight 1 with
  // linear factors, the next solve's work formed beside its back
  // substitution, node by node as they are final: the sum of the solution
  // into `sum`, its factors into fs and fd, and the next solve's node values
  // in sN and DN (the mean with the step's start factors when `mean`). False
  // when a factor lies beyond the float range or the solve failed: the next
  // solve then forms its own.
  bool StepReadyingNext(std::vector<std::vector<double>>& to, double dt, double* sum, double* fs, double* fd,
                        bool mean);
  // AssembleCrankNicolson and then SolveCrankNicolson from row 1, up to
  // rounding: the left bands and the rhs formed in one pass, a vector of
  // rows at a time, the right bands not kept, the system solved from both
  // ends straight into `out`. False on a zero pivot, `out` then partly
  // overwritten.
  bool StepCrankNicolson(const double* s, const double* D, bool closedBottom, double dt, const double* x,
                         double* out);

  // The whole run of CLammIdeal::SolveConcDependent.
  void Run();

  // Per-node coefficient vectors (1-based; entries 0 and N + 1 stay 0).
  std::vector<double> sN, DN;
  std::vector<double> cOld, cTrial;

 private:
  enum class Model { Components, Dimer, Trimer, Single, Table };
  bool PrepareModel();
  bool NodeCoefficients(int kind);
  // The components' common factors fs, fd of s and D (s_k = fs s0_k,
  // D_k = fd D0_k) at the total of the old vectors (kind 1), or else at the
  // total of the trial vectors, the step then taking the mean of each
  // component's s and D there and at the predictor's.
  bool ComponentFactors(int kind);
  // One Crank-Nicolson step of dt from the live components' `from` vectors
  // to their `to` vectors under the factors; a component whose solve fails
  // keeps its `from` vector.
  void StepComponents(const std::vector<std::vector<double>>& from, std::vector<std::vector<double>>& to,
                      double dt);
  template <typename V, int W, bool Mean>
  void SolveComponentsTogether(int first, const std::vector<std::vector<double>>& from, std::vector<std::vector<double>>& to,
                               double dt);
  // The nonideality's factors at total concentration c (NonidealityModel::Factors).
  bool Factors(double c, float s0, float D0, double& fs, double& fd) const {
    return nonideal_.Factors(c, s0, D0, fs, fd) || FactorsBeyondFloat(c, fs, fd);
  }
  // fd of a repulsive kd c beyond the float range, where Factors refused it.
  bool FactorsBeyondFloat(double c, double fs, double& fd) const;
  bool SingleValue(double c, double& s, double& D) const;
  void AssociationValue(double c, double& s, double& D);
  double AdaptiveStep();
  void TrialStep(double dt);
  void Corrector();
  void AcceptStep();
  double StepError();
  void CutAtNextScan();
  void CleanUpNegatives();
  void CleanUpLayeredStart(double* c);
  void MeniscusCorrection();
  bool Diverged() const;

  CLammIdeal& L_;
  int N_ = 0;
  double h_ = 0;
  // Mass bands, left and right Crank-Nicolson bands, rhs, multipliers.
  std::vector<double> Alo_, Adi_, Aup_, Llo_, Ldi_, Lup_, Rlo_, Rdi_, Rup_;
  std::vector<double> DCapped_;  // D at the nodes, capped, where any needs it
  std::vector<double> rhs_, gam_, eta_;
  // Element integrals of row i for the index pairs (j, k) of the seven
  // patterns (i-1,i-1), (i,i-1), (i-1,i), (i,i), (i+1,i), (i,i+1), (i+1,i+1).
  std::vector<double> B_[7], C_[7];
  // The largest D a node is given (cm^2/s): its |s| w^2 (S, 1/s^2, 1e-13
  // included) times flatPerSw2_, at least flatFloor_. A faster diffusion
  // leaves the cell as flat as infinitely fast diffusion does, within the
  // solver's accuracy.
  double flatPerSw2_ = 0, flatFloor_ = 0;

  Model model_ = Model::Single;
  NonidealityModel nonideal_;
  double K_ = 0;
  ThreeSpeciesScheme three_;
  CAssociationTable table_;
  float s1_ = 0, s2_ = 0, D1_ = 0, D2_ = 0;
  double dtStored_ = 0;
  int scheme_ = 2;
  bool sedimenting_ = true, closedBottom_ = false;

  // Components: old, trial and accepted vectors; the components that hold
  // anything (one loaded with nothing stays nothing and is not solved).
  int nc_ = 0;
  std::vector<std::vector<double>> old_, trial_, acc_;
  std::vector<int> live_;
  // Their factors per node at the old vectors and at the trial vectors,
  // whether the step takes the mean of both, and the largest fd it uses.
  std::vector<double> fsOld_, fdOld_, fsNew_, fdNew_, total_;
  bool mean_ = false;
  // Nodes lo..hi of the solution in hand are final (StepCrankNicolson's back
  // substitution, when set).
  std::function<void(int, int)> solved_;
  // The corrector's factors and mean node values are formed (TrialStep);
  // the node values stand in sN and DN while StepComponents runs.
  bool correctorReady_ = false, nodesReady_ = false;
  // The next trial's factors and node values are formed (Corrector), of the
  // values the next step starts from.
  bool trialReady_ = false;
  double fdMost_ = 0;
  // Each component's ratios of the elimination (gam of SolveCrankNicolson).
  std::vector<std::vector<double>> gamK_;

  // c is the one live component itself, of weight 1, as the last corrector
  // left it: the sum of the step then measures that component too.
  bool cIsTheComponent_ = false;

  ConcStepControl ctl_;
  double trimThreshold_ = 0;
};
