#pragma once
// The nonideal multiple-species model: up to three non-interacting
// components whose s and D all follow one linear nonideality of their total
// concentration, s = s0 (1 - ks c), D = D0 (1 + kd c), with ks and kd in
// ml/mg turned into signal units by the signal per mg/ml.
class CLammIdeal;

// Hands the model's components and nonideality to a solver already loaded
// for species slot 1 (LoadSpeciesSolver): one component when the second and
// third loading concentrations are both <= 0, else three. D in cm^2/s;
// each component's signal is its loading times its extinction.
void LoadNonidealComponents(CLammIdeal& solver);

struct FitReportInputs;
// The values the fit report prints for the nonideal single-species model:
// M and f/f0 implied by s (P[5], S) and D (P[1], 1e-7 cm^2/s) at the
// solution conditions, and for its hard-sphere variant (volume correction
// k = P[10], Baxter t = P[11]) the reduced B2, ks and kd (ml/g) at 1 mg/ml
// and at the loading concentration (P[9] / signal per mg/ml) and the volume
// fraction at loading.
void FillNonidealReportInputs(FitReportInputs& in);

class FitHost;
struct FitRunEnd;
// A fit of the nonideal multiple-species model by `method` (one whole fit of
// the method chosen), checked where it ends: log10 ks and log10 kd trade
// with s and D along curved valleys, and an end pressed to where a term has
// no effect (log10 ks -10, the boundary's sharpening taken up by a small D)
// or settled on a valley's slope is no minimum, nor is an end where the
// simplex's restarts ran out. Where the terms placed anew (s and D moved to
// keep the boundary where it was, D refined for each ks) lower chi-square by
// ten units or more, the fit goes on from the lowest, at most 3 times. A start
// the model cannot be computed at (ks c above 1, D1 or s1 at 0) or with a
// fitted log10 ks or kd above its range takes no step: the end says which
// value to change and the range it must lie in; returns 0 then.
int FitNonidealComponents(FitHost* host, FitRunEnd (*method)(FitHost* host));
