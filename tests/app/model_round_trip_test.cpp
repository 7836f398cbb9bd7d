// Comparing models on one data set: every model keeps what was entered for
// it, whatever was chosen in between, a model chosen for the first time
// starts from its own start, and the result of a run after a trip through
// other models is that of the first run. The models are those of the
// program's table of models: the table test first, then the trips every
// model takes (questions of its command, refused runs, data of another
// kind). The species families' own trips are in model_species_trips_test.cpp,
// the saved analyses in saved_analysis_model_test.cpp.
#include "model_data_fixture.h"

namespace {

// One model of the table on data it computes (the parameter of the test),
// with entries typed, against every other model of the table that computes
// the same data: the model each trip leads to is entered for the first time
// and starts as it starts after any other model; the typed model's dialog
// and its Run after coming back are those before the trip; a Run either
// shows a model or says why it shows none.
class ModelRoundTripEntry : public ModelDataTest, public ::testing::WithParamInterface<TripCase> {};

TEST_P(ModelRoundTripEntry, KeepsItsEntriesAndRunAndOthersStartFromTheirOwn) {
  const auto [a, kind] = GetParam();
  LoadData(kind);
  std::vector<int> others;
  for (const ModelRow& row : ModelTable())
    if (row.id != a && (row.accepts & kind)) others.push_back(row.id);
  const ModelRow& rowA = *FindModelRow(a);
  const SolutionConditions solution = gSolutionConditions;

  // How each model starts: entered for the first time after a model of
  // another family, nothing of it put aside.
  const int start = kind == kDlsData ? 503 : a == 275 ? 235 : 275;
  std::map<int, ModelState> fresh;
  // (Nothing put aside, as in a session that used no model on such data.)
  const auto nothingPutAside = [] {
    static_cast<ModelEntryShelf&>(ModelEntries()) = {};
    NoteNewDataForModelEntries(false);
  };
  for (int b : others) {
    nothingPutAside();
    gSolutionConditions = solution;
    Choose(b == start ? 198 : start);
    Choose(b);
    ASSERT_EQ(SelectedModelKey(), b);
    fresh[b] = StateOfModel();
  }
  nothingPutAside();
  gSolutionConditions = solution;
  Choose(a);
  ASSERT_EQ(SelectedModelKey(), a);
  // Every number typed anew (scaled), every other fit box beside one ticked;
  // the solution is the data's and stays as loaded.
  // (A species model needs a concentration to show something; a
  // distribution of a dozen grid points runs in a fraction of the time.)
  std::map<int, std::string> texts;
  if (rowA.holdsSpecies) texts[405] = "0.4";
  if (rowA.family == ModelFamily::Distribution) texts[405] = "12";
  Open(1.01, texts);
  gSolutionConditions = solution;
  Open();
  RunResult first = Run();
  EXPECT_TRUE(first.shownOrSaid) << "model " << a << ": Run showed nothing and said nothing";
  first = Run();
  // (A Run may choose the solver it needs: the entries are those after it,
  // as the next confirmation settles them.)
  Open();
  const Shown afterRun = Open();
  // Chosen twice in a row, nothing changes.
  Choose(a);
  EXPECT_EQ(Open(), afterRun) << "chosen again: " << Describe(Open(), afterRun);
  // Its menu mark alone (the c(M) variants with prior knowledge are c(M)
  // with an option, both marked).
  const bool cmOption = a == 277 || a == 278 || a == 279;
  for (const ModelRow& row : ModelTable()) {
    const bool alsoMarked = row.id == a || (cmOption && row.id == 235);
    EXPECT_TRUE(alsoMarked || !Window().IsMenuItemChecked(row.id)) << row.id << " marked beside " << a;
  }

  // The entries as the last Run left them (a Run may choose the solver).
  Shown entries = afterRun;
  const ModelState own = StateOfModel();
  const std::vector<bool> marks = [&] {
    std::vector<bool> m;
    for (const ModelRow& row : ModelTable()) m.push_back(Window().IsMenuItemChecked(row.id));
    return m;
  }();
  auto back = [&](const std::string& trip) {
    Choose(a);
    ASSERT_EQ(SelectedModelKey(), a);
    EXPECT_EQ(StateOfModel().lammGridSize, own.lammGridSize) << "model " << a << " back from " << trip;
    std::size_t i = 0;
    for (const ModelRow& row : ModelTable())
      EXPECT_EQ(Window().IsMenuItemChecked(row.id), marks[i++]) << row.id << ": model " << a << " back from " << trip;
    const Shown shown = Open();
    EXPECT_EQ(shown, entries) << "model " << a << " back from " << trip << ": " << Describe(shown, entries);
    const RunResult run = Run();
    EXPECT_EQ(run.said, first.said) << "model " << a << " after " << trip;
    if (std::isfinite(first.rmsd) || std::isfinite(run.rmsd)) {
      EXPECT_NEAR(run.rmsd, first.rmsd, 1e-6 * std::max(1.0, std::fabs(first.rmsd))) << "model " << a << " after "
                                                                                       << trip;
    }
    Open();
    entries = Open();
  };
  for (int b : others) {
    SCOPED_TRACE("trip through " + std::to_string(b));
    gSolutionConditions = solution;
    Choose(b);
    ASSERT_EQ(SelectedModelKey(), b);
    // The species of a species model are handed on to the species models.
    const ModelRow& rowB = *FindModelRow(b);
    if (!(rowA.holdsSpecies && rowB.start == ModelStart::LastSpecies)) {
      const ModelState state = StateOfModel();
      EXPECT_EQ(state, fresh[b]) << "model " << b << " entered after " << a << ": " << DescribeState(state) << " vs "
                                 << DescribeState(fresh[b]);
    }
    back(std::to_string(b));
    if (HasFailure()) return;
  }
  // Longer ways: every other model in turn, forwards and backwards.
  for (int b : others) Choose(b);
  back("every other model");
  for (auto it = others.rbegin(); it != others.rend(); ++it) Choose(*it);
  back("every other model backwards");
  // Among the light-scattering models, in the order of a session that lost
  // a fit box.
  std::string way;
  for (int b : {503, 502, 522, 536, 890, 198, 282, 246, 503, 198, 890, 536, 502})
    if (b != a && (FindModelRow(b)->accepts & kind)) {
      Choose(b);
      way += std::to_string(b) + " ";
    }
  back(way);
  // Data of another kind analysed in between, and data of this kind loaded
  // again: what was entered for the model comes back, meniscus, bottom and
  // noise choices are those of the data loaded.
  const auto load = [&](unsigned k) { LoadThroughTheWindow(k); };
  const unsigned other = kind == kDlsData ? kVelocityData : kDlsData;
  load(other);
  Choose(other == kDlsData ? 503 : 275);
  Open(1.02);
  load(kind);
  ASSERT_EQ(LoadedDataKind(), kind);
  Choose(a);
  ASSERT_EQ(SelectedModelKey(), a);
  const Shown reloaded = WithoutTheData(Open());
  EXPECT_EQ(reloaded, WithoutTheData(entries)) << "model " << a << " after data of another kind: "
                                               << Describe(reloaded, WithoutTheData(entries));
}

// The answer to a question the command asks is the model's newest entry:
// the question offers the model's own last answer, and the record put aside
// does not come back over the new one.
TEST_F(ModelDataTest, TheAnswerToTheCommandsQuestionWinsOverTheStoredEntries) {
  LoadData(kVelocityData);
  constexpr const char* kVhw = "Van Holde Weischet Analysis";
  auto vhw = [&](const char* answer) {
    ui_->ExpectPrompt(kVhw, "enter resolution", std::string(answer));
    Choose(292);
    EXPECT_TRUE(ui_->AllConsumed());
    return std::stod(ui_->initialTexts.back());
  };
  vhw("30");
  EXPECT_FLOAT_EQ(Conti().resolution, 30.0f);
  Choose(275);
  EXPECT_DOUBLE_EQ(vhw("50"), 30.0);
  EXPECT_FLOAT_EQ(Conti().resolution, 50.0f);
  Choose(198);
  EXPECT_DOUBLE_EQ(vhw("100"), 50.0);
  EXPECT_FLOAT_EQ(Conti().resolution, 100.0f);
}

// A question of a model's command that is cancelled changes nothing: the
// model in use, its menu mark, its noise fits and its entries stay, chosen
// for the first time or again.
TEST_F(ModelDataTest, ACancelledQuestionOfAModelCommandChangesNothing) {
  LoadData(kVelocityData);
  constexpr const char* kVhw = "Van Holde Weischet Analysis";
  Choose(275);
  gFitEngineState.fitTINoise = 1;
  gModelParams.riNoiseFit = 1;
  // (A confirmation settles the solver the distributions use.)
  Open();
  const Shown before = Open();
  const float resolution = Conti().resolution;
  const auto cancel = [&] {
    ui_->ExpectPrompt(kVhw, "enter resolution", std::nullopt);
    Window().Dispatch(292);
    EXPECT_TRUE(ui_->AllConsumed());
  };
  cancel();
  EXPECT_EQ(SelectedModelKey(), 275);
  for (const ModelRow& row : ModelTable()) EXPECT_EQ(Window().IsMenuItemChecked(row.id), row.id == 275) << row.id;
  EXPECT_EQ(gFitEngineState.fitTINoise, 1);
  EXPECT_EQ(gModelParams.riNoiseFit, 1);
  EXPECT_FLOAT_EQ(Conti().resolution, resolution);
  EXPECT_EQ(Open(), before) << Describe(Open(), before);
  // The transform chosen once and left: the same on its second visit.
  ui_->ExpectPrompt(kVhw, "enter resolution", std::string("30"));
  Choose(292);
  ASSERT_EQ(SelectedModelKey(), 292);
  Choose(275);
  cancel();
  EXPECT_EQ(SelectedModelKey(), 275);
  for (const ModelRow& row : ModelTable()) EXPECT_EQ(Window().IsMenuItemChecked(row.id), row.id == 275) << row.id;
  EXPECT_EQ(Open(), before) << Describe(Open(), before);
  // Cancelled while chosen: its resolution stays.
  Choose(292);
  cancel();
  EXPECT_EQ(SelectedModelKey(), 292);
  EXPECT_FLOAT_EQ(Conti().resolution, 30.0f);
}

// The fit boxes ticked for a model stay through a Fit stopped by a key and
// first visits to several other models in a row.
TEST_F(ModelDataTest, FitBoxesStayThroughAStoppedFitAndFirstVisitsToOtherModels) {
  struct Way {
    unsigned kind;
    int model;
    std::vector<int> visits;  // each visited for the first time
  };
  std::vector<int> everyOther, everyOtherDls;
  for (const ModelRow& row : ModelTable()) {
    if (row.id != 198 && (row.accepts & kVelocityData)) everyOther.push_back(row.id);
    if (row.id != 536 && (row.accepts & kDlsData)) everyOtherDls.push_back(row.id);
  }
  const Way ways[] = {
      {kVelocityData, 198, {275, 288, 235, 197, 227, 246, 280}},
      {kVelocityData, 198, {275, 267, 288}},
      {kVelocityData, 198, everyOther},
      {kDlsData, 536, everyOtherDls},
      {kDlsData, 198, {890, 536, 503, 502, 522, 246}},
      {kDlsData, 536, {890, 503}},
      {kDlsData, 536, {890, 503, 502, 522, 198}},
  };
  for (const Way& w : ways) {
    SCOPED_TRACE(std::to_string(w.model) + " on " + KindName(w.kind));
    LoadData(w.kind);
    static_cast<ModelEntryShelf&>(ModelEntries()) = {};
    NoteNewDataForModelEntries(false);
    Choose(w.model);
    ASSERT_EQ(SelectedModelKey(), w.model);
    // Every number scaled and every other fit box beside one ticked, a
    // concentration to fit.
    Open(1.01, {{405, "0.4"}});
    // (The concentrations and the baseline floated as well.)
    for (int k = 1; k <= kComponentSlots; ++k) gModelParams.concentrationFit[k] = gModelParams.included[k] ? 1 : 0;
    gModelParams.baselineFit = 1;
    PackModelParameters();
    Open();
    Shown entries = Open();
    int ticked = 0;
    for (const auto& c : entries) ticked += std::get<3>(c) == 1 && std::get<0>(c) < 430;
    ASSERT_GT(ticked, 1);
    // A Fit stopped by a key from its third evaluation on.
    int posted = 0;
    platform::SetEventPump([&] {
      if (gFitEngineState.evaluationsThisRun < 3 || posted >= 4) return;
      platform::PostKeyDown(' ');
      ++posted;
    });
    DispatchLenient(215);
    platform::SetEventPump({});
    ASSERT_GT(posted, 0);
    ui_->transcript.clear();
    Open();
    entries = Open();
    for (int b : w.visits) {
      Choose(b);
      ASSERT_EQ(SelectedModelKey(), b);
    }
    Choose(w.model);
    ASSERT_EQ(SelectedModelKey(), w.model);
    const Shown back = Open();
    EXPECT_EQ(back, entries) << Describe(back, entries);
  }
}


// A model chosen again finds its own entries: the regularisation the user
// chose for it stays, and its command says nothing of the one it switches
// to on a first choice.
TEST_F(ModelDataTest, AModelChosenAgainKeepsTheRegularisationChosenForIt) {
  LoadData(kVelocityData);
  for (int id : {288, 539, 511}) {
    SCOPED_TRACE(id);
    Choose(id);
    ASSERT_EQ(SelectedModelKey(), id);
    ASSERT_EQ(Conti().secondDerivative, 1);
    ui_->ExpectBox("SET PREFERENCE", "save new regularization as default setting?", platform::IDNO);
    Window().Dispatch(295);
    EXPECT_TRUE(ui_->AllConsumed());
    Choose(275);
    ui_->transcript.clear();
    DispatchLenient(id);
    EXPECT_EQ(SelectedModelKey(), id);
    for (const auto& t : ui_->transcript) EXPECT_EQ(t.text.find("Regularization"), std::string::npos) << t.text;
    EXPECT_EQ(Conti().maxEntropy, 1);
    EXPECT_EQ(Conti().secondDerivative, 0);
    EXPECT_TRUE(Window().IsMenuItemChecked(295));
    EXPECT_FALSE(Window().IsMenuItemChecked(294));
  }
}

// A model chosen for the first time shows its own start, the same as after
// the discrete species with nothing put aside, whatever the model before it
// was left with: an inverted s range, a molar-mass-like range, Tikhonov-
// Phillips regularisation, a discrete component or nonideality of its own.
TEST_F(ModelDataTest, AModelChosenForTheFirstTimeShowsItsOwnStart) {
  struct Case {
    const char* what;
    int before;
    double factor;
    std::map<int, std::string> typed;
    int model;
    // The start of the model's own (0: not checked): its grid, its
    // confidence level, the top of its range.
    float resolution = 0, confidence = 0, top = 0;
    unsigned kind = kVelocityData;
    // A species model's own start (0: not checked): nothing floated but
    // `boxes`, and with kOnFiniteElements the finite-element solver and the
    // third slots empty. After a species model its species come from that
    // model, and only this start is compared, with the `slots` it reads
    // from the stores below.
    unsigned species = 0;
    std::map<int, float> slots = {};
    std::set<int> boxes = {};
  };
  constexpr unsigned kNothingFloated = 1, kOnFiniteElements = 2;
  // The association's and the nonideality's stores, and the slots a start
  // takes from them (the n-mers at 4 and 8, or 2 and 4 monomers).
  const auto stores = [] {
    AssociationModelParams& as = gAssociationModelParams;
    as.monomer3 = 30000;
    as.s3[1] = 3;
    as.s3[2] = 6;
    as.s3[3] = 9;
    as.logK3a = 4.5f;
    as.logK3b = 9;
    as.totalConcentration = 0.8f;
    as.monomer3Fit = as.logK3aFit = as.logK3bFit = as.totalConcentrationFit = 0;
    std::fill(std::begin(as.s3Fit), std::end(as.s3Fit), 0);
    as.logKs = -1.5f;
    as.logKd = -2.5f;
    CurrentHeteroAssociationState().epsA = 1.5f;
  };
  const auto threeState = [](float a, float b) {
    return std::map<int, float>{{1, 30000}, {2, a * 30000}, {12, b * 30000}, {5, 3}, {6, 6},
                                {8, 9},     {3, 4.5f},      {7, 9},          {11, 0.8f}};
  };
  // The terms of the nonideal species as the program starts.
  const std::map<int, float> terms = {{25, 6.5f}, {26, 0}, {27, 0}, {28, 1}, {29, 1},
                                      {30, 0},    {31, 0}, {32, 1}, {33, 1}, {34, 0}};
  // c(M) starts from the start-up range, in molar masses.
  constexpr float massTop = -1;
  const Case cases[] = {
      {"c(s) with s min 8.26 above s max 6.50", 275, 0, {{406, "8.26"}, {407, "6.50"}}, 595},
      {"c(s) with s min 8.26 above s max 6.50", 275, 0, {{406, "8.26"}, {407, "6.50"}}, 598},
      {"c(s) with the range 1 to 12 S", 275, 0, {{406, "1"}, {407, "12"}}, 235, 0, 0, massTop},
      {"ls-g*(s) with Tikhonov-Phillips", 288, 0, {}, 585},
      {"ls-g*(s) with Tikhonov-Phillips", 288, 0, {}, 1100},
      {"c(s) with a discrete component typed", 531, 1.5, {}, 950, 101},
      {"c(s) with a discrete component typed", 531, 1.5, {}, 539, 100, 0.683f, 20},
      {"the c(s) conformational change typed", 514, 1.5, {}, 870},
      {"the nonideal species with log ks and log kd typed", 227, 0, {{412, "-1.5"}, {419, "-2.5"}}, 585},
      {"c(s) with every entry scaled", 275, 1.5, {}, 950, 101},
      {"c(s) with every entry scaled", 275, 1.5, {}, 293, 50, 0.68f, 10},
      {"c(s) with every entry scaled", 275, 1.5, {}, 511, 0, 0.99f, 20},
      {"c(s) with every entry scaled", 275, 1.5, {}, 510, 100, 0.95f, 20},
      {"ls-g*(s) with its grid scaled", 288, 1.5, {}, 235, 0, 0, massTop},
      {"c(M) with its range typed", 235, 0, {{406, "2000"}, {407, "90000"}}, 887, 0, 0, 500000},
      {"c(s) with every entry scaled", 275, 1.5, {}, 887, 0, 0, 500000},
      {"c(s) with a discrete component typed", 531, 1.5, {}, 585, 0, 0, 20},
      {"c(s) with a discrete component typed", 531, 1.5, {}, 1100, 0, 0, 20},
      {"the discrete species scaled, fit boxes ticked", 198, 1.5, {}, 280, 0, 0, 0, kVelocityData,
       kNothingFloated | kOnFiniteElements},
      {"the discrete species scaled, fit boxes ticked", 198, 1.5, {}, 281, 0, 0, 0, kVelocityData,
       kNothingFloated | kOnFiniteElements},
      {"the discrete species scaled, fit boxes ticked", 198, 1.5, {}, 282, 0, 0, 0, kVelocityData,
       kNothingFloated | kOnFiniteElements},
      {"the linear geometry scaled, fit boxes ticked", 280, 1.5, {}, 229, 0, 0, 0, kVelocityData, kNothingFloated},
      {"the discrete species scaled, fit boxes ticked", 198, 1.5, {}, 893, 0, 0, 0, kVelocityData, kNothingFloated},
      // The dimer's fourth quantity follows from the monomer's; the zone's
      // lamella floats; the associations and the nonideal species start
      // from their stores; the nonideal terms from the program's start.
      {"the discrete species scaled, fit boxes ticked", 198, 1.5, {}, 197, 0, 0, 0, kVelocityData, kNothingFloated,
       {{17, 0}}},
      {"the discrete species scaled, fit boxes ticked", 198, 1.5, {}, 246, 0, 0, 0, kVelocityData, kNothingFloated,
       {{23, 0.1f}}, {23}},
      {"the discrete species scaled, fit boxes ticked", 198, 1.5, {}, 520, 0, 0, 0, kVelocityData, kNothingFloated,
       threeState(4, 8)},
      {"the discrete species scaled, fit boxes ticked", 198, 1.5, {}, 228, 0, 0, 0, kVelocityData, kNothingFloated,
       threeState(2, 4)},
      {"the discrete species scaled, fit boxes ticked", 198, 1.5, {}, 267, 0, 0, 0, kVelocityData, kNothingFloated,
       {{4, 1.5f}}},
      {"the discrete species scaled, fit boxes ticked", 198, 1.5, {}, 227, 0, 0, 0, kVelocityData, kNothingFloated,
       {{10, -1.5f}, {11, -2.5f}}},
      // (The hindered form shows them as magnitudes.)
      {"the discrete species scaled, fit boxes ticked", 198, 1.5, {}, 1099, 0, 0, 0, kVelocityData, kNothingFloated,
       {{10, 1.5f}, {11, 2.5f}}},
      {"c(s) with every entry scaled", 275, 1.5, {}, 893, 0, 0, 0, kVelocityData, kNothingFloated, terms},
      {"the radius distribution scaled", 503, 1.5, {}, 502, 0, 0.55f, 10, kDlsData},
      {"the diffusion distribution scaled", 502, 1.5, {}, 522, 0, 0.55f, 50, kDlsData},
      {"the discrete species scaled, fit boxes ticked", 198, 1.5, {}, 536, 0, 0, 0, kDlsData, kNothingFloated, {},
       {15}},
      {"the discrete species scaled, fit boxes ticked", 198, 1.5, {}, 890, 0, 0, 0, kDlsData, kNothingFloated, {},
       {9, 15}},
      {"ls-g*(v) scaled", 501, 1.5, {}, 513, 100, 0.683f, 20, kElectrophoresisData},
      {"c(s) with its grid typed", 275, 0, {{405, "50"}, {407, "12"}, {413, "0.9"}}, 501, 100, 0.683f, 20,
       kElectrophoresisData},
      // (The c(v) cell ends a column length below the meniscus; ls-g*(v)
      // has no column and starts from the data's bottom.)
      {"c(v) scaled", 513, 1.5, {}, 501, 100, 0.683f, 20, kElectrophoresisData},
      {"the discrete species scaled, fit boxes ticked", 198, 1.5, {}, 291, 0, 0, 0, kElectrophoresisData,
       kNothingFloated | kOnFiniteElements},
  };
  unsigned loaded = 0;
  SolutionConditions solution;
  int boxes[kParameterSlots + 1] = {};
  auto enter = [&](int before, double factor, const std::map<int, std::string>& typed, int model) {
    // (Nothing put aside: the model left last is not the one entered.)
    const bool dls = LoadedDataKind() == kDlsData;
    int away = before == 198 ? (dls ? 890 : 275) : 198;
    if (away == model) away = dls ? 503 : 288;
    Choose(away);
    static_cast<ModelEntryShelf&>(ModelEntries()) = {};
    NoteNewDataForModelEntries(false);
    gSolutionConditions = solution;
    Choose(before);
    if (factor != 0 || !typed.empty()) Open(factor, typed);
    gSolutionConditions = solution;
    Choose(model);
    EXPECT_EQ(SelectedModelKey(), model);
    // (The fit boxes as chosen: a confirmed box turns floated
    // concentrations and baseline into linear amplitudes.)
    std::copy(std::begin(gModelParameterVector.F), std::end(gModelParameterVector.F), std::begin(boxes));
    return std::make_pair(StateOfModel(), Open());
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.model) + " after " + c.what);
    if (c.kind != loaded) {
      LoadData(c.kind);
      loaded = c.kind;
      solution = gSolutionConditions;
    }
    stores();
    const auto own = enter(198, 0, {}, c.model);
    stores();
    const auto after = enter(c.before, c.factor, c.typed, c.model);
    if (c.species & kNothingFloated) {
      for (int i = 1; i <= gModelParams.parameterCount; ++i)
        EXPECT_EQ(boxes[i], static_cast<int>(c.boxes.count(i))) << "slot " << i;
    }
    // (Kept through a confirmation of the model's box.)
    for (const auto& [i, value] : c.slots) EXPECT_FLOAT_EQ(gModelParameterVector.P[i], value) << "slot " << i;
    if (c.species & kOnFiniteElements) {
      const LammSolverSettings& l = LammSettings();
      EXPECT_EQ(std::make_tuple(int(l.automaticAlgorithm), int(l.claverieAlgorithm), int(l.movingHatAlgorithm)),
                std::make_tuple(0, 1, 0));
      for (int k = 2 * kComponentSlots + 1; k <= 3 * kComponentSlots; ++k)
        EXPECT_EQ(gModelParameterVector.P[k], 0.0f) << "slot " << k;
    }
    if (c.species != 0) continue;
    EXPECT_EQ(after.first, own.first) << DescribeState(after.first) << " vs " << DescribeState(own.first);
    EXPECT_EQ(after.second, own.second) << Describe(after.second, own.second);
    if (c.resolution != 0) {
      EXPECT_FLOAT_EQ(after.first.resolution, c.resolution);
    }
    if (c.confidence != 0) {
      EXPECT_FLOAT_EQ(after.first.confidence, c.confidence);
    }
    if (c.top > 0) {
      // (A range that went to molar masses and back to S within 0.1 %.)
      EXPECT_NEAR(after.first.sMax, c.top, 1e-3 * c.top);
    } else if (c.top == massTop) {
      EXPECT_FLOAT_EQ(after.first.sMax, CalculateM(ModelEntryRecord{}.sMax));
    }
  }
}

