#include "app/commands/help/help_menu.h"
#include "app/window/menu_resources.h"
#include "app_fixture.h"
#include "data/scan_set.h"
#include "fit/lamm_grid.h"
#include "lamm/lamm_settings.h"
#include "numerics/arrays.h"

using MainWindow = AppTest;

TEST_F(MainWindow, FirstStartShowsTheDisclaimerAndAgreeingWritesThePreferences) {
  ui_->ExpectBox("About", "version 1.0", platform::IDOK);
  {
    auto w = MakeWindow();
    EXPECT_FALSE(platform::QuitRequested());
    EXPECT_EQ(w->Frame().Title(), "Sedimentation Analysis");
  }
  EXPECT_TRUE(ui_->failures.empty());
  const auto lines = PreferenceLines();
  ASSERT_EQ(lines.size(), 24u);
  EXPECT_EQ(lines[0], "1");
  // The next start asks nothing.
  Options() = ProgramOptions{};
  ui_->transcript.clear();
  auto again = MakeWindow();
  EXPECT_TRUE(ui_->transcript.empty());
  EXPECT_TRUE(Options().DisclaimerAccepted);
}

TEST_F(MainWindow, DontAgreeAtStartEndsTheProgramBeforeItIsUsed) {
  WriteAgreedDefaults();
  auto lines = PreferenceLines();
  lines[0] = "0";
  WritePreferences(lines);
  bool automationRan = false;
  Services().takeAutomationCommandLine = [](int, char**) { return true; };
  Services().runAutomationAtStartup = [&](TXLAWindow&) { return automationRan = true; };
  ui_->ExpectBox("About", "", platform::IDCANCEL);
  auto w = MakeWindow();
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_FALSE(automationRan);
  EXPECT_FALSE(w->Frame().IsCreated());
  EXPECT_EQ(PreferenceLines()[0], "0");
}

TEST_F(MainWindow, AboutClosedKeepsTheProgramAndDontAgreeClearsTheAgreementAndExits) {
  auto w = AgreedWindow();
  ui_->ExpectBox("About", "TARNEL", platform::IDOK);
  w->Dispatch(221);
  EXPECT_FALSE(platform::QuitRequested());
  EXPECT_EQ(PreferenceLines()[0], "1");
  // Escape or the title bar closes the box and nothing else.
  ui_->ExpectBox("About", "TARNEL", platform::kDialogDismissed);
  w->Dispatch(221);
  EXPECT_FALSE(platform::QuitRequested());
  EXPECT_EQ(PreferenceLines()[0], "1");
  ui_->ExpectBox("About", "", platform::IDCANCEL);
  w->Dispatch(221);
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_EQ(PreferenceLines()[0], "0");
  EXPECT_TRUE(ui_->failures.empty());
}

TEST_F(MainWindow, StartUpOrderAndSetupOfTheInteractiveWindow) {
  WriteAgreedDefaults();
  std::vector<std::string> calls;
  Services().initApproachToEqSim = [&](TXLAWindow&) { calls.push_back("approach"); };
  Services().readLammEqParameterPreferences = [&](TXLAWindow&) { calls.push_back("lamm"); };
  Services().createMouseActions = [&](TXLAWindow&) { calls.push_back("mouse"); };
  Services().checkPlotHelpers = [&](TXLAWindow&) { calls.push_back("plot helpers"); };
  Services().relayoutAndRedrawPlots = [&] { calls.push_back("layout"); };
  Services().countSoundFiles = [&] { calls.push_back("count sounds"); };
  Services().playSoundHi = [&] { calls.push_back("hi"); };
  auto w = MakeWindow();
  EXPECT_EQ(calls, (std::vector<std::string>{"approach", "lamm", "mouse", "plot helpers", "layout",
                                             "count sounds", "hi"}));
  auto& frame = Headless(*w);
  EXPECT_TRUE(frame.AcceptsDroppedFiles());
  EXPECT_EQ(frame.bigIcon, 304);
  EXPECT_EQ(frame.smallIcon, 305);
  EXPECT_NE(frame.Menu().Find(200), nullptr);
  EXPECT_EQ(frame.Menu().Find(1113), nullptr);
  EXPECT_EQ(w->LoadFileDialog.title, "select files");
  ASSERT_EQ(w->LoadFileDialog.filters.size(), 16u);
  EXPECT_EQ(w->LoadFileDialog.filters[0].first,
            "All AUC Files (*.IP*;*.RA*;*.RI*;*.R0*;*.FI*;*.xp;*list*.*)");
  EXPECT_EQ(w->LoadFileDialog.filters[3].second, "*.*1");
  EXPECT_EQ(w->DropFileDialog.filters, w->LoadFileDialog.filters);
  EXPECT_TRUE(w->LoadFileDialog.multiSelect);
}

