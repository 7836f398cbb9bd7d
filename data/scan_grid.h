#pragma once
// The common radial grid of the loaded scans, the fit limits checked against
// scans, meniscus and bottom, and the repairs of interference offsets that
// run over the whole set. All act on CurrentScanSet().
#include <cstdint>

// Puts every scan on one radial grid: the earliest scan's own radii when all
// scans share them (interference data), else an interpolated grid of step
// radialResolution (cm) between the mean first and the mean last radius.
void PrepareScanGrid();
// Corrects the fit limits against the scans, meniscus and bottom and
// recomputes the fit-point index ranges and the fit-range sums. A left
// limit closer than meniscusGap (cm) to the meniscus moves to that gap;
// a restored analysis passes 0, since its fit may have taken the meniscus
// up to 0.001 cm below the limit (the bound Fit sets) and the limit it was
// fitted with must stay.
void CheckLeftFitLimit(float meniscusGap = 0.01f);
void CheckRightFitLimit();
// After a load: limits that are crossed or hold no point of any scan become
// the radii all scans share, with a message.
void KeepFitLimitsOnTheData();
// The user sets a fit limit (cm): kept as entered and put in use; the
// caller checks it against the data as its command does.
void EnterLeftFitLimit(float left);
void EnterRightFitLimit(float right);
// Before a load checks the limits: the limits in use are the entered ones
// again; a limit nobody entered keeps the value in use as its entry, so
// that the correction this load makes is not carried to the next.
void FitLimitsFromEntries();
// A fit limit still unset (0) becomes the cell end (meniscus, bottom in cm)
// and is checked as above.
void SetUnsetFitLimits(float meniscus, float bottom);

// Removes whole fringes so that every scan matches the earliest one at the
// given radius (cm), then adds shift (fringes) to all signals. False when the
// radius lies outside the earliest scan.
bool AlignInterferenceOffsetsAtRadius(float shift, float radius);
// Removes integral fringe jumps: a step larger than threshold (>= 0.5
// fringes) between neighbouring points, or of a residual against the mean of
// the three before it, is taken out of the rest of the scan.
void DetectFringeJumps(float threshold, std::uint8_t useResiduals);
// Baseline jitter of interference scans: each later scan is shifted so that
// its mean over rmin..rmax (cm) equals the earliest scan's; the shifts are
// kept as RI noise. False when the range holds no grid point.
bool RemoveJitter(float rmin, float rmax);

// Extrapolate the extra initial-data scan from the fit limits towards the
// meniscus and the bottom by a polynomial through segment means.
void MakeLeftExtrapolation();
void MakeRightExtrapolation();
void FreeExtrapolationArrays();

void AllocExtraScanArrays();
void FreeExtraScanArrays();

// Releases the grid, the arrays on it and the noise arrays.
void FreeFitArrays(int n);

// Re-interpolates scan i onto an owned grid after its signals changed, so
// that the grid copy stays equal to the scan; nothing for a shared grid.
void RefreshGridCopy(int i);
