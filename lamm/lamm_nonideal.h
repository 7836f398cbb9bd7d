#pragma once
// CLammNonIdeal: the Lamm equation of one species whose s and D depend on a
// total concentration ctot(r, t) of all species that is given from outside
// (the mean field of the nonideal c(s) model):
//
//   dc/dt = (1/r) d/dr [ r D(ctot) dc/dr - s(ctot) w^2 r^2 c ],
//   linear:       s = s0 (1 - ks ctot), D = D0 (1 + kd ctot),
//   hard spheres: s = s0 fs(ctot/scale), D = D0 fd(ctot/scale),
//
// on the uniform grid of the concentration-dependent path (element matrices
// and Crank-Nicolson solve shared with it), with its own adaptive steps.
// ctot comes from a matrix (per row time, the radii at which ctot reaches
// each of m equally spaced levels) or from a table of node profiles. Copies
// of a template share the matrix read-only, so many species can be solved
// on worker threads (CLRunMTList with a CLammNonIdeal template).
#include <memory>
#include <string>
#include <vector>

#include "lamm/lamm_conc_dependent.h"
#include "lamm/lamm_ideal.h"

// ctot(r, t) as level radii: radius[i][j] (cm) at which the total reaches
// level j at rowTime[i] (s). 1-based; rows ascending in time.
struct CtotMatrix {
  int n = 0, m = 0;
  double spacing = 0;
  std::vector<double> radius;  // (n + 1) x (m + 1), row 0 unused
  std::vector<double> rowTime, level;
  std::string name;
  double Radius(int i, int j) const { return radius[static_cast<size_t>(i) * (m + 1) + j]; }
};

class CLammNonIdeal : public CLammIdeal {
 public:
  CLammNonIdeal();
  ~CLammNonIdeal() override;

  // A copy of the template's settings; the ctot matrix is shared, not copied.
  void CopyConstruct(const CLammNonIdeal& templ);
  void CopyNonidealSettings(const CLammNonIdeal& templ);
  // a, b: log10 ks and log10 kd (per concentration unit x scale), or with
  // hardSphere the volume correction k and the Baxter stickiness tau.
  void SetNonidealParameters(float a, float b, double scale, bool hardSphere, bool second);
  // rows[i][1..m] the level radii at rowTimes[i - 1]... all 1-based. Refused
  // (false, nothing loaded) for n or m < 1, times not strictly ascending,
  // levels not ascending or a size beyond what a 32-bit block can hold.
  bool LoadCtotMatrix(int n, int m, const double* const* rows, const double* rowTimes,
                      const double* levels, double spacing, const char* name);
  // One ctot profile per time on this solver's own nodes; used only when
  // nodeCount is the configured grid size. The caller keeps them alive.
  void SetCtotNodeTable(int count, int nodeCount, float* const* profiles, const double* times);
  // Writes ctot at every refresh of the solver with job index `job` into
  // "<prefix>it<kind>ctot<count>.ip0".
  void SetCtotDump(bool on, int job, const char* prefix);

  void ChooseTimeStep() override;
  void SetupGrid() override;

  // ctot at the nodes for time t (active nodes; nodes before it get 0).
  void UpdateCtot(double t);
  const double* Ctot() const { return ctot_.data(); }
  bool NodeTableOn() const { return nodeTableOn_; }
  bool CtotLoaded() const { return matrix_ != nullptr || nodeTableOn_; }
  double LinearRangeLimit() const { return linearLimit_; }
  double LinearSlopeS() const { return slopeS_; }
  double LinearSlopeD() const { return slopeD_; }

 protected:
  void SolveConcDependent() override;

 private:
  void TimeLoop();
  double AdaptiveStep();
  bool TrialStep(double dt);
  // Small negative values a trial step leaves: during the first 10 s of a
  // layer loading or an initial profile every interior value below 1e-10 is
  // spread to its neighbours; under a speed schedule a negative first node
  // goes to the second and an interior dip between positive neighbours to
  // them. The amount in the cell stays.
  void SpreadTrialNegatives();
  void AcceptStep();
  void SetNodeCoefficients(double t);
  void FindLinearRange();
  void UpdateCtotFromMatrix(double t);
  void UpdateCtotFromNodeTable(double t);
  void DumpCtotVector(double t, int kind);
  int AdvanceActiveStart();
  double StepChange();

  CConcDependentPath path_;
  std::shared_ptr<const CtotMatrix> matrix_;
  std::vector<double> ctot_, levelRadius_;
  float* const* nodeTable_ = nullptr;
  const double* nodeTimes_ = nullptr;
  int nodeCount_ = 0, nodeNodes_ = 0;
  bool nodeTableOn_ = false;
  bool dump_ = false;
  int dumpJob_ = 0, dumpCount_ = 0;
  std::string dumpPrefix_;

  // Nonideality as prepared for the run.
  NonidealityModel model_;
  double linearLimit_ = -1.0, slopeS_ = -1.0, slopeD_ = -1.0;
  float lastPhi_ = -1.0f, evalTolerance_ = 0.01f;

  int active_ = 1;
  bool trimming_ = false;
  double trimThreshold_ = 0;
  ConcStepControl ctl_;
};
