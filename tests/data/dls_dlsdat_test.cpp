#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <limits>

#include <cmath>
#include <string>
#include <vector>

#include "data/dlsdat_file.h"
#include "platform/automatic_ui.h"
#include "platform/user_interface.h"
#include "dls_fixture.h"

namespace {

const double kTau[] = {1e-6, 1e-5, 1e-4, 1e-3, 1e-2};
const double kG2m1[] = {0.81, 0.49, 0.16, 0.0, -0.04};

DlsConditions Conditions() {
  DlsConditions c;
  c.temperature = 20.7f;
  c.time = 45015;
  c.countRate = 250000;
  c.refractiveIndex = 1.333f;
  c.viscosity = 0.01002f;
  c.angle = 90;
  c.wavelength = 6.328e-7f;
  return c;
}

// Five lag times as an instrument reader writes them (plain tau).
std::string WriteFive(const DlsTest& t, const std::string& name) {
  float x[6], y[6];
  for (int k = 1; k <= 5; ++k) {
    x[k] = static_cast<float>(kTau[k - 1]);
    y[k] = static_cast<float>(kG2m1[k - 1]);
  }
  EXPECT_TRUE(WriteDlsdatArrays(t.Path(name), 5, x, y, DlsXForm::LagTimes, "lysozyme 2mg/ml", Conditions()));
  return t.Path(name);
}

using DlsdatTest = DlsTest;

TEST_F(DlsdatTest, EveryRowLoadsAsLogLagTimeAndFieldAutocorrelation) {
  const std::string path = WriteFive(*this, "a.dlsdat");
  const Loaded field = Load(path, false);
  ASSERT_EQ(field.ok, 1) << field.reason;
  ASSERT_EQ(field.n, 5);
  EXPECT_EQ(field.header.points, 5);
  EXPECT_EQ(field.header.fieldFlag, 1);
  EXPECT_STREQ(field.header.description, "lysozyme 2mg/ml");
  EXPECT_FLOAT_EQ(field.header.temperature, 20.7f);
  EXPECT_DOUBLE_EQ(field.header.time, 45015);
  EXPECT_FLOAT_EQ(field.header.countRate, 250000);
  EXPECT_FLOAT_EQ(field.header.viscosity, 0.01002f);
  EXPECT_FLOAT_EQ(field.header.wavelength, 6.328e-7f);
  for (int k = 0; k < 5; ++k) {
    EXPECT_NEAR(field.x[k], std::log10(kTau[k]), 1e-5);
    EXPECT_NEAR(field.y[k], SignedRoot(kG2m1[k]), 1e-5);
  }
  EXPECT_FLOAT_EQ(field.y[4], -0.2f);  // the sign of a negative g(2)-1 is kept

  const Loaded kept = Load(path, true);
  ASSERT_EQ(kept.ok, 1);
  EXPECT_EQ(kept.header.fieldFlag, 0);
  for (int k = 0; k < 5; ++k) EXPECT_NEAR(kept.y[k], kG2m1[k], 1e-6);
}

TEST_F(DlsdatTest, LetterCFilesHoldG2AndLoadTheSameCurve) {
  std::string text = "as g2\nC 20.000000 0 1.00 1.333000 0.010020 90.000000 6.328000e-07\n";
  for (int k = 0; k < 5; ++k) {
    char row[64];
    std::snprintf(row, sizeof row, "   %1.5e  %1.5e \n", kTau[k], 1.0 + kG2m1[k]);
    text += row;
  }
  const Loaded c = Load(Write("c.dlsdat", text), true);
  const Loaded a = Load(WriteFive(*this, "a.dlsdat"), true);
  ASSERT_EQ(c.ok, 1) << c.reason;
  ASSERT_EQ(c.n, a.n);
  for (int k = 0; k < a.n; ++k) {
    EXPECT_FLOAT_EQ(c.x[k], a.x[k]);
    EXPECT_NEAR(c.y[k], a.y[k], 1e-5);
  }
}

TEST_F(DlsdatTest, LineEndsAndTheLastRowDoNotLoseRows) {
  const std::string head = "d\nA 20.7 10 1.00 1.333 0.01002 90 6.328e-07\n";
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"no final newline", head + "1e-6 0.5\n1e-5 0.4\n1e-4 0.3"},
      {"CRLF", "d\r\nA 20.7 10 1.00 1.333 0.01002 90 6.328e-07\r\n1e-6 0.5\r\n1e-5 0.4\r\n1e-4 0.3\r\n"},
      {"blank lines at the end", head + "1e-6 0.5\n1e-5 0.4\n1e-4 0.3\n\n\n"},
      // A newline followed by the digit 0 must not end the rows.
      {"rows beginning with 0", head + "1e-6 0.5\n0.00001 0.4\n0.0001 0.3\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Loaded l = Load(Write("f.dlsdat", c.text), true);
    ASSERT_EQ(l.ok, 1) << l.reason;
    ASSERT_EQ(l.n, 3);
    EXPECT_NEAR(l.x[1], -5.0, 1e-6);
    EXPECT_FLOAT_EQ(l.y[2], 0.3f);
    EXPECT_FLOAT_EQ(l.header.temperature, 20.7f);
  }
}

