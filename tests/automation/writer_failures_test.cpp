// The files an analysis keeps beside the scans and in the program folder,
// and those the save commands write, written on a full disk (a file-size
// limit) or at a name where a named pipe stands: each writer answers false,
// says so once, leaves the earlier file whole and no temporary file behind,
// and never waits on the pipe.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "data/rotor_speed_profile.h"
#include "distributions/conti_grid.h"
#include "distributions/conti_settings.h"
#include "distributions/monte_carlo.h"
#include "distributions/normal_equations.h"
#include "equilibrium/planning/time_to_eq_params.h"
#include "fit/saved_params.h"
#include "lamm/lamm_settings.h"
#include "numerics/ccurve.h"
#include "tests/automation/automation_test_support.h"
#include "tests/support/file_size_limit.h"

namespace {

namespace fs = std::filesystem;

class WriterFailures : public autotest::Scratch {
 protected:
  WriterFailures() {
    autotest::ResetAnalysisState();
    ScanSet& s = CurrentScanSet();
    s.dataFolder = dir.string();
    s.count = 1;
    s.fileNames = {"", "00001.RA1"};
    ContiSettings& c = Conti();
    for (auto* column : {&s2_, &m2_, &f2_, &d2_, &k2_, &a2_}) column->assign(4, 1.5f);
    c.grid2DSize = 3;
    c.grid2DS = s2_.data();
    c.grid2DM = m2_.data();
    c.grid2DFf = f2_.data();
    c.grid2DD = d2_.data();
    c.grid2DStokes = k2_.data();
    c.grid2DAmplitude = a2_.data();
    const float t[] = {0, 0, 3000}, v[] = {0, 20000, 40000}, a[] = {0, 300, 300};
    profile_.SetSteps(2, t, v, a);
  }
  ~WriterFailures() override {
    ContiSettings& c = Conti();
    c.grid2DSize = 0;
    c.grid2DS = c.grid2DM = c.grid2DFf = c.grid2DD = c.grid2DStokes = c.grid2DAmplitude = nullptr;
    autotest::ResetAnalysisState();
  }

  struct Writer {
    const char* name;  // the file, in the test folder
    std::function<bool(const std::string& path)> write;
    bool says;  // the writer itself tells the failure (else its caller does)
  };

  std::vector<Writer> Writers() {
    return {
        {"~tmppars.RA1", [](const std::string& p) { return TmpSaveBestParams(p, false); }, true},
        {"tarnellammparams.ini",
         [](const std::string& p) { return SaveLammEqParameterPreferences(p, LammSolverSettings{}, 1e-4f); }, true},
        {"sasdist.dat", [](const std::string& p) { return SaveMonteCarloTable(p); }, true},
        {"speedssteps.EQU",
         [this](const std::string& p) { return profile_.WriteMethodRows(p, 600, 20, 5, 3, false); }, true},
        {"speedsteps.txt", [this](const std::string& p) { return profile_.Save(p); }, true},
        {"tarnelsimappeqparams.ini", [](const std::string& p) { return SaveTimeToEqPreferences(TimeToEqParams{}, p); },
         true},
        // The writers behind the saved distribution, the noise files, the
        // Monte-Carlo series, the DLS time course and the error surface.
        {"saved.dat",
         [](const std::string& p) {
           const float x[] = {1.5f, 2.5f}, y[] = {0.25f, 0.75f};
           return CCurve(const_cast<float*>(x), const_cast<float*>(y), 2, 0, 0).WriteToFile(p.c_str());
         },
         true},
        {"RInoise.dat",
         [](const std::string& p) {
           const float x[] = {0, 600, 1200}, y[] = {0, 0.01f, -0.02f};
           return WriteXYArrays(p.c_str(), 2, x, y);
         },
         true},
        {"distributionvalues.dat",
         [](const std::string& p) {
           const float v[] = {0, 1e-3f, 2e-3f};
           return DumpDistributionValues(p, v, 2);
         },
         true},
        {"sdist.RA1",
         [](const std::string&) {
           const float grid[] = {0, 0.5f, 1.5f, 2.5f, 5.737737f};
           return WriteGridFile(grid, 4);
         },
         false},
    };
  }

