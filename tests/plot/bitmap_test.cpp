#include <cmath>
#include <numeric>
#include <vector>

#include "area_fixture.h"
#include "platform/clipboard.h"

#ifdef TARNEL_HAVE_QT
#include "platform/qt/qt_canvas.h"
#endif

using namespace plottest;
using platform::COLORREF;
using platform::RGB;

namespace {

constexpr float S = 0.05f;  // default full scale

// One scan whose points carry the given residuals (model 0), no fit limits,
// so every grid point is a column. Grids of fewer than 9 points are not
// interpolated; zeros pad the scan to 12 points.
void LoadResiduals(std::vector<float> values, char type = 'R') {
  values.resize(std::max<size_t>(values.size(), 12), 0.0f);
  const int n = static_cast<int>(values.size());
  LoadScans({.scans = 1, .points = n, .type = type},
            [&](int, float r) { return values[static_cast<size_t>(std::lround((r - 6.0f) * (n - 1)))]; });
}

struct Statistics {
  int n = 0;
  float *centres = nullptr, *lower = nullptr, *upper = nullptr, *counts = nullptr, *gauss = nullptr;
  float misfit = -1;
  Statistics() { n = ComputeResidualStatistics(&centres, &lower, &upper, &counts, &gauss, &misfit); }
  ~Statistics() {
    for (float* a : {centres, lower, upper, counts, gauss})
      if (a) free_vector(a, 1, n);
  }
};

// Deterministic normal deviates (Box-Muller over a linear congruential
// generator).
std::vector<float> NormalDeviates(int count, float sigma) {
  std::vector<float> out;
  std::uint64_t state = 12345;
  auto uniform = [&] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return (static_cast<double>(state >> 11) + 0.5) / 9007199254740992.0;
  };
  while (static_cast<int>(out.size()) < count) {
    const double u = uniform(), v = uniform();
    out.push_back(static_cast<float>(sigma * std::sqrt(-2 * std::log(u)) * std::cos(2 * M_PI * v)));
  }
  return out;
}

}  // namespace

using ResidualBitmap = PlotTest;

TEST_F(ResidualBitmap, LevelsAndColoursOfEveryMode) {
  const std::vector<float> x = {S, 2 * S, -2 * S, -S / 256, 0, S / 2, -S / 2, S / 128};
  struct Mode {
    const char* name;
    std::uint8_t blackWhite, continuous, extremes;
    std::vector<COLORREF> colours;
  } modes[] = {
      {"grey shades with extremes", 1, 1, 1,
       {RGB(255, 255, 255), RGB(255, 0, 255), RGB(255, 0, 0), RGB(127, 127, 127), RGB(128, 128, 128),
        RGB(192, 192, 192), RGB(64, 64, 64), RGB(129, 129, 129)}},
      {"grey shades", 1, 1, 0,
       {RGB(255, 255, 255), RGB(255, 255, 255), RGB(0, 0, 0), RGB(127, 127, 127), RGB(128, 128, 128),
        RGB(192, 192, 192), RGB(64, 64, 64), RGB(129, 129, 129)}},
      {"grey levels", 1, 0, 1,
       {RGB(255, 255, 255), RGB(255, 255, 255), RGB(0, 0, 0), RGB(0, 0, 0), RGB(128, 128, 128),
        RGB(255, 255, 255), RGB(0, 0, 0), RGB(255, 255, 255)}},
      {"colour shades", 0, 1, 1,
       {RGB(255, 1, 1), RGB(255, 1, 1), RGB(0, 0, 0), RGB(127, 127, 129), RGB(128, 128, 128),
        RGB(192, 64, 64), RGB(64, 64, 192), RGB(129, 127, 127)}},
      {"colour levels", 0, 0, 1,
       {RGB(255, 0, 0), RGB(255, 0, 0), RGB(0, 0, 255), RGB(0, 0, 255), RGB(255, 255, 255), RGB(255, 0, 0),
        RGB(0, 0, 255), RGB(255, 0, 0)}}};
  for (const Mode& m : modes) {
    SCOPED_TRACE(m.name);
    ClearPlotState();
    LoadResiduals(x);
    SetPlotAxisTitles();
    PlotWindowSet& w = CurrentPlotWindows();
    w.bitmapBlackWhite = m.blackWhite;
    w.bitmapContinuous = m.continuous;
    w.bitmapHighlightExtremes = m.extremes;
    const platform::Bitmap b = RenderResidualsBitmap(true);
    ASSERT_EQ(b.Width(), 12);
    ASSERT_EQ(b.Height(), 1);
    for (size_t j = 0; j < x.size(); ++j)
      EXPECT_EQ(b.GetPixel(static_cast<int>(j), 0), m.colours[j]) << "residual " << x[j] / S << " S";
  }
}

