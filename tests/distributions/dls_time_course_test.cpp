// The DLS time course: its windows (against the rule worked out by hand),
// a series whose radius changes half-way, the files it writes, the work
// set restored bit for bit, and the keys of step mode with and without a
// person at the window.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "data/scan_loading.h"
#include "distributions/conti_run.h"
#include "distributions/dls_time_course.h"
#include "dls_run_support.h"
#include "platform/scripted_ui.h"
#include "platform/user_interface.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

// Times by position, 1-based.
std::vector<double> Times(std::initializer_list<double> t) {
  std::vector<double> v = {0.0};
  v.insert(v.end(), t);
  return v;
}

std::vector<double> Every15s(int n) {
  std::vector<double> v = {0.0};
  for (int i = 0; i < n; ++i) v.push_back(15.0 * i);
  return v;
}

TEST(DlsTimeWindows, FollowTheRuleAndSkipGaps) {
  struct Case {
    const char* name;
    std::vector<double> t;
    double w;
    std::vector<DlsTimeWindow> expected;
  };
  const std::vector<Case> cases = {
      {"21 sets every 15 s, 1 min", Every15s(21), 1.0,
       {{1, 7, 45}, {8, 11, 127.5}, {12, 15, 187.5}, {16, 19, 247.5}, {20, 21, 292.5}}},
      // The first set belongs to window 1 (not 2..7 at 52.5 s).
      {"a gap longer than a window", Times({0, 10, 20, 30, 400, 410, 420}), 1.0, {{1, 5, 200}, {6, 7, 415}}},
      {"all within 1.5 windows", Times({0, 10, 20, 30}), 1.0, {{1, 4, 15}}},
      {"one set", Times({12}), 1.0, {{1, 1, 12}}},
      {"the last set alone after a long window", Times({0, 100}), 1.0, {{1, 2, 50}}},
      {"width 0", Every15s(5), 0.0, {}},
      {"negative width", Every15s(5), -1.0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<DlsTimeWindow> got = DlsTimeCourseWindows(c.t, c.w);
    ASSERT_EQ(got.size(), c.expected.size());
    for (size_t v = 0; v < got.size(); ++v) {
      EXPECT_EQ(got[v].first, c.expected[v].first) << v;
      EXPECT_EQ(got[v].last, c.expected[v].last) << v;
      EXPECT_GE(got[v].last, got[v].first) << v;
      EXPECT_DOUBLE_EQ(got[v].time, c.expected[v].time) << v;
    }
  }
}

// A window that is not there and one that is: keys are posted when the
// distribution of a given window is drawn.
class KeyHost : public DistributionPlotHost {
 public:
  void Build(const DistributionPlotSpec&) override {}
  void Destroy() override {}
  long Redraw() override { return 0; }
  void RequestRepaint() override {
    ++drawn;
    for (int key : keys[drawn]) platform::PostKeyDown(key);
  }
  int drawn = 0;
  std::map<int, std::vector<int>> keys;
};

class DlsTimeCourse : public ::testing::Test {
 protected:
  void SetUp() override {
    CurrentDataPaths().dataFolder = folder_.string();
  }
  void TearDown() override {
    SetDistributionPlotHost(nullptr);
    platform::SetHeadless(false);
    platform::UI().StatusText("");
    CurrentDataPaths() = LoadedDataPaths{};
    dlsrun::Clear();
    gModelSelectorFlags = ModelSelectorFlags{};
    Conti().timeCourseWindowMinutes = 0;
    platform::StopFlag() = false;
    platform::ClearInput();
  }
  // 21 sets every 15 s: Rh 5 nm up to 150 s, 10 nm after.
  static void LoadSeries() {
    const std::vector<double> t = Every15s(21);
    dlsrun::Load(std::vector<double>(t.begin() + 1, t.end()), 60,
                 [](int j, double tau) { return dlsrun::G1(15.0 * (j - 1) <= 150.0 ? 5.0 : 10.0, tau); });
    dlsrun::SelectIRh(1.0f, 50.0f, 40, true);
    Conti().timeCourseWindowMinutes = 1.0f;
  }
  std::vector<std::vector<double>> ReadTable(const char* name) const {
    std::vector<std::vector<double>> rows;
    std::ifstream in(folder_ / name);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream s(line);
      std::vector<double> row;
      double v;
      while (s >> v) row.push_back(v);
      if (!row.empty()) rows.push_back(row);
    }
    return rows;
  }
  // Rh (nm) of the largest value of a row of sizes.dat.
  static double PeakRadius(const std::vector<double>& row) {
    size_t best = 0;
    for (size_t i = 1; i < row.size(); ++i)
      if (row[i] > row[best]) best = i;
    return dlsrun::Radius(static_cast<int>(best) + 1);
  }
  teststate::TempFolder scratch_;
  const fs::path folder_{scratch_.path()};
  platform::ScriptedUserInterface ui_;
  platform::ScopedUI scope_{ui_};
};