// Light-scattering data loaded while a model of sedimentation data is
// chosen: a Run computes nothing and says why.
TEST_F(ModelDataTest, ARunOfAModelThatCannotDescribeTheDataIsRefusedWithTheReason) {
  // The one box of the refusal, and its text.
  auto refusal = [&] {
    ui_->transcript.clear();
    ui_->ExpectBox("ERROR", "Nothing was computed");
    Window().Dispatch(213);
    EXPECT_TRUE(ui_->AllConsumed());
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    ui_->failures.clear();
    return ui_->transcript.empty() ? std::string() : ui_->transcript.front().text;
  };
  // Light-scattering data after a model of sedimentation data: the load
  // leaves no model chosen.
  for (int id : {275, 531, 288}) {
    SCOPED_TRACE(id);
    LoadData(kVelocityData);
    Choose(id);
    LoadData(kDlsData);
    EXPECT_EQ(SelectedModelKey(), 0);
    EXPECT_EQ(refusal(), "no model is chosen for the DLS data loaded\n"
                         "Nothing was computed: choose a model for the data loaded.");
  }
  // Sedimentation scans after a model of light scattering only: no model,
  // and no figure of the noise terms alone either.
  for (int id : {536, 503, 890}) {
    SCOPED_TRACE(id);
    LoadData(kDlsData);
    Choose(id);
    ASSERT_EQ(SelectedModelKey(), id);
    ui_->lenient = true;
    LoadChosen(WriteRun(".ra1", 2));
    ui_->lenient = false;
    ASSERT_EQ(LoadedDataKind(), kVelocityData);
    EXPECT_EQ(SelectedModelKey(), 0);
    for (const ModelRow& row : ModelTable()) EXPECT_FALSE(Window().IsMenuItemChecked(row.id)) << row.id;
    EXPECT_EQ(refusal(), "no model is chosen for the data loaded\n"
                         "Nothing was computed: choose a model for the data loaded.");
    for (int j = CurrentScanSet().firstFitPoint[1]; j <= CurrentScanSet().lastFitPoint[1]; ++j)
      ASSERT_EQ(CurrentScanSet().model[1][j], 0.0f) << j;
  }
  // Every model of the table on data it does not compute.
  for (const ModelRow& row : ModelTable()) {
    for (unsigned kind : {kVelocityData, kDlsData}) {
      if (row.accepts & kind) continue;
      SCOPED_TRACE(std::to_string(row.id) + " on " + KindName(kind));
      LoadData(TestedKinds(row).front());
      Choose(row.id);
      ASSERT_EQ(SelectedModelKey(), row.id);
      // The data loaded taken for data of the other kind.
      CurrentDataTypeFlags().dls = kind == kDlsData;
      CurrentDataTypeFlags().electrophoresis = 0;
      const std::string reason = kind == kDlsData ? "DLS data" : row.accepts == kDlsData ? "need DLS data for this analysis"
                                                                                     : "need electrophoresis data";
      const std::string text = refusal();
      EXPECT_TRUE(text.find(reason) != std::string::npos || text.find("light scattering data") != std::string::npos)
          << text;
    }
  }
}

