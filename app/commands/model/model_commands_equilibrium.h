#pragma once
// The equilibrium models' commands start from values kept beside the other
// first starts.
#include "distributions/model_starts.h"
