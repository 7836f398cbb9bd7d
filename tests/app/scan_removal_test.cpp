// Taking a scan or a point out of the loaded set: the worst scan, a scan
// and a point the user deletes leave the other scans as they were edited,
// not as the files hold them.
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/plot_input/scan_deletion.h"
#include "data/scan_set.h"
#include "plot/cwinplot.h"
#include "road_support.h"

namespace {

class ScanRemoval : public RoadTest {
 protected:
  void TearDown() override {
    CurrentPlotWindows().worstScan = 0;
    RoadTest::TearDown();
  }
  // Every scan's signals by file name, as the set holds them now.
  static std::map<std::string, std::vector<float>> SignalsByName() {
    const ScanSet& s = CurrentScanSet();
    std::map<std::string, std::vector<float>> out;
    for (int i = 1; i <= s.count; ++i)
      out[s.fileNames[i]] = std::vector<float>(s.signals[i] + 1, s.signals[i] + 1 + s.points[i]);
    return out;
  }
  void ExpectConsistentSet(int count) {
    const ScanSet& s = CurrentScanSet();
    ASSERT_EQ(s.count, count);
    ASSERT_EQ(static_cast<int>(s.fileNames.size()), count + 1);
    ASSERT_EQ(static_cast<int>(s.dataCurve.size()), count + 1);
    std::vector<bool> seen(static_cast<size_t>(count) + 1, false);
    for (int k = 1; k <= count; ++k) {
      const int i = s.order[k];
      ASSERT_GE(i, 1);
      ASSERT_LE(i, count);
      EXPECT_FALSE(seen[static_cast<size_t>(i)]);
      seen[static_cast<size_t>(i)] = true;
      ASSERT_NE(s.dataCurve[i], nullptr);
      if (k > 1) { EXPECT_LE(s.records[s.order[k - 1]].timeRead, s.records[i].timeRead); }
    }
    // The grid and its mean were made again from the scans left.
    ASSERT_GT(s.gridLength, 0);
    ASSERT_NE(s.meanProfile, nullptr);
    const FileNameList& list = CurrentFileNameList();
    ASSERT_EQ(list.count, count);
    const CWINPlot* plot = CurrentPlotWindows().dataPlot;
    ASSERT_NE(plot, nullptr);
  }
};

// Invert, then exclude the worst scan: the three left are still inverted,
// every value the negative of what its file holds.
TEST_F(ScanRemoval, ExcludeWorstScanKeepsTheInvertedSignals) {
  LoadRun(4);
  const auto asRead = SignalsByName();
  ui_->ExpectBox("", "save new data?", platform::IDNO);
  Window().Dispatch(535);
  const ScanSet& s = CurrentScanSet();
  const int worst = s.order[2];
  const std::string worstName = s.fileNames[worst];
  CurrentPlotWindows().worstScan = worst;
  ui_->ExpectBox("REMOVING SCAN", "removing " + worstName);
  Window().Dispatch(591);
  ExpectConsistentSet(3);
  const auto after = SignalsByName();
  EXPECT_EQ(after.count(worstName), 0u);
  for (const auto& [name, values] : after) {
    const auto& read = asRead.at(name);
    ASSERT_EQ(values.size(), read.size()) << name;
    for (size_t k = 0; k < values.size(); ++k) ASSERT_EQ(values[k], -read[k]) << name << " point " << k + 1;
  }
  // The mean profile is that of the inverted scans left.
  double sum = 0;
  for (const auto& [name, values] : after) sum += values[60];
  if (!s.gridOwned) { EXPECT_NEAR(s.meanProfile[61], sum / 3.0, 1e-6); }
  EXPECT_EQ(CurrentPlotWindows().worstScan, 0);
  EXPECT_TRUE(ui_->AllConsumed());
}

// Removing the earliest, a middle and the latest scan in turn; the time
// order and the names stay matched with the signals.
TEST_F(ScanRemoval, DeletedScansLeaveTheOthersAsEdited) {
  LoadRun(5);
  ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= s.count; ++i)
    for (int k = 1; k <= s.points[i]; ++k) s.signals[i][k] += 0.125f * static_cast<float>(i);
  const auto edited = SignalsByName();
  for (int position : {1, 2, 3}) {
    const int count = s.count;
    const int scan = s.order[position == 3 ? count : position];
    const std::string name = s.fileNames[scan];
    DeleteScanAndReload(Window(), scan);
    ExpectConsistentSet(count - 1);
    const auto after = SignalsByName();
    EXPECT_EQ(after.count(name), 0u);
    for (const auto& [n, values] : after) EXPECT_EQ(values, edited.at(n)) << n;
  }
  // The only scan left stays.
  ui_->ExpectBox("DELETE SCAN", "is the only scan loaded");
  DeleteScanAndReload(Window(), s.order[1]);
  DeleteScanAndReload(Window(), s.order[1]);
  EXPECT_EQ(s.count, 1);
  EXPECT_TRUE(ui_->AllConsumed());
}

// Deleting one point writes the scan without it and takes it out in memory:
// the other scans stay inverted, and the scan itself keeps its edited values
// less the point, the same values its new file holds.
TEST_F(ScanRemoval, ADeletedPointLeavesTheEditsOfTheSet) {
  LoadRun(3);
  ui_->ExpectBox("", "save new data?", platform::IDNO);
  Window().Dispatch(535);
  const auto inverted = SignalsByName();
  const ScanSet& s = CurrentScanSet();
  const int scan = s.order[2];
  const std::string name = s.fileNames[scan];
  ui_->ExpectBox("", "overwrite original scan?", platform::IDNO);
  DeleteScanPoint(Window(), scan, 40);
  ExpectScriptMet();
  ASSERT_EQ(s.count, 3);
  const auto after = SignalsByName();
  for (const auto& [n, values] : after) {
    if (n == name.substr(0, name.size() - 4) + "_mod" + name.substr(name.size() - 4)) {
      std::vector<float> want = inverted.at(name);
      want.erase(want.begin() + 39);
      EXPECT_EQ(values, want) << n;
      // The written copy holds the same values.
      std::ifstream in(dir_ / n);
      std::string line;
      std::getline(in, line);
      std::getline(in, line);
      size_t k = 0;
      for (double r = 0, v = 0; in >> r >> v; ++k) {
        ASSERT_LT(k, want.size());
        EXPECT_NEAR(v, want[k], 1e-5) << k;
        std::getline(in, line);
      }
      EXPECT_EQ(k, want.size());
    } else {
      EXPECT_EQ(values, inverted.at(n)) << n;
    }
  }
  EXPECT_EQ(s.points[scan], 119);
  ASSERT_GT(s.gridLength, 0);
}

}  // namespace
