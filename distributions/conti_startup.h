#pragma once
// What the continuous distributions hook into the layers below them when the
// program starts (the window's start-up and the unattended run call it; a
// second call changes nothing): the derivation of their settings from the
// fit vector, the Lamm solver's worker pool for the grid species, and the
// sharp-boundary profile of the model evaluation's species without diffusion.
void ConnectContinuousDistributions();
