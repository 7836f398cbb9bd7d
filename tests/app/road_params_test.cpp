// The Parameters dialog of the distribution models as a user meets it:
// every confirmed entry comes back, model-specific fields are read, and the
// desktop form fits a laptop screen.
// The program's headers come first: Qt's keyword macros must not reach them.
#include "road_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>

#include "app/dialogs/form_dialog_qt.h"
#include "app/window/road_services.h"
#include "distributions/conti_settings.h"
#include "desktop_support.h"

namespace {

constexpr const char* kCs = "Continuous Sedimentation Coefficient Distribution c(s)";

class RoadParams : public RoadTest {
 protected:
  void Load() {
    CurrentScanSet().leftFitLimit = CurrentScanSet().rightFitLimit = 0;
    LoadRun(3);
  }
  // A model command, with whatever it asks answered by default.
  void Choose(int command) {
    DispatchLenient(command);
    ui_->transcript.clear();
  }
  // The dialog as the last Parameters command showed it.
  const FormDialog& Shown() const { return forms_.seen.back(); }
  std::string ShownText(int id) const { return Shown().Find(id)->text; }
  int ShownState(int id) const { return Shown().Find(id)->state; }
  void Reopen() {
    forms_.Expect({"", {}, {}});
    Window().Dispatch(212);
  }
};

TEST_F(RoadParams, EveryConfirmedEntryOfTheCsDialogComesBack) {
  Load();
  Choose(275);
  // Ranges the user set earlier that the new meniscus leaves.
  UserFitLimitsSet() = 1;
  gFitEngineState.meniscusMin = 5.95f;
  gFitEngineState.meniscusMax = 5.97f;
  // s max 12, frictional ratio and meniscus fitted, meniscus 6.01; the
  // meniscus ranges are asked once and confirmed as offered.
  forms_.Expect({kCs,
                 {{405, "60"}, {406, "0.5"}, {407, "12"}, {413, "0.9"}, {419, "1.31"}, {435, "6.0100"},
                  {437, "7.1500"}, {433, "0.002"}},
                 {{416, 1}, {434, 1}, {436, 0}, {431, 1}, {455, 1}, {432, 0}, {424, 0}}});
  forms_.Expect({"set meniscus+limits", {}, {}});
  DispatchLenient(212);
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  ASSERT_EQ(forms_.seen.size(), 2u);
  EXPECT_EQ(Conti().sMax, 12.0f);
  EXPECT_EQ(Conti().fitFfValue, 1);
  EXPECT_EQ(gModelParams.meniscusFit, 1);

  Reopen();
  const std::vector<std::pair<int, std::string>> texts = {
      {405, "60"}, {406, "0.50000"}, {407, "12.0"}, {413, "0.90000"}, {419, "1.31000"},
      {435, "6.0100"}, {437, "7.1500"}, {433, "0.00200"}};
  for (const auto& [id, text] : texts) EXPECT_EQ(ShownText(id), text) << "field " << id;
  const std::vector<std::pair<int, int>> states = {{416, 1}, {434, 1}, {436, 0}, {431, 1}, {455, 1}, {432, 0}};
  for (const auto& [id, state] : states) EXPECT_EQ(ShownState(id), state) << "box " << id;
  // The Lamm solver's switches are shown as a Run left them, and take no
  // entry: the dialog never reads them back.
  for (const int id : {441, 442}) EXPECT_FALSE(Shown().Find(id)->enabled) << "box " << id;
}

TEST_F(RoadParams, ANewMeniscusMovesTheFitLimitAndTheAutomaticRangesFollow) {
  Load();
  Choose(275);
  const ScanSet& s = CurrentScanSet();
  const FitEngineState& fs = gFitEngineState;
  ASSERT_LT(s.leftFitLimit, 6.0f);
  forms_.Expect({kCs, {{435, "6.0100"}}, {{434, 1}}});
  Window().Dispatch(212);
  EXPECT_EQ(forms_.seen.size(), 1u);  // the ranges were consistent: not asked
  EXPECT_FLOAT_EQ(s.leftFitLimit, 6.02f);
  EXPECT_FLOAT_EQ(fs.meniscusMax, 6.019f);
  EXPECT_FLOAT_EQ(fs.meniscusMin, 5.99f);
}

// OK without an edit keeps every value behind the fields, digits the box
// does not show included: a meniscus a stopped fit left, a species' s, the
// baseline, the bottom; a field typed over takes the typed value.
TEST_F(RoadParams, OKWithoutAnEditKeepsTheDigitsTheBoxDoesNotShow) {
  Load();
  for (int command : {275, 198}) {
    SCOPED_TRACE(command);
    Choose(command);
    ModelParameterVector& v = gModelParameterVector;
    v.P[13] = gModelParams.meniscus = 6.012088f;
    v.F[13] = gModelParams.meniscusFit = 1;
    gModelParams.parametersEntered = 1;  // (its ranges were set)
    v.P[14] = gModelParams.bottom = 7.1512345f;
    v.P[15] = gModelParams.baseline = 0.00123456f;
    if (command == 198) v.P[5] = 4.7778012f;
    const ModelParameterVector before = v;
    Reopen();
    ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
    ASSERT_FALSE(forms_.seen.empty());
    ASSERT_NE(Shown().Find(435), nullptr);
    ASSERT_EQ(ShownText(435), "6.0121");
    for (int i : {5, 13, 14, 15}) EXPECT_EQ(v.P[i], before.P[i]) << "slot " << i;
    EXPECT_EQ(gModelParams.meniscus, 6.012088f);
    forms_.Expect({"", {{435, "6.0125"}}, {}});
    DispatchLenient(212);
    EXPECT_EQ(v.P[13], 6.0125f);
  }
}

TEST_F(RoadParams, TheDiscreteSpeciesOfTheDistributionModelsIsKept) {
  Load();
  struct Case {
    int command, templateId, sField;
    const char* m;
    const char* s;
    const char* shownM;
    const char* shownS;
  };
  const Case cases[] = {
      {598, 599, 427, "45000", "3.3", "45000.0", "3.3"},
      {870, 871, 438, "52000", "3.7", "52000.0", "3.70000"},
      {950, 951, 438, "61000", "4.1", "61000.0", "4.10000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.templateId);
    Choose(c.command);
    forms_.Expect({"", {{443, c.m}, {c.sField, c.s}}, {}});
    DispatchLenient(212);
    EXPECT_EQ(Shown().templateId, c.templateId);
    EXPECT_TRUE(Shown().Find(443)->visible);
    Reopen();
    EXPECT_EQ(ShownText(443), c.shownM);
    EXPECT_EQ(ShownText(c.sField), c.shownS);
  }
  // The hybrid model keeps its discrete species in the distribution settings.
  EXPECT_FLOAT_EQ(Conti().discreteM, 61000.0f);
  EXPECT_FLOAT_EQ(Conti().discreteS, 4.1f);
}

// The ends of the c(M) grid, converted from the s range, are shown as the
// whole daltons a user would type; what is typed comes back as typed.
TEST_F(RoadParams, TheMolarMassGridShowsWholeDaltons) {
  Load();
  Choose(235);
  Reopen();
  for (int id : {406, 407}) {
    const std::string text = ShownText(id);
    EXPECT_EQ(text.find('.'), std::string::npos) << text;
    EXPECT_GT(std::atof(text.c_str()), 100.0) << text;
  }
  forms_.Expect({"", {{406, "2000"}, {407, "514287"}}, {}});
  DispatchLenient(212);
  Reopen();
  EXPECT_EQ(ShownText(406), "2000");
  EXPECT_EQ(ShownText(407), "514287");
}

TEST_F(RoadParams, TheSizeAndShapeDisplayChoiceIsWrittenAndShown) {
  Load();
  Choose(595);
  forms_.Expect({"", {}, {{442, 1}, {445, 0}, {446, 0}}});
  Window().Dispatch(212);
  EXPECT_EQ(Shown().templateId, 596);
  EXPECT_EQ(Conti().display2DSwitch[0], 1);
  Reopen();
  EXPECT_EQ(ShownState(442), 1);
  EXPECT_EQ(ShownState(445), 0);
  // "plot s-ff0" clears the others.
  forms_.Expect({"", {}, {{442, 1}, {446, 1}, {445, 1}}});
  Window().Dispatch(212);
  EXPECT_EQ(Conti().display2DSwitch[0], 0);
  EXPECT_EQ(Conti().display2DSwitch[1], 0);
  Reopen();
  EXPECT_EQ(ShownState(445), 1);
  EXPECT_EQ(ShownState(442), 0);
}

TEST_F(RoadParams, TheScalingLawTemplateHasItsCalibrationAndDeconvolutionOptions) {
  Load();
  Choose(887);
  Reopen();
  ASSERT_EQ(Shown().templateId, 888);
  EXPECT_EQ(Shown().Find(425)->label, "calibrate");
  EXPECT_TRUE(Shown().Find(425)->visible);
  EXPECT_EQ(Shown().Find(409)->label, "no diffusional deconvolution (i.e., ls-g*(s))");
  // The exponent is shown in exponent form.
  EXPECT_EQ(ShownText(428), "6.670e-01");

  // Without deconvolution nothing can be fitted.
  ui_->ExpectBox("", "fitting for ks and bs impossible without diffusion deconvolution, switching this off.");
  forms_.Expect({"", {}, {{409, 1}, {416, 1}}});
  Window().Dispatch(212);
  EXPECT_EQ(Conti().scalingZeroD, 1);
  EXPECT_EQ(gModelParams.concentrationFit[3], 0);
  Reopen();
  EXPECT_EQ(ShownState(409), 1);

  // A calibration that fails asks again; one that succeeds clears the fits.
  bool succeed = false;
  Road().calibrateCMPowerLaw = [&] { return succeed; };
  ui_->ExpectBox("", "calibration of scaling law failed");
  forms_.Expect({"", {}, {{409, 0}, {425, 1}}});
  forms_.Expect({"", {}, {{425, 0}, {416, 1}}});
  ui_->ExpectBox("", "note: fitting ks will make prior calibration invalid");
  Window().Dispatch(212);
  EXPECT_EQ(forms_.seen.size(), 5u);
  EXPECT_EQ(Conti().scalingZeroD, 0);
  succeed = true;
  forms_.Expect({"", {}, {{425, 1}, {416, 1}}});
  Window().Dispatch(212);
  EXPECT_EQ(gModelParams.concentrationFit[3], 0);
  Road().calibrateCMPowerLaw = nullptr;
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(RoadParams, AnInvalidEntryIsNamedByItsLabel) {
  Load();
  Choose(275);
  ui_->ExpectBox("Input Error", "Invalid Entry in \"s max\": \"12,5\" is not a number.");
  forms_.Expect({kCs, {{407, "12,5"}}, {}});
  forms_.Expect({kCs, {{407, "12.5"}}, {}});
  Window().Dispatch(212);
  EXPECT_EQ(forms_.canCloseRefusals, 1);
  EXPECT_EQ(Conti().sMax, 12.5f);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

// A meniscus outside the cell is refused at the box, naming the bounds the
// cell and the data give; what the user set stays, the fit range included
// (a meniscus taken in first would have moved the limits past the cell).
TEST_F(RoadParams, AMeniscusOutsideTheCellIsRefusedAtTheBox) {
  Load();
  Choose(595);  // c(s,ff0)
  const ScanSet& s = CurrentScanSet();
  float lastRadius = 0;
  for (int i = 1; i <= s.count; ++i) lastRadius = std::max(lastRadius, s.radii[i][s.points[i]]);
  ASSERT_GT(lastRadius, 7.0f);
  ASSERT_LT(lastRadius, 7.29f);
  CurrentScanSet().leftFitLimit = 6.05f;
  CurrentScanSet().rightFitLimit = 7.0f;
  const float meniscus = gModelParams.meniscus, bottom = gModelParams.bottom;
  ASSERT_GT(meniscus, 5.5f);
  char kept[16];
  std::snprintf(kept, sizeof kept, "%.4f", meniscus);
  auto bounds = [&](double typedBottom) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "a radius inside the cell: the meniscus lies above 0 cm and below the bottom (%.4f cm) and the last "
                  "radius of the data (%.4f cm)",
                  typedBottom, lastRadius);
    return std::string(text);
  };
  struct Row {
    const char* meniscus;
    const char* bottom;
  };
  const Row rows[] = {{"1e30", "7.2000"}, {"7.2500", "7.2000"}, {"7.2900", "7.3000"}, {"-0.5", "7.2000"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.meniscus);
    ui_->ExpectBox("Input Error", std::string("Invalid Entry in \"meniscus\": \"") + row.meniscus + "\" is not " +
                                      bounds(std::atof(row.bottom)) + ".");
    forms_.Expect({"", {{435, row.meniscus}, {437, row.bottom}}, {}});
    forms_.Expect({"", {{435, kept}}, {}});
    const int refusals = forms_.canCloseRefusals;
    Window().Dispatch(212);
    EXPECT_EQ(forms_.canCloseRefusals, refusals + 1);
    EXPECT_FLOAT_EQ(gModelParams.meniscus, meniscus);
    EXPECT_EQ(s.leftFitLimit, 6.05f);
    EXPECT_EQ(s.rightFitLimit, 7.0f);
    // The bottom typed beside it was taken with the meniscus set back.
    gModelParams.bottom = bottom;
    gModelParameterVector.P[14] = bottom;
  }
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_TRUE(forms_.failures.empty()) << forms_.failures.front();
}

// A discrete species taken out holds still in a fit, and its fit ticks come
// back with it when it is put back (the box shows what the fit floats).
TEST_F(RoadParams, ASpeciesTakenOutAndPutBackKeepsItsFitTicks) {
  Load();
  Choose(198);
  // Species 2: included (408), c 412 / tick 409, D or M 413 / tick 410, s 414 / tick 411.
  forms_.Expect({"", {{412, "0.3"}, {413, "40000"}, {414, "3.5"}}, {{408, 1}, {409, 1}, {410, 0}, {411, 1}}});
  DispatchLenient(212);
  const ModelParameterVector& v = gModelParameterVector;
  ASSERT_EQ(v.F[6], 1);
  struct Row {
    const char* step;
    int included, sTick;    // what the user leaves in the box
    int shownS, shownD;     // the ticks the box showed before
    int fitS, fitD;         // what the fit floats afterwards
  };
  const Row rows[] = {
      {"taken out", 0, 1, 1, 0, 0, 0},
      {"put back", 1, 0, 0, 0, 1, 0},
      {"taken out again", 0, 1, 1, 0, 0, 0},
      {"put back again", 1, 0, 0, 0, 1, 0},
  };

  for (const Row& row : rows) {
    SCOPED_TRACE(row.step);
    forms_.Expect({"", {}, {{408, row.included}, {411, row.sTick}}});
    DispatchLenient(212);
    ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
    EXPECT_EQ(Shown().Find(411)->state, row.shownS);
    EXPECT_EQ(Shown().Find(410)->state, row.shownD);
    EXPECT_EQ(gModelParams.included[2], row.included);
    EXPECT_EQ(v.F[6], row.fitS);
    EXPECT_EQ(v.F[2], row.fitD);
  }
}

class RoadParamsDesktop : public RoadParams {
 protected:
  void SetUp() override {
    RoadParams::SetUp();
    StartOffscreenDesktop(false);
  }
};

TEST_F(RoadParamsDesktop, TheDialogFitsALaptopScreenWithEachFitBoxBesideItsField) {
  Load();
  // c(s), c(s,f/f0) with a discrete species, the scaling-law c(s), the
  // discrete species, and the Stokes radii (the light scattering model's
  // template, chosen here without light scattering data).
  // (The parametrisation outlives the test: it is put back at its end.)
  struct MolarMassParametersKept {
    unsigned char kept = gFitEngineState.molarMassParameters;
    ~MolarMassParametersKept() { gFitEngineState.molarMassParameters = kept; }
  } keptParametrisation;
  for (int command : {275, 598, 887, 198, 536}) {
    SCOPED_TRACE(command);
    if (command == 536) {
      gModelSelectorFlags.DlsStokesRadiiModel = 1;
      gFitEngineState.molarMassParameters = 0;
    } else {
      Choose(command);
    }
    Reopen();
    FormDialog form = Shown();
    if (command == 536) {
      EXPECT_EQ(form.templateId, 339);
    }
    // The number of f/f0 values is shown as the count it is.
    if (command == 598) {
      EXPECT_EQ(form.Find(428)->text, "10");
    }
    std::unique_ptr<QDialog> dialog = BuildQtForm(form, nullptr);
    auto* scroll = dialog->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    QWidget* body = scroll->widget();
    body->adjustSize();
    // Measured as shown.
    dialog->show();
    QCoreApplication::processEvents();
    // The grid itself, not only the window around it, fits 1280 pixels
    // with the dialog's margins and the window's frame.
    EXPECT_LE(body->sizeHint().width(), 1220);
    EXPECT_LE(dialog->width(), 1280);
    auto placeOf = [body](QWidget* w) { return QRect(w->mapTo(body, QPoint(0, 0)), w->size()); };
    // The fit box of each shown value edit is on its row, right beside it.
    const std::map<int, int> fitOf = {{405, 402}, {406, 403}, {407, 404}, {435, 434}, {437, 436}, {419, 416}};
    int checked = 0;
    for (const auto& [edit, fit] : fitOf) {
      const FormControl* e = form.Find(edit);
      const FormControl* f = form.Find(fit);
      if (!e->visible || !f->visible || f->label != "fit") continue;
      QLineEdit* editWidget = nullptr;
      for (QLineEdit* w : body->findChildren<QLineEdit*>())
        if (w->text().toStdString() == e->text) editWidget = w;
      ASSERT_NE(editWidget, nullptr) << edit;
      const QRect er = placeOf(editWidget);
      int nearest = 1 << 20;
      for (QCheckBox* box : body->findChildren<QCheckBox*>()) {
        const QRect br = placeOf(box);
        if (br.left() > er.right() && std::abs(br.center().y() - er.center().y()) < 12)
          nearest = std::min(nearest, br.left() - er.right());
      }
      EXPECT_LE(nearest, 16) << "edit " << edit;
      ++checked;
    }
    EXPECT_GE(checked, 2);
    // Past a fit box the next field keeps its distance: its label comes first.
    for (QCheckBox* box : body->findChildren<QCheckBox*>()) {
      if (box->text() != "fit") continue;
      const QRect br = placeOf(box);
      for (QLineEdit* w : body->findChildren<QLineEdit*>()) {
        const QRect er = placeOf(w);
        if (er.left() > br.right() && std::abs(br.center().y() - er.center().y()) < 12) {
          EXPECT_GE(er.left() - br.right(), 40) << w->text().toStdString();
        }
      }
    }
  }
}

// The species' box of a program started from a new program folder, as the
// user meets it in the window: c, M and s typed, no fit box ticked, OK:
// Run computes the species. With its "included" box cleared, Run says that
// no species is included instead of showing an empty model.
TEST_F(RoadParamsDesktop, ASpeciesEnteredWithoutAFitBoxIsComputedAndOneNotIncludedIsNamed) {
  Load();
  gFitEngineState.molarMassParameters = 1;  // the form a new program folder starts in
  Choose(198);
  // The box is the desktop's own; the user types into it and clicks.
  std::function<void(QDialog&, const FormDialog&)> user;
  SetFormRunner([&user](FormDialog& form) {
    std::unique_ptr<QDialog> dialog = BuildQtForm(form, nullptr);
    QDialog* d = dialog.get();
    QTimer::singleShot(0, d, [&user, d, &form] { user(*d, form); });
    return dialog->exec() == QDialog::Accepted;
  });
  // The widget of control `id` (the desktop makes them in the form's order).
  const auto widget = [](QDialog& d, const FormDialog& form, int id, FormControl::Kind kind) -> QWidget* {
    int index = 0;
    for (const FormControl& c : form.controls) {
      if (!c.visible || c.kind != kind) continue;
      if (c.id == id) {
        if (kind == FormControl::Kind::Edit) return d.findChildren<QLineEdit*>().value(index);
        return d.findChildren<QCheckBox*>().value(index);
      }
      ++index;
    }
    return nullptr;
  };
  const auto type = [&](QDialog& d, const FormDialog& form, int id, const char* text) {
    auto* edit = static_cast<QLineEdit*>(widget(d, form, id, FormControl::Kind::Edit));
    ASSERT_NE(edit, nullptr) << id;
    edit->setFocus();
    edit->selectAll();
    for (const char* c = text; *c; ++c) {
      const QString key(QChar::fromLatin1(*c));
      QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, key);
      QCoreApplication::sendEvent(edit, &press);
      QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, key);
      QCoreApplication::sendEvent(edit, &release);
    }
    EXPECT_EQ(edit->text().toStdString(), text);
  };
  const auto ok = [](QDialog& d) { d.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click(); };
  user = [&](QDialog& d, const FormDialog& form) {
    type(d, form, 405, "0.8");
    type(d, form, 406, "60000");
    type(d, form, 407, "5");
    ok(d);
  };
  Window().Dispatch(212);
  ASSERT_EQ(gModelParams.included[1], 1);
  DispatchLenient(213);
  // Beyond the boundary the plateau is 0.8 diluted radially by
  // exp(-2 w^2 s t): at most 4 % at these times.
  const ScanSet& s = CurrentScanSet();
  EXPECT_NEAR(s.model[1][s.lastFitPoint[1]], 0.8, 0.8 * 0.05);

  user = [&](QDialog& d, const FormDialog& form) {
    auto* included = static_cast<QCheckBox*>(widget(d, form, 401, FormControl::Kind::Check));
    ASSERT_NE(included, nullptr);
    ASSERT_TRUE(included->isChecked());
    included->click();
    ok(d);
  };
  Window().Dispatch(212);
  ASSERT_EQ(gModelParams.included[1], 0);
  ui_->transcript.clear();
  ui_->ExpectBox("ERROR", "No species is included in the model.\n"
                          "Nothing was computed: tick \"included\" beside a species in the model's parameters.");
  Window().Dispatch(213);
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  SetFormRunner(nullptr);
}

}  // namespace
