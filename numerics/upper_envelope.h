#pragma once
// Collapses scattered points to one per distinct abscissa, keeping the
// largest ordinate: once over (x, y) into count1, x1Out, y1Out, and once
// over (x2, y) into count2, x2Out, y2Out. All arrays one-based over 1..n;
// outputs at least n long.
void UpperEnvelope(int n, const float* x, const float* x2, const float* y, int* count1,
                   float* x1Out, float* y1Out, int* count2, float* y2Out, float* x2Out);
