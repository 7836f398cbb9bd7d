#include "lamm/lamm_grid_arrays.h"

namespace {
thread_local LammGrid* tOwnGrid = nullptr;
}

LammGrid& CurrentLammGrid() {
  static LammGrid grid;
  return tOwnGrid ? *tOwnGrid : grid;
}

void UseThreadLammGrid(LammGrid* own) { tOwnGrid = own; }

CosoluteArrays& CurrentCosoluteArrays() {
  static CosoluteArrays arrays;
  return arrays;
}
