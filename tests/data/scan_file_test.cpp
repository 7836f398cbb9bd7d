#include "data/scan_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "numerics/arrays.h"
#include "platform/paths.h"
#include "platform/scripted_ui.h"
#include "tests/support/file_text.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

class ScanFileTest : public ::testing::Test {
 protected:
  void SetUp() override { CurrentDataTypeFlags() = DataTypeFlags{}; }
  void TearDown() override {
    FreeRead();
    CurrentDataTypeFlags() = DataTypeFlags{};
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  std::string WriteText(const std::string& name, const std::string& text) const {
    const std::string p = Path(name);
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }

  static std::string ReadText(const std::string& path) { return teststate::FileText(path); }

  // Reads into the fixture's outputs; frees those of a previous read.
  int Read(const std::string& path, float bin = 0, bool wantThird = true) {
    FreeRead();
    rec_ = ScanRecord{};
    mark_ = 7;
    return ReadScanFile(path.c_str(), &rec_, &n_, &r_, &s_, wantThird ? &t_ : nullptr, &mark_,
                        bin);
  }

  void FreeRead() {
    free_vector(r_, 1, n_);
    free_vector(s_, 1, n_);
    free_vector(t_, 1, n_);
    r_ = s_ = t_ = nullptr;
    n_ = 0;
  }

  teststate::TempFolder folder_;
  const fs::path dir_{folder_.path()};
  ScanRecord rec_;
  int n_ = 0;
  float *r_ = nullptr, *s_ = nullptr, *t_ = nullptr;
  uint8_t mark_ = 0;
};

ScanRecord MakeRecord(char type) {
  ScanRecord r;
  std::snprintf(r.description, sizeof r.description, "cell 2 run A");
  r.type = type;
  r.cell = 2;
  r.temperature = 20.04f;
  r.rpm = 49999.6f;
  r.time = 1234.4;
  r.timeRead = 1234.4;
  r.w2t = 1.23456e9;
  r.wavelength = (type == 'W' || type == 'V') ? 6.5f : 280.4f;
  r.headerCount = 0;
  return r;
}

std::string Line(const std::string& text, int index) {
  std::istringstream in(text);
  std::string line;
  for (int i = 0; i <= index; ++i) std::getline(in, line);
  return line;
}

}  // namespace

TEST_F(ScanFileTest, EveryTypeRoundTripsThroughWriterAndReader) {
  struct Case {
    char type;
    bool withSd;
    bool thirdKept;  // the reader hands back the third column
    uint8_t DataTypeFlags::*flag;
  };
  const Case cases[] = {
      {'R', true, false, &DataTypeFlags::absorbance},  {'R', false, false, &DataTypeFlags::absorbance},
      {'I', true, true, &DataTypeFlags::intensity},    {'P', false, false, &DataTypeFlags::interference},
      {'P', true, false, &DataTypeFlags::interference}, {'F', true, true, &DataTypeFlags::fluorescence},
      {'W', true, false, &DataTypeFlags::absorbance},  {'V', false, true, &DataTypeFlags::intensity},
  };
  const int n = 50;
  FloatVec radii(1, n), signals(1, n), sd(1, n);
  for (int i = 1; i <= n; ++i) {
    radii[i] = 6.0f + 0.0031f * i;
    signals[i] = 0.1f + 0.37f * std::sin(0.2f * i);  // stays far from spike jumps
    sd[i] = 0.001f * i;
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(1, c.type) + (c.withSd ? " with sd" : " without sd"));
    CurrentDataTypeFlags() = DataTypeFlags{};
    const ScanRecord rec = MakeRecord(c.type);
    const std::string path = Path(std::string("scan.") + c.type);
    ASSERT_TRUE(WriteScanFile(path.c_str(), n, radii, signals, c.withSd ? sd.get() : nullptr,
                              nullptr, 0, rec));
    ASSERT_EQ(Read(path), 1);
    ASSERT_EQ(n_, n);
    EXPECT_EQ(rec_.points, n);
    EXPECT_EQ(rec_.type, c.type);
    EXPECT_EQ(rec_.cell, 2);
    EXPECT_FLOAT_EQ(rec_.temperature, 20.0f);
    EXPECT_EQ(rec_.rpm, 50000.0f);
    EXPECT_EQ(rec_.timeRead, 1234.0);
    EXPECT_EQ(rec_.time, 1234.0);
    EXPECT_EQ(rec_.timeOriginal, 1234.0);
    EXPECT_NEAR(rec_.w2t, 1.2346e9, 1.0);
    EXPECT_FLOAT_EQ(rec_.wavelength, (c.type == 'W' || c.type == 'V') ? 6.5f : 280.0f);
    EXPECT_STREQ(rec_.description, "[T OK]cell 2 run A");
    EXPECT_EQ(mark_, 1);
    EXPECT_EQ(CurrentDataTypeFlags().*c.flag, 1);
    for (int i = 1; i <= n; ++i) {
      EXPECT_NEAR(r_[i], radii[i], 0.00005f);
      EXPECT_NEAR(s_[i], signals[i], 1e-5f * std::fabs(signals[i]) + 1e-12f);
    }
    if (c.thirdKept) {
      ASSERT_NE(t_, nullptr);
      for (int i = 1; i <= n; ++i) EXPECT_NEAR(t_[i], c.withSd ? sd[i] : 0.0f, 1e-8f + 1e-5f * sd[i]);
    } else {
      EXPECT_EQ(t_, nullptr);
    }
  }
}

