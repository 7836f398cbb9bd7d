// "Lamm Equation Parameters" (command 611): what the dialog shows, which
// entries it refuses, and what the command does with a confirmed dialog:
// grid reallocation, algorithm switches, the rotor-speed profile, scan
// times from w^2t, warnings, and the offer to keep the values as defaults.
#include <cmath>
#include <fstream>
#include <map>

#include "app/dialogs/lamm_params_dialog.h"
#include "data/rotor_speed_profile.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "fit/lamm_grid.h"
#include "platform/program_paths.h"
#include "road_support.h"
// Qt's headers last: its keyword macros must not reach the program's.
#include "desktop_road_fixture.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>

#include "app/dialogs/form_dialog_qt.h"
#include "tests/support/file_text.h"

namespace {

constexpr const char* kCaption = "Numerical Control of Lamm Equation Solution";
constexpr const char* kSave = "save new parameters as default?";

class LammParameters : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    savedPath_ = platform::ProgramPaths.LammParamsIniPath;
    platform::ProgramPaths.LammParamsIniPath = (dir_ / "tarnellammparams.ini").string();
    CurrentSpeedProfile.Clear();
  }
  void TearDown() override {
    CurrentSpeedProfile.Clear();
    FreeLammArrays();
    platform::ProgramPaths.LammParamsIniPath = savedPath_;
    RoadTest::TearDown();
  }
  // The whole record as the preference file holds it, and the fields the
  // file leaves out.
  std::string Record() {
    const std::string path = (dir_ / "record.ini").string();
    SaveLammEqParameterPreferences(path, LammSettings(), gFitEngineState.maxRelativeChange);
    const LammSolverSettings& l = LammSettings();
    return ReadFile(path) + std::to_string(l.rampRotorSpeed) + std::to_string(l.modelInitialDistribution) + " " +
           std::to_string(l.gridSize.inUse) + " " + std::to_string(l.workingMaxDcOverC) + " " +
           std::to_string(l.lowerStepThreshold) + " " + std::to_string(l.upperStepThreshold) + " " +
           std::to_string(l.checkRotorAcceleration);
  }
  std::vector<std::string> SavedLines() { return teststate::FileLines(platform::ProgramPaths.LammParamsIniPath); }
  void Open(ScriptedFormRunner::Expectation e) {
    e.caption = kCaption;
    forms_.Expect(std::move(e));
    Window().Dispatch(611);
    EXPECT_TRUE(forms_.failures.empty()) << forms_.failures.front();
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  }
  // Meniscus and bottom of the loaded run and the grid arrays allocated.
  void AllocatedGrid() {
    LoadRun(2);
    ASSERT_TRUE(AllocLammArrays());
    ASSERT_EQ(CurrentLammGrid().AllocatedGridSize, 1000);
  }

  std::string savedPath_;
};

TEST_F(LammParameters, DefaultsAreShownAndAnUnchangedOkAsksNothing) {
  const std::string before = Record();
  Open({});
  const FormDialog& shown = forms_.seen.front();
  EXPECT_EQ(shown.templateId, 631);
  const std::vector<std::pair<int, std::string>> texts = {
      {612, "5.000000"}, {614, "1.00e-04"}, {616, "1000"}, {617, "5.0"},  {619, "2000"},     {618, "75"},
      {628, "1.000"},    {629, "1.00"},     {643, "-6.00"}, {834, "0.0080"}, {835, "2.43"}, {627, "0.00"},
      {639, "60.00"},    {948, "10.0000"}};
  for (const auto& [id, text] : texts) EXPECT_EQ(shown.Find(id)->text, text) << id;
  const std::vector<std::pair<int, int>> states = {{620, 0}, {621, 1}, {944, 0}, {924, 1}, {622, 1},
                                                   {624, 0}, {625, 0}, {613, 1}, {641, 1}, {630, 0}};
  for (const auto& [id, state] : states) EXPECT_EQ(shown.Find(id)->state, state) << id;
  EXPECT_EQ(shown.Find(612)->label, "normalized s for automatic change");
  EXPECT_EQ(shown.Find(948)->label, "Variable Speed D shut off at x-fold grid dist");
  EXPECT_TRUE(ui_->transcript.empty());
  EXPECT_EQ(Record(), before);
  EXPECT_FALSE(std::filesystem::exists(platform::ProgramPaths.LammParamsIniPath));

  // A value with more digits than its field shows survives an unchanged OK.
  LammSettings().gridS = 2.3456;
  Open({});
  EXPECT_EQ(LammSettings().gridS, 2.3456);
  EXPECT_TRUE(ui_->transcript.empty());
}

