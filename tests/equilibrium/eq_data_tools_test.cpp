// Grouping of equilibrium scans into series, the comparison of scans, and
// the sort that writes the latest scan of every accepted series.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "data/scan_file.h"
#include "eq_scans.h"
#include "equilibrium/eqtools/eq_data_tools.h"
#include "numerics/arrays.h"
#include "platform/scripted_ui.h"

namespace {

std::vector<float> Grid(double from, int n, double step) {
  std::vector<float> r;
  for (int i = 0; i < n; ++i) r.push_back(static_cast<float>(from + step * i));
  return r;
}

eqtest::Scan MakeScan(int cell, float wavelength, float rpm, double time, const std::string& file,
                      double level = 0.5) {
  return eqtest::LineScan(cell, wavelength, rpm, time, file, level, 50, 0.004, 0.1);
}

// Series as (first scan, scans) for compact comparison.
std::vector<std::vector<int>> SeriesScans(float tolerance = 5.0f) {
  std::vector<std::vector<int>> out;
  for (const EqSeries& s : GroupEqSeries(tolerance)) out.push_back(s.scans);
  return out;
}

struct Grouping : ::testing::Test {
  void TearDown() override { eqtest::Clear(); }
};

TEST_F(Grouping, EveryScanJoinsExactlyOneSeries) {
  using V = std::vector<std::vector<int>>;
  struct Case {
    const char* name;
    std::vector<eqtest::Scan> scans;
    V expected;
  };
  const std::vector<Case> cases = {
      {"280 and 283 nm together, 290 apart",
       {MakeScan(1, 280, 15000, 10, "a.RA1"), MakeScan(1, 283, 15000, 20, "b.RA1"),
        MakeScan(1, 290, 15000, 30, "c.RA1")},
       V{{1, 2}, {3}}},
      {"285 nm lies exactly at the tolerance and joins",
       {MakeScan(1, 280, 15000, 10, "a.RA1"), MakeScan(1, 285, 15000, 20, "b.RA1")}, V{{1, 2}}},
      {"interleaved 280, 286, 283: 283 in the first group only",
       {MakeScan(1, 280, 15000, 10, "a.RA1"), MakeScan(1, 286, 15000, 20, "b.RA1"),
        MakeScan(1, 283, 15000, 30, "c.RA1")},
       V{{1, 3}, {2}}},
      {"speeds apart, each in time order with the latest last",
       {MakeScan(1, 280, 15000, 30, "a.RA1"), MakeScan(1, 280, 20000, 40, "b.RA1"),
        MakeScan(1, 280, 15000, 10, "c.RA1"), MakeScan(1, 280, 15000, 20, "d.RA1")},
       V{{3, 4, 1}, {2}}},
      {"a fraction of an rpm is the same speed",
       {MakeScan(1, 280, 15000, 10, "a.RA1"), MakeScan(1, 280, 15000.4f, 20, "b.RA1")}, V{{1, 2}}},
      {"cell 10 and 1000 nm do not meet cell 11 or 0 nm",
       {MakeScan(10, 1000, 15000, 10, "a.RA1"), MakeScan(11, 0, 15000, 20, "b.RA1"),
        MakeScan(10, 1000, 15000, 30, "c.RA1")},
       V{{1, 3}, {2}}},
      {"letters i, m, o apart; other names keep the letter before them",
       {MakeScan(1, 280, 15000, 10, "i1.RA1"), MakeScan(1, 280, 15000, 20, "m1.RA1"),
        MakeScan(1, 280, 15000, 30, "x1.RA1"), MakeScan(1, 280, 15000, 40, "i2.RA1")},
       V{{1, 4}, {2, 3}}},
      {"equal times: the earlier loaded is the latest",
       {MakeScan(1, 280, 15000, 50, "a.RA1"), MakeScan(1, 280, 15000, 50, "b.RA1"),
        MakeScan(1, 280, 15000, 10, "c.RA1")},
       V{{3, 2, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    eqtest::Load(c.scans);
    EXPECT_EQ(SeriesScans(), c.expected);
  }
}

TEST_F(Grouping, TablesGrowBeyondTheirOldSizes) {
  std::vector<eqtest::Scan> scans;
  for (int k = 0; k < 250; ++k) scans.push_back(MakeScan(1 + k / 10, 200.0f + 20 * (k % 10), 15000, k, "a.RA1"));
  for (int k = 0; k < 15; ++k) scans.push_back(MakeScan(30, 280, 5000.0f + 1000 * k, 1000 + k, "b.RA1"));
  eqtest::Load(scans);
  const std::vector<EqSeries> series = GroupEqSeries(5.0f);
  ASSERT_EQ(series.size(), 265u);
  EXPECT_EQ(series.back().speed, 19000.0f);
}

TEST_F(Grouping, ScanFileNumberAndKindFromTheName) {
  eqtest::Load({MakeScan(1, 280, 15000, 10, "00042.RI1"), MakeScan(1, 280, 15000, 10, "00007.IP2"),
                MakeScan(1, 280, 15000, 10, "17.ra1")});
  EXPECT_EQ(ScanFileNumber(1), 42);
  EXPECT_EQ(ScanFileNumber(3), 17);
  EXPECT_TRUE(IsIntensityScan(1));
  EXPECT_TRUE(IsInterferenceScan(2));
  EXPECT_FALSE(IsIntensityScan(3) || IsInterferenceScan(3));
  EXPECT_EQ(EqFileExtension(1), ".Ra1");
  EXPECT_EQ(EqFileExtension(3), ".ra1");
}

TEST_F(Grouping, NamesOfSortedFiles) {
  EXPECT_EQ(EqFileBaseName(0, 15500, 280), "eq15k_280");
  EXPECT_EQ(EqFileBaseName('m', 9999, 229.6f), "m_eq9k_230");
  EXPECT_EQ(EqXpBaseName(0, 2, 280.7f), "cell2_280");
  EXPECT_EQ(EqXpBaseName(0, 1, 675), "cell1_IF");
  EXPECT_EQ(EqXpBaseName('o', 1, 660), "o_cell1_IF");
}

// A = R + 0.3 + 0.1 (r - 7): the offset goes, the slope stays as the rmsd of
// a straight line over 201 points.
TEST_F(Grouping, ScanRmsdRemovesTheOffsetOnly) {
  eqtest::Scan ref = MakeScan(1, 280, 15000, 100, "r.RA1"), a = ref, b = ref;
  ref.r = a.r = b.r = Grid(6.9, 201, 0.001);
  ref.y.clear();
  a.y.clear();
  b.y.clear();
  for (float r : ref.r) {
    ref.y.push_back(std::sin(3 * r));
    a.y.push_back(ref.y.back() + 0.3f + 0.1f * (r - 7.0f));
    b.y.push_back(ref.y.back() - 0.2f);
  }
  eqtest::Load({ref, a, b});
  const double expected = 0.1 * 0.001 * std::sqrt((201.0 * 201.0 - 1) / 12);
  EXPECT_NEAR(EqTestScanRmsd(2, 1, 1, 201), expected, 2e-6);
  EXPECT_NEAR(EqTestScanRmsd(2, 1, 201, 1), expected, 2e-6);  // range given backwards
  EXPECT_NEAR(EqTestScanRmsd(3, 1, 1, 201), 0.0, 1e-6);
  EXPECT_EQ(EqTestScanRmsd(1, 1, 1, 201), 0.0f);
  EXPECT_EQ(EqTestScanRmsd(2, 4, 1, 201), 0.0f);
  EXPECT_EQ(EqTestScanRmsd(2, 1, 300, 400), 0.0f);  // nothing in range
  std::vector<float> r, d;
  EqTestScanRmsd(2, 1, 11, 20, &r, &d);
  ASSERT_EQ(d.size(), 10u);
  EXPECT_FLOAT_EQ(r[0], ref.r[10]);
  // a - ref + mean(ref - a) = 0.1 (r - mean r) over the range.
  EXPECT_NEAR(d[0], 0.1 * (ref.r[10] - 0.5 * (ref.r[10] + ref.r[19])), 1e-5);
}

TEST_F(Grouping, IntensityValuesAreAbsorbance) {
  eqtest::Scan s = MakeScan(1, 280, 15000, 10, "00001.RI1");
  s.y.assign(s.r.size(), 100.0f);
  s.third.assign(s.r.size(), 1000.0f);
  s.y[1] = 0.0f;
  s.third[2] = -1.0f;
  eqtest::Load({s});
  EXPECT_FLOAT_EQ(EqPointValue(1, 1), 1.0f);
  EXPECT_FLOAT_EQ(EqPointValue(1, 2), 10.0f);
  EXPECT_FLOAT_EQ(EqPointValue(1, 3), 10.0f);
}

// ---- the sort ----

struct Sort : ::testing::Test {
  void SetUp() override {
    folder = std::filesystem::current_path() / "sorted";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    request.outputPath = (folder / "eq.ra1").string();
    hooks.testEquilibriumAttained = [this](const std::vector<int>& list, int latest) {
      lists.push_back(list);
      return latest != refuse;
    };
    hooks.writeXp = [this](const EqXpFile& xp) {
      xps.push_back(xp);
      return true;
    };
  }
  void TearDown() override { eqtest::Clear(); }

  struct Read {
    ScanRecord record;
    int n = 0;
    std::vector<float> r, y;
    bool third = false;
  };
  Read ReadBack(const std::string& name) {
    Read out;
    float *r = nullptr, *y = nullptr, *t = nullptr;
    EXPECT_EQ(ReadScanFile((folder / name).string().c_str(), &out.record, &out.n, &r, &y, &t, nullptr, 0), 1)
        << name;
    if (!r) return out;
    out.r.assign(r + 1, r + out.n + 1);
    out.y.assign(y + 1, y + out.n + 1);
    out.third = t != nullptr;
    free_vector(r, 1, out.n);
    free_vector(y, 1, out.n);
    if (t) free_vector(t, 1, out.n);
    return out;
  }

  std::filesystem::path folder;
  EqSortRequest request;
  EqSortHooks hooks;
  std::vector<std::vector<int>> lists;
  std::vector<EqXpFile> xps;
  int refuse = 0;
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope{ui};
};

TEST_F(Sort, LatestScanOfEachSpeedAndOneXpFilePerCellAndWavelength) {
  std::vector<eqtest::Scan> scans;
  int file = 1;
  for (float rpm : {10000.0f, 15000.0f, 20000.0f})
    for (int k = 0; k < 3; ++k) {
      char name[16];
      std::snprintf(name, sizeof name, "%05d.RA1", file);
      scans.push_back(MakeScan(1, 280, rpm, 3600.0 * file, name, 0.1 * file));
      ++file;
    }
  eqtest::Load(scans);
  request.makeXp = true;
  const std::vector<std::string> written = SortEqDataToDisk(request, hooks);
  ASSERT_EQ(written.size(), 3u);
  EXPECT_EQ(lists.front(), (std::vector<int>{1, 2, 3, 3}));
  const char* names[] = {"eq10k_280.RA1", "eq15k_280.RA1", "eq20k_280.RA1"};
  for (int k = 0; k < 3; ++k) {
    const Read r = ReadBack(names[k]);
    ASSERT_EQ(r.n, 50);
    EXPECT_NEAR(r.y[0], 0.1 * (3 * k + 3) + 0.1 * (6.9 - 7.0), 1e-4) << names[k];
    EXPECT_EQ(r.record.rpm, 10000.0f + 5000 * k);
    EXPECT_FALSE(r.third);
  }
  ASSERT_EQ(xps.size(), 1u);
  EXPECT_EQ(xps[0].path, (folder / "cell1_280.xp").string());
  EXPECT_EQ(xps[0].names, (std::vector<std::string>{names[0], names[1], names[2]}));
  // The loaded scans are left as they were.
  EXPECT_FLOAT_EQ(CurrentScanSet().signals[9][1], scans[8].y[0]);
}

TEST_F(Sort, RefusedSeriesAreNotWrittenAndInterferenceGroupsGetTheirXp) {
  eqtest::Load({MakeScan(1, 675, 15000, 10, "00001.IP1"), MakeScan(1, 675, 15000, 20, "00002.IP1"),
                MakeScan(1, 675, 20000, 30, "00003.IP1"), MakeScan(2, 280, 20000, 40, "00004.RA2")});
  refuse = 4;
  request.makeXp = true;
  EXPECT_EQ(SortEqDataToDisk(request, hooks).size(), 2u);
  ASSERT_EQ(xps.size(), 1u);  // cell 2 wrote nothing
  EXPECT_EQ(xps[0].path, (folder / "cell1_IF.xp").string());
  EXPECT_TRUE(xps[0].interference);
  EXPECT_EQ(lists[1], (std::vector<int>{3, 3}));  // a single scan
}

TEST_F(Sort, SpeedsOfOneKrpmGetDistinctNames) {
  eqtest::Load({MakeScan(1, 280, 15000, 10, "00001.RA1", 0.2), MakeScan(1, 280, 15500, 20, "00002.RA1", 0.4)});
  ui.ExpectBox("Sort SE data", "the scans at 15500 rpm go to eq15500_280.RA1");
  EXPECT_EQ(SortEqDataToDisk(request, hooks).size(), 2u);
  EXPECT_NEAR(ReadBack("eq15k_280.RA1").y[0], 0.19, 1e-4);
  EXPECT_NEAR(ReadBack("eq15500_280.RA1").y[0], 0.39, 1e-4);
  EXPECT_TRUE(ui.failures.empty());
  EXPECT_TRUE(ui.AllConsumed());
}

TEST_F(Sort, IntensityScansBecomeAbsorbanceAndTheBlankIsSubtracted) {
  eqtest::Scan s = MakeScan(1, 280, 15000, 10, "00001.RI1");
  s.y.assign(s.r.size(), 100.0f);
  s.third.assign(s.r.size(), 1000.0f);
  s.y[1] = 0.0f;
  eqtest::Load({s});
  CurrentScanSet().records[1].type = 'I';
  // A blank of 0.25 at 281 nm in a file of its own.
  const std::string blank = (folder / "blank.RA1").string();
  {
    std::vector<float> r = Grid(6.85, 80, 0.005), y(80, 0.25f);
    ScanRecord rec;
    rec.type = 'R';
    rec.wavelength = 281;
    rec.cell = 1;
    ASSERT_TRUE(WriteScanFile(blank.c_str(), 80, r.data() - 1, y.data() - 1, nullptr, "blank", 0, rec));
  }
  request.blankPath = blank;
  ASSERT_EQ(SortEqDataToDisk(request, hooks).size(), 1u);
  const Read r = ReadBack("eq15k_280.Ra1");
  EXPECT_EQ(r.record.type, 'R');
  // The reference intensities stay as the third column.
  std::ifstream in(folder / "eq15k_280.Ra1");
  std::string line;
  for (int k = 0; k < 3; ++k) std::getline(in, line);
  float x = 0, y = 0, third = 0;
  EXPECT_EQ(std::sscanf(line.c_str(), "%f %f %f", &x, &y, &third), 3) << line;
  EXPECT_EQ(third, 1000.0f);
  EXPECT_NEAR(r.y[0], 1.0 - 0.25, 1e-5);
  EXPECT_NEAR(r.y[1], 10.0 - 0.25, 1e-5);
  EXPECT_EQ(CurrentScanSet().records[1].type, 'I');
}

TEST_F(Sort, AnUnreadableBlankIsReportedAndTheSortGoesOn) {
  eqtest::Load({MakeScan(1, 280, 15000, 10, "00001.RA1")});
  request.blankPath = (folder / "missing.RA1").string();
  ui.ExpectBox("", "LOAD ERROR in blank");
  EXPECT_EQ(SortEqDataToDisk(request, hooks).size(), 1u);
  EXPECT_NEAR(ReadBack("eq15k_280.RA1").y[0], 0.49, 1e-4);
  EXPECT_TRUE(ui.failures.empty());
}

}  // namespace