TEST_F(DlsdatTest, DamagedFilesAreRefusedWithAReason) {
  const std::string rows = "1e-6 0.5\n1e-5 0.4\n";
  struct Case {
    const char* text;
    const char* reason;
  } cases[] = {
      {"", "empty file"},
      {"only a description\n", "no header line"},
      {"d\nB 20 0 1 1.333 0.01 90 6e-7\n1e-6 0.5\n", "does not begin with A or C"},
      {"d\nA 20 0 1 1.333 0.01 90\n1e-6 0.5\n", "fewer than seven numbers"},
      {"d\nA 20 0 1 1.333 0.01 ninety 6e-7\n1e-6 0.5\n", "\"ninety\" in line 2 is not a number"},
      {"d\nA 20 0 1 1.333 0.01 90 0\n1e-6 0.5\n", "wavelength"},
      {"d\nA 20 0 1 1.333 0.01 0 6e-7\n1e-6 0.5\n", "angle"},
      {"d\nA 20 0 1 1.333 0.01 180.5 6e-7\n1e-6 0.5\n", "angle"},
      {"d\nA 20 0 1 0 0.01 90 6e-7\n1e-6 0.5\n", "refractive index"},
      {"d\nA 20 0 1 1.333 -0.01 90 6e-7\n1e-6 0.5\n", "viscosity"},
      {"d\nA 20 0 1 1.333 0.01 90 6e-7\n", "no data rows"},
      {"d\nA 20 0 1 1.333 0.01 90 6e-7\n1e-6 0.5\n0 0.4\n", "row 2: the lag time 0 is not positive"},
      {"d\nA 20 0 1 1.333 0.01 90 6e-7\n1e-6 0.5\n-1e-5 0.4\n", "not positive"},
      {"d\nA 20 0 1 1.333 0.01 90 6e-7\n1e-6 0.5\n1e-5 nan\n", "row 2 holds something that is not a number"},
      {"d\nA 20 0 1 1.333 0.01 90 6e-7\n1e-6 0.5\n1e-5\n", "row 2 is incomplete"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Loaded l = Load(Write("bad.dlsdat", c.text), false);
    EXPECT_EQ(l.ok, 0);
    EXPECT_NE(l.reason.find(c.reason), std::string::npos) << l.reason;
  }
  EXPECT_EQ(Load(Path("missing.dlsdat"), false).reason, "could not open " + Path("missing.dlsdat"));
  EXPECT_TRUE(ui_->transcript.empty());  // reading reports nothing itself
}

TEST_F(DlsdatTest, FieldAndIntensityConversionsAreInverse) {
  const float original[] = {0, 0.81f, 0.25f, 0.0f, -0.09f, 1e-8f};
  float y[6];
  std::copy(original, original + 6, y);
  DlsHeaderRecord r;
  EXPECT_EQ(ConvertG1ToG2(5, y, r), 0);  // already g(2)-1: nothing changes
  EXPECT_FLOAT_EQ(y[1], 0.81f);
  EXPECT_EQ(ConvertG2ToG1(5, y, r), 1);
  EXPECT_EQ(r.fieldFlag, 1);
  EXPECT_FLOAT_EQ(y[1], 0.9f);
  EXPECT_FLOAT_EQ(y[4], -0.3f);
  EXPECT_EQ(ConvertG2ToG1(5, y, r), 0);
  EXPECT_FLOAT_EQ(y[1], 0.9f);
  EXPECT_EQ(ConvertG1ToG2(5, y, r), 1);
  EXPECT_EQ(r.fieldFlag, 0);
  for (int k = 1; k <= 5; ++k) EXPECT_NEAR(y[k], original[k], 1e-7) << k;
}

TEST_F(DlsdatTest, WritingAValueAboveOneWritesAllRowsThenWarns) {
  ui_->ExpectBox("Error", "please check DLSDAT format - should be g(2)-1");
  float x[4] = {0, 1e-6f, 1e-5f, 1e-4f}, y[4] = {0, 1.5f, 0.5f, 0.1f};
  EXPECT_TRUE(WriteDlsdatArrays(Path("high.dlsdat"), 3, x, y, DlsXForm::LagTimes, "", Conditions()));
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_TRUE(ui_->failures.empty());
  EXPECT_EQ(Load(Path("high.dlsdat"), true).n, 3);

  ui_->ExpectBox("Error", "Attention: could not open " + Path("no/such/folder/x.dlsdat"));
  EXPECT_FALSE(WriteDlsdatArrays(Path("no/such/folder/x.dlsdat"), 3, x, y, DlsXForm::LagTimes, "", Conditions()));
  EXPECT_TRUE(ui_->failures.empty());
}

// What is written must load: a lag time that single precision cannot hold
// (10^39 s from a loaded log10 of 39) would be written as "inf", so the
// export is refused at its row and nothing is written; 10^38 s still loads.
TEST_F(DlsdatTest, AnExportItsLoaderCouldNotReadIsRefusedAtItsRow) {
  DlsHeaderRecord r;
  r.wavelength = 6.328e-7f;
  r.angle = 90;
  r.refractiveIndex = 1.33f;
  r.viscosity = 0.01f;
  struct Case {
    const char* name;
    float x2, y2;
    const char* said;  // "" when the file is written
  } cases[] = {
      {"lag time above single precision", 39.0f, 0.2f,
       "row 2: the lag time 1e+39 s is outside the range a dlsdat file can hold"},
      {"lag time below single precision", -46.0f, 0.2f,
       "row 2: the lag time 1e-46 s is outside the range a dlsdat file can hold"},
      {"value not finite", -3.0f, std::numeric_limits<float>::infinity(),
       "row 2: the value inf is outside the range a dlsdat file can hold"},
      {"largest lag time", 38.0f, 0.2f, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(Path("edge.dlsdat"));
    float x[3] = {0, -5.0f, c.x2}, y[3] = {0, 0.6f, c.y2};
    if (*c.said) ui_->ExpectBox("Error", std::string("Attention: nothing written to ") + Path("edge.dlsdat") + ":\n" + c.said);
    EXPECT_EQ(WriteDlsdatSet(Path("edge.dlsdat"), 2, x, y, "edge", r), !*c.said);
    EXPECT_TRUE(ui_->AllConsumed());
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    if (*c.said) {
      EXPECT_FALSE(Exists("edge.dlsdat"));
    } else {
      const Loaded l = Load(Path("edge.dlsdat"), true);
      ASSERT_EQ(l.ok, 1) << l.reason;
      ASSERT_EQ(l.n, 2);
      EXPECT_NEAR(l.x[1], 38.0f, 1e-5);
    }
  }
}

// A disk that fills up midway (a file-size limit in a child process here)
// leaves the earlier file whole and nothing beside it; a device of that
// name (a named pipe here) is never written over.
TEST_F(DlsdatTest, AnExportThatCannotBeWrittenWholeLeavesTheEarlierFile) {
  const std::string kept = Write("kept.dlsdat", "earlier export\n");
  std::vector<float> x(201), y(201);
  for (int k = 1; k <= 200; ++k) {
    x[static_cast<std::size_t>(k)] = 1e-6f * static_cast<float>(k);
    y[static_cast<std::size_t>(k)] = 0.5f;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    platform::AutomaticUserInterface quiet;
    platform::SetUI(&quiet);
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1000, 1000};
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool ok = WriteDlsdatArrays(kept, 200, x.data(), y.data(), DlsXForm::LagTimes, "new", Conditions());
    const bool said = !quiet.Log().empty() && quiet.Log().back().find("could not write " + kept) != std::string::npos;
    _exit(ok ? 1 : said ? 0 : 2);
  }
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Read("kept.dlsdat"), "earlier export\n");
  EXPECT_EQ(Files(), std::vector<std::string>{"kept.dlsdat"});

  ASSERT_EQ(mkfifo(Path("pipe.dlsdat").c_str(), 0644), 0);
  ui_->ExpectBox("Error", "Attention: could not open " + Path("pipe.dlsdat"));
  EXPECT_FALSE(WriteDlsdatArrays(Path("pipe.dlsdat"), 200, x.data(), y.data(), DlsXForm::LagTimes, "new", Conditions()));
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_TRUE(std::filesystem::is_fifo(Path("pipe.dlsdat")));
}