TEST_F(LammParameters, EntriesThatAreNoSoundNumbersAreRefused) {
  struct Case {
    int id;
    const char* text;
  };
  const Case refused[] = {{628, "-1"},    {612, "abc"},    {614, "-0"},   {617, ""},      {627, "-0.5"},
                          {616, "200000"}, {619, "100001"}, {618, "1e9"}, {629, "0"},     {629, "0.00"},
                          {643, "abc"},   {643, "inf"},    {614, "inf"}, {835, "nan"},   {948, "nan"},
                          {639, "inf"}};
  const std::string before = Record();
  for (const Case& k : refused) {
    ui_->transcript.clear();
    const int beeps = ui_->beeps;
    ui_->ExpectBox("Input Error", "Invalid Entry");
    forms_.Expect({kCaption, {{k.id, k.text}}, {}});
    Open({"", {}, {}, false});
    EXPECT_EQ(ui_->transcript.size(), 1u) << k.id << " " << k.text;
    EXPECT_EQ(ui_->beeps, beeps + 1);
    EXPECT_EQ(Record(), before) << k.id << " " << k.text;
  }
  // Negative truncation levels, a zero written as 0 and a grid at the
  // limit are taken.
  struct Taken {
    int id;
    const char* text;
    double (*value)();
    double expected;
  };
  const Taken taken[] = {
      {643, "-9", [] { return LammSettings().truncationLevel; }, 1e-9},
      {627, "0.25", [] { return LammSettings().gridS; }, 0.25},
      {612, "0.0", [] { return static_cast<double>(LammSettings().automaticSwitchS); }, 0.0},
      {619, "100000", [] { return static_cast<double>(LammSettings().gridSizeUpperLimit); }, 100000.0},
      {628, "2.5", [] { return static_cast<double>(gFitEngineState.maxRelativeChange); }, 0.025},
      {614, "3e-3", [] { return LammSettings().backDiffusionLevel; }, 3e-3},
      {617, "7.5", [] { return static_cast<double>(LammSettings().pointsPerSigma); }, 7.5},
      {618, "120.9", [] { return static_cast<double>(LammSettings().gridSizeLowerLimit); }, 120.0},
      {629, "0.5", [] { return LammSettings().maxDcOverC; }, 0.5},
      {639, "45", [] { return static_cast<double>(LammSettings().automaticSwitchSOptimised); }, 45.0},
      {834, "0.012", [] { return static_cast<double>(LammSettings().convolutionRange); }, 0.012},
      {835, "3.5", [] { return static_cast<double>(LammSettings().scanVelocity); }, 3.5},
      {948, "4", [] { return LammSettings().variableSpeedDiffusionShutOff; }, 4.0},
  };
  for (const Taken& k : taken) {
    ui_->ExpectBox("LAMM EQUATION PARAMETERS", kSave, platform::IDNO);
    Open({"", {{k.id, k.text}}, {}});
    EXPECT_NEAR(k.value(), k.expected, std::fabs(k.expected) * 1e-6) << k.id;
  }
}

TEST_F(LammParameters, GridSizeTakenDownToAnIntegerReallocatesOnce) {
  ASSERT_NO_FATAL_FAILURE(AllocatedGrid());
  const double* radius = CurrentLammGrid().Radius;
  // The same size keeps the arrays.
  Open({"", {{616, "1000.7"}}, {}});
  EXPECT_EQ(CurrentLammGrid().Radius, radius);
  EXPECT_TRUE(ui_->transcript.empty());

  ui_->ExpectBox("LAMM EQUATION PARAMETERS", kSave, platform::IDNO);
  Open({"", {{616, "750.9"}}, {}});
  const LammSolverSettings& l = LammSettings();
  EXPECT_EQ(l.gridSize.setting, 750);
  EXPECT_EQ(l.gridSize.inUse, 750);
  ASSERT_EQ(CurrentLammGrid().AllocatedGridSize, 750);
  EXPECT_EQ(CurrentLammGrid().Radius[750], gModelParams.bottom);
}

