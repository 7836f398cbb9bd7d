#pragma once
// Sedimentation without diffusion in a sector: a sharp boundary moving as
// r_b = m exp(s w^2 t) (from the bottom for flotation) ahead of a plateau
// diluted to c0 exp(-2 s w^2 t). Radii in cm, t in s, rpm, w2t in rad^2/s.
class CLammIdeal;

// Fills out[1..n] with the profile of one scan on its radii.
void CLLammNoDiffvec(const CLammIdeal& solver, float c0, double t, double rpm, double w2t,
                     const float* radii, float* out, int n);
