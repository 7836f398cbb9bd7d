// The report of c(s) with one discrete component names the second value of
// the component as the dialog asks for it: in the D form its D, not the
// molar mass the run does not use.
#include "distributions/conti_settings.h"
#include "fit/fit_report.h"
#include "road_support.h"

namespace {

class DiscreteReport : public RoadTest {};

TEST_F(DiscreteReport, TheComponentIsReportedWithTheValueTheDialogShows) {
  LoadRun(3);
  gFitEngineState.fitTINoise = 0;
  gFitEngineState.molarMassParameters = 0;
  struct Case {
    const char* value;
    const char* expected;
  };
  for (const Case c : {Case{"4", "D1 = 4.000]"}, Case{"0.5", "D1 = 0.500]"}}) {
    SCOPED_TRACE(c.expected);
    Window().Dispatch(531);  // "Continuous c(s) With 1 Discrete Component"
    forms_.Expect({"", {{405, "20"}, {406, "1"}, {407, "10"}, {412, c.value}, {414, "2.5"}, {435, "5.9500"},
                        {437, "7.1800"}},
                   {}});
    ui_->lenient = true;
    Window().Dispatch(212);
    Window().Dispatch(213);
    Headless(Window()).Update();
    ui_->lenient = false;
    ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
    const std::string& line = LastFitInfoLines().line[5];
    EXPECT_NE(line.find(std::string(" - [s1 = 2.500, ") + c.expected), std::string::npos) << line;
  }
}

}  // namespace
