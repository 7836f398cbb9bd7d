#include "plot/adhoc_plot.h"

#include <set>

#include "numerics/arrays.h"

CAdHocPlot::CAdHocPlot()
    : plot(new CWINPlot),
      pointCount(101, 0),
      xData(101, nullptr),
      yData(101, nullptr),
      xView(101, nullptr),
      yView(101, nullptr),
      curve(101, nullptr),
      ownsData(101, true) {}

CAdHocPlot::~CAdHocPlot() {
  delete plot;
  plot = nullptr;
  std::set<float*> freed;
  auto release = [&](float*& p, int n) {
    if (p && n > 0 && freed.insert(p).second) free_vector(p, 1, n);
    p = nullptr;
  };
  for (int s = 1; s <= capacity; ++s) {
    const auto k = static_cast<size_t>(s);
    if (ownsData[k]) {
      release(xData[k], pointCount[k]);
      release(yData[k], pointCount[k]);
    }
    delete curve[k];
    delete xView[k];
    delete yView[k];
    curve[k] = nullptr;
    xView[k] = yView[k] = nullptr;
  }
}

int CAdHocPlot::AddCurve(int n, float* x, float* y) {
  int s = 1;
  while (s <= capacity && pointCount[static_cast<size_t>(s)] != 0) ++s;
  if (s > capacity) return -1;
  const auto k = static_cast<size_t>(s);
  pointCount[k] = n;
  xData[k] = x;
  yData[k] = y;
  xView[k] = new CVector();
  xView[k]->Attach(x, n, 1);
  yView[k] = new CVector();
  yView[k]->Attach(y, n, 1);
  curve[k] = new CCurve(xView[k], yView[k]);
  plot->AddCurve(curve[k]);
  return s - 1;
}