TEST_F(LammParameters, ChangingTheAlgorithmAloneOffersToSaveIt) {
  ASSERT_NO_FATAL_FAILURE(AllocatedGrid());
  LammSolverSettings& l = LammSettings();
  l.automaticAlgorithm = 0;
  l.movingHatAlgorithm = 1;
  l.claverieAlgorithm = 0;
  ui_->ExpectBox("LAMM EQUATION PARAMETERS", kSave, platform::IDYES);
  Open({"", {}, {{625, 0}, {624, 1}}});
  EXPECT_EQ(l.claverieAlgorithm, 1);
  EXPECT_EQ(l.movingHatAlgorithm, 0);
  EXPECT_EQ(CurrentLammGrid().GridAllocated, 0);  // the moving frame's arrays went
  const std::vector<std::string> lines = SavedLines();
  ASSERT_EQ(lines.size(), 28u);
  EXPECT_EQ(lines[11], "1.000000");
  EXPECT_EQ(lines[12], "0.000000");
  EXPECT_EQ(lines[15], "0.010000");
  EXPECT_EQ(lines[21], "-6.000000");

  // The automatic choice keeps the moving hat on; check rotor acceleration
  // alone is no change worth saving.
  ui_->ExpectBox("LAMM EQUATION PARAMETERS", kSave, platform::IDNO);
  Open({"", {}, {{622, 1}, {624, 0}}});
  EXPECT_EQ(l.automaticAlgorithm, 1);
  EXPECT_EQ(l.movingHatAlgorithm, 1);
  ui_->transcript.clear();
  Open({"", {}, {{924, 0}}});
  EXPECT_EQ(l.checkRotorAcceleration, 0);
  EXPECT_TRUE(ui_->transcript.empty());
}

TEST_F(LammParameters, LeavingAnExplicitMovingHatDropsTheFixedStepAndAsksAgain) {
  LammSolverSettings& l = LammSettings();
  l.automaticAlgorithm = 0;
  l.movingHatAlgorithm = 1;
  l.fixedTimeStep = 1;
  ui_->ExpectBox("TARNEL", "switching off fixed dt - confirm");
  ui_->ExpectBox("LAMM EQUATION PARAMETERS", kSave, platform::IDNO);  // from the second dialog
  ui_->ExpectBox("LAMM EQUATION PARAMETERS", kSave, platform::IDNO);  // and the first
  forms_.Expect({kCaption, {}, {{625, 0}, {624, 1}}});
  forms_.Expect({kCaption, {}, {}});  // the dialog again, confirmed as shown
  Window().Dispatch(611);
  EXPECT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_EQ(forms_.seen.size(), 2u);
  EXPECT_EQ(forms_.seen.back().Find(623)->state, 0);
  EXPECT_EQ(l.fixedTimeStep, 0);
  EXPECT_EQ(l.claverieAlgorithm, 1);
}

TEST_F(LammParameters, ScanTimesFromW2tAndBack) {
  LoadRun(2);
  ScanRecord& r = CurrentScanSet().records[1];
  ASSERT_EQ(r.rpm, 50000.0f);
  r.w2t = 2.7415568e10;
  const double elapsed = r.time;
  ui_->ExpectBox("LAMM EQUATION PARAMETERS", kSave, platform::IDNO);
  Open({"", {}, {{620, 1}, {621, 0}}});
  const LammSolverSettings& l = LammSettings();
  EXPECT_EQ(l.timesFromW2t, 1);
  EXPECT_EQ(l.rampRotorSpeed, 0);
  EXPECT_NEAR(r.timeRead, 1000.0, 5e-4);
  EXPECT_EQ(r.time, elapsed);
  ui_->ExpectBox("LAMM EQUATION PARAMETERS", kSave, platform::IDNO);
  Open({"", {}, {{620, 0}, {621, 1}}});
  EXPECT_EQ(l.rampRotorSpeed, 1);
  EXPECT_EQ(r.timeRead, elapsed);
}

