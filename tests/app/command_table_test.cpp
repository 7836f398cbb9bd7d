#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>

#include "app/plot_input/marker_moves.h"
#include "app/window/menu_resources.h"
#include "app_fixture.h"
#include "platform/program_paths.h"
#include "fit/model_selector.h"
#include "fit/scan_times.h"
#include "platform/diagnostics.h"
#include "platform/window_messages.h"

namespace {

std::set<int> MenuIds(const platform::MenuNode& bar) {
  platform::MenuModel m;
  m.Set(bar);
  const auto ids = m.CommandIds();
  return {ids.begin(), ids.end()};
}

// The first box a built command shows, when it shows one.
const std::map<int, std::string> kFirstBoxOfBuiltCommands = {
    {905, "Signal Amplitude Change With Radius"}, {907, "Signal Amplitude Change With Radius"},
    {906, "Nonlinear Detection"},  {908, "Nonlinear Detection"},
    {909, "Signal Amplitude Change With Time"},   {910, "Signal Amplitude Change With Time"},
    {911, "Signal Radial Convolution"},           {912, "Signal Radial Convolution"},
    {913, "Signal Excitation Shadow"},            {914, "Signal Excitation Shadow"},
    {925, "Johnston Ogston Signal Depletion"},    {915, "FloTools"},
    {903, "Sort Fluorescence AUC data"},
    {221, "About"},           {837, "MOUSE SLIDING"},  {268, "HELP"},           {249, "HELP"},
    {869, "KEYBOARD SHORTCUTS"}, {610, "HELP MESSAGES"}, {952, "SET PREFERENCE"},
    {829, "SET PREFERENCE"},  {902, "SET PREFERENCE"}, {648, "SET PREFERENCE"},
    {894, "SET PREFERENCE"},  {594, "SET PREFERENCE"}, {609, "SET PREFERENCE"},
    {294, "SET PREFERENCE"},  {295, "SET PREFERENCE"}, {642, "SET PREFERENCE"}, {592, "UPDATE DURING FIT"},
    {826, "SET PREFERENCE"},  {825, "enter float"},    {824, "SET PREFERENCE"},
    {943, "SET PREFERENCE"}, {579, "Sort SE data"}, {645, "EQ TEST"},
    {200, "select files to fit"}, {1103, "select NONIDEAL CTOT DATA files"}, {290, "select files to fit"}, {226, "select files to add to set 1"},
    {298, "select files in set 1 to fit"}, {515, "select files in set 1 to fit"},
    {214, "GENERATE DATA"}, {281, "EXTERNAL LOADING GEOMETRY"}, {203, "save fitted data as"}, {595, "ATTENTION"},
    {949, "select files to fit"}, {513, "ERROR"}, {511, "ls-g(s)"}, {510, "ls-g(s)"}, {877, "ERROR"}, {896, "ERROR"},
    {887, "C(M) POWERLAW"}, {546, "Monte Carlo for Distributions"}, {277, ""}, {278, "enter float"},
    {279, ""}, {284, "Equilibrium Analysis"}, {523, "Equilibrium Analysis"}, {288, "ls-g(s)"},
    {539, "ls-g(s)"}, {501, "ls-g(s)"}, {292, "Van Holde Weischet Analysis"}, {293, "ATTENTION"},
    {502, "ERROR"}, {503, "ERROR"}, {522, "ERROR"}, {536, "ERROR"}, {890, "ERROR"},
    {644, "Select 2 col file with s-min/s-max pairs"}, {875, "ESTIMATE EQ ROTOR SPEED"},
    {874, "CALCULATE MINIMUM TIME TO EQ"}, {928, "input file"},
    {897, "MAKE DLS DATA"}, {584, "MAKE DLS DATA"}, {543, "MAKE DLS DATA"}, {299, "MAKE DLS DATA"},
    {601, "MAKE DLS DATA"}, {534, "MAKE DLS DATA"}, {583, "MAKE DLS DATA"}, {532, "MAKE DLS DATA"},
    {600, "MAKE DLS DATA"}, {527, "select data file"}, {544, "select data file"}, {500, "ERROR"},
    {528, "Format CD DATA"}, {577, "export data as MORLEAN xp file"}, {266, "time dependence analysis"},
    {901, "PELDO"}, {201, "Select File to Edit"}, {202, "Select Initial Data"}, {1108, "Wiener Skewing"},
    {885, "read BEST/BEMINE"}, {1107, "DISTRIBUTION OPTIONS"}, {876, "ERROR"},
    {917, "AVERAGE SCANS"}, {265, "SET N COLUMNS"}, {552, ""},
    {578, "CALCULATE HYDRODYNAMIC FRICTIONAL FORCE"}, {270, "CALCULATE FRICTIONAL AND AXIAL RATIOS"},
    {889, "BOUNDARY BROADENING ANALYSIS"}, {276, "CALCULATE SEDCOEFFICIENT OF SPHERE"},
    {830, "CALCULATE SEDCOEFFICIENT OF SPHERE"}, {831, "CALCULATE RADIUS OF SPHERE"}, {606, "CALCULATE M FROM S"},
    {272, "CALCULATE SOSQ RATIO"}, {547, "CALCULATE SHAPE FROM AXIAL RATIOS"},
    {895, "CALCULATE VBAR, EXT280 AND DNDC FROM SEQUENCE"},
    {207, "SET DISPLAY RANGE"}, {216, "NOTES"}, {218, ""}, {217, ""}, {590, "SET RADIAL RESOLUTION"},
    {828, "select files to fit"}, {591, "REMOVING SCAN"}, {868, "EXCLUDE EXCESS GRADIENTS"},
    {247, "EXCLUDE SPIKES"}, {219, ""}, {255, "SET SIMULATION START TIME"},
    {256, "SET SIMULATION START TIME"}, {224, ""}, {225, "save equilibrium data as"}, {234, "Printing"}, {241, "s and M Contour"}, {244, "s1,s2 Contour"},
    {199, "Fix Fringe Jump"}, {1111, "Fix Fringe Jump"}, {1110, "FIX SCRATCH JUMP"}, {1109, "Track Scratch"}};
// Built commands that show no box of their own (the bitmap switches start
// on and are switched off; without scans there is nothing to plot).
const std::set<int> kSilentBuiltCommands = {233, 267, 205, 206, 945, 208, 257, 211, 232, 209, 210, 220, 545, 542, 462, 461, 463, 582, 647, 223, 533, 529, 633, 230, 597, 646, 243, 518, 504, 505, 506, 507, 537, 946, 1113,
                                            197, 198, 229, 280, 282, 246, 213, 215, 240, 530, 212,
                                            252, 253, 235, 275, 531, 587, 514, 548, 870, 602, 872,
                                            603, 598, 526, 521, 508, 509, 227, 1099, 893, 520, 228,
                                            585, 1100, 296, 291, 950, 519, 607, 576, 540,
                                            541, 922, 517, 867, 271, 456, 457, 458, 460, 525, 589, 836,
                                            898, 878, 879, 880, 881, 882, 883, 899, 900,
                                            535, 549, 550, 947, 927, 581, 264, 283, 634, 459, 886, 551,
                                            287, 263, 524, 231, 289, 827, 1098, 269, 918, 919, 920,
                                            593, 904, 923,
                                            1104, 1105, 1106, 204, 258, 259, 260, 261, 262, 273, 274, 632, 611, 285, 286, 245, 608};
// Model commands that switch the regularisation or the scan times: the
// commands after them in the table find both as they were.
const std::set<int> kRegularisationChoosingCommands = {288, 501, 510, 539, 950};

}  // namespace