TEST_F(ResidualBitmap, RowsFollowTimeOrderAndColumnsTheFitRange) {
  // Scan i has the constant residual 0.01 i; scan 1 is the latest.
  LoadScans({.scans = 4, .points = 41, .left = 6.25f, .right = 6.75f}, [](int scan, float) { return 0.01f * scan; });
  SetPlotAxisTitles();
  const platform::Bitmap b = RenderResidualsBitmap(false);
  const ScanSet& s = CurrentScanSet();
  ASSERT_EQ(b.Width(), s.lastGridPoint - s.firstGridPoint + 1);
  ASSERT_EQ(b.Height(), 4);
  for (int row = 0; row < 4; ++row) {
    const int scan = 4 - row;
    const int v = static_cast<int>(std::floor(128.0 * (0.01f * scan) / S));
    for (int col = 0; col < b.Width(); ++col) ASSERT_EQ(b.GetPixel(col, row), RGB(128 + v, 128 + v, 128 + v));
  }
}

TEST_F(ResidualBitmap, AZeroFullScaleNeverDividesByZero) {
  // Fluorescence data take three times the rmsd as full scale, which is 0
  // for a perfect fit; without a residual plot the autoscale has no range.
  LoadResiduals({0, 0, 0, 0, 0, 0}, 'F');
  SetPlotAxisTitles();
  platform::Bitmap b = RenderResidualsBitmap(false);
  for (COLORREF c : b.Pixels()) EXPECT_EQ(c, RGB(128, 128, 128));

  ClearPlotState();
  LoadResiduals({0.1f, -0.2f, 0.3f, 1e30f, -1e30f, 0});
  CurrentPlotWindows().bitmapFullScale = 0;
  b = RenderResidualsBitmap(false);  // no plots: the residuals stay as loaded
  for (COLORREF c : b.Pixels()) EXPECT_EQ(c, RGB(128, 128, 128));

  ClearPlotState();
  EXPECT_TRUE(RenderResidualsBitmap(false).Empty());  // no scans
}

TEST_F(ResidualBitmap, AutoscaleTakesTheResidualPlotsRange) {
  LoadResiduals({0.2f, -0.4f, 0.1f, 0, 0.3f, -0.1f});
  SetPlotAxisTitles();
  CurrentPlotWindows().bitmapFullScale = 0;
  const platform::Bitmap b = RenderResidualsBitmap(false);
  const CWINPlot& p = *CurrentPlotWindows().residualPlot;
  const float full = std::max(std::fabs(p.yMax), std::fabs(p.yMin));
  ASSERT_GT(full, 0.4f - 1e-6f);
  const int v = static_cast<int>(std::floor(128.0 * double(0.2f) / double(full)));
  EXPECT_EQ(b.GetPixel(0, 0), RGB(128 + v, 128 + v, 128 + v));
}