TEST_F(ScanFileTest, HeaderLineIsWrittenExactly) {
  FloatVec r(1, 2), s(1, 2);
  r[1] = 6.1f, r[2] = 6.2f, s[1] = 0.5f, s[2] = -0.25f;
  ScanRecord rec = MakeRecord('R');
  std::string path = Path("a.ra2");
  ASSERT_TRUE(WriteScanFile(path.c_str(), 2, r, s, nullptr, "plain", 0, rec));
  std::string text = ReadText(path);
  EXPECT_EQ(Line(text, 0), "[T OK]plain");
  EXPECT_EQ(Line(text, 1), "R 2 20.0 50000 1234 1.2346e+09 280 0");
  EXPECT_EQ(Line(text, 2), "   6.1000  5.00000e-01   0.00000e+00 ");
  EXPECT_EQ(Line(text, 3), "   6.2000  -2.50000e-01   0.00000e+00 ");

  rec = MakeRecord('P');
  path = Path("a.ip2");
  ASSERT_TRUE(WriteScanFile(path.c_str(), 2, r, s, nullptr, "fringes", 0, rec));
  text = ReadText(path);
  EXPECT_EQ(Line(text, 1), "P 2 20.0 50000 1234 1.2346e+09 280 0");
  EXPECT_EQ(Line(text, 2), "   6.1000  5.00000e-01 ");

  rec = MakeRecord('W');
  rec.headerCount = 3;
  path = Path("a.wa1");
  ASSERT_TRUE(WriteScanFile(path.c_str(), 2, r, s, nullptr, nullptr, 0, rec));
  EXPECT_EQ(Line(ReadText(path), 1), "W 2 20.0 50000 1234 1.2346e+09 6.500 3");
}

TEST_F(ScanFileTest, TimeStampMarksAreAddedOnceAndCorrectedMarksKept) {
  FloatVec r(1, 3), s(1, 3);
  for (int i = 1; i <= 3; ++i) r[i] = 6.0f + 0.01f * i, s[i] = 0.1f;
  const ScanRecord rec = MakeRecord('R');
  const std::string p1 = Path("m1.ra1"), p2 = Path("m2.ra1"), p3 = Path("m3.ra1");
  ASSERT_TRUE(WriteScanFile(p1.c_str(), 3, r, s, nullptr, "no mark", 0, rec));
  ASSERT_EQ(Read(p1), 1);
  EXPECT_STREQ(rec_.description, "[T OK]no mark");
  ASSERT_TRUE(WriteScanFile(p2.c_str(), 3, r, s, nullptr, nullptr, 1, rec_));
  EXPECT_EQ(Line(ReadText(p2), 0), "[T OK]no mark");

  ASSERT_TRUE(WriteScanFile(p3.c_str(), 3, r, s, nullptr, "[TIMESTAMP CORRECTED 1.002] x", 1, rec));
  EXPECT_EQ(Line(ReadText(p3), 0), "[TIMESTAMP CORRECTED 1.002] x");
  ASSERT_EQ(Read(p3), 1);
  EXPECT_EQ(rec_.timeStampMarked, 1);
  EXPECT_EQ(mark_, 1);

  // A line break inside a description must not split the file's first line.
  ASSERT_TRUE(WriteScanFile(p3.c_str(), 3, r, s, nullptr, "two\nlines", 0, rec));
  ASSERT_EQ(Read(p3), 1);
  EXPECT_EQ(n_, 3);
  EXPECT_STREQ(rec_.description, "[T OK]two");
}

TEST_F(ScanFileTest, DescriptionFilterStopsAtTheFirstOtherCharacter) {
  const std::string body = "R 1 20.0 3000 100 1.0e5 280 0\n 6.0 0.1 0\n 6.1 0.2 0\n";
  struct Case {
    std::string line1, stored;
    uint8_t mark;
  } cases[] = {
      {"sample A (dilute)", "sample A ", 0},
      {"[T OK] a_b-c#d/e\\f:g,h.i", "[T OK] a_b-c#d/e\\f:g,h.i", 1},
      {"tab\there", "tab", 0},
      {std::string(150, 'x'), std::string(99, 'x'), 0},
      {"", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line1);
    ASSERT_EQ(Read(WriteText("d.ra1", c.line1 + "\n" + body)), 1);
    EXPECT_EQ(std::string(rec_.description), c.stored);
    EXPECT_EQ(mark_, c.mark);
  }
}

