#pragma once
// The memory a distribution's Run or Fit takes beside its two work blocks:
// the design of the normal equations and the maximum-entropy systems, so
// that a grid can be judged against the memory free before it is made.

// Bytes a Run or Fit of such a distribution holds at its peak: both blocks,
// the centred design of the normal equations over the fitted points
// (fitted of the r points per scan; r when not known or negative), the
// maximum-entropy systems, the distribution's arrays and the scans' model
// and residual values. A size judged by it does not fail on an allocation
// where the memory it is compared with is free.
double DistributionWorkStorageBytes(double n, double m, double r, double fitted = -1);

// Bytes of that storage the program holds now (blocks allocated, the
// released kernel block, the design and the maximum-entropy systems kept
// from one run to the next for reuse): a new size replaces them, so they
// count as free when it is judged.
double DistributionWorkStorageHeld();
