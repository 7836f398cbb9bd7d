#pragma once
// CAdHocPlot: shows plain 1-based float arrays as an extra graph. It owns a
// CWINPlot and, for every pair of arrays handed to it, the two views and the
// curve; it frees the arrays when it is destroyed (each array once, since
// callers share one x array among several curves).
#include <vector>

#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "plot/cwinplot.h"

class CAdHocPlot {
 public:
  CAdHocPlot();
  ~CAdHocPlot();
  CAdHocPlot(const CAdHocPlot&) = delete;
  CAdHocPlot& operator=(const CAdHocPlot&) = delete;

  // Takes x[1..n], y[1..n] (arrays from `vector`) into the first free slot
  // and adds their curve to the plot; returns the slot number - 1, which is
  // the curve's index in the plot; -1 when all slots are taken.
  int AddCurve(int n, float* x, float* y);

  CWINPlot* plot = nullptr;
  int capacity = 100;
  // Per slot, entries 1..capacity (entry 0 unused).
  std::vector<int> pointCount;
  std::vector<float*> xData, yData;
  std::vector<CVector*> xView, yView;
  std::vector<CCurve*> curve;
  std::vector<bool> ownsData;
};