using CommandTable = AppTest;

TEST_F(CommandTable, EveryMenuItemHasAnEntryExceptTheUseFullProgramHint) {
  std::set<int> ids = MenuIds(BuildMenu1());
  const std::set<int> custom = MenuIds(BuildMenuIniCustom());
  ids.insert(custom.begin(), custom.end());
  for (int id : ids) {
    if (id == 1114) {
      EXPECT_EQ(TXLAWindow::Find(id), nullptr);
    } else {
      EXPECT_NE(TXLAWindow::Find(id), nullptr) << "menu item " << id;
    }
  }
  // Each id appears once in the table.
  std::set<int> seen;
  for (const auto& e : TXLAWindow::CommandTable()) EXPECT_TRUE(seen.insert(e.id).second) << e.id;
}

TEST_F(CommandTable, EveryCommandReachesItsHandler) {
  auto w = AgreedWindow();
  ui_->lenient = true;
  for (const auto& entry : TXLAWindow::CommandTable()) {
    SCOPED_TRACE(std::string("command ") + std::to_string(entry.id) + " " + entry.name);
    ui_->transcript.clear();
    platform::ResetQuitRequest();
    w->HelpRequested = false;
    const ContiSettings before = Conti();
    w->Dispatch(entry.id);
    if (kRegularisationChoosingCommands.count(entry.id)) {
      Conti().maxEntropy = before.maxEntropy;
      Conti().secondDerivative = before.secondDerivative;
      Conti().showBothRegularizations = before.showBothRegularizations;
      SwitchOffTimesFromW2t(nullptr);
      gModelSelectorFlags.TimesFromW2tByModel = 0;
    }
    // Program-wide switches that would change what the later tests write.
    Conti().exportMatrices = before.exportMatrices;
    MouseSliding() = MouseSlidingFlags{};
    if (entry.id == 867 && platform::DiagnosticsState().DiagnosticsOn) w->Dispatch(867);
    const auto built = kFirstBoxOfBuiltCommands.find(entry.id);
    if (built != kFirstBoxOfBuiltCommands.end()) {
      ASSERT_FALSE(ui_->transcript.empty());
      EXPECT_EQ(ui_->transcript.front().caption, built->second) << ui_->transcript.front().text;
    } else if (kSilentBuiltCommands.count(entry.id)) {
      for (const auto& t : ui_->transcript) EXPECT_NE(t.caption, "NOT AVAILABLE");
    } else {
      // Commands of subsystems still to come say so, naming their item.
      ASSERT_EQ(ui_->transcript.size(), 1u);
      EXPECT_EQ(ui_->transcript[0].caption, "NOT AVAILABLE");
      const platform::MenuNode* item = w->Frame().Menu().Find(entry.id);
      const std::string expected =
          item ? "\"" + platform::PlainMenuText(item->text) + "\"" : "command " + std::to_string(entry.id);
      EXPECT_NE(ui_->transcript[0].text.find(expected), std::string::npos) << ui_->transcript[0].text;
    }
  }
  EXPECT_TRUE(processes_.calls.size() >= 1u);  // the help prompt offered the browser
}

