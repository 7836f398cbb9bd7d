// Sorting fluorescence scans into series on disk: the sorted names, the
// series keys, the even spacing in time, which files of a folder are taken,
// and the list files of the series.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "data/fluorescence_sort.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "platform/paths.h"
#include "platform/scripted_ui.h"
#include "tests/support/file_text.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

ScanRecord Header(float voltage, int range, int gain) {
  ScanRecord r;
  r.voltage = voltage;
  r.range = range;
  r.gain = gain;
  return r;
}

using teststate::FileText;

class FluorescenceSort : public ::testing::Test {
 protected:
  void SetUp() override {
    FreeSeriesKeyTable();
    FreeSortedFileTable();
    CurrentSortedFileTable() = SortedFileTable{};
  }
  void TearDown() override {
    ScanSet& s = CurrentScanSet();
    FreeScanSetArrays(s);
    s = ScanSet{};
    CurrentDataTypeFlags() = DataTypeFlags{};
    CurrentDataPaths() = LoadedDataPaths{};
    FreeSeriesKeyTable();
    FreeSortedFileTable();
    CurrentSortedFileTable() = SortedFileTable{};
  }
  // A scan file of 30 points; the signal is `level` except at 6.6 cm.
  void Scan(const std::string& name, int cell, double time, int gain, float level = 100, float dip = 100,
            int rows = 30) {
    std::ofstream out(dir_ / name);
    out << "FDS Voltage: 650.7 Gain: " << gain << " Range: 2\n";
    out << "F " << cell << " 20.0 50000 " << time << " 1.6e10 488 2\n";
    for (int k = 0; k < rows; ++k) {
      const double r = 6.0 + 0.05 * k;
      out << r << " " << (k == 12 ? dip : level) << " 1\n";
    }
  }
  // The loaded data: one scan of the folder.
  void Load(const std::string& name) {
    CurrentDataTypeFlags().fluorescence = 1;
    CurrentDataPaths().dataFolder = dir_.string() + "/";
    ScanSet& s = CurrentScanSet();
    AllocateScanTables(s, 1);
    s.fileNames[1] = name;
    s.order[1] = 1;
    s.records[1] = Header(650.7f, 2, 4);
  }
  std::vector<std::string> Sorted() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_ / "sorted")) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  teststate::TempFolder folder_;
  const fs::path dir_{folder_.path()};
  platform::ScriptedUserInterface ui_;
  platform::ScopedUI scope_{ui_};
};

TEST_F(FluorescenceSort, NamesCarryChannelVoltageRangeAndGain) {
  const ScanRecord h = Header(650.7f, 2, 4);
  EXPECT_EQ(SortedFluorescenceName("A01234.FI2", h), "01234.FI2_A_PMV650_r2_g4");
  EXPECT_EQ(FluorescenceSeriesKey("A01234.FI2", h), ".FI2_A_PMV650_r2_g4");
  EXPECT_EQ(SortedFluorescenceName("B00017.FI1", Header(500.0f, 1, 40)), "00017.FI1_B_PMV500_r1_g40");
}

TEST_F(FluorescenceSort, SeriesKeepFilesSpacedInTime) {
  struct Case {
    float tMin, tMax, spacing;
    std::vector<float> times, kept;
  };
  const Case cases[] = {
      {0, 36000, 360, {100, 300, 500, 900}, {100, 500, 900}},
      {0, 0, 0, {100, 300, 500}, {100}},  // the defaults keep only the first
      {200, 36000, 0, {100, 300, 500}, {300, 500}},
  };
  for (const Case& c : cases) {
    FreeSortedFileTable();
    FreeSeriesKeyTable();
    for (float t : c.times) AddFileToSortedTable("f" + std::to_string(static_cast<int>(t)), ".FI1_A", t, c.tMin, c.spacing, c.tMax);
    const SortedFileTable& table = CurrentSortedFileTable();
    ASSERT_EQ(table.counts[1], static_cast<int>(c.kept.size()));
    for (size_t k = 0; k < c.kept.size(); ++k)
      EXPECT_EQ(table.names[1][k], "f" + std::to_string(static_cast<int>(c.kept[k])));
  }
}

