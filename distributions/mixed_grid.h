#pragma once
// The s grid that is linear up to a minimum s-value and grows in
// proportion to s above it.

void MakeMixedLogGrid(float* out, float smin, float smax, float sm, int n);
int GrowGridFrom(float* x, int nmax, int m, float smin, float smax, float sm, int* first);