TEST_F(CommandTable, IdsWithoutEntryDoNothing) {
  auto w = AgreedWindow();
  for (int id : {1114, 0, 99999}) w->Dispatch(id);
  EXPECT_TRUE(ui_->transcript.empty());
  EXPECT_TRUE(ui_->failures.empty());
}

TEST_F(CommandTable, ExitFreesRequestsQuitAndSaysGoodbye) {
  WriteAgreedDefaults();
  std::vector<std::string> calls;
  Services().freeLammArrays = [&] { calls.push_back("lamm"); };
  Services().freeExtrapolationArrays = [&] { calls.push_back("extrapolation"); };
  Services().freeScanData = [&] { calls.push_back("scans"); };
  Services().playSoundBye = [&] {
    calls.push_back(platform::QuitRequested() ? "bye after quit" : "bye before quit");
  };
  Services().finishAutomation = [&](TXLAWindow&) { calls.push_back("results"); };
  auto w = MakeWindow();
  w->Dispatch(230);
  EXPECT_EQ(calls, (std::vector<std::string>{"lamm", "extrapolation", "scans", "bye after quit"}));
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_EQ(platform::QuitExitCode(), 0);
}

TEST_F(CommandTable, F1OnAMarkedItemShowsTheHelpPromptInsteadOfActing) {
  auto w = AgreedWindow();
  ui_->ExpectBox("HELP", "Open it?", platform::IDNO);
  Headless(*w).PressF1InMenu(200);  // "&Load New Files\t^L"
  EXPECT_EQ(Captions(), std::vector<std::string>{"HELP"});
  EXPECT_FALSE(w->HelpRequested);
  EXPECT_TRUE(processes_.calls.empty());
  EXPECT_TRUE(ui_->failures.empty());
}