TEST_F(MainWindow, SavedSwitchesGetTheirCheckMarksIncludingFitMsDontLoadSpikesAndGradients) {
  WriteAgreedDefaults();
  auto lines = PreferenceLines();
  lines[6] = "1";    // sounds
  lines[9] = "3";    // both regularizations shown
  lines[12] = "2";   // simulated annealing
  lines[16] = "1";   // always g(2)-1
  lines[19] = "1";   // error propagation to sw
  lines[20] = "1";   // don't load spikes
  lines[23] = "1";   // flag too strong gradients
  WritePreferences(lines);
  auto w = MakeWindow();
  for (int id : {594, 642, 825, 894, 952, 247, 868, 217, 902, 829, 648, 610})
    EXPECT_TRUE(w->IsMenuItemChecked(id)) << id;
  for (int id : {294, 295, 826, 824, 943, 644}) EXPECT_FALSE(w->IsMenuItemChecked(id)) << id;

  lines[20] = "0";
  lines[23] = "0";
  lines[8] = "0";
  WritePreferences(lines);
  gFitEngineState.molarMassParameters = 0;
  auto w2 = MakeWindow();
  for (int id : {247, 868, 217, 610}) EXPECT_FALSE(w2->IsMenuItemChecked(id)) << id;
}

TEST_F(MainWindow, AutomationModeUsesTheReducedMenuAndRunsBeforeTheWindowIsShown) {
  WriteAgreedDefaults();
  std::vector<std::string> calls;
  Services().takeAutomationCommandLine = [&](int, char**) { return true; };
  Services().readLammEqParameterPreferences = [&](TXLAWindow&) { calls.push_back("lamm"); };
  Services().playSoundHi = [&] { calls.push_back("hi"); };
  Services().finishAutomation = [&](TXLAWindow&) { calls.push_back("results"); };
  Services().runAutomationAtStartup = [&](TXLAWindow& w) {
    EXPECT_EQ(w.Frame().Menu().Count(1113), 1);
    calls.push_back("run");
    w.CmExit();
    return true;
  };
  auto w = std::make_unique<TXLAWindow>(nullptr, "Sedimentation Analysis");
  EXPECT_EQ(calls, (std::vector<std::string>{"run", "results"}));
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_FALSE(w->Frame().IsCreated());
  auto& frame = Headless(*w);
  ASSERT_NE(frame.Menu().FindPopup("Done"), nullptr);
  EXPECT_EQ(frame.Menu().Count(1114), 2);
  EXPECT_EQ(frame.Menu().Find(203), nullptr);
  EXPECT_EQ(frame.Accelerators().size(), 9u);
  EXPECT_FALSE(frame.PressAccelerator('S', true, false, false));

  // Set up as the framework would, the automation window keeps its drops off.
  platform::ResetQuitRequest();
  w->Create();
  EXPECT_FALSE(frame.AcceptsDroppedFiles());
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "hi"), 0);
}

TEST_F(MainWindow, AutomationWaitsForTheDisclaimerToo) {
  Services().takeAutomationCommandLine = [](int, char**) { return true; };
  std::vector<std::string> calls;
  Services().runAutomationAtStartup = [&](TXLAWindow&) {
    calls.push_back("run");
    return true;
  };
  ui_->ExpectBox("About", "", platform::IDOK);
  auto w = MakeWindow();
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_EQ(calls, std::vector<std::string>{"run"});
}

TEST_F(MainWindow, WizardMessagesSettingIsStoredOnLineNine) {
  auto w = AgreedWindow();
  ui_->ExpectBox("HELP MESSAGES", "Save Setting?", platform::IDYES);
  w->Dispatch(610);
  EXPECT_EQ(Options().InfoWizardMessages, 0);
  EXPECT_FALSE(w->IsMenuItemChecked(610));
  EXPECT_EQ(std::stod(PreferenceLines()[8]), 0.0);
  ui_->ExpectBox("HELP MESSAGES", "Save Setting?", platform::IDYES);
  w->Dispatch(610);
  EXPECT_EQ(std::stod(PreferenceLines()[8]), 1.0);
  EXPECT_TRUE(w->IsMenuItemChecked(610));
  // "No" keeps the change for this run only.
  ui_->ExpectBox("HELP MESSAGES", "Save Setting?", platform::IDNO);
  w->Dispatch(610);
  EXPECT_EQ(Options().InfoWizardMessages, 0);
  EXPECT_EQ(std::stod(PreferenceLines()[8]), 1.0);
}

