#pragma once
// Nonlinear detection on the data shown: the transform of the tables and
// scans (fluorescence_corrections.h), then what follows the shown signals
// (the common grid made again, the data, residual and histogram plots
// redrawn and the rmsd computed), unless NonlinearDetectionTables::skipRegrid
// holds that off.

// Transforms with power p (<= 0 taken as 0.01) and baseline b, and shows the
// transformed (show) or measured pair; false without scans or when off.
bool NonlinearDetectionTransform(double power, double baseline, bool show);
// The same on behalf of a simulation: the automatic re-application is held off.
bool NonlinearDetectionTransformGuarded(double power, double baseline, bool show);
// Re-applies the stored transform (at each grid preparation, regrid false).
bool ApplyNonlinearDetection(bool regrid);