TEST_F(DlsdatTest, LoadedSetsAreWrittenWithTheirHeader) {
  DlsHeaderRecord r;
  std::snprintf(r.description, sizeof r.description, "%s", "set one");
  r.temperature = 22.5f;
  r.time = 1234.9;
  r.countRate = 12.5f;
  r.refractiveIndex = 1.34f;
  r.viscosity = 0.00955f;
  r.angle = 173;
  r.wavelength = 6.328e-7f;
  float x[3] = {0, -5.0f, -3.0f}, y[3] = {0, 0.6f, 0.2f};
  ASSERT_TRUE(WriteDlsdatSet(Path("set.dlsdat"), 2, x, y, nullptr, r));
  EXPECT_EQ(Read("set.dlsdat"),
            "set one\nA 22.500000 1234 12.50 1.340000 0.009550 173.000000 6.328000e-07\n"
            "   1.00000e-05  6.00000e-01 \n   1.00000e-03  2.00000e-01 \n");
  ASSERT_TRUE(WriteDlsdatSet(Path("other.dlsdat"), 2, x, y, "fitted\nto set one", r));
  const Loaded l = Load(Path("other.dlsdat"), true);
  EXPECT_STREQ(l.header.description, "fitted to set one");
  EXPECT_DOUBLE_EQ(l.header.time, 1234);
}

}  // namespace