TEST_F(ResidualBitmap, PeakBandTintOnlyInTheWindow) {
  LoadResiduals(std::vector<float>(11, 0.0f));
  SetPlotAxisTitles();
  PlotWindowSet& w = CurrentPlotWindows();
  w.bitmapBlackWhite = 0;
  PeakBandSelection& band = CurrentPeakBand();
  band.on = 1;
  band.first = {0, 3};
  band.last = {0, 5};
  platform::Bitmap b = RenderResidualsBitmap(true);
  const std::vector<COLORREF> row = {RGB(128, 128, 128), RGB(128, 128, 128), RGB(178, 103, 103),
                                     RGB(178, 103, 103), RGB(178, 103, 103), RGB(128, 128, 128)};
  for (int j = 0; j < 6; ++j) EXPECT_EQ(b.GetPixel(j, 0), row[static_cast<size_t>(j)]) << j;
  band.errorPropagation = 1;
  EXPECT_EQ(RenderResidualsBitmap(true).GetPixel(3, 0), RGB(103, 103, 178));

  platform::MemoryClipboard clipboard;
  platform::SetClipboard(&clipboard);
  EXPECT_TRUE(CopyResidualsBitmapToClipboard());
  platform::SetClipboard(nullptr);
  ASSERT_EQ(clipboard.content, platform::MemoryClipboard::Content::Bitmap);
  for (COLORREF c : clipboard.bitmap.Pixels()) EXPECT_EQ(c, RGB(128, 128, 128));
}