TEST_F(FluorescenceSort, KeysMatchWholeAndAFullTableIsReported) {
  EXPECT_EQ(FindOrAddSeriesKey(".FI1_A_PMV650_r2_g40"), 1);
  EXPECT_EQ(FindOrAddSeriesKey(".FI1_A_PMV650_r2_g4"), 2);  // not a part of gain 40
  EXPECT_EQ(FindOrAddSeriesKey(".fi1_a_pmv650_r2_g4"), 2);
  CurrentSortedFileTable().keyCapacity = 2;
  EXPECT_EQ(FindOrAddSeriesKey(".FI2_A_PMV650_r2_g4"), 0);
  ui_.ExpectBox("", "Attention: too many series, x.FI2 is not listed");
  AddFileToSortedTable("x.FI2", ".FI2_A_PMV650_r2_g4", 10, 0, 0, 0);
  EXPECT_TRUE(ui_.failures.empty());
  EXPECT_TRUE(ui_.AllConsumed());
  EXPECT_EQ(CurrentSortedFileTable().groupCount, 0);
}

TEST_F(FluorescenceSort, FolderSortTakesTheDetectorsScansWithTheirTimesAndWritesLists) {
  Scan("A00001.FI1", 1, 100, 4);
  Scan("A00002.FI1", 1, 300, 4);
  Scan("A00003.FI1", 1, 500, 4);
  Scan("A00004.FI1", 1, 900, 40);
  Scan("B00017.FI1", 4, 200, 4);  // the reference cell
  Scan("C00001.FI1", 1, 200, 4);
  Scan("A10001.FI1", 1, 200, 4);
  Scan("A00001.RA1", 1, 200, 4);
  Scan("A00005.FI1", 1, 700, 4, 100, 100, 3);  // an aborted scan
  Scan("A00006.FI1", 2, 400, 4, 100, 2);       // too weak at 6.6 cm
  { std::ofstream(dir_ / "A00007.FI1") << std::string(2000, 'x'); }
  const auto written = fs::last_write_time(dir_ / "A00002.FI1") - std::chrono::hours(30);
  fs::last_write_time(dir_ / "A00002.FI1", written);
  Load("A00001.FI1");
  ui_.ExpectBox("", "could not read");

  FluorescenceSortOptions o;
  o.makeLists = true;
  o.tMax = 36000;
  o.targetScans = 100;
  o.thresholdFilter = true;
  o.rMin = 6.5f;
  o.rMax = 7.0f;
  o.minSignal = 50;
  CopySortedFluorescenceFiles(o);
  EXPECT_TRUE(ui_.failures.empty()) << ui_.failures.front();
  EXPECT_TRUE(ui_.AllConsumed());

  const std::vector<std::string> expected = {"00001.FI1_A_PMV650_r2_g4", "00002.FI1_A_PMV650_r2_g4",
                                             "00003.FI1_A_PMV650_r2_g4", "00004.FI1_A_PMV650_r2_g40",
                                             "list.FI1_A_PMV650_r2_g4", "list.FI1_A_PMV650_r2_g40"};
  EXPECT_EQ(Sorted(), expected);
  const auto copyTime = fs::last_write_time(dir_ / "sorted" / "00002.FI1_A_PMV650_r2_g4");
  EXPECT_LT(std::chrono::abs(copyTime - written), std::chrono::seconds(1));
  EXPECT_EQ(FileText(dir_ / "sorted" / "list.FI1_A_PMV650_r2_g4"),
            "newformat n=1\n" + (dir_ / "sorted").string() + "\n00001.FI1_A_PMV650_r2_g4\n00003.FI1_A_PMV650_r2_g4\n");
  EXPECT_EQ(CurrentSortedFileTable().groupCount, 0);  // freed after the run
}

TEST_F(FluorescenceSort, LoadedScansAreCopiedPlainly) {
  Scan("A00001.FI1", 1, 100, 4);
  Scan("A00002.FI1", 1, 300, 4);
  Load("A00001.FI1");
  CopyLoadedFluorescenceFiles();
  EXPECT_EQ(Sorted(), std::vector<std::string>{"00001.FI1_A_PMV650_r2_g4"});
  // Other data are not sorted.
  fs::remove_all(dir_ / "sorted");
  CurrentDataTypeFlags().fluorescence = 0;
  CopyLoadedFluorescenceFiles();
  EXPECT_FALSE(fs::exists(dir_ / "sorted"));
}

}  // namespace
