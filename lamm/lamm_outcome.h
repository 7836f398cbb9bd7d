#pragma once
// What one run of a Lamm solver (CLammIdeal::CheckAndRun and the species
// lists built on it) ends with. The numbers are stored in per-species error
// arrays and shown in "error #%d in simulation #%d" boxes, so they stay fixed;
// the enum is unscoped so those int records keep taking them as they are.
enum LammOutcome : int {
  kLammSolved = 0,
  kLammNoWorkMemory = 1,         // the work arrays could not be allocated
  kLammDiscretization = 2,       // time step or grid too coarse for the change allowed
  kLammSingularMatrix = 3,       // a tridiagonal system had a zero pivot
  kLammInvalidSettings = 4,      // geometry, scans, model or solver controls refused
  kLammSlowAcceleration = 5,     // rotor acceleration too slow (or none during a ramp)
  kLammNonidealSetup = 6,        // non-ideality parameters not loaded properly
  kLammNonidealOutOfRange = 7,   // non-ideality out of range, or Wiener skewing with scan time
  kLammAmountNotKept = 8,        // the solution lost or created material (lamm/amount_kept.h)
};

