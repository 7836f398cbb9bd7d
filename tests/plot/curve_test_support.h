#pragma once
// What the plot tests share: curve data that outlives the plot it is added
// to, an identity transform, and the drawing calls a metafile recorded.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/draw_context.h"
#include "platform/metafile.h"
#include "plot/cwinplot.h"

namespace plottest {

struct Data {
  std::vector<float> x, y;
  CVector vx, vy;
  CCurve curve;
  Data(std::vector<float> xs, std::vector<float> ys) : x(std::move(xs)), y(std::move(ys)), curve(&vx, &vy) {
    vx.AttachData(x.data(), static_cast<int>(x.size()));
    vy.AttachData(y.data(), static_cast<int>(y.size()));
  }
};

// The plot on its usual rectangle, (50, 10)-(950, 500), with d's curve.
inline void ShowIn(CWINPlot& plot, Data& d) {
  plot.SetPlotRect(50, 10, 950, 500);
  plot.AddCurve(&d.curve);
}

// A plot whose transform is the identity over 0..1000 on both axes.
inline void IdentityPlot(CWINPlot& plot) {
  plot.xScale = plot.yScale = 1;
  plot.xOffset = plot.yOffset = 0;
  plot.xMin = plot.yMin = 0;
  plot.xMax = plot.yMax = 1000;
}

// The metafile's calls as text; the metafile stays the caller's.
inline std::vector<std::string> Ops(platform::HMETAFILE mf) {
  std::vector<std::string> out;
  if (auto data = platform::MetafileContents(mf))
    for (const auto& op : data->Ops()) out.push_back(platform::DescribeOp(op));
  return out;
}

inline bool Has(const std::vector<std::string>& ops, const std::string& s) {
  return std::find(ops.begin(), ops.end(), s) != ops.end();
}

}  // namespace plottest
