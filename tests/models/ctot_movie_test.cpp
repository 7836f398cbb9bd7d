// The ctot(r,t) file: a round trip through the writer and the reader, the
// files the reader must refuse whole, the meniscus shift into the model,
// and the check that a field covers the loaded scans.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "data/scan_set.h"
#include "models/nonideal/mean_field/ctot_movie.h"
#include "models/nonideal/mean_field/mean_field.h"
#include "platform/scripted_ui.h"
#include "tests/support/temp_folder.h"

namespace {

class CtotMovieTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scope_ = std::make_unique<platform::ScopedUI>(ui_);
    DeleteNonidealModel();
    DeleteMeanFieldCtot();
  }
  void TearDown() override {
    scope_.reset();
    DeleteMeanFieldCtot();
  }
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  // A field of `times` frames on 100 recorded radii 6.0..7.2 plus the two
  // extension points, in signal units of 3.3 per mg/ml.
  static void Fill(CCtotMovie& movie, int times, float rpm) {
    const int n = 100;
    std::vector<float> radii(n + 3);
    for (int i = 1; i <= n; ++i) radii[i + 1] = 6.0f + 1.2f * (i - 1) / (n - 1);
    radii[1] = radii[2] - 0.5f;
    radii[n + 2] = radii[n + 1] + 0.5f;
    std::vector<double> t(times + 1);
    std::vector<std::vector<float>> v(times + 1, std::vector<float>(n + 3));
    std::vector<float*> rows(times + 1);
    for (int f = 1; f <= times; ++f) {
      t[f] = 100.0 * f;
      for (int i = 1; i <= n + 2; ++i) v[f][i] = static_cast<float>(3.3 * (0.123456 * f + std::sin(i)));
      rows[f] = v[f].data();
    }
    ASSERT_TRUE(movie.Assign(times, n, radii.data(), t.data(), rows.data(), 6.0f, 7.2f, 3.3, rpm));
  }

  teststate::TempFolder folder_;
  const std::filesystem::path dir_{folder_.path()};
  platform::ScriptedUserInterface ui_;
  std::unique_ptr<platform::ScopedUI> scope_;
};

TEST_F(CtotMovieTest, WrittenFieldReadsBackToSixDecimals) {
  CCtotMovie out;
  Fill(out, 5, 50000);
  const std::string path = (dir_ / "field.ctot").string();
  ASSERT_TRUE(out.SaveAs(path));
  CCtotMovie in;
  ASSERT_TRUE(in.ReadFile(path));
  EXPECT_TRUE(in.loaded && in.saved);
  EXPECT_EQ(in.timeCount, 5);
  EXPECT_EQ(in.radiusCount, 102);
  EXPECT_FLOAT_EQ(in.meniscus, 6.0f);
  EXPECT_FLOAT_EQ(in.bottom, 7.2f);
  EXPECT_EQ(in.scale, 1.0f);
  EXPECT_EQ(in.rpm, 50000.0f);
  for (int f = 1; f <= 5; ++f) {
    EXPECT_NEAR(in.times[f], 100.0 * f, 1e-6);
    for (int i = 1; i <= 102; ++i) {
      // In mg/ml: the signal divided by 3.3.
      EXPECT_NEAR(in.Value(f, i), 0.123456 * f + std::sin(i), 1e-6);
      EXPECT_NEAR(in.Value(f, i), out.Value(f, i), 5e-7 + 1e-7);
    }
  }
  for (int i = 1; i <= 102; ++i) EXPECT_NEAR(in.radii[i], out.radii[i], 5e-7 + 1e-6);
  // Line ends of another system read the same.
  std::ifstream f(path);
  std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  CCtotMovie dos;
  ASSERT_TRUE(dos.ReadFile(Write("dos.ctot", crlf)));
  EXPECT_EQ(dos.Value(3, 17), in.Value(3, 17));
}

TEST_F(CtotMovieTest, ABadFileFailsWholeAndLeavesTheMovieEmpty) {
  const std::string row = "0.1 0.2 0.3\n";
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"five header items", "2 3 6.0 7.2 1.0\n1 2\n5.5 6 7.7\n" + row + row},
      {"short row", "2 3 6.0 7.2 1.0 50000\n1 2\n5.5 6 7.7\n" + row + "0.1 0.2\n"},
      {"no time count", "0 3 6.0 7.2 1.0 50000\n\n5.5 6 7.7\n"},
      {"negative radius count", "1 -3 6.0 7.2 1.0 50000\n1\n"},
      {"two radii", "1 2 6.0 7.2 1.0 50000\n1\n5.5 7.7\n0.1 0.2\n"},
      {"counts beyond the file", "100000 100000 6.0 7.2 1.0 50000\n1 2\n"},
      {"not finite", "2 3 6.0 7.2 1.0 50000\n1 2\n5.5 6 7.7\n" + row + "0.1 nan 0.3\n"},
      {"infinite", "2 3 6.0 7.2 1.0 50000\n1 inf\n5.5 6 7.7\n" + row + row},
      {"zero scale", "2 3 6.0 7.2 0 50000\n1 2\n5.5 6 7.7\n" + row + row},
      {"negative scale", "2 3 6.0 7.2 -1 50000\n1 2\n5.5 6 7.7\n" + row + row},
      {"long trailing text", "2 3 6.0 7.2 1.0 50000 " + std::string(150, 'x') + " 3\n1 2\n5.5 6 7.7\n" + row + row},
      {"text for a value", "2 3 6.0 7.2 1.0 50000\n1 2\n5.5 six 7.7\n" + row + row},
      {"empty", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CCtotMovie movie;
    Fill(movie, 2, 50000);
    EXPECT_FALSE(movie.ReadFile(Write("bad.ctot", c.text)));
    EXPECT_FALSE(movie.HasField());
    EXPECT_EQ(movie.timeCount, 0);
    EXPECT_TRUE(movie.values.empty());
  }
  // A little text after the numbers of a line is skipped.
  CCtotMovie ok;
  EXPECT_TRUE(ok.ReadFile(Write("ok.ctot", "2 3 6.0 7.2 2.0 50000 written by hand\n1 2 s\n5.5 6 7.7\n" + row + row)));
  EXPECT_EQ(ok.scale, 2.0f);
  CCtotMovie missing;
  EXPECT_FALSE(missing.ReadFile((dir_ / "none.ctot").string()));
}

