#pragma once
// What the peak labels and the "PEAK INFO" box say about one peak of the
// c(s) distribution: the molar mass that the hydrodynamic model of the
// active c(s) variant gives for the peak's weight-average s, written by
// magnitude, or the weight-average s itself where the model has no molar
// mass.
#include <string>

// M (g/mol) for sw (S) under the active c(s) variant, the linear rod included.
float PeakMolarMass(float sw);
// True when the peaks are labelled with sw instead of M.
bool PeakLabelsShowSw();
// "Mf~%.1f MDa" ... "Mf~%.1f Da", the unit and decimals chosen by magnitude.
std::string PeakMassLabel(float M);
// The label of a peak with weight-average s sw.
std::string PeakLabelText(float sw);
// The text of the "PEAK INFO" box: sw (S), the signal c in the peak and its
// fraction of the whole distribution.
std::string PeakDetailsText(float sw, float c, float fraction);