// Data of another kind that the model in use also computes keep it, with
// the entries it had on data of that kind; a Run computes it or says why not.
TEST_F(ModelDataTest, ALoadOfAnotherKindKeepsTheModelThatComputesTheNewData) {
  struct Way {
    unsigned from, to;
    int model;
    bool withD = false;  // the species entered with D rather than M
  };
  // (The model's first visit to equilibrium data is the one with D.)
  const Way ways[] = {{kVelocityData, kEquilibriumData, 198, true},
                      {kEquilibriumData, kVelocityData, 198}, {kVelocityData, kEquilibriumData, 198},
                      {kVelocityData, kDlsData, 198},         {kDlsData, kVelocityData, 198},
                      {kVelocityData, kEquilibriumData, 275}, {kEquilibriumData, kVelocityData, 275}};
  const auto load = [&](unsigned kind) { LoadThroughTheWindow(kind); };
  for (const Way& w : ways) {
    SCOPED_TRACE(std::to_string(w.model) + " from " + KindName(w.from) + " to " + KindName(w.to));
    load(w.from);
    ASSERT_EQ(LoadedDataKind(), w.from);
    Choose(w.model);
    ASSERT_EQ(SelectedModelKey(), w.model);
    if (w.withD && gFitEngineState.molarMassParameters) Window().CmFitMAndS();
    Open(0, {{405, w.model == 198 ? "0.4" : "12"}});
    // (A Run may choose the solver it needs.)
    Run();
    const Shown typed = Open();
    const double s = gModelParams.s[1] * 1e-13, D = gModelParams.massOrD[1] * 1e-7;
    load(w.to);
    ASSERT_EQ(LoadedDataKind(), w.to);
    EXPECT_EQ(SelectedModelKey(), w.model);
    // Equilibrium data take molar masses: a species entered with D is the
    // same species by the Svedberg equation, not D read as a mass.
    if (w.withD) {
      ASSERT_EQ(gFitEngineState.molarMassParameters, 1);
      const double M = s * *CurrentLoadTargets().RT / (D * (1 - gSolutionConditions.vbarRho));
      EXPECT_NEAR(gModelParams.massOrD[1] / M, 1.0, 1e-4) << M;
    }
    for (const ModelRow& row : ModelTable())
      EXPECT_EQ(Window().IsMenuItemChecked(row.id), row.id == w.model) << row.id;
    if (w.model == 198) {
      EXPECT_FLOAT_EQ(gModelParams.concentration[1], 0.4f);
    }
    const RunResult run = Run();
    EXPECT_TRUE(run.shownOrSaid);
    // Back on data of the first kind the model has what was typed there.
    load(w.from);
    EXPECT_EQ(SelectedModelKey(), w.model);
    const Shown back = Open();
    for (std::size_t i = 0; i < std::min(back.size(), typed.size()); ++i)
      if (!kNotModel.count(std::get<0>(typed[i])) && std::get<0>(typed[i]) != 431 && std::get<0>(typed[i]) != 455) {
        EXPECT_EQ(back[i], typed[i]) << "control " << std::get<0>(typed[i]);
      }
  }
}