TEST_F(ScanFileTest, RadialBinningAveragesRowsWithinOneBin) {
  const std::string p = WriteText("bin.ra1",
                                  "binning\nR 1 20.0 3000 100 1.0e5 280 0\n"
                                  "6.0000 1.0 0\n6.0010 2.0 0\n6.0025 4.0 0\n");
  ASSERT_EQ(Read(p, 0.002f), 1);
  ASSERT_EQ(n_, 2);
  EXPECT_NEAR(r_[1], 6.0005f, 1e-6f);
  EXPECT_FLOAT_EQ(s_[1], 1.5f);
  EXPECT_FLOAT_EQ(r_[2], 6.0025f);
  EXPECT_FLOAT_EQ(s_[2], 4.0f);

  // Three rows in one bin: running mean over all of them.
  const std::string q = WriteText("bin3.ra1",
                                  "binning\nR 1 20.0 3000 100 1.0e5 280 0\n"
                                  "6.000 1.0 0\n6.001 2.0 0\n6.002 6.0 0\n6.010 1 0\n");
  ASSERT_EQ(Read(q, 0.005f), 1);
  ASSERT_EQ(n_, 2);
  EXPECT_NEAR(r_[1], 6.001f, 1e-6f);
  EXPECT_NEAR(s_[1], 3.0f, 1e-6f);

  // The same rows shuffled average the same: the bins follow the radii.
  const std::string shuffled = WriteText("bin3s.ra1",
                                         "binning\nR 1 20.0 3000 100 1.0e5 280 0\n"
                                         "6.010 1 0\n6.002 6.0 0\n6.000 1.0 0\n6.001 2.0 0\n");
  ASSERT_EQ(Read(shuffled, 0.005f), 1);
  ASSERT_EQ(n_, 2);
  EXPECT_NEAR(r_[1], 6.001f, 1e-6f);
  EXPECT_NEAR(s_[1], 3.0f, 1e-6f);
  EXPECT_FLOAT_EQ(r_[2], 6.010f);
}

TEST_F(ScanFileTest, IsolatedSpikesAreDroppedOnlyForAbsorbanceAndFluorescence) {
  auto file = [&](char type) {
    std::string t = "spike\n";
    t += type;
    t += " 1 20.0 3000 100 1.0e5 280 0\n";
    const double v[] = {0.1, 0.1, 0.1, 0.6, 0.1, 0.1};
    for (int i = 0; i < 6; ++i) t += std::to_string(6.0 + 0.01 * i) + " " + std::to_string(v[i]) + " 0\n";
    return WriteText("spike.x", t);
  };
  ASSERT_EQ(Read(file('R')), 1);
  ASSERT_EQ(n_, 5);
  for (int i = 1; i <= 5; ++i) EXPECT_FLOAT_EQ(s_[i], 0.1f);
  EXPECT_FLOAT_EQ(r_[4], 6.04f);

  CurrentDataTypeFlags() = DataTypeFlags{};
  ASSERT_EQ(Read(file('P')), 1);
  EXPECT_EQ(n_, 6);

  CurrentDataTypeFlags() = DataTypeFlags{};
  CurrentDataTypeFlags().excludeSpikes = 0;
  ASSERT_EQ(Read(file('R')), 1);
  EXPECT_EQ(n_, 6);

  // Fluorescence compares with its own, much larger level.
  CurrentDataTypeFlags() = DataTypeFlags{};
  ASSERT_EQ(Read(file('F')), 1);
  EXPECT_EQ(n_, 6);
  EXPECT_FLOAT_EQ(CurrentDataTypeFlags().spikeThreshold, 100.0f);
}

