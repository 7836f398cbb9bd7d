#include "lamm/lamm_run_state.h"

namespace {
thread_local LammRunState* tOwnState = nullptr;
}

LammRunState& CurrentLammRunState() {
  static LammRunState state;
  return tOwnState ? *tOwnState : state;
}

void UseThreadLammRunState(LammRunState* own) { tOwnState = own; }
