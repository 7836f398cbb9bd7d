// The workers that write the loaded scans under new names or cut them:
// names against worked examples, files read back against the scans, and
// refusals that must leave the folder untouched.
#include "data/raw_data_workers.h"

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "data/scan_file.h"
#include "numerics/arrays.h"
#include "numerics/cvector.h"
#include "tests/data/loading_fixture.h"

namespace {

struct ReadBack {
  ScanRecord record;
  int points = 0;
  std::vector<float> radii, signals, third;
};

// The reader sets the data-kind switches: the loaded set keeps its own.
// Files are read as written, without the spike filter.
ReadBack Read(const std::string& path) {
  const DataTypeFlags flags = CurrentDataTypeFlags();
  CurrentDataTypeFlags().excludeSpikes = 0;
  ReadBack b;
  float *r = nullptr, *y = nullptr, *t = nullptr;
  uint8_t mark = 0;
  if (ReadScanFile(path.c_str(), &b.record, &b.points, &r, &y, &t, &mark, 0.0f) != 1) {
    CurrentDataTypeFlags() = flags;
    return b;
  }
  for (int k = 1; k <= b.points; ++k) {
    b.radii.push_back(r[k]);
    b.signals.push_back(y[k]);
    if (t) b.third.push_back(t[k]);
  }
  free_vector(r, 1, b.points);
  free_vector(y, 1, b.points);
  if (t) free_vector(t, 1, b.points);
  CurrentDataTypeFlags() = flags;
  return b;
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class RawDataWorkers : public LoadingTest {
 protected:
  // Scans of n points from r0 in steps of 0.01 cm, named 00001.RA1 ..., with
  // the given times and rotor speed; signal(k, r) for scan k (0-based).
  template <typename F>
  std::vector<std::string> WriteScans(const std::vector<double>& times, float r0, int n, float rpm,
                                      F signal, char type = 'R', const std::string& ext = ".RA1") {
    std::vector<std::string> names;
    for (std::size_t k = 0; k < times.size(); ++k) {
      auto scan = loading_test::MakeScan(r0, 0.01f, n, [&](float r) { return signal(k, r); });
      scan.time = times[k];
      scan.rpm = rpm;
      scan.type = type;
      names.push_back(Name(static_cast<int>(k) + 1, ext));
      loading_test::WriteScan(dir / names.back(), scan);
    }
    return names;
  }
  void Load(const std::vector<std::string>& names) {
    ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
    ASSERT_EQ(CurrentScanSet().count, static_cast<int>(names.size()));
  }
  std::string Out(const std::string& name = "") {
    const std::string out = dir / "out";
    std::filesystem::create_directories(out);
    return name.empty() ? out : out + "/" + name;
  }
};

TEST_F(RawDataWorkers, SpeedNamesFollowRotorSpeedWavelengthAndTag) {
  struct Case {
    const char* file;
    char type;
    float rpm, wavelength;
    const char* expected;
  } cases[] = {
      {"00012.RA1", 'R', 42500, 280, "42k280_0012.RA1"},
      {"00012.RA1", 'W', 42500, 6.5f, "42k6500_0012.RA1"},
      {"tcorr_00012.RA1", 'R', 42500, 280, "tcorr_42k280_012.RA1"},
      // Names shorter than the tag give what they have.
      {"7.RA1", 'R', 3000, 230, "3k230_7.RA1"},
      {"tcor.RA2", 'R', 60000, 280, "tcorr_60k280_.RA2"},
      // A speed far out of range is written out, not wrapped round.
      {"00001.RA1", 'R', 1e30f, 280, "1000000015047466175896223744k280_0001.RA1"},
  };
  for (const Case& c : cases) {
    ScanRecord r;
    r.type = c.type;
    r.rpm = c.rpm;
    r.wavelength = c.wavelength;
    EXPECT_EQ(SpeedFileName(c.file, r), c.expected) << c.file;
  }
}

TEST_F(RawDataWorkers, SpeedNamesThatClashWriteNothing) {
  auto names = WriteScans({1000, 2000}, 5.9f, 50, 42500, [](std::size_t, float) { return 0.5; });
  for (std::size_t k = 0; k < names.size(); ++k) {
    const std::string renamed = k == 0 ? "000123.RA1" : "000124.RA1";
    std::filesystem::rename(dir / names[k], dir / renamed);
    names[k] = renamed;
  }
  Load(names);
  ui.ExpectBox("SAVE DATA", "scans 000123.RA1 and 000124.RA1 would both be written as 42k280_0012");
  const RawDataResult r = SaveRawDataWithSpeedNames(Out("20k280_001.ra1"));
  EXPECT_TRUE(r.Refused());
  EXPECT_TRUE(r.written.empty());
  EXPECT_TRUE(FilesIn(Out()).empty());
  ExpectNoFailures();
  // Distinct names are all written and read back as loaded.
  FreeScanData();
  std::filesystem::rename(dir / "000124.RA1", dir / "000224.RA1");
  Load({"000123.RA1", "000224.RA1"});
  EXPECT_EQ(SaveRawDataWithSpeedNames(Out("x")).written.size(), 2u);
  EXPECT_EQ(FilesIn(Out()), (std::vector<std::string>{"42k280_0012.RA1", "42k280_0022.RA1"}));
  EXPECT_EQ(CurrentDataPaths().parameterFile, Out("~tmppars.RA1"));
}

TEST_F(RawDataWorkers, SavingUnderAPrefixReadsBackEqual) {
  Load(WriteScans({1000, 2000, 3000}, 5.9f, 80, 50000,
                  [](std::size_t k, float r) { return 0.1 * (k + 1) + std::sin(r); }));
  const RawDataResult r = SaveRawDataToFolder(Out("x"));
  ASSERT_EQ(r.written.size(), 3u);
  EXPECT_EQ(FilesIn(Out()), (std::vector<std::string>{"x00001.RA1", "x00002.RA1", "x00003.RA1"}));
  const ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= 3; ++i) {
    const ReadBack b = Read(Out("x" + s.fileNames[i]));
    ASSERT_EQ(b.points, s.points[i]);
    EXPECT_EQ(b.record.time, s.records[i].time);
    for (int k = 1; k <= b.points; ++k) {
      EXPECT_NEAR(b.radii[k - 1], s.radii[i][k], 1e-6);
      EXPECT_NEAR(b.signals[k - 1], s.signals[i][k], 1e-5);
    }
  }
  // Aligned copies take 'a' for their first character, or with the old
  // file-name convention the typed name; the old convention with one
  // extension for all scans would put them into one file.
  ASSERT_EQ(SaveAlignedScans(Out("z")).written.size(), 3u);
  EXPECT_NE(std::string(Read(Out("a0001.RA1")).record.description).find("aligned 00001.RA1"),
            std::string::npos);
  CurrentScanSet().oldFileNameConvention = 1;
  ui.ExpectBox("ERROR", "would both be written as z");
  EXPECT_TRUE(SaveAlignedScans(Out("z")).Refused());
  CurrentScanSet().oldFileNameConvention = 0;

  CurrentDataTypeFlags().dls = 1;
  ui.ExpectBox("ERROR", "not implemented for DLS data");
  EXPECT_EQ(SaveRawDataToFolder(Out("y")).refusal, "not implemented for DLS data");
  ExpectNoFailures();
}

// A folder that is not there yet is made; one that cannot be made or
// written into is said once, not once for every scan, and nothing is written.
TEST_F(RawDataWorkers, SavingIntoAFolderMakesItOrSaysOnceWhyNot) {
  Load(WriteScans({1000, 2000, 3000}, 5.9f, 40, 50000, [](std::size_t k, float r) { return 0.1 * (k + 1) + r; }));
  const std::string deeper = dir / "new/deeper";
  const RawDataResult made = SaveRawDataToFolder(deeper + "/x");
  ASSERT_EQ(made.written.size(), 3u);
  EXPECT_EQ(FilesIn(deeper), (std::vector<std::string>{"x00001.RA1", "x00002.RA1", "x00003.RA1"}));
  EXPECT_EQ(Read(deeper + "/x00003.RA1").points, CurrentScanSet().points[3]);

  // A file where the folder should be.
  std::ofstream(dir / "blocked") << "a file\n";
  ui.ExpectBox("SAVE DATA", "could not create the folder " + dir / "blocked/sub/" + " - nothing written");
  const RawDataResult blocked = SaveRawDataToFolder(dir / "blocked/sub/x");
  EXPECT_TRUE(blocked.Refused());
  EXPECT_TRUE(blocked.written.empty());

  // A folder without write permission (the superuser writes anyway).
  const std::string locked = dir / "locked";
  std::filesystem::create_directories(locked);
  std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  if (access(locked.c_str(), W_OK) != 0) {
    ui.ExpectBox("SAVE DATA", "cannot write into the folder " + locked + "/ - nothing written");
    EXPECT_TRUE(SaveRawDataToFolder(locked + "/x").Refused());
    EXPECT_TRUE(FilesIn(locked).empty());
  }
  std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
  ExpectNoFailures();
}

TEST_F(RawDataWorkers, RotorStretchShiftsRadiiAndKeepsTheField) {
  // Radii 5.90 .. 7.20 (rm 6.55) at 50000 rpm, rotor 8.
  Load(WriteScans({1000, 2000}, 5.9f, 131, 50000, [](std::size_t, float r) { return r - 5.0; }));
  const float startTimes[3] = {0, 0, 5000}, speeds[3] = {0, 50000, 40000}, acc[3] = {0, 200, 200};
  auto profile = std::make_unique<CRotorSpeedProfile>();
  profile->SetSteps(2, startTimes, speeds, acc);
  CurrentSpeedProfile.Replace(std::move(profile));
  CurrentSpeedProfile.inUse = true;

  const RawDataResult r = UndoRotorStretch(9.59e-6, Out("newscandata"), true, true);
  ASSERT_FALSE(r.Refused()) << r.refusal;
  EXPECT_EQ(FilesIn(Out()), (std::vector<std::string>{"1000.RA1", "2000.RA1", "speedsteps.txt"}));
  const double shift = -9.59e-6 * 2500;  // -0.023975 cm
  const ScanSet& s = CurrentScanSet();
  const ReadBack b = Read(Out("1000.RA1"));
  ASSERT_EQ(b.points, 131);
  // Radii are written with four decimals.
  for (int k = 1; k <= 131; ++k) EXPECT_NEAR(b.radii[k - 1], s.radii[1][k] + shift, 5.1e-5);
  EXPECT_NE(std::string(b.record.description).find(", shift -0.024"), std::string::npos);
  EXPECT_EQ(b.record.rpm, 50091.0f);
  // The loaded scans keep their radii and speed, only their names change.
  EXPECT_EQ(s.records[1].rpm, 50000.0f);
  EXPECT_FLOAT_EQ(s.radii[1][1], 5.9f);
  EXPECT_EQ(s.fileNames[1], "1000.RA1");
  CRotorSpeedProfile written;
  ASSERT_TRUE(written.ReadFile(Out("speedsteps.txt")));
  EXPECT_EQ(written.speeds[1], 50091.0f);
  EXPECT_EQ(written.speeds[2], 40046.0f);
  EXPECT_EQ(CurrentSpeedProfile.profile->speeds[1], 50000.0f);
  ExpectNoFailures();
}

TEST_F(RawDataWorkers, RotorStretchRefusalsWriteNothing) {
  // Two scans in the same whole second would share one file.
  Load(WriteScans({1000.2, 1000.7}, 5.9f, 50, 50000, [](std::size_t, float) { return 1.0; }));
  CurrentScanSet().records[1].time = 1000.2;
  CurrentScanSet().records[2].time = 1000.7;
  struct Case {
    double module;
    std::string target, text;
  } cases[] = {
      {9.59e-6, Out("newscandata"), "would both be written as 1000"},
      {9.59e-6, "newscandata", "no folder chosen"},
      {0.0, Out("newscandata"), "must lie above 0"},
      {2e-4, Out("newscandata"), "must lie above 0"},
      {std::nan(""), Out("newscandata"), "must lie above 0"},
  };
  for (const Case& c : cases) {
    ui.ExpectBox("Undo Rotor Stretch", c.text);
    EXPECT_TRUE(UndoRotorStretch(c.module, c.target, false, true).Refused()) << c.text;
  }
  EXPECT_TRUE(FilesIn(Out()).empty());
  EXPECT_EQ(CurrentScanSet().fileNames[1], "00001.RA1");
  ExpectNoFailures();
}

TEST_F(RawDataWorkers, ExcludingARegionRemovesItsPointsFromEveryScan) {
  Load(WriteScans({1000, 2000}, 5.9f, 131, 50000, [](std::size_t k, float r) { return r + k; }));
  ScanSet& s = CurrentScanSet();
  s.model[2][131] = 7.0f;
  EXPECT_FALSE(ExcludeRegionFromScans(6.0f, 6.2f).Refused());
  for (int i = 1; i <= 2; ++i) {
    ASSERT_EQ(s.points[i], 110);  // 21 points went, both ends included
    EXPECT_EQ(s.records[i].points, 110);
    EXPECT_EQ(s.radiusVec[i]->Count(), 110u);
    EXPECT_EQ(s.residualVec[i]->Count(), 110u);
    for (int k = 2; k <= 110; ++k) {
      EXPECT_LT(s.radii[i][k - 1], s.radii[i][k]);
      EXPECT_FALSE(s.radii[i][k] >= 6.0f && s.radii[i][k] <= 6.2f);
      EXPECT_NEAR(s.signals[i][k], s.radii[i][k] + (i - 1), 1e-5);
    }
  }
  EXPECT_NEAR(s.radii[1][10], 5.99f, 1e-6);
  EXPECT_NEAR(s.radii[1][11], 6.21f, 1e-6);
  EXPECT_EQ(s.model[2][110], 0.0f);
  EXPECT_EQ(s.dataChanged, 1);

  // Regions outside scan 1, reversed, or leaving a scan under two points.
  for (auto [low, high] : {std::pair{5.5f, 6.0f}, {6.3f, 6.2f}, {6.3f, 7.5f}, {5.9f, 7.19f}}) {
    ui.ExpectBox("exclude data from scans", "");
    EXPECT_TRUE(ExcludeRegionFromScans(low, high).Refused());
    EXPECT_EQ(s.points[1], 110);
  }
  ExpectNoFailures();
}

TEST_F(RawDataWorkers, SixChannelSectionsShareTheirBoundaryPoints) {
  // Interference scans from 5.80 to 7.20; scan 2 carries a whole fringe
  // more beyond 6.3 cm and another beyond 6.9 cm, so each section is only
  // level with scan 1 when it was aligned inside that section.
  Load(WriteScans({1000, 2000}, 5.8f, 141, 50000,
                  [](std::size_t k, float r) {
                    return k == 0 ? 0.0 : (r > 6.3f ? 1.0 : 0.0) + (r > 6.9f ? 1.0 : 0.0);
                  },
                  'P', ".IP1"));
  ASSERT_TRUE(CurrentDataTypeFlags().interference);
  const RawDataResult r = SplitSixChannelScans(6.2f, 6.75f);
  ASSERT_EQ(r.written.size(), 6u);
  struct Section {
    const char* prefix;
    int points;
    float first, last, probe;
    const char* label;
  } sections[] = {{"i", 41, 5.80f, 6.20f, 6.00f, "inner section of 00002.IP1"},
                  {"m", 57, 6.20f, 6.76f, 6.50f, "middle section of 00002.IP1"},
                  {"o", 45, 6.76f, 7.20f, 7.00f, "outer section of 00002.IP1"}};
  for (const Section& c : sections) {
    const ReadBack b = Read(dir / (std::string(c.prefix) + "00002.IP1"));
    ASSERT_EQ(b.points, c.points) << c.prefix;
    EXPECT_NEAR(b.radii.front(), c.first, 1e-5);
    EXPECT_NEAR(b.radii.back(), c.last, 1e-5);
    EXPECT_NE(std::string(b.record.description).find(c.label), std::string::npos);
    const int at = static_cast<int>(std::lround((c.probe - c.first) / 0.01f));
    EXPECT_NEAR(b.signals[static_cast<std::size_t>(at)], 0.0f, 1e-5) << c.prefix;
  }
  // With the outer cut at the last radius no outer file is written.
  std::filesystem::remove(dir / "o00001.IP1");
  std::filesystem::remove(dir / "o00002.IP1");
  const RawDataResult edge = SplitSixChannelScans(6.2f, 7.2f);
  EXPECT_EQ(edge.written.size(), 4u);
  EXPECT_FALSE(std::filesystem::exists(dir / "o00001.IP1"));
  EXPECT_EQ(Read(dir / "m00001.IP1").points, 101);
  ui.ExpectBox("cut 6-channel data files", "do not lie within");
  EXPECT_TRUE(SplitSixChannelScans(6.75f, 6.2f).Refused());
  ExpectNoFailures();
}

TEST_F(RawDataWorkers, IntensityBecomesAbsorbanceAndPseudoAbsorbance) {
  // Rows: radius, reference I0, sample I.
  const std::vector<std::pair<double, double>> rows = {{1000, 100}, {0, 100}, {1000, 0}, {50, 10}};
  for (int n = 1; n <= 2; ++n) {
    std::string text = "intensity scan\nI 1 20.0 40000 " + std::to_string(1000 * n) +
                       " 6.0000e+10 280 2\n";
    for (std::size_t k = 0; k < 12; ++k) {
      const auto& row = rows[k % rows.size()];
      char line[100];
      std::snprintf(line, sizeof line, "%1.4f %g %g\n", 6.0 + 0.01 * k, row.first, row.second);
      text += line;
    }
    loading_test::WriteText(dir / Name(n, ".RI1"), text);
  }
  Load({Name(1, ".RI1"), Name(2, ".RI1")});
  ASSERT_TRUE(CurrentDataTypeFlags().intensity);
  const RawDataResult a = WriteIntensityAsAbsorbance();
  ASSERT_EQ(a.written, (std::vector<std::string>{dir / "00001.RA1", dir / "00002.RA1"}));
  const ReadBack b = Read(dir / "00001.RA1");
  EXPECT_EQ(b.record.type, 'R');
  ASSERT_EQ(b.points, 12);
  const float expected[4] = {1.0f, 10.0f, 10.0f, 0.69897f};
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(b.signals[k], expected[k], 1e-5) << k;
  EXPECT_EQ(CurrentScanSet().records[1].type, 'I');

  const RawDataResult p = WriteIntensityAsPseudoAbsorbance();
  ASSERT_EQ(p.written.size(), 4u) << p.refusal;
  const ReadBack sample = Read(dir / "S0001.RA1"), reference = Read(dir / "R0001.RA1");
  EXPECT_NEAR(sample.signals[0], 1.0f, 1e-5);     // 1000 / 100
  EXPECT_NEAR(sample.signals[2], 10.0f, 1e-5);    // no light
  EXPECT_NEAR(sample.signals[3], 2.0f, 1e-5);     // 1000 / 10
  EXPECT_NEAR(reference.signals[0], 0.0f, 1e-5);  // 1000 / 1000
  EXPECT_NEAR(reference.signals[1], 10.0f, 1e-5);

  // One file that is not an intensity file stops both before any writing.
  std::filesystem::remove(dir / "00001.RA1");
  CurrentScanSet().fileNames[2] = "00002.RA2";
  ui.ExpectBox("ERROR", "00002.RA2 is not an intensity file - nothing written");
  EXPECT_TRUE(WriteIntensityAsAbsorbance().Refused());
  EXPECT_FALSE(std::filesystem::exists(dir / "00001.RA1"));
  ExpectNoFailures();
}

TEST_F(RawDataWorkers, ModifiedScanLosesItsPointUnderANewName) {
  Load(WriteScans({1000, 2000}, 5.9f, 120, 50000, [](std::size_t k, float r) { return r * (k + 1); }));
  const RawDataResult r = MarkScanModified(1, 17, false);
  ASSERT_EQ(r.written, std::vector<std::string>{dir / "00001_mod.RA1"});
  EXPECT_EQ(CurrentScanSet().fileNames[1], "00001_mod.RA1");
  EXPECT_EQ(CurrentFileNameList().names[1], dir / "00001_mod.RA1");
  const ReadBack b = Read(r.written[0]);
  ASSERT_EQ(b.points, 119);
  EXPECT_NEAR(b.radii[15], 6.05f, 1e-5);
  EXPECT_NEAR(b.radii[16], 6.07f, 1e-5);
  EXPECT_NE(std::string(b.record.description).find("synthetic scan_modified from 00001.RA1"),
            std::string::npos);

  // A description that fills the record and a long name stay within it.
  ScanSet& s = CurrentScanSet();
  std::memset(s.records[2].description, 'd', 99);
  s.fileNames[2] = std::string(150, 'n') + ".RA1";
  const RawDataResult kept = MarkScanModified(2, 1, true);
  ASSERT_EQ(kept.written.size(), 1u);
  const ReadBack k = Read(kept.written[0]);
  EXPECT_EQ(k.points, 119);
  EXPECT_NE(std::string(k.record.description).find("_modified from nnnn"), std::string::npos);
  EXPECT_TRUE(MarkScanModified(3, 1, false).Refused());
  EXPECT_TRUE(MarkScanModified(1, 121, false).Refused());
  ExpectNoFailures();
}

TEST_F(RawDataWorkers, AverageOfConstantScansReplacesTheSet) {
  Load(WriteScans({1000, 2000, 3000}, 5.9f, 60, 50000,
                  [](std::size_t k, float) { return static_cast<double>(k + 1); }));
  const RawDataResult r = AverageScansToFile(dir / "average.RA1");
  ASSERT_EQ(r.written.size(), 1u);
  const ScanSet& s = CurrentScanSet();
  ASSERT_EQ(s.count, 1);
  EXPECT_EQ(s.fileNames[1], "average.RA1");
  for (int k = 1; k <= s.points[1]; ++k) EXPECT_NEAR(s.signals[1][k], 2.0f, 1e-6);
  EXPECT_NE(std::string(s.records[1].description).find("averaged"), std::string::npos);
  ExpectNoFailures();
}

}  // namespace
