#include "data/dls/dls_loading.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "data/fit_output_files.h"
#include "data/load_hooks.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "dls_fixture.h"

namespace {

class DlsLoadingTest : public DlsTest {
 protected:
  void SetUp() override {
    DlsTest::SetUp();
    ResetLoadTargets();
    ResetLoadHooks();
    CurrentDataTypeFlags() = DataTypeFlags{};
  }
  void TearDown() override {
    FreeScanData();
    ResetLoadHooks();
    ResetLoadTargets();
    CurrentDataTypeFlags() = DataTypeFlags{};
    DlsTest::TearDown();
  }
  // Two lag times, g(2)-1 = 0.64 and 0.16.
  std::string WriteSet(const std::string& name) {
    return Write(name, "s\nA 20 1 1.00 1.333 0.01002 90 6.328e-07\n1e-5 0.64\n1e-4 0.16\n");
  }
};

// Fitted sets are written as g(2)-1 whatever form they were loaded in; the
// noise goes onto g(1) or onto g(2)-1 as asked. The deviates are all 1.
TEST_F(DlsLoadingTest, FittedSetsWithNoiseAreWrittenAsG2) {
  struct Case {
    bool keepG2;
    bool fieldNoise;
    double written;  // for a model value of 0.5 and a noise level of 0.1
  } cases[] = {
      {false, true, 0.36},             // g(1) 0.5 + 0.1, squared
      {false, false, 0.35},            // 0.5 squared, + 0.1
      {true, true, 0.651421},          // g(2)-1 0.5: its root + 0.1, squared
      {true, false, 0.6},              // g(2)-1 0.5 + 0.1
  };
  CurrentLoadHooks().gaussRandom = [] { return 1.0; };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.keepG2) + " " + std::to_string(c.fieldNoise));
    WriteSet("00001.dlsdat");
    ASSERT_EQ(LoadDLSData(Path("00001.dlsdat"), c.keepG2), 1);
    ScanSet& s = CurrentScanSet();
    EXPECT_EQ(s.dlsRecords[1].fieldFlag, c.keepG2 ? 0 : 1);
    s.model[1][1] = s.model[1][2] = 0.5f;
    ui_->ExpectBox("SAVE DLS DATA", "add noise?", platform::IDYES);
    ui_->ExpectBox("SAVE DLS DATA", "add noise to field autocorrelation?", c.fieldNoise ? platform::IDYES : platform::IDNO);
    ui_->ExpectPrompt("SAVE DLS DATA", "level of noise", std::string("0.1"));
    ASSERT_TRUE(SaveFitDataFiles(Path("f0000x.dlsdat"), false));
    EXPECT_TRUE(ui_->AllConsumed());
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    const Loaded l = Load(Path("f0001.dlsdat"), true);
    ASSERT_EQ(l.n, 2);
    EXPECT_NEAR(l.y[0], c.written, 1e-5);
    std::filesystem::remove(Path("00001.dlsdat"));
    std::filesystem::remove(Path("f0001.dlsdat"));
  }
}

}  // namespace