// A refused Run leaves no curve or residual of an earlier run on the plot:
// they would read as those of the model now chosen.
TEST_F(ModelDataTest, ARefusedRunShowsNoEarlierResult) {
  LoadData(kVelocityData);
  const auto anyModel = [] {
    const ScanSet& s = CurrentScanSet();
    for (int i = 1; i <= s.count; ++i)
      for (int j = 1; j <= s.points[i]; ++j)
        if (s.model[i][j] != 0.0f) return true;
    return false;
  };
  // Run (213) or Fit (215) refused: the plot keeps nothing of the run before.
  const auto refused = [&](int command) {
    DispatchLenient(command);
    EXPECT_FALSE(anyModel()) << command;
  };
  // c(s), then the discrete species with no concentration; c(s), then data
  // of light scattering loaded with the distribution's curves on them.
  Choose(275);
  Open(0, {{405, "12"}});
  Run();
  ASSERT_TRUE(anyModel());
  Choose(198);
  refused(213);
  EXPECT_FALSE(WindowFlags().FitInfoPending);
  EXPECT_FALSE(WindowFlags().FitInfoShown);
  Choose(275);
  Run();
  ASSERT_TRUE(anyModel());
  // (The distribution's range running backwards is refused too.)
  Open(0, {{406, "9"}, {407, "3"}});
  refused(213);
  // And a refused Fit.
  Open(0, {{406, "1"}, {407, "12"}});
  Run();
  ASSERT_TRUE(anyModel());
  Open(0, {{406, "9"}, {407, "3"}});
  refused(215);
}