TEST_F(ScanFileTest, RowCountFollowsNewlinesAndZeroRows) {
  const std::string head = "rows\nR 1 20.0 3000 100 1.0e5 280 0\n";
  struct Case {
    std::string rows;
    int points;
  } cases[] = {
      {"6.0 1 0\n6.1 2 0\n6.2 3 0\n", 3},
      {"6.0 1 0\n6.1 2 0\n6.2 3 0", 3},                // last row without newline
      {"6.0 1 0\n6.1 2 0\n6.2 3 0   ", 3},             // ... and with blanks after it
      {"6.0 1 0\n6.1 2 0\n0 0 0", 2},                  // a last "0" row still ends the data
      {"6.0 1 0\r6.1 2 0\r6.2 3 0", 3},                // bare CR line ends, none at the end
      {"6.0 1 0\n6.1 2 0\n   ", 2},                     // only blanks after the last break
      {"6.0 1 0\n6.1 2 0\n0 0 0\n6.3 4 0\n", 2},       // a row beginning with "0" ends the data
      {"6.0 1 0\r\n6.1 2 0\r\n", 2},                   // CR LF line ends
      {"6.0 1 0\n6.1 2 0\n\n\n", 2},                  // blank lines after the data
      {"6.0 1 0\n6.1 2 0\n0.0 0 0\n0.0 0 0\n", 2},
      {"6.2 3 0\n6.0 1 0\n6.1 2 0\n", 3},            // rows out of order are put in order
      {"6.1 2 0\n6.0 1 0\n   0.0 0 0\n", 2},         // ... before padding at the end goes
      {"6.0 1 0\n6.0 2 0\n6.1 3 0\n", 3},            // a radius repeated in order is kept
      {"6.0 1 0\n6.1 2 n/a\n", 2},                    // text in a column nobody reads
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rows);
    ASSERT_EQ(Read(WriteText("rows.ra1", head + c.rows)), 1);
    EXPECT_EQ(n_, c.points);
    for (int i = 1; i <= n_; ++i) EXPECT_FLOAT_EQ(s_[i], static_cast<float>(i));
  }
}

// Every byte of the last row counts: a file of 500 rows whose last row has no
// line break reads as 500 points, the last one whole, and the file is left as it was.
TEST_F(ScanFileTest, TheLastRowWithoutALineBreakIsRead) {
  std::string text = "last row\nR 1 20.0 3000 100 1.0e5 280 0\n";
  for (int i = 1; i <= 500; ++i) {
    char row[64];
    std::snprintf(row, sizeof row, "%.4f %.4f 0%s", 6.0 + 0.001 * i, 0.25 + 0.0005 * i, i < 500 ? "\n" : "");
    text += row;
  }
  const std::string p = WriteText("last.ra1", text);
  const auto bytes = fs::file_size(p);
  ASSERT_EQ(bytes, text.size());
  ASSERT_EQ(Read(p), 1);
  ASSERT_EQ(n_, 500);
  EXPECT_FLOAT_EQ(r_[500], 6.5f);
  EXPECT_FLOAT_EQ(s_[500], 0.5f);
  EXPECT_EQ(fs::file_size(p), bytes);
  EXPECT_EQ(ReadText(p), text);
}

TEST_F(ScanFileTest, RewritingKeepsTheFileTimes) {
  const std::string p = WriteText("t.ra1", "times\nR 1 20.0 3000 100 1.0e5 280 0\n6.0 1 0\n6.1 2 0\n");
  ASSERT_TRUE(platform::SetFileTimes(p, 1.0e9 + 0.25, 1.1e9 + 0.5));
  ASSERT_EQ(Read(p), 1);
  ASSERT_EQ(rec_.fileTimesValid, 1);
  EXPECT_NEAR(rec_.lastAccessTime, 1.0e9 + 0.25, 1e-5);
  EXPECT_NEAR(rec_.lastWriteTime, 1.1e9 + 0.5, 1e-5);
  ASSERT_TRUE(WriteScanFile(p.c_str(), n_, r_, s_, nullptr, nullptr, 0, rec_));
  const auto after = platform::GetFileTimes(p);
  ASSERT_TRUE(after.has_value());
  EXPECT_NEAR(after->access, 1.0e9 + 0.25, 1e-5);
  EXPECT_NEAR(after->modification, 1.1e9 + 0.5, 1e-5);

  // A record without valid times leaves the file's times to the system.
  rec_.fileTimesValid = 0;
  ASSERT_TRUE(WriteScanFile(p.c_str(), n_, r_, s_, nullptr, nullptr, 0, rec_));
  EXPECT_GT(platform::GetFileTimes(p)->modification, 1.5e9);
}

TEST_F(ScanFileTest, AccelerationIsEstimatedFromOmegaSquaredT) {
  // A linear ramp to omega in T seconds, then constant speed:
  // w2t = omega^2 (t - 2T/3), so the estimate recovers T exactly.
  const double rpm = 40000, T = 180, t = 2400;
  const double omega = rpm * 3.14159265358979323846 / 30;
  char text[300];
  std::snprintf(text, sizeof text, "ramp\nR 1 20.0 %.0f %.0f %.12e 280 0\n6.0 1 0\n6.1 1 0\n", rpm, t,
                omega * omega * (t - 2 * T / 3));
  ASSERT_EQ(Read(WriteText("ramp.ra1", text)), 1);
  EXPECT_NEAR(rec_.accelerationTime, T, 1e-6);
  EXPECT_NEAR(rec_.acceleration, rpm / T, 1e-6);

  // Instant start (no ramp) and a w2t larger than possible give no ramp.
  EXPECT_NEAR(EstimateAccelerationTime(40000.0f, t, omega * omega * t), 0.0, 1e-6);
  EXPECT_EQ(EstimateAcceleration(40000.0f, EstimateAccelerationTime(40000.0f, t, omega * omega * t * 1.1)),
            1.0e6);
  EXPECT_EQ(EstimateAcceleration(0.0f, EstimateAccelerationTime(0.0f, t, 0)), 1.0e6);
}

