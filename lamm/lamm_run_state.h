#pragma once
// Run-time state of the global-array Lamm solvers of the model evaluation:
// the species and rotor of the current solve, the simulation clock, the
// scan-output bookkeeping and the loop flags. Set by the model evaluation
// before each solve, advanced by the solver and by the scan output.
// Units: s in Svedberg, D in cm^2/s, rpm, rpm/s, times in s.
#include <cstdint>
#include <string>

// Where a solve's progress lines go (the model evaluation's window): text
// at pixel (x, y) of the main window's client area.
class LammProgressWindow {
 public:
  virtual ~LammProgressWindow() = default;
  virtual void DrawText(int x, int y, const std::string& text) = 0;
};

struct LammRunState {
  // Species and frame.
  double s = 5.0, D = 0.0;
  double sStar = 0.0;  // frame coefficient in use (S)

  // Rotor.
  double rpm = 0.0;               // current speed
  double fullSpeed = 0.0;
  double acceleration = 0.0;      // rpm/s
  double accelerationEnd = 0.0;   // T_a (s)
  std::uint8_t accelerating = 0;
  double maxStepAccelerating = 10.0;  // largest step while accelerating (s)

  // Clock.
  double t = 0.0, dt = 1.0;
  std::int32_t iteration = 0;
  double maxStep = 1000.0;
  double timeStepSetting = 0.0, timeStepSmall = 0.0, timeStepMedium = 0.0;
  double solverValue = 500.0;

  // Loop flags.
  std::uint8_t running = 0;

  // Scan output.
  double pendingTime = 0.0;
  std::uint8_t pendingFlag = 0;
  std::int32_t scanCounter = 1;  // position in the time order
  double nextScanTime = 0.0;
  std::int32_t species = 1;
  std::uint8_t continueAfterLastScan = 0;
  LammProgressWindow* progressWindow = nullptr;  // receives the progress texts; null: none
  // When set, the profiles go onto the common grid into gridOutput[j]
  // (scan j, 1-based) instead of the models or the species' curves.
  float** gridOutput = nullptr;
  double totalAmount = 0.0;           // mass-conservation check (signal x cm^3)

  // Slice state of the finite scan time.
  std::int32_t sliceCount = 0;
  std::int32_t sliceNode = 0;
  double sliceTime = 0.0;
  std::uint8_t profilePending = 0;

  // Solving on a worker thread: the stop flag ends the solve, the keyboard
  // belongs to the user-interface thread and no box is shown.
  std::uint8_t worker = 0;

  // Above 0 (planar cell driven at a constant velocity v): the static grid
  // steps by the travelling boundary instead of the relative change of
  // every node. Crank-Nicolson steps make the boundary lag by about
  // (step/crossing time)^2/12 of its travel; a step moving it the part
  // f sqrt(w / (v t)) of its width w = sqrt(2 D t) (f this value, at most a
  // quarter) keeps the lag a fixed part of the width at every time.
  double boundaryStepFraction = 0.0;
};

// The program's one run state, or the calling thread's own while one is in
// use (null gives the program's back).
LammRunState& CurrentLammRunState();
void UseThreadLammRunState(LammRunState* own);

// Rotor speed (rpm) for the step [t, t + dt] of the acceleration phase:
// the root mean square of a t and a (t + dt), at most the full speed.
double RotorSpeedDuringAcceleration(double t, double dt);

// The clock of a global-array solver after a step of dt: step count + 1,
// t + dt (landing exactly on a scan time it was cut to reach). True when
// the step ended the acceleration phase: the rotor then runs at full speed
// (rpm set, accelerating cleared) and the caller renews what depends on it.
bool AdvanceRunClock(double dt);
