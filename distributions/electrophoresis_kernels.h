#pragma once
#include <memory>

// Kernels of the electrophoresis distributions: for one migration velocity v
// (um/s) the signal of a unit loading concentration at every scan time on
// the common radial grid, in the linear geometry of a constant force,
//
//   dc/dt = D d2c/dx2 - v' dc/dx,   v' = 1e-4 v (cm/s),
//   no flux at the meniscus m and the bottom b (cm), c = 1 on m..b at t0,
//
// t0 being the model's start time (0 unless it is set or fitted), times in s.
//   c(v):     the finite-element solution on the static grid of the model
//             evaluation (the solver of the discrete electrophoresis model),
//             D constant (cm^2/s);
//   ls-g*(v): the non-diffusing step, c = 1 beyond m + v' (t - t0), without
//             the radial dilution of the sector cell.
// The rows go to the kernel block (DistributionWorkBlock) of grid point i.

// The electrophoresis settings of the run: v min below v max, a positive
// constant D for c(v), a column of positive length. A refusal has told the
// user; the run ends without a kernel.
bool ElectrophoresisSettingsAccepted();

// Solves the c(v) kernels on the static grid of the model evaluation. For
// as long as it lives, the solver switches read static grid and
// electrophoresis, and the step control allows a relative change of at most
// 0.5 per step. Each velocity gets the even grid of ElectrophoresisGridSize
// (fit/static_grid_lamm.h). Everything is put back on destruction.
class CMobilityKernels {
 public:
  explicit CMobilityKernels(double D);
  ~CMobilityKernels();
  CMobilityKernels(const CMobilityKernels&) = delete;
  CMobilityKernels& operator=(const CMobilityKernels&) = delete;

  // False without a positive D and column.
  bool Ready() const { return ready_; }
  // Nodes of the last solve.
  int Nodes() const { return nodes_; }
  // Kernel rows of grid point i for velocity v (um/s); 0, or 1 (no grid
  // arrays), or the solver's error 2 (discretization) or 3 (singular
  // matrix). A key press during the solve raises the stop flag.
  int Solve(int i, double v);

 private:
  double D_;
  bool ready_ = false;
  int nodes_ = 0;
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

// ls-g*(v): kernel rows of grid point i for velocity v (um/s).
void ComputeMigrationStepKernel(int i, double v);
