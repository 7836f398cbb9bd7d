#pragma once
// Workers that change every scan of the loaded set in one way; the raw-data
// commands ask for the numbers. Each does nothing without loaded scans.
#include <string>

// signal = factor x signal.
void ScaleSignals(float factor);
// radius = a x radius + b (cm).
void TransformRadii(float a, float b);
// Corrected elapsed time += dt (s), w2t += dw2t (rad^2/s).
void AddTimeAndW2tOffsets(float dt, float dw2t);
// signal += factor x model.
void AddScaledModelToSignals(float factor);
// radius = high - (radius - low); with upsideDown signal = -signal; the
// points are reversed so that the radii ascend again.
void MirrorScans(float r1, float r2, bool upsideDown);
// With sd >= 0: signal = scale x signal + a Gaussian deviate of sd.
void ScaleSignalsAddNoise(float sd, float scale);
// signal -= the blank scan's signal interpolated onto the scan's radii.
bool SubtractBlankScanFile(const std::string& path);