TEST_F(DlsTimeCourse, ASeriesWhoseRadiusChangesWritesItsWindows) {
  LoadSeries();
  const std::vector<float> first(CurrentScanSet().signals[1] + 1, CurrentScanSet().signals[1] + 61);
  ASSERT_TRUE(RunContiSedAndShow());
  EXPECT_TRUE(ui_.failures.empty()) << ui_.failures.front();
  EXPECT_EQ(Conti().timeCourseWindowCount, 5);

  const auto radii = ReadTable("radii.dat");
  const auto times = ReadTable("times.dat");
  const auto sizes = ReadTable("sizes.dat");
  ASSERT_EQ(radii.size(), 40u);
  EXPECT_NEAR(radii.front()[0], -9.0, 1e-6);  // log10 of 1 nm in m
  ASSERT_EQ(times.size(), 5u);
  const double expected[] = {45, 127.5, 187.5, 247.5, 292.5};
  for (int v = 0; v < 5; ++v) EXPECT_DOUBLE_EQ(times[static_cast<size_t>(v)][0], expected[v]);
  ASSERT_EQ(sizes.size(), 5u);
  const double step = std::log10(50.0) / 39;
  for (int v = 0; v < 5; ++v) {
    ASSERT_EQ(sizes[static_cast<size_t>(v)].size(), 40u);
    const double rh = v < 2 ? 5.0 : 10.0;
    EXPECT_LE(std::fabs(std::log10(PeakRadius(sizes[static_cast<size_t>(v)]) / rh)), step * 1.001) << v;
  }
  // The work set holds its own values again, bit for bit.
  EXPECT_EQ(std::memcmp(first.data(), CurrentScanSet().signals[1] + 1, 60 * sizeof(float)), 0);
  // Every set shows the model of its own window, which follows its data.
  const ScanSet& s = CurrentScanSet();
  for (int j = 1; j <= 21; ++j) {
    double worst = 0;
    for (int p = 1; p <= 60; ++p) worst = std::max(worst, static_cast<double>(std::fabs(s.model[j][p] - s.signals[j][p])));
    EXPECT_LT(worst, 0.01) << j;
  }
}