TEST_F(ScanFileTest, FluorescenceSettingsComeFromTheDescription) {
  const std::string p = WriteText("f.fi1",
                                  "FDS Voltage: 12.5 Gain: 3 Range: 2\n"
                                  "F 1 20.0 50000 600 1.6e10 488 0\n6.0 100 1\n6.1 200 2\n");
  ASSERT_EQ(Read(p), 1);
  EXPECT_EQ(rec_.fluorescence, 1);
  EXPECT_FLOAT_EQ(rec_.voltage, 12.5f);
  EXPECT_EQ(rec_.gain, 3);
  EXPECT_EQ(rec_.range, 2);
  EXPECT_EQ(rec_.timeStampMarked, 1);
  EXPECT_EQ(mark_, 0);  // the description itself carries no mark
  EXPECT_EQ(CurrentDataTypeFlags().fluorescence, 1);
  EXPECT_EQ(CurrentDataTypeFlags().absorbance, 1);
  ASSERT_NE(t_, nullptr);
  EXPECT_FLOAT_EQ(t_[2], 2.0f);

  // An absorbance scan clears them.
  ASSERT_EQ(Read(WriteText("r.ra1", "Voltage: 9\nR 1 20.0 3000 100 1.0e5 280 0\n6.0 1 0\n6.1 1 0\n")), 1);
  EXPECT_EQ(rec_.fluorescence, 0);
  EXPECT_EQ(rec_.voltage, 0.0f);
  EXPECT_EQ(CurrentDataTypeFlags().fluorescence, 0);
}

TEST_F(ScanFileTest, MeniscusNoteIsTheNumberBeforeTheWord) {
  const std::string body = "\nR 1 20.0 3000 100 1.0e5 280 0\n6.0 1 0\n6.1 1 0\n";
  struct Case {
    std::string line1;
    float note;
  } cases[] = {{"6.0512 - meniscus", 6.0512f},
               {"run 5.9 6.0512 - meniscus set", 6.0512f},
               {" - meniscus at the start", 0.0f},
               {"6.05 - meniscus", 6.05f},
               {"x - meniscus", 0.0f},
               {"no note", 0.0f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line1);
    ASSERT_EQ(Read(WriteText("men.ra1", c.line1 + body)), 1);
    EXPECT_FLOAT_EQ(rec_.meniscusNote, c.note);
  }
}

TEST_F(ScanFileTest, ThirdColumnAndColumnModes) {
  const std::string p = WriteText("c.ra1", "three\nR 1 20.0 3000 100 1.0e5 280 2\n6.0 1 7\n6.1 2 8\n");
  ASSERT_EQ(Read(p), 1);
  ASSERT_NE(t_, nullptr);
  EXPECT_FLOAT_EQ(t_[1], 7.0f);
  EXPECT_FLOAT_EQ(t_[2], 8.0f);
  ASSERT_EQ(Read(p, 0, false), 1);
  EXPECT_EQ(n_, 2);

  // n-column mode: first two of four numbers, no third array.
  CurrentDataTypeFlags().nColumnsMode = 1;
  CurrentDataTypeFlags().nColumns = 4;
  ASSERT_EQ(Read(WriteText("n.ra1", "four\nR 1 20.0 3000 100 1.0e5 280 0\n6.0 1 9 9\n6.1 2 9 9\n")), 1);
  ASSERT_EQ(n_, 2);
  EXPECT_FLOAT_EQ(r_[2], 6.1f);
  EXPECT_FLOAT_EQ(s_[2], 2.0f);
  EXPECT_EQ(t_, nullptr);
}

