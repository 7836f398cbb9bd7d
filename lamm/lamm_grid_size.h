#pragma once
// The radial grid size of the Lamm solutions, with one owner: the default
// the user set (line 5 of "tarnellammparams.ini"), the size the solvers
// allocate for, and the size in use that a distribution replaced with its
// own. A distribution never writes the default; leaving it gives the size
// it replaced back. The record is part of LammSolverSettings; the model
// commands, the Lamm-equation dialog and the saved analyses change it only
// through the functions below (the solvers resize the size in use as they go).
#include <cstdint>
#include <optional>

struct LammGridSize {
  std::int32_t setting = 1000;     // the default ("default FE grid size")
  std::int32_t inUse = 1000;       // the N the solvers allocate for
  std::optional<std::int32_t> replaced;  // the size in use a distribution replaced
  std::int32_t distribution = 500; // the distributions' own, as last set for them
};

// A distribution is chosen: its own size goes in use, the size it replaces
// is kept (a size replaced already stays the one to give back).
void PutDistributionGridSize(LammGridSize& g);
// The distribution is left: the size it replaced is in use again.
void GiveBackGridSize(LammGridSize& g);
bool DistributionGridSizeInUse(const LammGridSize& g);
// The size typed into the Lamm-equation dialog becomes the default and the
// size in use; while a distribution is in use, also its own size and the
// size given back when it is left.
void SetGridSizeSetting(LammGridSize& g, std::int32_t n);
// The size a saved analysis carries: the distribution's own while one is in
// use, else the default.
std::int32_t SavedGridSize(const LammGridSize& g);
// A saved analysis' size, once the model it names is chosen: the size in
// use, and the distribution's own while one is in use. The default stays.
void TakeSavedGridSize(LammGridSize& g, std::int32_t n);
