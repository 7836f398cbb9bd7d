#include "equilibrium/mstar/mstar_state.h"

namespace {

template <typename T>
void Release(std::vector<T>& v) {
  std::vector<T>().swap(v);
}

}  // namespace

MStarState& CurrentMStarState() {
  static MStarState state;
  return state;
}

void MStarState::FreeData() {
  count = 0;
  Release(k);
  Release(ca);
  Release(mwavg);
  Release(mwLin);
  Release(sets);
  Release(hinge);
}