TEST_F(CtotMovieTest, TheFieldMovesWithTheMeniscusOnlyBeyondAHundredthOfAMicron) {
  CCtotMovie movie;
  Fill(movie, 3, 50000);
  const struct {
    float target;
    float shift;
  } cases[] = {{6.0f, 0.0f}, {6.000005f, 0.0f}, {6.01f, 0.01f}, {5.99f, -0.01f}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    int frames = 0, radii = 0;
    std::vector<float> r;
    std::vector<double> t;
    std::vector<std::vector<float>> v;
    float start = 0, end = 0;
    movie.CopyToModel(frames, radii, r, t, v, start, end, c.target, 3.3);
    ASSERT_EQ(frames, 3);
    ASSERT_EQ(radii, 100);
    for (int i : {1, 50, 102}) EXPECT_NEAR(r[i], movie.radii[i] + c.shift, 2e-6);
    EXPECT_NEAR(v[2][7], movie.Value(2, 7) * 3.3, 1e-5);
    EXPECT_EQ(start, 0.0f);  // a target meniscus keeps the model's own grid
  }
  int frames = 0, radii = 0;
  std::vector<float> r;
  std::vector<double> t;
  std::vector<std::vector<float>> v;
  float start = 0, end = 0;
  movie.CopyToModel(frames, radii, r, t, v, start, end, 0.0f, 3.3);
  EXPECT_EQ(start, 6.0f);
  EXPECT_EQ(end, 7.2f);
}

TEST_F(CtotMovieTest, AFieldMustBeOfTheRotorSpeedAndTimeOfTheScans) {
  std::vector<ScanRecord> records(5);
  const std::vector<int> order = {0, 1, 2, 3, 4};
  const std::vector<std::string> names = {"", "a.ra1", "b.ra1", "c.ra1", "d.ra1"};
  const double times[] = {0, 1200, 2400, 3000, 3600};
  for (int j = 1; j <= 4; ++j) {
    records[j].rpm = 50000;
    records[j].timeRead = times[j];
  }
  CCtotMovie movie;
  Fill(movie, 30, 48000);  // to 3000 s
  ui_.ExpectBox("Error", "use external mean field: wrong rotor speed");
  EXPECT_FALSE(CheckMeanFieldCoverage(movie, records.data(), order.data(), 4, names));
  Fill(movie, 30, 50000);
  ui_.ExpectBox("Error", "use external mean field: does not cover experimental time");
  ui_.ExpectBox("Error", "please reload scans not exceeding c.ra1");
  EXPECT_FALSE(CheckMeanFieldCoverage(movie, records.data(), order.data(), 4, names));
  EXPECT_TRUE(CheckMeanFieldCoverage(movie, records.data(), order.data(), 3, names));
  Fill(movie, 36, 50000);
  EXPECT_TRUE(CheckMeanFieldCoverage(movie, records.data(), order.data(), 4, names));
  EXPECT_TRUE(ui_.failures.empty()) << ui_.failures.front();
  EXPECT_TRUE(ui_.AllConsumed());
}

TEST_F(CtotMovieTest, ExportNeedsAPositiveSignalPerConcentration) {
  CCtotMovie movie;
  Fill(movie, 2, 50000);
  std::vector<float> radii(5, 6.5f);
  std::vector<double> t(3, 100.0);
  std::vector<float> row(5, 1.0f);
  float* rows[3] = {nullptr, row.data(), row.data()};
  for (double signal : {0.0, -3.3}) {
    EXPECT_FALSE(movie.Assign(2, 2, radii.data(), t.data(), rows, 6.0f, 7.2f, signal, 50000));
    EXPECT_TRUE(movie.HasField());  // the field it held stays
    EXPECT_EQ(movie.radiusCount, 102);
  }
  // Without arrays or cell ends nothing is held.
  EXPECT_FALSE(movie.Assign(2, 2, radii.data(), t.data(), rows, 0.0f, 7.2f, 1.0, 50000));
  EXPECT_FALSE(movie.HasField());
}

}  // namespace
