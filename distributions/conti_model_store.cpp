#include "distributions/conti_model_store.h"

ContiModelStore& ContiStore() {
  static ContiModelStore s;
  return s;
}
