#include "fit/model_selector.h"

ModelSelectorFlags gModelSelectorFlags;

void ModelSelectorFlags::ClearSwitches() {
  const unsigned char cs = CSModel, cdl = ConcDependentLammModel, ncv = NonidealCSVariant;
  *this = ModelSelectorFlags{};
  CSModel = cs;
  ConcDependentLammModel = cdl;
  NonidealCSVariant = ncv;
}