TEST_F(LammParameters, SpeedStepsNeedDataAndExcludeTimesFromW2t) {
  // Without scans: the error, and ramp rotor speed with the acceleration check.
  ui_->ExpectBox("Error", "Error: Please Load SV Data First - speedsteps will be automatically loaded if "
                          "speedsteps.txt is present");
  Open({"", {}, {{944, 1}, {621, 0}, {924, 0}}});
  const LammSolverSettings& l = LammSettings();
  EXPECT_EQ(l.rampRotorSpeed, 1);
  EXPECT_EQ(l.timesFromW2t, 0);
  EXPECT_EQ(l.checkRotorAcceleration, 1);
  EXPECT_FALSE(CurrentSpeedProfile.Active());

  // A profile in use is shown, kept while selected (the ramps are then
  // simulated, without complaint), dropped for times from w^2t.
  auto profile = std::make_unique<CRotorSpeedProfile>();
  const float t[] = {0, 0, 2000}, v[] = {0, 3000, 50000}, a[] = {0, 200, 200};
  ASSERT_TRUE(profile->SetSteps(2, t, v, a));
  CurrentSpeedProfile.Replace(std::move(profile));
  ASSERT_TRUE(CurrentSpeedProfile.Active());
  Open({"", {}, {{621, 0}}});
  EXPECT_EQ(forms_.seen.back().Find(944)->state, 1);
  EXPECT_EQ(forms_.seen.back().Find(924)->state, 0);
  EXPECT_TRUE(CurrentSpeedProfile.Active());
  EXPECT_EQ(l.rampRotorSpeed, 1);
  EXPECT_TRUE(ui_->transcript.size() == 1u);

  ui_->ExpectBox("LAMM EQUATION PARAMETERS", kSave, platform::IDNO);
  Open({"", {}, {{944, 0}, {621, 0}, {620, 1}}});
  EXPECT_FALSE(CurrentSpeedProfile.Active());
  EXPECT_EQ(l.timesFromW2t, 1);
}

TEST_F(LammParameters, WarningsAndForcedInitialDistribution) {
  LammSolverSettings& l = LammSettings();
  // Intensity data start from the model's distribution even after Cancel.
  CurrentDataTypeFlags().intensity = 1;
  l.experimentalInitialDistribution = 1;
  l.modelInitialDistribution = 0;
  Open({"", {{612, "7"}}, {{630, 1}}, false});
  EXPECT_EQ(l.experimentalInitialDistribution, 0);
  EXPECT_EQ(l.modelInitialDistribution, 1);
  EXPECT_EQ(l.automaticSwitchS, 5.0f);
  EXPECT_TRUE(ui_->transcript.empty());
  CurrentDataTypeFlags().intensity = 0;

  // Fluorescence scans cannot have their scan time simulated.
  CurrentDataTypeFlags().fluorescence = 1;
  ui_->ExpectBox("TARNEL", "scan time correction for fluorescence data not yet implemented, switching off");
  Open({"", {}, {{832, 1}}});
  EXPECT_EQ(l.simulateTimeResolution, 0);
  CurrentDataTypeFlags().fluorescence = 0;

  // max dc/c moves the step thresholds with it.
  ui_->ExpectBox("LAMM EQUATION PARAMETERS", kSave, platform::IDNO);
  Open({"", {{629, "0.5"}}, {}});
  EXPECT_EQ(l.maxDcOverC, 0.5);
  EXPECT_EQ(l.workingMaxDcOverC, 0.5);
  EXPECT_DOUBLE_EQ(l.lowerStepThreshold, 0.025);
  EXPECT_DOUBLE_EQ(l.upperStepThreshold, 0.1);
}

