#pragma once
// The Lamm equation of one small ideal buffer solute in a sector cell,
//
//   dc/dt = (1/r) d/dr [ r D dc/dr - s w^2 r^2 c ],   zero flux at m and b,
//   c(r, 0) = amplitude (uniform),
//
// r in cm, t in s, s in Svedberg (1e-13 s), D in cm^2/s, rotor speed in rpm
// (w = 2 pi rpm / 60). Linear elements on a static grid of 200 nodes
// (r_i = m + (i - 1) h), Crank-Nicolson steps L c_new = R c_old with
// L = A - dt/2 B, R = A + dt/2 B (A mass, B stiffness matrix, both
// tridiagonal), and a step size driven by the largest relative change of
// the profile. The factors of L are kept while dt and the rotor speed stay,
// so most steps cost one product and one back-substitution.
//
// The solver owns its arrays (allocated once per object); it knows nothing of
// scans: the caller gives the output times and receives the profile at each.
#include <functional>
#include <vector>

struct BufferSedPass {
  double D = 0.0;          // cm^2/s
  double s = 0.0;          // S
  double amplitude = 0.0;  // uniform initial signal
  double meniscus = 0.0, bottom = 0.0;  // cm
  double rpm = 0.0;        // rotor speed after the ramp
  // Linear acceleration from rest (rpm/s) until rampEnd (s); off when
  // rampEnd < 10 s or rampRate <= 0.
  double rampRate = 0.0, rampEnd = 0.0;
  std::vector<double> outputTimes;  // ascending (s)
};

enum class BufferSedOutcome {
  Completed,    // every output time reached
  SteadyState,  // the profile stopped changing: the later times got the final profile
  Skipped,      // amplitude 0: nothing written
  GaveUp,       // more than 10 step reductions in a row
  Singular,     // zero pivot in the tridiagonal solve
  Interrupted,  // key press
};

class CBufferSedSolver {
 public:
  static constexpr int kNodes = 200;

  // Called with the output index (0-based into outputTimes) and the profile
  // c[1..kNodes] at that time.
  using Sink = std::function<void(int index, const double* c)>;
  // Asked after every step; true ends the run as interrupted.
  using StopPoll = std::function<bool()>;

  CBufferSedSolver();
  BufferSedOutcome Run(const BufferSedPass& pass, const Sink& sink, const StopPoll& stop = {});

  const double* Radii() const { return r_.data(); }  // [1..kNodes]
  int AcceptedSteps() const { return accepted_; }
  int Factorisations() const { return factorisations_; }

 private:
  void Assemble();
  void BuildSystem(double dt, double theta);
  bool Singular();
  bool Factor();
  void Solve();
  bool TrialStep(double dt);
  double RelativeChange();
  double Limit(double proposed, double old) const;
  bool Settled(double taken) const;
  double RotorSpeedDuring(double t, double dt) const;

  // Nodes and bands, 1-based.
  std::vector<double> r_, c_, cOld_, rhs_;
  std::vector<double> al_, ad_, au_, bl_, bd_, bu_;  // mass and stiffness bands
  std::vector<double> ll_, ld_, lu_, rl_, rd_, ru_;  // left and right system bands
  std::vector<double> gam_, bet_, invBet_;           // factors of the left bands
  std::vector<double> start_;                        // profile at the start of a damped step
  double h_ = 0.0, D_ = 0.0, s_ = 0.0;
  double t_ = 0.0, rpm_ = 0.0, finalRpm_ = 0.0, dtMax_ = 1000.0;
  double rampRate_ = 0.0, rampEnd_ = 0.0;
  double factoredDt_ = -1.0;
  double lastChange_ = 0.0, lastTop_ = 0.0;  // of the last solve: max |c_new - c_old|, max |c_new|
  bool accelerating_ = false, singular_ = false;
  int retries_ = 0, accepted_ = 0, factorisations_ = 0;
};

// Tridiagonal solve a_i u_{i-1} + b_i u_i + c_i u_{i+1} = r_i, i = 1..n,
// keeping the factors (gam, bet) for later back-substitutions; false on a zero
// pivot after "Error 1 in tridag" (first row) or "Error 2 in tridag".
bool TridagBufferSed(const double* a, const double* b, const double* c, const double* r, double* u,
                     int n, double* gam, double* bet);
