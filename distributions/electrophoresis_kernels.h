#pragma once
#include <functional>
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

// Solves the c(v) kernels on the static grid of the model evaluation. Every
// solve runs on a solver state of its own (settings, grid, run state) that
// the calling or worker thread installs for the time of the solve: the
// solver switches read static grid and electrophoresis, and the steps follow
// the travelling boundary (LammRunState::boundaryStepFraction). Each velocity
// gets the grid of MobilityKernelRadii (fit/static_grid_lamm.h). The
// program's own grid, run state and settings are not touched; the model
// switch is put back on destruction.
class CMobilityKernels {
 public:
  explicit CMobilityKernels(double D);
  ~CMobilityKernels();
  CMobilityKernels(const CMobilityKernels&) = delete;
  CMobilityKernels& operator=(const CMobilityKernels&) = delete;

  // False without a positive D and column.
  bool Ready() const { return ready_; }
  // Nodes of the last solve on the calling thread.
  int Nodes() const { return nodes_; }
  // Kernel rows of grid point i for velocity v (um/s) on the calling
  // thread; 0, or 1 (no grid arrays), or the solver's error 2
  // (discretization) or 3 (singular matrix). A key press during the solve
  // raises the stop flag.
  int Solve(int i, double v);
  // The kernel rows of grid points 1..n (velocities v[1..n]), on `threads`
  // workers when more than one (the calling thread then polls the keyboard;
  // a key press raises the stop flag, which ends every solve). progress(i)
  // runs on the calling thread when point i is being solved. The code of
  // the first point by index that failed, as Solve; 1 ends the list.
  int SolveList(int n, const double* v, int threads, const std::function<void(int)>& progress);

 private:
  struct Solver;
  std::unique_ptr<Solver> NewSolver() const;
  int SolveOn(Solver& solver, int i, double v, bool worker, int& nodes);
  double D_;
  bool ready_ = false;
  int nodes_ = 0;
  int gridSizeInUse_ = 0;
  unsigned char electrophoresis_ = 0;
  std::unique_ptr<Solver> own_;
};

// ls-g*(v): kernel rows of grid point i for velocity v (um/s).
void ComputeMigrationStepKernel(int i, double v);