  int SaidCount(const std::string& text) const {
    int n = 0;
    for (const auto& t : ui.transcript)
      if (t.text.find(text) != std::string::npos) ++n;
    return n;
  }

  bool Said(const std::string& text) const {
    for (const auto& t : ui.transcript)
      if (t.text.find(text) != std::string::npos) return true;
    return false;
  }

  std::vector<float> s2_, m2_, f2_, d2_, k2_, a2_;
  CRotorSpeedProfile profile_;
};

}  // namespace

TEST_F(WriterFailures, AFullDiskKeepsTheEarlierFileAndIsSaid) {
  for (const Writer& w : Writers()) {
    SCOPED_TRACE(w.name);
    const std::string path = Put(w.name, "earlier content\n").string();
    ui.transcript.clear();
    ASSERT_TRUE(testsupport::WithFileSizeLimit(0, [&] { EXPECT_FALSE(w.write(path)); }));
    EXPECT_EQ(autotest::ReadFile(path), "earlier content\n");
    // Said once, naming the file itself (not a temporary name).
    if (w.says) { EXPECT_EQ(SaidCount("could not write " + path), 1) << path; }
    EXPECT_EQ(SaidCount("could not write"), w.says ? 1 : 0) << path;
    // Without the limit the same writer replaces the file whole.
    EXPECT_TRUE(w.write(path));
    EXPECT_NE(autotest::ReadFile(path), "earlier content\n");
  }
  // Only the files themselves: no temporary file is left behind.
  std::size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir)) {
    ++entries;
    EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
  }
  EXPECT_EQ(entries, Writers().size() + 1);  // and the method file's rows
  // The grid reads back whole, its last value uncut.
  std::vector<float> grid;
  ASSERT_TRUE(ReadGridFile(grid));
  EXPECT_EQ(grid, (std::vector<float>{0.5f, 1.5f, 2.5f, 5.737737f}));
}

TEST_F(WriterFailures, ANamedPipeAtTheNameIsNeverOpened) {
  alarm(60);  // a writer that waits on the pipe fails here instead of hanging
  for (const Writer& w : Writers()) {
    SCOPED_TRACE(w.name);
    const fs::path path = dir / w.name;
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    ui.transcript.clear();
    EXPECT_FALSE(w.write(path.string()));
    EXPECT_TRUE(fs::is_fifo(path));
    if (w.says) { EXPECT_TRUE(Said("could not open " + path.string())); }
  }
  alarm(0);
}

// The planning preferences are a preference file: read within 1 MB, not the
// 64 MB of a table. A larger one is refused by name and the values stay.
TEST_F(WriterFailures, PlanningPreferencesAreReadWithinThePreferenceBound) {
  std::string big;
  while (big.size() <= (std::size_t{1} << 20)) big += "12345.000000\n";
  const std::string path = Put("tarnelsimappeqparams.ini", big).string();
  TimeToEqParams p;
  p.finalRpm = 20000;
  ui.transcript.clear();
  EXPECT_FALSE(LoadTimeToEqPreferences(p, path));
  EXPECT_EQ(p.finalRpm, 20000);
  EXPECT_TRUE(Said(path + " is larger than 1 MB, too large to be read"));
  // Within the bound, the values written are the values read.
  TimeToEqParams written;
  written.finalRpm = 31000;
  written.overspeedTime = 4321;
  ASSERT_TRUE(SaveTimeToEqPreferences(written, path));
  ASSERT_TRUE(LoadTimeToEqPreferences(p, path));
  EXPECT_EQ(p.finalRpm, 31000);
  EXPECT_EQ(p.overspeedTime, 4321);
}
