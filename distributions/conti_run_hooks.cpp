#include "distributions/conti_run_hooks.h"

ContiRunHooks& ContiHooks() {
  static ContiRunHooks h;
  return h;
}
