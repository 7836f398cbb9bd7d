// "Data Range" with the buffer mismatch and its meniscus offset: the range
// starts left of the reference meniscus as well as of the sample's.
#include <vector>

#include "app/window/shell_services.h"
#include "app/window/window_services.h"
#include "app_fixture.h"
#include "data/scan_set.h"
#include "fit/model_params.h"
#include "models/buffer/buffer_sed_settings.h"

using DataRangeReferenceMeniscus = AppTest;

TEST_F(DataRangeReferenceMeniscus, TheRangeStartsLeftOfBothMenisci) {
  auto w = AgreedWindow();
  ScanSet& s = CurrentScanSet();
  std::vector<float> grid = {0, 6.0f, 6.1f, 6.2f, 6.3f, 6.4f};
  std::vector<float> scan = {0, 0.1f, 0.5f, 0.7f, 0.9f, 1.0f};
  s.count = 1;
  s.grid = grid.data();
  s.gridLength = 5;
  s.firstGridPoint = 2;
  s.lastGridPoint = 4;
  s.gridSignals = {nullptr, scan.data()};
  gModelParams.meniscus = 5.95f;
  const BufferSedSettings kept = gBufferSedSettings;
  struct Case {
    const char* name;
    bool on, mismatch;
    double difference;  // sample minus reference meniscus (cm)
    float xMin;
  } cases[] = {
      {"no buffer correction", false, true, 0.1, 5.94f},
      {"correction without a meniscus offset", true, false, 0.1, 5.94f},
      {"reference meniscus left of the sample's", true, true, 0.1, 5.84f},
      {"reference meniscus right of the sample's", true, true, -0.05, 5.94f},
  };
  float x0 = 0, x1 = 0;
  Services().setDataPlotRanges = [&](float a, float b, float, float) {
    x0 = a;
    x1 = b;
  };
  Services().redrawDataPlot = [](bool) {};
  Services().updateResidualsPlot = [](bool) {};
  Services().updateResidualBitmap = [](bool) {};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    gBufferSedSettings.BufferSedOn = c.on;
    gBufferSedSettings.MeniscusMismatch = c.mismatch;
    gBufferSedSettings.MeniscusDifference = c.difference;
    w->Dispatch(518);
    EXPECT_NEAR(x0, c.xMin, 1e-5);
    EXPECT_NEAR(x1, 6.31f, 1e-5);
  }
  gBufferSedSettings = kept;
  s.count = 0;
  s.grid = nullptr;
  s.gridSignals.clear();
}