TEST_F(ScanFileTest, ElectrophoresisHeaderAndSignals) {
  CurrentDataTypeFlags().electrophoresis = 1;
  const std::string p = WriteText("e.ra1",
                                  "electrophoresis\nR 7 345.5 532 2 9\n0.5 10 1\n0.6 1000 1\n0.7 -1 1\n");
  ASSERT_EQ(Read(p), 1);
  EXPECT_EQ(rec_.type, 'R');
  EXPECT_EQ(rec_.cell, 0);
  EXPECT_FLOAT_EQ(rec_.temperature, 20.0f);
  EXPECT_FLOAT_EQ(rec_.rpm, 1.0f);
  EXPECT_EQ(rec_.timeRead, 345.5);
  EXPECT_EQ(rec_.w2t, 345.5);
  EXPECT_FLOAT_EQ(rec_.wavelength, 532.0f);
  EXPECT_EQ(rec_.headerCount, 2);
  EXPECT_EQ(rec_.acceleration, 1.0e6);
  ASSERT_EQ(n_, 3);
  EXPECT_FLOAT_EQ(s_[1], 2.0f);  // log10(1000 / 10)
  EXPECT_FLOAT_EQ(s_[2], 0.0f);
  EXPECT_FLOAT_EQ(s_[3], -1.0f);  // not positive: kept as read
  EXPECT_EQ(CurrentDataTypeFlags().absorbance, 1);
}

