#pragma once
// The equilibrium models' commands start from values kept beside the other
// first starts.
#include "app/commands/model/model_starts.h"