// A discrete species model with no fit box ticked describes the data by
// the species entered; with no concentration entered either, a Run says
// that nothing can be computed.
TEST_F(ModelDataTest, ARunWithNothingFittedShowsTheEnteredSpeciesOrSaysWhyNot) {
  LoadData(kVelocityData);
  Choose(198);
  for (int k = 1; k <= kParameterSlots; ++k) ASSERT_EQ(gModelParameterVector.F[k], 0) << k;
  ASSERT_EQ(gModelParams.concentration[1], 0.0f);
  ui_->ExpectBox("ERROR", "The species entered have no concentration, and no concentration is fitted.\n"
                          "Nothing was computed: enter a concentration or tick its fit box in the model's parameters.");
  Window().Dispatch(213);
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();

  Open(0, {{405, "0.45"}, {406, gFitEngineState.molarMassParameters ? "61000" : "4.2"}, {407, "5.0"}});
  const RunResult run = Run();
  EXPECT_TRUE(run.said.empty()) << run.said.front();
  // Beyond the boundary the plateau is 0.45 diluted radially by
  // exp(-2 w^2 s t): at most 4 % at these times.
  const ScanSet& s = CurrentScanSet();
  const int last = s.lastFitPoint[1];
  EXPECT_NEAR(s.model[1][last], 0.45, 0.45 * 0.05);
  EXPECT_GT(run.rmsd, 0.0);
}


