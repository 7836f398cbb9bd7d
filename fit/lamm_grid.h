#pragma once
// Allocation of the radial-grid arrays (LammGrid) of the global-array Lamm
// solvers for the model evaluation, alive until FreeLammArrays. N is
// LammSettings().gridSizeInUse; meniscus m and bottom b (cm) come from
// gModelParams. Also the rules that size the grid and place its nodes
// (equidistant, cell-centred, geometric moving frame, two-zone and
// stretched static grids), and the cosolute arrays' allocation.
#include <cstdint>

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
