// Ending the program with work in the window: Exit, closing the window and
// "don't agree" in the about box ask before the work is lost, and only then.
#include "platform/frame_window.h"
#include "platform/scripted_ui.h"
#include "road_support.h"

namespace {

class ExitQuestions : public RoadTest {
 protected:
  // Four scans, one species at 4.6 S with s fitted, fitted once.
  void Fitted() {
    LoadRun(4);
    OneSpecies("4.6", "5.0", 1);
    if (HasFatalFailure()) return;
    DispatchLenient(215);
    ui_->transcript.clear();
  }
  int Asked(const std::string& caption) const {
    int n = 0;
    for (const auto& t : ui_->transcript)
      if (t.caption == caption && t.buttons == platform::BoxButtons::YesNoDefaultNo) ++n;
    return n;
  }
};

TEST_F(ExitQuestions, ExitWithoutAFitEndsAtOnce) {
  LoadRun(3);
  Window().Dispatch(230);
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_EQ(Asked("EXIT"), 0);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(ExitQuestions, ExitAfterAnUnsavedFitAsksAndNoKeepsTheWindow) {
  Fitted();
  ui_->ExpectBox("EXIT", "The last fit has not been saved.", platform::IDNO);
  Window().Dispatch(230);
  EXPECT_FALSE(platform::QuitRequested());
  EXPECT_EQ(CurrentScanSet().count, 4);  // nothing was freed
  ui_->ExpectBox("EXIT", "The last fit has not been saved.", platform::IDYES);
  Window().Dispatch(230);
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_EQ(Asked("EXIT"), 2);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(ExitQuestions, ClosingTheWindowAsksTheSameAndASavedFitAsksNothing) {
  Fitted();
  ui_->ExpectBox("EXIT", "The last fit has not been saved.", platform::IDNO);
  EXPECT_FALSE(Window().OnClose());
  // The fitted data saved: the work is on disk.
  ui_->ExpectBox("SAVE PARAMETERS", "", platform::IDNO);
  ui_->ExpectFiles("save fitted data as", Chosen({(dir_ / "f0000x.rxx").string()}));
  ui_->ExpectFiles("save residuals as", platform::FileDialogResult{});
  ui_->ExpectFiles("save some fit parameters as", platform::FileDialogResult{});
  Window().Dispatch(203);
  EXPECT_TRUE(Window().OnClose());
  Window().Dispatch(230);
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_EQ(Asked("EXIT"), 1);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(ExitQuestions, DontAgreeAsksWhileAnAnalysisIsLoaded) {
  struct Case {
    bool loaded;
    int answer;  // to the question, when asked
    bool quits;
  };
  for (const Case c : {Case{false, 0, true}, Case{true, platform::IDNO, false}, Case{true, platform::IDYES, true}}) {
    SCOPED_TRACE(c.loaded ? (c.answer == platform::IDYES ? "loaded, yes" : "loaded, no") : "nothing loaded");
    platform::ResetQuitRequest();
    Options().DisclaimerAccepted = true;
    if (c.loaded && CurrentScanSet().count == 0) LoadRun(3);
    Window();
    ui_->transcript.clear();
    ui_->ExpectBox("About", "", platform::IDCANCEL);  // "don't agree"
    if (c.loaded) ui_->ExpectBox("About", "the analysis loaded is lost", c.answer);
    Window().Dispatch(221);  // "About"
    EXPECT_EQ(platform::QuitRequested(), c.quits);
    // The agreement is withdrawn only when the program ends for it.
    EXPECT_EQ(Options().DisclaimerAccepted, !c.quits);
    EXPECT_EQ(Asked("About"), c.loaded ? 1 : 0);
    EXPECT_TRUE(ui_->AllConsumed());
  }
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

}  // namespace