// Bad input fails without touching the outputs, and the problem the user
// is told says where and what was expected.
TEST_F(ScanFileTest, BadInputFailsWithoutTouchingTheOutputs) {
  const std::string head = "desc\nR 1 20.0 3000 100 1.0e5 280 0\n";
  std::string random(4096, '\0');
  std::mt19937 gen(7);
  for (char& c : random) c = static_cast<char>(gen() & 0xff);
  struct Case {
    const char* what;
    std::string text;
    const char* problem = nullptr;  // the start of what the user is told
  } cases[] = {
      {"empty file", "", "the file is empty"},
      {"description only", "only a description\n"},
      {"words on the second line", "a note\nplain words on the second line\n", "line 2: expected the scan header"},
      {"header cut short", "desc\nR 1 20.0 3000\n", "line 2: expected seven numbers after the type letter"},
      {"header cut mid-file", "desc\nR 1 20.0 3000 100 1.0e5"},
      {"unknown type letter", "desc\nQ 1 20.0 3000 100 1.0e5 280 0\n6.0 1 0\n6.1 1 0\n"},
      {"no rows", head, "no data rows"},
      {"NaN in the header", "desc\nR 1 nan 3000 100 1.0e5 280 0\n6.0 1 0\n6.1 1 0\n"},
      {"infinite w2t", "desc\nR 1 20 3000 100 1e999 280 0\n6.0 1 0\n6.1 1 0\n"},
      {"NaN in a row", head + "6.0 1 0\n6.1 nan 0\n6.2 1 0\n", "line 4: expected finite numbers"},
      {"infinity in a row", head + "6.0 1 0\n6.1 inf 0\n6.2 1 0\n"},
      {"beyond float range", head + "6.0 1e300 0\n6.1 1 0\n"},
      {"non-numeric rows", head + "abc def ghi\nxyz uvw rst\n"},
      {"text for a signal", head + "6.0 1 0\n6.1 abc 0\n6.2 1 0\n", "line 4: expected finite numbers"},
      {"text for a radius", head + "6.0 1 0\n6.1 1 0\nx 1 0\n", "line 5: expected finite numbers"},
      {"every row at one radius", head + "5.99 1 0\n5.99 2 0\n5.99 3 0\n",
       "every data row holds the same radius (5.9900 cm)"},
      {"rows out of order with a radius twice", head + "6.1 1 0\n6.0 2 0\n6.2 2 0\n6.1 3 0\n",
       "line 6: the radius 6.1000 cm appears twice in rows that are not in order of radius"},
      {"random bytes", random},
      {"first row begins with 0", head + "0.5 1 0\n0.6 1 0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string p = WriteText("bad.ra1", c.text);
    ScanRecord rec;
    rec.cell = 99;
    int n = -5;
    float *r = nullptr, *s = nullptr, *t = nullptr;
    EXPECT_EQ(ReadScanFile(p.c_str(), &rec, &n, &r, &s, &t, nullptr, 0.0f), 0);
    if (c.problem) {
      EXPECT_EQ(ScanReadProblem().rfind(c.problem, 0), 0u) << ScanReadProblem();
    }
    EXPECT_EQ(n, -5);
    EXPECT_EQ(r, nullptr);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(rec.cell, 99);
  }

  // Missing arguments, a missing file and a directory.
  const std::string good = WriteText("good.ra1", head + "6.0 1 0\n6.1 1 0\n");
  int n = 0;
  float *r = nullptr, *s = nullptr;
  ScanRecord rec;
  EXPECT_EQ(ReadScanFile(nullptr, &rec, &n, &r, &s, nullptr, nullptr, 0), 0);
  EXPECT_EQ(ReadScanFile(good.c_str(), nullptr, &n, &r, &s, nullptr, nullptr, 0), 0);
  EXPECT_EQ(ReadScanFile(good.c_str(), &rec, nullptr, &r, &s, nullptr, nullptr, 0), 0);
  EXPECT_EQ(ReadScanFile(good.c_str(), &rec, &n, nullptr, &s, nullptr, nullptr, 0), 0);
  EXPECT_EQ(ReadScanFile(good.c_str(), &rec, &n, &r, nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(ReadScanFile(Path("missing.ra1").c_str(), &rec, &n, &r, &s, nullptr, nullptr, 0), 0);
  EXPECT_EQ(ScanReadProblem(), "the file cannot be read (missing, not readable or not a regular file)");
  EXPECT_EQ(ReadScanFile(dir_.string().c_str(), &rec, &n, &r, &s, nullptr, nullptr, 0), 0);
  EXPECT_EQ(r, nullptr);
  // A FIFO is refused at once (nobody will ever write into this one), and
  // a file of NUL bytes ends before its first byte.
  ASSERT_EQ(mkfifo(Path("fifo.ra1").c_str(), 0644), 0);
  EXPECT_EQ(ReadScanFile(Path("fifo.ra1").c_str(), &rec, &n, &r, &s, nullptr, nullptr, 0), 0);
  const std::string nul = WriteText("nul.ra1", std::string(1 << 20, '\0') + head + "6.0 1 0\n");
  EXPECT_EQ(ReadScanFile(nul.c_str(), &rec, &n, &r, &s, nullptr, nullptr, 0), 0);
  EXPECT_EQ(r, nullptr);
}

TEST_F(ScanFileTest, RowsHoldAsManyColumnsAsTheFirstOneAndAnyLineEndCounts) {
  // Radii and signals chosen so that reading pairs as triples would shift
  // every row: the 2-column and 3-column forms must give the same points.
  std::string three = "[T OK]scan\r\nR 1 20.0 50000 1200 3.2899e+10 280 0\r\n", two = three;
  for (int k = 0; k < 20; ++k) {
    char row[80];
    std::snprintf(row, sizeof row, "   %.4f  %.5e", 6.0 + 0.003 * k, 0.1 + 0.01 * k);
    three += std::string(row) + "   1.00000e-03 \r\n";
    two += std::string(row) + "\r\n";
  }
  auto bareCr = [](std::string t) {
    std::string out;
    for (char c : t)
      if (c != '\n') out += c;
    return out;
  };
  struct Case {
    const char* what;
    std::string text;
    char type;
  } cases[] = {{"three columns, CRLF", three, 'R'},
               {"two columns, CRLF", two, 'R'},
               {"two columns, bare CR", bareCr(two), 'R'},
               {"three columns, bare CR", bareCr(three), 'R'},
               {"two-column intensity", [&] {
                  std::string t = two;
                  t[t.find("R 1")] = 'I';
                  return t;
                }(), 'I'}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CurrentDataTypeFlags() = DataTypeFlags{};
    ASSERT_EQ(Read(WriteText("x.ra1", c.text)), 1);
    EXPECT_EQ(rec_.type, c.type);
    EXPECT_FLOAT_EQ(rec_.rpm, 50000.0f);
    ASSERT_EQ(n_, 20);
    for (int k = 1; k <= 20; ++k) {
      EXPECT_FLOAT_EQ(r_[k], static_cast<float>(6.0 + 0.003 * (k - 1)));
      EXPECT_FLOAT_EQ(s_[k], static_cast<float>(0.1 + 0.01 * (k - 1)));
    }
    if (c.type == 'I') {
      EXPECT_EQ(t_, nullptr);  // no third column to keep
    }
  }
}

TEST_F(ScanFileTest, AFileIsFoundWhateverTheCaseOfItsName) {
  WriteText("00001.ra2", "a");
  WriteText("00002.RA2", "b");
  WriteText("00003.Ra2", "c");
  WriteText("00003.rA2", "d");
  const std::string folder = dir_.string() + "/";
  struct Case {
    const char* asked;
    const char* found;
  } cases[] = {{"00001.RA2", "00001.ra2"},   // only another case exists
               {"00002.RA2", "00002.RA2"},   // the exact name
               {"00003.RA2", "00003.RA2"},   // two candidates: none is taken
               {"00004.RA2", "00004.RA2"}};  // nothing of that name
  for (const Case& c : cases)
    EXPECT_EQ(FindFileIgnoringCase(folder + c.asked), folder + c.found) << c.asked;
}

TEST_F(ScanFileTest, OddButReadableInputKeepsTheRowsThatAreThere) {
  const std::string head = "desc\nR 1 20.0 3000 100 1.0e5 280 0\n";
  // A 10 MB line in the middle: one long token, read as its numeric prefix.
  std::string big = head + "6.0 1 0\n6.1 2" + std::string(10 << 20, '7') + " 0\n6.2 3 0\n";
  ASSERT_EQ(Read(WriteText("big.ra1", big)), 0);  // the huge number is out of range
  big = head + "6.0 1 0\n6.1 2 0" + std::string(10 << 20, 'x') + "\n6.2 3 0\n";
  ASSERT_EQ(Read(WriteText("big2.ra1", big)), 1);
  EXPECT_EQ(n_, 3);
  EXPECT_FLOAT_EQ(s_[3], 3.0f);
  // A 10 MB description is cut to 99 characters.
  ASSERT_EQ(Read(WriteText("bigdesc.ra1", std::string(10 << 20, 'd') + "\nR 1 20 3000 100 1e5 280 0\n6 1 0\n")), 1);
  EXPECT_EQ(std::string(rec_.description).size(), 99u);
  // Rows cut short at the end of the file keep the complete rows only.
  ASSERT_EQ(Read(WriteText("cut.ra1", head + "6.0 1 0\n6.1 2 0\n6.2 3\n")), 1);
  EXPECT_EQ(n_, 2);
  // Numbers with trailing letters read as their numeric prefix.
  ASSERT_EQ(Read(WriteText("pre.ra1", head + "6.0cm 1.5e0x 0\n+6.1 .5 0\n")), 1);
  ASSERT_EQ(n_, 2);
  EXPECT_FLOAT_EQ(r_[1], 6.0f);
  EXPECT_FLOAT_EQ(s_[1], 1.5f);
  EXPECT_FLOAT_EQ(r_[2], 6.1f);
  EXPECT_FLOAT_EQ(s_[2], 0.5f);
  // Many empty lines cost nothing.
  ASSERT_EQ(Read(WriteText("empty.ra1", head + "6.0 1 0\n6.1 2 0\n" + std::string(1 << 20, '\n'))), 1);
  EXPECT_EQ(n_, 2);
}

TEST_F(ScanFileTest, RandomisedInputNeverBreaksTheReader) {
  const std::string valid =
      "run 6.0512 - meniscus [T OK]\nR 1 20.0 50000 1200 1.2e9 280 2\n"
      " 6.0000 0.1 0.01\n 6.0010 0.2 0.01\n 6.0020 0.9 0.01\n 6.0030 0.2 0.01\n"
      " 6.0040 0.2 0.01\n 6.0050 0.3 0.01\n";
  const char alphabet[] = "0123456789.-+eE \n\r\tRIPFWVnai-meniscus[]";
  std::mt19937 gen(12345);
  const std::string p = Path("fuzz.ra1");
  int accepted = 0;
  for (int k = 0; k < 1500; ++k) {
    std::string text = valid;
    const int edits = 1 + static_cast<int>(gen() % 12);
    for (int e = 0; e < edits; ++e) {
      const size_t at = text.empty() ? 0 : gen() % text.size();
      switch (gen() % 4) {
        case 0:
          if (!text.empty()) text[at] = alphabet[gen() % (sizeof alphabet - 1)];
          break;
        case 1:
          text.insert(at, 1, static_cast<char>(gen() & 0xff));
          break;
        case 2:
          if (!text.empty()) text.erase(at, 1 + gen() % 8);
          break;
        default:
          text.resize(text.empty() ? 0 : gen() % text.size());
      }
    }
    std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
    CurrentDataTypeFlags() = DataTypeFlags{};
    CurrentDataTypeFlags().nColumnsMode = (k % 7 == 0);
    CurrentDataTypeFlags().nColumns = 1 + k % 4;
    const float bin = (k % 3 == 0) ? 0.0015f : 0.0f;
    if (Read(p, bin, k % 2 == 0) == 1) {
      ++accepted;
      ASSERT_GE(n_, 1);
      ASSERT_LE(n_, 6);
      for (int i = 1; i <= n_; ++i) {
        ASSERT_TRUE(std::isfinite(r_[i]));
        ASSERT_TRUE(std::isfinite(s_[i]));
        if (t_) {
          ASSERT_TRUE(std::isfinite(t_[i]));
        }
      }
      ASSERT_LT(std::strlen(rec_.description), 100u);
    }
  }
  EXPECT_GT(accepted, 0);
}

TEST_F(ScanFileTest, AFailedWriteIsReportedToTheUser) {
  platform::ScriptedUserInterface ui;
  ui.ExpectBox("", "Attention: could not open");
  platform::ScopedUI guard(ui);
  FloatVec r(1, 2), s(1, 2);
  const ScanRecord rec = MakeRecord('R');
  const std::string p = Path("no/such/folder/x.ra1");
  EXPECT_FALSE(WriteScanFile(p.c_str(), 2, r, s, nullptr, nullptr, 0, rec));
  EXPECT_TRUE(ui.AllConsumed());
  EXPECT_TRUE(ui.failures.empty());
  EXPECT_EQ(ui.beeps, 1);  // the bell in front of the text
}