// The entries of the models used on one kind of data wait while data of
// another kind are analysed, and come back with data of their kind: those
// of the model in use when the other data are loaded too. Meniscus, bottom
// and the noise choices are the newly loaded data's, never those typed for
// the data before.
TEST_F(ModelDataTest, EachKindOfDataGetsItsModelsEntriesBack) {
  struct Way {
    unsigned kind;
    int model;
    unsigned between;  // the data analysed in between, with this model
    int modelBetween;
  };
  const Way ways[] = {
      {kVelocityData, 275, kDlsData, 503},
      {kDlsData, 536, kVelocityData, 197},
      {kVelocityData, 198, kEquilibriumData, 523},
      {kEquilibriumData, 284, kElectrophoresisData, 513},
      {kElectrophoresisData, 291, kVelocityData, 275},
      {kDlsData, 503, kEquilibriumData, 284},
  };
  struct OfTheData {
    float meniscus, bottom;
    int tiNoise, riNoise;
    bool operator==(const OfTheData&) const = default;
  };
  const auto ofTheData = [] {
    return OfTheData{gModelParams.meniscus, gModelParams.bottom, gFitEngineState.fitTINoise, gModelParams.riNoiseFit};
  };
  // (The solver's tolerance and grid size are not the model's either.)
  const auto load = [&](unsigned kind) {
    LoadThroughTheWindow(kind);
    ASSERT_EQ(LoadedDataKind(), kind);
  };
  for (const Way& w : ways) {
    SCOPED_TRACE(std::to_string(w.model) + " on " + KindName(w.kind) + ", " + std::to_string(w.modelBetween) + " on " +
                 KindName(w.between) + " in between");
    load(w.kind);
    Choose(w.model);
    ASSERT_EQ(SelectedModelKey(), w.model);
    // The user's own meniscus and TI noise choice for these data.
    std::map<int, std::string> texts;
    if (w.kind != kDlsData) {
      char meniscus[32];
      std::snprintf(meniscus, sizeof meniscus, "%.4f", gModelParams.meniscus - 0.005f);
      texts[435] = meniscus;
    }
    gFitEngineState.fitTINoise = !gFitEngineState.fitTINoise;
    Open(1.01, texts);
    const Shown typed = WithoutTheData(Open());
    load(w.between);
    Choose(w.modelBetween);
    ASSERT_EQ(SelectedModelKey(), w.modelBetween);
    Open(1.02);
    load(w.kind);
    const OfTheData loaded = ofTheData();
    Choose(w.model);
    ASSERT_EQ(SelectedModelKey(), w.model);
    const Shown back = WithoutTheData(Open());
    EXPECT_EQ(back, typed) << Describe(back, typed);
    const OfTheData now = ofTheData();
    EXPECT_EQ(now, loaded) << "meniscus " << now.meniscus << " / " << loaded.meniscus << ", bottom " << now.bottom
                           << " / " << loaded.bottom << ", noise " << now.tiNoise << now.riNoise << " / "
                           << loaded.tiNoise << loaded.riNoise;
  }
  // A species model new to a kind of data starts from the species of the
  // last species model used on such data, not from the grid that the model
  // of the data before left in the slots (its command sets the
  // concentrations of a first start).
  load(kDlsData);
  ui_->ExpectPrompt("DISCRETE STOKES RADII", "absolute viscosity of solvent (Poise)", std::string("0.01002"));
  Choose(536);
  ASSERT_EQ(SelectedModelKey(), 536);
  Open(0, {{405, "0.3"}, {406, "4.5"}, {412, "0.2"}, {413, "12"}});
  const ModelParameterVector species = gModelParameterVector;
  load(kVelocityData);
  Choose(275);
  Open(0, {{406, "0.8"}, {407, "13"}});
  load(kDlsData);
  Choose(198);
  ASSERT_EQ(SelectedModelKey(), 198);
  for (int i : {1, 2, 5, 6}) EXPECT_FLOAT_EQ(gModelParameterVector.P[i], species.P[i]) << "slot " << i;
}