TEST_F(CommandTable, F1OnAnUnmarkedItemActsAndTheNextMarkedCommandShowsHelp) {
  auto w = AgreedWindow();
  ui_->lenient = true;
  Headless(*w).PressF1InMenu(218);  // "Set &v*rho" has no help test
  EXPECT_EQ(Captions(), (std::vector<std::string>{"", "", ""}));
  EXPECT_TRUE(w->HelpRequested);
  ui_->transcript.clear();
  w->Dispatch(212);  // "&Parameters" tests the flag
  EXPECT_EQ(Captions(), std::vector<std::string>{"HELP"});
  EXPECT_FALSE(w->HelpRequested);
}

TEST_F(CommandTable, F1WithoutAnOpenMenuDoesNothingHere) {
  auto w = AgreedWindow();
  Headless(*w).PressF1InMenu(0);
  w->EvEnterIdle(platform::MSGF_DIALOGBOX, true);
  w->EvEnterIdle(platform::MSGF_MENU, false);
  EXPECT_FALSE(w->HelpRequested);
  EXPECT_TRUE(ui_->transcript.empty());
}

TEST_F(CommandTable, ExitWhileHelpIsRequestedShowsHelpAndKeepsRunning) {
  auto w = AgreedWindow();
  ui_->ExpectBox("HELP", "", platform::IDYES);
  Headless(*w).PressF1InMenu(230);
  EXPECT_FALSE(platform::QuitRequested());
  EXPECT_FALSE(w->HelpRequested);
  EXPECT_EQ(processes_.calls.size(), 1u);
  EXPECT_NE(processes_.calls[0].find("README.md"), std::string::npos);
}

TEST_F(CommandTable, HelpOpensTheShippedReadmeOrSaysWhereItIs) {
  auto w = AgreedWindow();
  std::filesystem::create_directories(dir_ / "build");
  platform::ProgramPaths.ProgramFolder = (dir_ / "build").string() + "/";
  std::ofstream(dir_ / "README.md") << "# help";
  const std::string readme = (dir_ / "README.md").string();
  ui_->ExpectBox("HELP", "Help is available in " + readme, platform::IDYES);
  w->Dispatch(268);
  ASSERT_EQ(processes_.calls.size(), 1u);
  EXPECT_EQ(processes_.calls[0], "start firefox file://" + readme);
  // No browser at all: the user is told where the file is.
  processes_.calls.clear();
  processes_.succeed = false;
  ui_->ExpectBox("HELP", "", platform::IDYES).ExpectBox("HELP", "No browser could be started. Open this file to read the help:\n" + readme);
  w->Dispatch(268);
  EXPECT_EQ(processes_.calls.size(), 2u);
  // A program folder of the user's own ($TARNEL_HOME) holds no README: the
  // one of the source tree the program was built from is offered.
  std::filesystem::remove(dir_ / "README.md");
  const std::string source = std::filesystem::weakly_canonical(TARNEL_SOURCE_DIR "/README.md").string();
  ui_->ExpectBox("HELP", "Help is available in " + source + " ", platform::IDNO);
  w->Dispatch(268);
  EXPECT_EQ(processes_.calls.size(), 2u);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

// The help the Help menu opens sends readers to source files by path: each
// one named must be there.
TEST(ReadmeHelp, EverySourceFileItNamesExists) {
  std::ifstream in(TARNEL_SOURCE_DIR "/README.md");
  ASSERT_TRUE(in);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::regex path("`([a-z_]+/[A-Za-z0-9_/]+\\.(cpp|h))`");
  int named = 0;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), path); it != std::sregex_iterator(); ++it) {
    ++named;
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(TARNEL_SOURCE_DIR) / (*it)[1].str())) << (*it)[1];
  }
  EXPECT_GE(named, 4);
}