// The window on the desktop, its dialogs the desktop's own forms: the
// commands are reached by their menu items and keys, the entries typed
// into the fields and confirmed by a click on OK.
class LammGridSizeDesktop : public DesktopRoadTest {
 protected:
  void SetUp() override {
    DesktopRoadTest::SetUp();
    // (The fixture puts the program's paths back after the test.)
    platform::ProgramPaths.LammParamsIniPath = (dir_ / "tarnellammparams.ini").string();
    formScope_.reset();
    SetFormRunner([this](FormDialog& form) { return Answer(form); });
  }
  void TearDown() override {
    SetFormRunner(nullptr);
    DesktopRoadTest::TearDown();
  }
  // The next dialog: what it shows is kept by caption, `typed` goes into the
  // fields by their labels, key by key, and OK is clicked.
  void Next(std::map<std::string, std::string> typed) { typed_ = std::move(typed); }
  bool Answer(FormDialog& form) {
    std::unique_ptr<QDialog> dialog = BuildQtForm(form, nullptr);
    dialog->show();
    QCoreApplication::processEvents();
    for (const auto& [label, text] : typed_) {
      QLineEdit* edit = EditBeside(*dialog, label);
      EXPECT_NE(edit, nullptr) << label;
      if (!edit) continue;
      Click(edit);
      Key(edit, Qt::Key_A, Qt::ControlModifier);
      for (char c : text) Key(edit, c, Qt::NoModifier, QString(QChar(c)));
    }
    typed_.clear();
    auto* buttons = dialog->findChild<QDialogButtonBox*>();
    Click(buttons->button(QDialogButtonBox::Ok));
    QCoreApplication::processEvents();
    shown_[form.caption] = form;
    return dialog->result() == QDialog::Accepted;
  }
  // The edit on the row of the label, to its right.
  static QLineEdit* EditBeside(QDialog& dialog, const std::string& label) {
    QLabel* name = nullptr;
    for (QLabel* l : dialog.findChildren<QLabel*>())
      if (l->text().toStdString() == label) name = l;
    if (!name) return nullptr;
    const QPoint at = name->mapTo(&dialog, name->rect().center());
    QLineEdit* nearest = nullptr;
    int distance = 1 << 20;
    for (QLineEdit* e : dialog.findChildren<QLineEdit*>()) {
      const QPoint p = e->mapTo(&dialog, e->rect().center());
      if (std::abs(p.y() - at.y()) < 12 && p.x() > at.x() && p.x() - at.x() < distance) {
        distance = p.x() - at.x();
        nearest = e;
      }
    }
    return nearest;
  }
  static void Click(QWidget* w) {
    const QPointF at = QRectF(w->rect()).center();
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(w, &release);
  }
  static void Key(QWidget* w, int key, Qt::KeyboardModifiers modifiers, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QCoreApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QCoreApplication::sendEvent(w, &release);
  }
  // A model chosen by a click on its menu item.
  void Menu(int command) {
    const auto actions = Qt().MenuBuilder().Actions(command);
    ASSERT_FALSE(actions.empty()) << command;
    actions.front()->trigger();
    Drain();
  }
  void Keys(int key, Qt::KeyboardModifiers modifiers) {
    Qt().DeliverKey(key, modifiers);
    Drain();
  }
  std::string Shown(const std::string& caption, int id) {
    const auto it = shown_.find(caption);
    if (it == shown_.end() || !it->second.Find(id)) return "(not shown)";
    return it->second.Find(id)->text;
  }
  std::vector<std::string> SavedLines() { return teststate::FileLines(platform::ProgramPaths.LammParamsIniPath); }

  std::map<std::string, std::string> typed_;
  std::map<std::string, FormDialog> shown_;
};

// The distribution's own grid size is in use while it is chosen: the
// parameter box shows the size it computes on, before and after its Run,
// and the Lamm dialog the user's default, which a change of another entry
// saves as it was and which the discrete species get back.
TEST_F(LammGridSizeDesktop, ADistributionsGridSizeIsInUseButNeverTheDefault) {
  Qt().Resize(1000, 700);
  Qt().Show();
  LoadRun(3);
  ui_->lenient = true;  // the models' notes
  Menu(198);
  Menu(275);
  const std::string params = "Continuous Sedimentation Coefficient Distribution c(s)";
  Keys(Qt::Key_P, Qt::ControlModifier);
  EXPECT_EQ(Shown(params, 439), "500");
  Keys(Qt::Key_R, Qt::ControlModifier);
  Keys(Qt::Key_P, Qt::ControlModifier);
  EXPECT_EQ(Shown(params, 439), "500");
  ui_->lenient = false;

  ui_->ExpectBox("LAMM EQUATION PARAMETERS", kSave, platform::IDYES);
  Next({{"max dc/c", "0.5"}});
  Keys(Qt::Key_G, Qt::AltModifier);
  ExpectScriptMet();
  EXPECT_EQ(Shown(kCaption, 616), "1000");
  EXPECT_DOUBLE_EQ(LammSettings().maxDcOverC, 0.5);
  const std::vector<std::string> lines = SavedLines();
  ASSERT_EQ(lines.size(), 28u);
  EXPECT_EQ(lines[4], "1000.000000");
  EXPECT_EQ(lines[16], "0.500000");
  // Still the distribution's size in use.
  ui_->lenient = true;
  Keys(Qt::Key_P, Qt::ControlModifier);
  EXPECT_EQ(Shown(params, 439), "500");
  // The discrete species get the default back.
  Menu(198);
  ui_->lenient = false;
  Keys(Qt::Key_G, Qt::AltModifier);
  EXPECT_EQ(Shown(kCaption, 616), "1000");
}

}  // namespace
