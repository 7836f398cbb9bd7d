#pragma once
// An x/y pair of CVectors: the unit that plots draw and analyses pass
// around. Curves over views of one-based arrays own nothing; curves read
// from files own their vectors. Indices are 0-based.
#include "numerics/cvector.h"

class CCurve {
 public:
  CCurve();
  CCurve(CVector* x, CVector* y);
  // Owned copies of x[offsetX + i], y[offsetY + i], i = 0..n-1.
  CCurve(float* x, float* y, int n, int offsetX, int offsetY);
  CCurve(const CCurve& other);  // shares the vectors
  CCurve& operator=(const CCurve&) = delete;
  ~CCurve();

  int Count() const { return (x && y) ? static_cast<int>(x->count) : 0; }

  // Extremes of y among the points x1 <= x <= x2 in index range
  // max(from,0) .. min(to,count)-1; the scan stops at the first x > x2.
  float MinYInXWindow(float x1, float x2, int from, int to) const;
  float MaxYInXWindow(float x1, float x2, int from, int to) const;
  float MinYInXWindowAll(float x1, float x2) const;
  float MaxYInXWindowAll(float x1, float x2) const;
  float MeanYInXWindow(float x1, float x2) const;
  float XAtMaxY() const;
  int NearestIndex(float x0) const;
  int NearestXPoint(float x0, float* xOut, float* yOut) const;
  int NearestYPoint(float y0, float* xOut, float* yOut) const;
  int NearestPoint(float x0, float y0, float* xOut, float* yOut) const;
  // Linear interpolation; beyond the ends the end segment is extended.
  float InterpolateY(float x0) const;
  // Points higher than halfWidth neighbours on each side, highest first;
  // outputs are one-based. Returns the number delivered.
  int FindPeaks(float* xOut, float* yOut, int* indexOut, int maxPeaks, int halfWidth) const;
  void SortByX();

  bool WriteToFile(const char* name) const;
  bool ReadFromFile(const char* name, int xColumn, int yColumn);
  bool ReadFromFileAveraged(const char* name, int xColumn, int yColumn, int k);

  static int LiveCount();

  int ownsVectors = 0;
  CVector* x = nullptr;
  CVector* y = nullptr;

 private:
  static int liveCurves;
};

// One-based arrays, points 1..n, "%f %f" per line.
bool WriteXYArrays(const char* name, int n, const float* x, const float* y);
