#include "fit/lamm_run_state.h"

LammRunState& CurrentLammRunState() {
  static LammRunState state;
  return state;
}
