#pragma once
// What the global-array Lamm solvers take from the model evaluation above
// them: the cell and the drive of the chosen model, the scan output that
// receives every step, and the inhomogeneous solvent's pieces that depend
// on the solution (vbar, the cosolute's coefficient lists). The model
// evaluation connects them once, before it first allocates the grid
// arrays; the solvers never run without allocated arrays, so they never
// find the record empty.
#include <optional>

#include "lamm/element_integrals.h"

struct GlobalLammHooks {
  // Meniscus and bottom of the model (cm).
  double (*meniscus)() = nullptr;
  double (*bottom)() = nullptr;
  // Electrophoresis drives at the constant velocity s 1e-4 cm/s instead of
  // w^2 s 1e-13 r.
  bool (*electrophoresis)() = nullptr;
  // Zone loading: no depletion stop and no cut start region.
  bool (*zoneCentrifugation)() = nullptr;
  // The cell shape of a planar model; none for the sector cell.
  std::optional<PlanarGeometry> (*planarGeometry)() = nullptr;
  // The scan output after each step; x is the step's progress value.
  void (*stepDone)(double x) = nullptr;
  // Time of the last scan in time order (s).
  double (*lastScanTime)() = nullptr;

  // The inhomogeneous solvent in the moving frame: s and D (held at 20 degC
  // water) in the buffer; the local factors relative to the buffer's mean
  // on the nodes xi[1..n]; the sedimenting cosolute (start: false when the
  // run cannot go on; time; a step to the run clock); the local factors of
  // a dynamic gradient at the radii r and frame radii xi half a step on.
  double (*bufferSedimentation)(double s20w) = nullptr;
  double (*bufferDiffusion)(double D20w) = nullptr;
  void (*initFrameSolventFactors)(const double* xi, int n) = nullptr;
  bool (*initCosolute)() = nullptr;
  void (*setCosoluteTime)(double t) = nullptr;
  void (*stepCosolute)() = nullptr;
  void (*updateFrameSolventFactors)(const double* r, const double* xi, int n, double half) = nullptr;
};

// The program's one record, read by every solver thread; written once.
const GlobalLammHooks& CurrentGlobalLammHooks();
// Fills the record the first time it is called; later calls (from any
// thread) leave it as it is, so the solvers never read a half-written one.
void ConnectGlobalLammHooks(const GlobalLammHooks& hooks);
