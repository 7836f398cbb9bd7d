#include "data/realtime_state.h"

namespace {

RealtimeState g_state;

}  // namespace

RealtimeState& CurrentRealtimeState() { return g_state; }