INSTANTIATE_TEST_SUITE_P(Table, ModelRoundTripEntry, ::testing::ValuesIn(EveryModelOnItsData()),
                         [](const ::testing::TestParamInfo<TripCase>& info) {
                           return std::to_string(info.param.id) + "_" + KindName(info.param.kind);
                         });


// A model that cannot use the loaded data or the current mode is refused
// with the reason, and the model chosen before keeps its switches and
// entries (no species put into its slots on the way).
TEST_F(ModelRoundTrip, RefusedModelsLeaveTheModelAndItsEntries) {
  LoadRun(3);
  Choose(275);
  Open(1.05);
  const std::vector<float> before = Slots();
  struct Case {
    const char* what;
    std::function<void(bool)> mode;
    int command;
    const char* text;
  };
  const Case cases[] = {
      {"equilibrium data", [](bool on) { CurrentScanSet().equilibriumMode = on; }, 227,
       "this model is not implemented for equilibrium data"},
      {"equilibrium data", [](bool on) { CurrentScanSet().equilibriumMode = on; }, 893,
       "this model is not implemented for equilibrium data"},
      {"DLS data", [](bool on) { CurrentDataTypeFlags().dls = on; }, 227,
       "this model is not implemented for DLS data"},
      {"DLS data", [](bool on) { CurrentDataTypeFlags().dls = on; }, 520, "this model is not implemented for DLS data"},
      {"buffer mismatch", [](bool on) { gBufferSedSettings.BufferSedOn = on; }, 595,
       "this model does not work in buffer mismatch mode"},
      {"buffer mismatch", [](bool on) { gBufferSedSettings.BufferSedOn = on; }, 598,
       "this model does not work in buffer mismatch mode"},
      {"sedimentation data", [](bool on) { CurrentDataTypeFlags().electrophoresis = !on; }, 513,
       "need electrophoresis data for this model"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.what) + " " + std::to_string(c.command));
    c.mode(true);
    ui_->ExpectBox("ERROR", c.text);
    Window().Dispatch(c.command);
    c.mode(false);
    EXPECT_TRUE(ui_->AllConsumed());
    EXPECT_EQ(SelectedModelKey(), 275);
    EXPECT_EQ(Slots(), before);
  }
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}