TEST_F(CommandTable, AcceleratorsOfTheInteractiveTable) {
  auto w = AgreedWindow();
  ui_->lenient = true;
  struct Key {
    char key;
    bool control, alt;
    int command;
  };
  // Alt+F, Alt+G and Alt+I go to their commands, not to the menu mnemonics
  // of "&Fit", "&Generate" and "D&isplay"; Ctrl+G and Alt+M have no item.
  for (const Key& k : {Key{'G', true, false, 901}, Key{'M', false, true, 837},
                       Key{'F', false, true, 915}, Key{'G', false, true, 611},
                       Key{'I', false, true, 542}, Key{'F', true, false, 215},
                       Key{'C', true, false, 646}, Key{'L', true, false, 200}}) {
    SCOPED_TRACE(std::string(1, k.key) + " -> " + std::to_string(k.command));
    const auto& table = w->Frame().Accelerators();
    auto it = std::find_if(table.begin(), table.end(), [&](const platform::Accelerator& a) {
      return a.key == k.key && a.control == k.control && a.alt == k.alt && !a.shift;
    });
    ASSERT_NE(it, table.end());
    EXPECT_EQ(it->command, k.command);
  }
  EXPECT_EQ(w->Frame().Accelerators().size(), 22u);
  ui_->transcript.clear();
  ui_->lenient = true;
  EXPECT_TRUE(Headless(*w).PressAccelerator('S', true, false, false));
  EXPECT_EQ(Captions().front(), "save fitted data as");
}

TEST_F(CommandTable, ACommandWithSeveralItemsTicksThemAll) {
  platform::MenuModel m;
  m.Set(BuildMenu1());
  EXPECT_EQ(m.Count(927), 2);
  EXPECT_EQ(m.Count(904), 2);
  EXPECT_EQ(m.Count(272), 2);
  EXPECT_TRUE(m.Check(927, true));
  int ticked = 0;
  std::function<void(const platform::MenuNode&)> walk = [&](const platform::MenuNode& n) {
    for (const auto& c : n.children) {
      if (c.kind == platform::MenuNode::Kind::Item && c.id == 927 && c.checked) ++ticked;
      walk(c);
    }
  };
  walk(m.Bar());
  EXPECT_EQ(ticked, 2);
  EXPECT_FALSE(m.Check(4242, true));
}

TEST_F(CommandTable, MenuItemsAndPopupsComeAndGoAtRunTime) {
  platform::MenuModel m;
  m.Set(BuildMenu1());
  ASSERT_TRUE(m.Delete(918));
  EXPECT_EQ(m.Count(918), 0);
  ASSERT_TRUE(m.InsertBefore(896, platform::MenuNode::Item(918, "Copy Ln(c) Data")));
  const auto ids = m.CommandIds();
  const auto at = [&](int id) { return std::find(ids.begin(), ids.end(), id) - ids.begin(); };
  EXPECT_EQ(at(918) + 1, at(896));
  EXPECT_TRUE(m.Delete(918));
  EXPECT_EQ(m.Count(918), 0);
  EXPECT_FALSE(m.Delete(918));
  ASSERT_NE(m.FindPopup("Plot"), nullptr);
  EXPECT_TRUE(m.DeletePopup("Plot"));
  EXPECT_EQ(m.Count(900), 0);
  EXPECT_TRUE(m.InsertBefore(
      552, platform::MenuNode::Popup("FloTools", {platform::MenuNode::Item(915, "FloTools")})));
  EXPECT_EQ(m.Count(915), 1);
  EXPECT_TRUE(m.Enable(231, false));
  EXPECT_FALSE(m.IsEnabled(231));
  EXPECT_EQ(platform::PlainMenuText("Copy Screenshot \t^C"), "Copy Screenshot");
  EXPECT_EQ(platform::PlainMenuText("Set Fit Limits For Meniscus && Bottom"),
            "Set Fit Limits For Meniscus & Bottom");
}
