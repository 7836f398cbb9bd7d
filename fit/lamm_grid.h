#pragma once
// Allocation of the radial-grid arrays (LammGrid) of the global-array Lamm
// solvers for the model evaluation, alive until FreeLammArrays. N is
// LammSettings().gridSize.inUse; meniscus m and bottom b (cm) come from
// gModelParams. Also the rules that size the grid and place its nodes
// (equidistant, cell-centred, geometric moving frame, two-zone and
// stretched static grids), and the cosolute arrays' allocation.
#include <cstdint>
#include <vector>

#include "lamm/lamm_grid_arrays.h"

// Allocates the arrays for N when absent, verifies them and lays out the
// radii; false (everything freed) when memory is short.
bool AllocLammArrays();
void FreeLammArrays();
// Reallocates for n nodes; false and N unchanged when nothing is allocated.
bool SetLammGridSize(std::int32_t n);
// Radii for the current N by the element algorithm of the Lamm settings.
void MakeRadialGrid();
// Static grid with even spacing up to rc (cm) and growing spacing beyond;
// returns the new N.
std::int32_t SetTwoZoneGridSize(float rc);
// Moves the inner zone of a two-zone grid out to where exp(x (r^2 - b^2))
// has fallen to e^-10 (x in 1/cm^2) and stretches the rest geometrically.
bool StretchTwoZoneGrid(double x);

// Cosolute arrays for CosoluteArrays::gridSize nodes, array 0 equidistant
// from m to b.
bool AllocCosoluteArrays();
void FreeCosoluteArrays();

// Nodes of an even grid from the meniscus to the bottom for a species that
// electrophoresis drives at v (um/s) with D (cm^2/s): the element Peclet
// number 1e-4 v h / D at most 2 (beyond it the elements ripple ahead of the
// boundary and the early negativity test stops the solve); with the
// automatic grid size also pointsPerSigma nodes over the boundary width
// sqrt(D t) of the earliest scan (t from the start time; within the
// grid-size limits), else at least `inUse`. At most 20000.
int ElectrophoresisGridSize(double v, double D, int inUse);
// Radii r[1..n] of the c(v) kernels' grid for velocity v (um/s) and D, with
// a spacing that follows the boundary: where it arrives at the age t, its
// width sqrt(D t) over 0.7 pointsPerSigma, but not finer than the element Peclet
// limit 2 D / v nor the width rule above, nor coarser than the lower grid
// size limit allows; graded down to the Peclet limit at the end the species
// piles up at (the bottom for v > 0). An even grid of the width rule for
// v = 0.
std::vector<double> MobilityKernelRadii(double v, double D, int inUse);
