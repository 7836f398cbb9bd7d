#include "fit/fit_engine_state.h"

FitEngineState gFitEngineState;
