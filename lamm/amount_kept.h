#pragma once
// The one check that a Lamm solution kept the material it was loaded with,
// and the words that say what it lost or created. The Lamm equation neither
// makes nor destroys material: a solution that ends with clearly more or
// less than its loading (beyond what left through an open bottom) has lost
// itself to rounding, a diffusion far beyond the grid or steps far too long,
// and was not computed whatever its pivots said.
#include <optional>
#include <string>

struct AmountNotKept {
  double loaded = 0, kept = 0;  // amounts in the cell (any one unit)
  double s = 0, D = 0;          // S, cm^2/s of the species
};

// No solute diffuses faster in water than its smallest molecules (about
// 2e-5 cm^2/s): a D beyond this follows from a partial-specific volume,
// frictional ratio or molar mass no sample has.
inline constexpr double kFastestSolute = 1e-3;  // cm^2/s

// True when `kept` lies within tolerance x |loaded| of `loaded`.
bool AmountKeptWithin(double loaded, double kept, double tolerance);

// The first failure since the last take is kept for its message (the
// solvers of a list run on several threads).
void RecordAmountNotKept(const AmountNotKept& a);
std::optional<AmountNotKept> TakeAmountNotKept();

// What was lost or created, of which species, and what to change.
std::string AmountNotKeptText(const std::optional<AmountNotKept>& a);
