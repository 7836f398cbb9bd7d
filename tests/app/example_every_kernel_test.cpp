// The bundled example's unattended c(s) analysis (examples/cofs: run, noise
// subtraction, a simplex fit of the meniscus) through the real main window,
// once under every vector kernel this processor runs: what a user reads off
// the result must not depend on the processor. The fit starts from the same
// random simplex in each run.
// Tolerances: rmsd 1e-6 of itself, meniscus 1e-5 cm, peak positions (S)
// and areas 1e-4. Found over eleven simplex starts on an AVX-512 machine:
// the same meniscus under all three kernels, the rmsd at most one float ulp
// apart (9.4e-8 of it), peak positions within 8.1e-8 S and areas within
// 3.2e-8, while single amplitudes of the distribution moved by up to 4.1e-5.
// The fit decides the rmsd less finely than the kernels move it: a start
// one ulp away ends 3.2e-5 of the rmsd and 3.8e-6 cm away, and another
// random start up to 1e-3 cm away.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/wiring/automation_window.h"
#include "automation/automation_run.h"
#include "distributions/conti_settings.h"
#include "fit/rmsd.h"
#include "numerics/random.h"
#include "numerics/vector_kernel.h"
#include "plot/plot_window_set.h"
#include "automation_road_fixture.h"
#include "road_support.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  double rmsd = 0, meniscus = 0;
  std::vector<double> s, c;
  int exitCode = -1;
};

// Peak positions (mean s over the peak) and areas of c(s) over fixed bands.
struct Peak {
  double position = 0, area = 0;
};

Peak PeakOver(const Outcome& o, int lo, int hi) {
  Peak p;
  double moment = 0;
  for (int i = lo + 1; i <= hi; ++i) {
    const double ds = o.s[i] - o.s[i - 1];
    const double a = 0.5 * (o.c[i] + o.c[i - 1]) * ds;
    p.area += a;
    moment += 0.5 * (o.s[i] * o.c[i] + o.s[i - 1] * o.c[i - 1]) * ds;
  }
  p.position = p.area > 0 ? moment / p.area : 0;
  return p;
}

// The bands of the peaks that carry at least 5 % of the largest value,
// each from the minimum before its maximum to the minimum after it (the
// summary of scripts/run-example.sh), as index ranges.
std::vector<std::pair<int, int>> PeakBands(const Outcome& o) {
  std::vector<std::pair<int, int>> bands;
  const int n = static_cast<int>(o.c.size());
  const double largest = *std::max_element(o.c.begin(), o.c.end());
  for (int i = 1; i + 1 < n; ++i) {
    if (!(o.c[i] >= o.c[i - 1] && o.c[i] > o.c[i + 1] && o.c[i] >= 0.05 * largest)) continue;
    int lo = i, hi = i;
    while (lo > 0 && o.c[lo - 1] < o.c[lo]) --lo;
    while (hi + 1 < n && o.c[hi + 1] < o.c[hi]) ++hi;
    bands.emplace_back(lo, hi);
  }
  return bands;
}

class ExampleEveryKernel : public AutomationRoadTest {
 protected:
  // The example's parameter file with its folders in this test's folder.
  std::string Parameters() const {
    std::ifstream in(std::string(TARNEL_SOURCE_DIR) + "/examples/cofs/params.xml");
    std::stringstream text;
    text << in.rdbuf();
    std::string xml = text.str();
    const auto replace = [&xml](const std::string& tag, const std::string& value) {
      const std::string open = "<" + tag + ">", close = "</" + tag + ">";
      const size_t a = xml.find(open), b = xml.find(close);
      if (a == std::string::npos || b == std::string::npos) return false;
      xml.replace(a + open.size(), b - a - open.size(), value);
      return true;
    };
    EXPECT_TRUE(replace("AllDoneFlagFile", (dir_ / "out" / "alldone.flag").string()));
    EXPECT_TRUE(replace("OutputResultsDirectory", (dir_ / "out").string()));
    EXPECT_TRUE(replace("DataDirectory", (dir_ / "data").string()));
    return xml;
  }

  // The whole unattended run under kernel k, from a fresh state.
  Outcome RunUnder(VectorKernel k) {
    fs::create_directories(dir_ / "data");
    fs::create_directories(dir_ / "out");
    for (const auto& e : fs::directory_iterator(std::string(TARNEL_SOURCE_DIR) + "/examples/cofs"))
      if (e.path().extension() == ".RA1") fs::copy_file(e.path(), dir_ / "data" / e.path().filename());
    std::ofstream(dir_ / "params.xml") << Parameters();
    EXPECT_TRUE(SetActiveVectorKernel(k));
    SeedRandomGenerators(20061);
    handshake_ = "every kernel";
    path_ = (dir_ / "params.xml").string();
    args_ = {nullptr, handshake_.data(), path_.data()};
    Outcome o;
    {
      TXLAWindow window(nullptr, "Sedimentation Analysis", WindowCommandLine{2, args_.data()});
      o.exitCode = platform::QuitExitCode();
      o.rmsd = CalcRmsd();
      o.meniscus = gModelParams.meniscus;
      const ContiSettings& cs = Conti();
      for (int i = 1; i <= cs.gridSize; ++i) {
        o.s.push_back(cs.sValues[i]);
        o.c.push_back(cs.distribution[i]);
      }
    }
    return o;
  }

  std::string handshake_, path_;
  std::vector<char*> args_;
};

}  // namespace

TEST_F(ExampleEveryKernel, RmsdMeniscusAndPeaksAgree) {
  const VectorKernel best = BestVectorKernel();
  const Outcome reference = RunUnder(best);
  ASSERT_EQ(reference.exitCode, kAutomationOk);
  ASSERT_EQ(reference.c.size(), 100u);
  // The example's three species, found where they are.
  const auto bands = PeakBands(reference);
  ASSERT_EQ(bands.size(), 3u);
  const double trueS[] = {2.5, 5.0, 8.0};
  for (size_t p = 0; p < bands.size(); ++p)
    EXPECT_NEAR(PeakOver(reference, bands[p].first, bands[p].second).position, trueS[p], 0.15);
  EXPECT_NEAR(reference.meniscus, 6.02, 2e-3);
  for (VectorKernel k : kAllVectorKernels) {
    if (k == best || !VectorKernelSupported(k)) continue;
    SCOPED_TRACE(VectorKernelName(k));
    TearDown();
    SetUp();
    const Outcome o = RunUnder(k);
    ASSERT_EQ(o.exitCode, kAutomationOk);
    ASSERT_EQ(o.c.size(), reference.c.size());
    EXPECT_NEAR(o.rmsd, reference.rmsd, 1e-6 * reference.rmsd);
    EXPECT_NEAR(o.meniscus, reference.meniscus, 1e-5);
    double position = 0, area = 0;
    for (const auto& band : bands) {
      const Peak a = PeakOver(o, band.first, band.second);
      const Peak b = PeakOver(reference, band.first, band.second);
      EXPECT_NEAR(a.position, b.position, 1e-4);
      EXPECT_NEAR(a.area, b.area, 1e-4);
      position = std::max(position, std::fabs(a.position - b.position));
      area = std::max(area, std::fabs(a.area - b.area));
    }
    std::printf("%s against %s: meniscus %.1e cm, rmsd %.1e of it, peak positions %.1e S, areas %.1e\n",
                VectorKernelName(k), VectorKernelName(best), std::fabs(o.meniscus - reference.meniscus),
                std::fabs(o.rmsd - reference.rmsd) / reference.rmsd, position, area);
  }
  SetActiveVectorKernel(best);
}
