#pragma once
// Whether the test of approach to equilibrium is on: asked by the paint,
// the plot input, Run and the parameter dialog, which need nothing else of
// the equilibrium tools.
#include "equilibrium/eqtools/eq_test_mode.h"

inline bool EqTestModeOn() { return EqTest().testMode != 0; }