TEST_F(ResidualBitmap, BinCountsFollowTheNumberOfPoints) {
  struct Case {
    const char* name;
    int scans, points;
    char type;
    int bins;
  } cases[] = {{"30 000 absorbance points", 60, 500, 'R', 301},
               {"3 000 interference points", 6, 500, 'P', 13},
               {"fluorescence counts as absorbance", 6, 500, 'F', 31},
               {"5 interference points", 1, 5, 'P', 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClearPlotState();
    const auto noise = NormalDeviates(c.scans * c.points, 0.01f);
    LoadScans({.scans = c.scans, .points = c.points, .type = c.type}, [&](int scan, float r) {
      const int k = static_cast<int>(std::lround((r - 6.0f) * (c.points - 1)));
      return noise[static_cast<size_t>((scan - 1) * c.points + k)];
    });
    Statistics st;
    ASSERT_EQ(st.n, c.bins);
    if (c.bins == 1) {
      for (float* a : {st.centres, st.lower, st.upper, st.counts, st.gauss}) EXPECT_EQ(a[1], 0.0f);
      EXPECT_EQ(st.misfit, 0.0f);
    }
  }
}

// Normal residuals: the counts add up to the points in the fit range, the
// Gaussian is the least-squares multiple of exp(-x^2 / 2 rmsd^2), and that
// multiple is close to N x bin width / (sqrt(2 pi) rmsd).
TEST_F(ResidualBitmap, HistogramOfNormalResidualsAndItsGaussian) {
  const int scans = 30, points = 1000;
  const auto noise = NormalDeviates(scans * points, 0.004f);
  LoadScans({.scans = scans, .points = points, .left = 6.1f, .right = 6.9f}, [&](int scan, float r) {
    const int k = static_cast<int>(std::lround((r - 6.0f) * (points - 1)));
    return noise[static_cast<size_t>((scan - 1) * points + k)];
  });
  SetPlotAxisTitles();
  UpdateResidualsPlot(true);
  const ScanSet& s = CurrentScanSet();
  long N = 0;
  double sum2 = 0;
  for (int i = 1; i <= scans; ++i)
    for (int k = s.firstFitPoint[i]; k <= s.lastFitPoint[i]; ++k, ++N) sum2 += double(s.residuals[i][k]) * s.residuals[i][k];
  const double rmsd = std::sqrt(sum2 / N);
  Statistics st;
  ASSERT_EQ(st.n, 2 * (N / 200) + 1);
  EXPECT_EQ(std::accumulate(st.counts + 1, st.counts + st.n + 1, 0.0), static_cast<double>(N));
  const double width = st.upper[1] - st.lower[1];
  EXPECT_NEAR(width, 10 * rmsd / (st.n - 1), 1e-6 * rmsd);
  EXPECT_NEAR(st.centres[(st.n + 1) / 2], 0.0, 1e-6 * rmsd);
  double cg = 0, gg = 0;
  for (int k = 1; k <= st.n; ++k) {
    const double g = std::exp(-double(st.centres[k]) * st.centres[k] / (2 * rmsd * rmsd));
    cg += st.counts[k] * g;
    gg += g * g;
  }
  const double c = cg / gg;
  for (int k = 1; k <= st.n; ++k)
    EXPECT_NEAR(st.gauss[k], c * std::exp(-double(st.centres[k]) * st.centres[k] / (2 * rmsd * rmsd)), 1e-3 * c);
  EXPECT_NEAR(c, N * width / (std::sqrt(2 * M_PI) * rmsd), 0.03 * c);
  EXPECT_LT(st.misfit, 1.0f);
  EXPECT_GT(st.misfit, 0.0f);
}

TEST_F(ResidualBitmap, AResidualOnAnUpperEdgeCountsInThatBin) {
  const auto noise = NormalDeviates(2000, 0.01f);
  LoadScans({.scans = 2, .points = 1000}, [&](int scan, float r) {
    return noise[static_cast<size_t>((scan - 1) * 1000 + std::lround((r - 6.0f) * 999))];
  });
  std::vector<float> before;
  int bin = 0;
  float edge = 0;
  {
    Statistics st;
    bin = st.n / 2 + 2;
    edge = st.upper[bin];
    before.assign(st.counts, st.counts + st.n + 1);
  }
  // The rmsd comes from data minus model; only the residual array moves.
  const float old = CurrentScanSet().residuals[1][1];
  CurrentScanSet().residuals[1][1] = edge;
  Statistics st;
  ASSERT_EQ(st.upper[bin], edge);
  std::vector<float> expected = before;
  expected[static_cast<size_t>(bin)] += 1;
  int oldBin = 1;
  while (oldBin < st.n && !(old <= st.upper[oldBin])) ++oldBin;
  expected[static_cast<size_t>(oldBin)] -= 1;
  expected[0] = 0;
  EXPECT_EQ(std::vector<float>(st.counts + 1, st.counts + st.n + 1), std::vector<float>(expected.begin() + 1, expected.end()));
}

#ifdef TARNEL_HAVE_QT
// The strip is stretched over the residual plot's width, one screen row per
// scan, ending where the shifted residual plot begins.
TEST_F(ResidualBitmap, DrawnIntoTheWindowAboveTheResidualPlot) {
  const int scans = 5, points = 89;
  LoadScans({.scans = scans, .points = points},
            [](int scan, float r) { return (r < 6.5f ? -0.02f : 0.03f) * static_cast<float>(scan) / 5; });
  SetPlotAxisTitles();
  platform::qt::QtCanvas canvas(1400, 1000);
  canvas.Clear(0x00ff00);
  DrawResidualsBitmap(canvas);
  const platform::Bitmap expected = RenderResidualsBitmap(true);

  // Left 104 and width 979 as the residual plot (75 and 700 layout units), top 550.
  for (int row = 0; row < scans; ++row)
    for (int col = 0; col < points; ++col) {
      const int x = 104 + static_cast<int>((col + 0.5) * 979 / points);
      ASSERT_EQ(canvas.CopyPixels(x, 550 + row, 1, 1).GetPixel(0, 0), expected.GetPixel(col, row)) << row << " " << col;
    }
  EXPECT_EQ(canvas.CopyPixels(104, 549, 1, 1).GetPixel(0, 0), 0x00ff00u);
  EXPECT_EQ(canvas.CopyPixels(104, 550 + scans, 1, 1).GetPixel(0, 0), 0x00ff00u);
  EXPECT_EQ(canvas.CopyPixels(103, 552, 1, 1).GetPixel(0, 0), 0x00ff00u);
  EXPECT_EQ(canvas.CopyPixels(104 + 979, 552, 1, 1).GetPixel(0, 0), 0x00ff00u);
}
#endif