// With no data every model can still be chosen and keeps its entries; data
// of another kind put them aside, and data of their kind bring them back.
TEST_F(ModelRoundTrip, WithoutDataTheEntriesAreKeptToo) {
  Window();
  for (int id : {198, 275, 602, 531, 227}) {
    Choose(id);
    EXPECT_EQ(SelectedModelKey(), id);
  }
  Choose(275);
  Open(1.1, {{406, "0.4"}, {407, "14"}});
  const Shown shown = Open();
  Choose(602);
  Choose(198);
  Choose(275);
  EXPECT_EQ(Open(), shown) << Describe(Open(), shown);
  Choose(198);
  CurrentDataTypeFlags().dls = 1;
  NoteNewDataForModelEntries(true);
  EXPECT_TRUE(ModelEntries().records.empty());
  CurrentDataTypeFlags().dls = 0;
  NoteNewDataForModelEntries(true);
  Choose(275);
  EXPECT_EQ(Open(), shown) << Describe(Open(), shown);
}

// A saved parameter file that names a model without menu item: loading it
// selects that model, and what the load gave it is the model's entries from
// then on (nothing put aside earlier comes back over them).
TEST_F(ModelRoundTrip, AHiddenModelFromASavedFileKeepsTheFilesEntries) {
  LoadRun(3);
  Choose(1100);
  Open(0, {{406, "0.7"}, {407, "13"}, {413, "0.7"}, {419, "1.35"}});
  const std::string file = (dir_ / "~hidden.ra1").string();
  ui_->ExpectBox("SAVE PARAMETERS", "save in " + CurrentDataPaths().parameterFile + " ?", platform::IDNO)
      .ExpectFiles("export parameter file", Chosen({file}));
  Window().Dispatch(827);
  ASSERT_TRUE(ui_->AllConsumed());
  Choose(198);
  Choose(1100);
  Open(0, {{406, "0.9"}, {407, "9"}});
  Choose(585);
  // The model the reload leaves keeps its entries, as after a model command.
  Open(0, {{406, "0.6"}, {407, "11"}});
  const Shown left = Open();
  ui_->ExpectBox("LOAD PARAMETERS", "restore parameters from", platform::IDNO)
      .ExpectFiles("export parameter file", Chosen({file}));
  DispatchLenient(1098);
  EXPECT_EQ(SelectedModelKey(), 1100);
  // (The first confirmation after the load settles the options the file
  // does not hold.)
  Open();
  const Shown loaded = Open();
  Choose(585);
  EXPECT_EQ(Open(), left) << Describe(Open(), left);
  Choose(275);
  Choose(198);
  Choose(1100);
  EXPECT_EQ(Open(), loaded) << Describe(Open(), loaded);
}

// The invariant D of its c(s) variant starts at 5e-7 cm^2/s, shown in the
// field's unit of 1e-7 cm^2/s so that taking the dialog as it stands keeps it.
TEST_F(ModelRoundTrip, TheInvariantDIsShownSoThatItIsKept) {
  LoadRun(3);
  Choose(526);
  const Shown shown = Open();
  // Confirmed as shown: no warning about a D of 0.
  EXPECT_TRUE(ui_->failures.empty());
  std::string text;
  for (const auto& c : shown)
    if (std::get<0>(c) == 419) text = std::get<4>(c);
  EXPECT_EQ(text, "5.000e+00");
  EXPECT_FLOAT_EQ(Conti().invariantD, 5.0f);
  EXPECT_FLOAT_EQ(gModelParameterVector.P[11], 5.0f);
  // The model's s-M relation is Svedberg's with that D: a 4 S species is
  // M = s R T / ((1 - vbar rho) D), some 70 kDa.
  const SolutionConditions& sol = gSolutionConditions;
  const double M = 4e-13 * 8.314462618e7 * sol.temperature / ((1.0 - sol.vbarRho) * 5e-7);
  EXPECT_NEAR(MolarMassUnderModel(4.0f), M, 1e-4 * M);
}


}  // namespace
