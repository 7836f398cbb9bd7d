#pragma once
// The inhomogeneous solvent of the global-array solvers: the program's one
// settings record, the per-node factors of the species grid and the
// sedimenting cosolute. Plain records (the physics is in
// lamm/solvent_model.h); the model evaluation fills them.
#include "lamm/solvent_model.h"

SolventGradientSettings& CurrentSolventGradientSettings();
LocalSolventFactors& CurrentLocalSolventFactors();
CosoluteState& CurrentCosolute();