TEST_F(MainWindow, KeyboardShortcutsShowsTheFixedList) {
  auto w = AgreedWindow();
  ui_->ExpectBox("KEYBOARD SHORTCUTS", "", platform::IDOK);
  w->Dispatch(869);
  ASSERT_EQ(ui_->transcript.size(), 1u);
  const std::string& text = ui_->transcript[0].text;
  EXPECT_EQ(text.rfind("current keyboard shortcuts (with control key unless otherwise mentioned):\n\n\nL - ", 0), 0u);
  EXPECT_NE(text.find("\nG - Plot->PELDO\nalt-G - "), std::string::npos);
  const std::string last = "\n\n(alt-M - toggle mouse sliding)";
  ASSERT_GT(text.size(), last.size());
  EXPECT_EQ(text.substr(text.size() - last.size()), last);
  // Every key of the window's table is in the list, with its modifier.
  for (const platform::Accelerator& a : AcceleratorTable303()) {
    const std::string entry = std::string(a.alt ? "alt-" : "") + static_cast<char>(a.key) + " - ";
    EXPECT_TRUE(text.find("\n" + entry) != std::string::npos || text.find("(" + entry) != std::string::npos)
        << entry << " (command " << a.command << ")";
  }
}

TEST_F(MainWindow, TogglesAskTickAndStoreTheirLine) {
  auto w = AgreedWindow();
  ui_->ExpectBox("SET PREFERENCE", "Play Sounds?", platform::IDNO);
  ui_->ExpectBox("SET PREFERENCE", "save as default setting?", platform::IDYES);
  w->Dispatch(594);
  EXPECT_FALSE(SoundState.soundsOn);
  EXPECT_FALSE(w->IsMenuItemChecked(594));
  EXPECT_EQ(std::stod(PreferenceLines()[6]), 0.0);

  ui_->ExpectBox("SET PREFERENCE", "save as default setting?", platform::IDYES);
  w->Dispatch(824);
  EXPECT_TRUE(w->IsMenuItemChecked(824));
  EXPECT_FALSE(w->IsMenuItemChecked(826));
  EXPECT_EQ(gFitEngineState.useMarquardt, 1);
  EXPECT_EQ(std::stod(PreferenceLines()[12]), 3.0);

  // Choosing the regularization already in force asks nothing.
  ui_->transcript.clear();
  w->Dispatch(295);
  EXPECT_TRUE(ui_->transcript.empty());
  ui_->ExpectBox("SET PREFERENCE", "save new regularization as default setting?", platform::IDYES);
  w->Dispatch(294);
  EXPECT_EQ(std::stod(PreferenceLines()[9]), 2.0);
  EXPECT_TRUE(w->IsMenuItemChecked(294));
  EXPECT_FALSE(w->IsMenuItemChecked(295));

  ui_->ExpectBox("SET PREFERENCE", "Use Multiple Threads?", platform::IDYES);
  ui_->ExpectPrompt("", "number of threads", std::string("3.9"));
  ui_->ExpectPrompt("", "number of threads for Lamm equations", std::string("x"));
  ui_->ExpectPrompt("", "number of threads for Lamm equations", std::string("5"));
  ui_->ExpectBox("SET PREFERENCE", "save as default setting?", platform::IDYES);
  w->Dispatch(648);
  EXPECT_EQ(Conti().normalEquationThreads, 3);
  EXPECT_EQ(Options().LammThreadCount, 5);
  EXPECT_EQ(ui_->beeps, 1);  // the unreadable answer was asked again
  EXPECT_EQ(std::stod(PreferenceLines()[11]), 3.0);
  EXPECT_EQ(std::stod(PreferenceLines()[14]), 5.0);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(MainWindow, ExitReleasesTheLammAndExtrapolationArrays) {
  auto w = AgreedWindow();
  const ShellServices shell = DefaultShellServices();
  Services().freeLammArrays = shell.freeLammArrays;
  Services().freeExtrapolationArrays = shell.freeExtrapolationArrays;
  LammSettings().gridSize.inUse = 50;
  ASSERT_TRUE(AllocLammArrays());
  ScanSet& s = CurrentScanSet();
  s.initialData.radii = vector(1, 10);
  s.initialData.signals = vector(1, 10);
  s.initialData.points = 10;
  w->Dispatch(230);
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_EQ(CurrentLammGrid().GridAllocated, 0);
  EXPECT_EQ(CurrentLammGrid().Radius, nullptr);
  EXPECT_EQ(s.initialData.radii, nullptr);
  EXPECT_EQ(s.initialData.signals, nullptr);
  EXPECT_EQ(s.initialData.points, 0);
}