TEST_F(DlsTimeCourse, StepModeNeverWaitsHeadlessAndSStopsWithTheComputedWindowsOnly) {
  struct Case {
    const char* name;
    bool headless;
    std::map<int, std::vector<int>> keys;  // window -> keys pressed after it
    int rows;
  };
  const Case cases[] = {
      {"headless, a key would start step mode", true, {{1, {'x'}}, {3, {' '}}}, 5},
      {"headless, s after window 2", true, {{2, {'s'}}}, 2},
      {"at the window: step, space, then run on", false, {{1, {'x', ' '}}, {2, {' '}}, {3, {'r'}}}, 5},
      {"at the window: step, then s", false, {{1, {'x', 's'}}}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoadSeries();
    KeyHost host;
    host.keys = c.keys;
    SetDistributionPlotHost(&host);
    platform::SetHeadless(c.headless);
    const std::vector<float> first(CurrentScanSet().signals[1] + 1, CurrentScanSet().signals[1] + 61);
    if (c.rows < 5) {
      char text[80];
      std::snprintf(text, sizeof text, "time course interrupted: %d of 5 time windows computed", c.rows);
      ui_.ExpectBox("", text);
    }
    ASSERT_TRUE(RunContiSedAndShow());
    EXPECT_TRUE(ui_.AllConsumed());
    EXPECT_TRUE(ui_.failures.empty()) << ui_.failures.front();
    EXPECT_EQ(ReadTable("sizes.dat").size(), static_cast<size_t>(c.rows));
    EXPECT_EQ(ReadTable("times.dat").size(), static_cast<size_t>(c.rows));
    EXPECT_EQ(std::memcmp(first.data(), CurrentScanSet().signals[1] + 1, 60 * sizeof(float)), 0);
    const bool stepped = std::find(ui_.statusTexts.begin(), ui_.statusTexts.end(),
                                   "step mode: space = next window, r = run on, s = stop") != ui_.statusTexts.end();
    EXPECT_EQ(stepped, !c.headless);
    ui_.statusTexts.clear();
    TearDown();
    SetUp();
  }
}

TEST_F(DlsTimeCourse, IntensityAutocorrelationsAreConvertedBeforeTheWorkSetIsKept) {
  const std::vector<double> t = Every15s(21);
  dlsrun::Load(std::vector<double>(t.begin() + 1, t.end()), 60,
               [](int, double tau) { return std::pow(dlsrun::G1(5.0, tau), 2); }, 0.0, false);
  dlsrun::SelectIRh(1.0f, 50.0f, 40, true);
  Conti().timeCourseWindowMinutes = 1.0f;
  const float g2 = CurrentScanSet().signals[1][20];
  ui_.ExpectBox("ERROR", "DLS data for this model must be field autocorrelation g(1) - transform?", platform::IDYES);
  ASSERT_TRUE(RunContiSedAndShow());
  EXPECT_TRUE(ui_.failures.empty()) << ui_.failures.front();
  // The work set holds its converted values, not the g(2)-1 of its copy.
  EXPECT_EQ(CurrentScanSet().dlsRecords[1].fieldFlag, 1);
  EXPECT_FLOAT_EQ(CurrentScanSet().signals[1][20], std::sqrt(g2));
  EXPECT_EQ(ReadTable("sizes.dat").size(), 5u);

  // A g(2)-1 set behind g(1) sets is averaged into no window.
  fs::remove(folder_ / "sizes.dat");
  CurrentScanSet().dlsRecords[9].fieldFlag = 0;
  ui_.ExpectBox("Error", "no field ACF in DLS distribution model");
  EXPECT_FALSE(RunContiSedAndShow());
  EXPECT_TRUE(ui_.AllConsumed());
  EXPECT_FALSE(fs::exists(folder_ / "sizes.dat"));
}

TEST_F(DlsTimeCourse, OneSetIsAPlainRunAndAZeroWidthIsRefused) {
  dlsrun::Load({0}, 60, [](int, double tau) { return dlsrun::G1(5.0, tau); });
  dlsrun::SelectIRh(1.0f, 50.0f, 30, true);
  ASSERT_TRUE(RunContiSedAndShow());
  EXPECT_FALSE(fs::exists(folder_ / "sizes.dat"));
  EXPECT_NE(Conti().distribution, nullptr);

  // A window whose run is refused ends the series with nothing written.
  LoadSeries();
  CurrentScanSet().dlsRecords[1].wavelength = 0;
  ui_.ExpectBox("Error", "DLS data set 1: the scattering vector is 0 or not finite");
  ui_.ExpectBox("", "time course interrupted: 0 of 5 time windows computed");
  EXPECT_TRUE(RunContiSedAndShow());
  EXPECT_TRUE(ui_.AllConsumed());
  EXPECT_TRUE(ReadTable("sizes.dat").empty());
  EXPECT_TRUE(ReadTable("times.dat").empty());

  LoadSeries();
  Conti().timeCourseWindowMinutes = 0.0f;
  ui_.ExpectBox("ERROR", "the time interval of the time course must be above 0 min");
  EXPECT_FALSE(RunContiSedAndShow());
  EXPECT_TRUE(ui_.AllConsumed());
  EXPECT_FALSE(fs::exists(folder_ / "sizes.dat"));
}

}  // namespace
