// The species families taken from model to model: the light-scattering
// species keep their size, the discrete species become the multiple
// non-ideal species and back, the molar-mass form left converts them, the
// electrophoresis cell and the fluorescence tools give the discrete species
// back as typed.
#include "model_data_fixture.h"

namespace {

// The light-scattering species keep their size from model to model: the
// Stokes radius typed for the Stokes radii model is, in the models of D,
// the diffusion coefficient of that radius (Stokes-Einstein, D = kT / (6 pi
// eta R)), and a coefficient is the radius of it, also when a distribution
// was chosen in between.
TEST_F(ModelDataTest, LightScatteringSpeciesKeepTheirSizeFromModelToModel) {
  LoadData(kDlsData);
  const SolutionConditions solution = gSolutionConditions;
  // D in 1e-7 cm^2/s of a sphere of radius R in nm, and back.
  const double kT = 1.380649e-23 * solution.temperature, sixPiEta = 6 * M_PI * 1.002e-3 * solution.viscosity;
  const auto d = [&](double nm) { return kT / (sixPiEta * nm * 1e-9) * 1e11; };
  const auto radius = [&](double D) { return kT / (sixPiEta * D * 1e-11) * 1e9; };
  struct Way {
    std::vector<int> models;  // the first has its species 1 typed
    double typed;
    int model;
    double expected;
  };
  const Way ways[] = {
      {{536}, 3.5, 198, d(3.5)},      {{536, 503}, 3.5, 198, d(3.5)}, {{536}, 3.5, 890, d(3.5)},
      {{536, 502}, 3.5, 246, d(3.5)}, {{198}, 60, 536, radius(60)},   {{890, 503}, 60, 536, radius(60)},
  };
  // (Fitted: a fit leaves the radius it found.)
  for (bool fitted : {false, true})
  for (const Way& w : ways) {
    std::string way = fitted ? "fitted " : "";
    for (int m : w.models) way += std::to_string(m) + " ";
    SCOPED_TRACE(way + "-> " + std::to_string(w.model));
    Choose(w.models.front() == 503 ? 502 : 503);
    static_cast<ModelEntryShelf&>(ModelEntries()) = {};
    NoteNewDataForModelEntries(false);
    gSolutionConditions = solution;
    Choose(w.models.front());
    Open(0, {{406, std::to_string(w.typed)}});
    double expected = w.expected;
    if (fitted) {
      gModelParameterVector.F[1] = 1;
      Choose(215);
      expected *= w.typed / gModelParameterVector.P[1];
      if (w.models.front() == 536) expected = d(gModelParameterVector.P[1]);
    }
    for (std::size_t i = 1; i < w.models.size(); ++i) Choose(w.models[i]);
    Choose(w.model);
    ASSERT_EQ(SelectedModelKey(), w.model);
    EXPECT_NEAR(gModelParameterVector.P[1], expected, 2e-3 * expected);
  }
}

// Three discrete species (a total and two fractions of it) become the
// multiple non-ideal species: species 2 and 3 go into the non-ideal terms
// with their loadings by weight, log ks and kd come from the non-ideality
// last entered, not from the fractions left in their slots; and back.
TEST_F(ModelDataTest, DiscreteSpeciesBecomeTheMultipleNonidealSpeciesAndBack) {
  LoadData(kVelocityData);
  gFitEngineState.molarMassParameters = 0;
  Choose(198);
  SetFormRunner([this](FormDialog& d) { return forms_.Run(d); });
  forms_.Expect({"",
                 {{405, "0.8"}, {406, "6"}, {407, "5"}, {412, "0.5"}, {413, "4"}, {414, "7"}, {419, "0.25"},
                  {420, "3"}, {421, "9"}},
                 {{401, 1}, {408, 1}, {415, 1}}});
  DispatchLenient(212);
  SetFormRunner([this](FormDialog& d) { return Answer(d); });
  gAssociationModelParams.logKs = -2.5f;
  gAssociationModelParams.logKd = -3.5f;
  Choose(893);
  ASSERT_EQ(SelectedModelKey(), 893);
  // (Fields of the species 2 and 3 hold the non-ideal terms.)
  // (438 and 439 hold the third species' overlay fraction and the synthetic
  // boundary's position, at their first start.)
  const std::map<int, double> shown = {{405, 0.2},  {406, 6.0},  {407, 5.0}, {443, 0.4}, {414, 7.0},
                                       {413, 4.0},  {426, 0.2},  {421, 9.0}, {427, 3.0}, {412, -2.5},
                                       {419, -3.5}, {438, 0.0},  {439, 6.5}};
  const auto near = [](const Shown& dialog, const std::map<int, double>& expected) {
    for (const auto& [id, value] : expected) {
      const auto it = std::find_if(dialog.begin(), dialog.end(), [id](const auto& c) { return std::get<0>(c) == id; });
      ASSERT_NE(it, dialog.end()) << id;
      EXPECT_NEAR(std::atof(std::get<4>(*it).c_str()), value, 1e-4) << "field " << id;
    }
  };
  const Shown nonideal = Open();
  near(nonideal, shown);
  // The species' included boxes carry the terms' fits here, all fixed at
  // the first start: none of the discrete species' ticks.
  for (int id : {401, 408, 415, 422, 442}) {
    const auto it = std::find_if(nonideal.begin(), nonideal.end(), [id](const auto& c) { return std::get<0>(c) == id; });
    ASSERT_NE(it, nonideal.end()) << id;
    EXPECT_EQ(std::get<3>(*it), 0) << "box " << id;
  }
  // Each term's fit box stands beside its field, the only box of that cell.
  std::vector<FormControl> laidOut;
  SetFormRunner([&](FormDialog& d) {
    laidOut = d.controls;
    return false;
  });
  Window().Dispatch(212);
  SetFormRunner([this](FormDialog& d) { return Answer(d); });
  const auto at = [&](int id) {
    const auto it = std::find_if(laidOut.begin(), laidOut.end(), [id](const FormControl& c) { return c.id == id; });
    return it == laidOut.end() ? FormControl{} : *it;
  };
  for (const auto& [field, box] : std::vector<std::pair<int, int>>{
           {439, 401}, {443, 442}, {414, 411}, {413, 418}, {426, 422}, {421, 445}, {427, 415}, {438, 408}}) {
    SCOPED_TRACE("field " + std::to_string(field));
    ASSERT_TRUE(at(field).visible);
    EXPECT_TRUE(at(box).visible);
    EXPECT_EQ(at(box).label, "fit");
    EXPECT_EQ(std::make_pair(at(box).row, at(box).column), std::make_pair(at(field).row, at(field).column + 2));
    EXPECT_EQ(std::count_if(laidOut.begin(), laidOut.end(), [&](const FormControl& c) {
                return c.visible && c.kind == FormControl::Kind::Check && c.row == at(box).row &&
                       c.column == at(box).column;
              }),
              1);
  }
  EXPECT_EQ(at(424).label, "with synthetic boundary");
  // Back to a first start of the discrete species: the three species (whose
  // concentrations such a start empties).
  ModelEntries().records.erase(198);
  Choose(198);
  ASSERT_EQ(SelectedModelKey(), 198);
  near(Open(), {{405, 0}, {406, 6}, {407, 5}, {412, 0}, {413, 4}, {414, 7}, {419, 0}, {420, 3}, {421, 9}});
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(gModelParams.included[k], 1) << k;
}

TEST_F(ModelDataTest, TheViscosityAskedByTheStokesRadiiIsKept) {
  LoadData(kDlsData);
  auto stokes = [&](const char* poise) {
    ui_->ExpectPrompt("DISCRETE STOKES RADII", "absolute viscosity of solvent (Poise)", std::string(poise));
    Choose(536);
    EXPECT_TRUE(ui_->AllConsumed());
    EXPECT_EQ(SelectedModelKey(), 536);
    return std::stod(ui_->initialTexts.back());
  };
  stokes("0.01002");
  Open(0, {{406, "5"}});
  const float radius = gModelParameterVector.P[1];
  EXPECT_FLOAT_EQ(radius, 5.0f);
  // The baseline the start floats stays floated through confirmations (as
  // a linear amplitude).
  Open();
  EXPECT_EQ(gModelParams.baselineLinear, 1);
  Choose(503);
  EXPECT_NEAR(stokes("0.02"), 0.01002, 1e-7);
  // Relative to water at 20 degC: 0.02 P / 0.01002 P.
  EXPECT_NEAR(gSolutionConditions.viscosity, 0.02 / 0.01002, 1e-5);
  EXPECT_FLOAT_EQ(gModelParameterVector.P[1], radius);
  Choose(198);
  EXPECT_NEAR(stokes("0.01002"), 0.02, 1e-7);
  EXPECT_NEAR(gSolutionConditions.viscosity, 1.0, 1e-5);
}


// The fluorescence tools' reload chooses the electrophoresis model as the
// menu does: the discrete species keep what was typed for them.
TEST_F(ModelDataTest, TheFluorescenceReloadKeepsTheSpeciesEntries) {
  LoadData(kElectrophoresisData);
  EXPECT_EQ(SelectedModelKey(), 291);
  Choose(198);
  Open(0, {{405, "0.45"}, {406, "6.1"}, {407, "4.5"}});
  const Shown entered = Open();
  LoadData(kElectrophoresisData);
  EXPECT_EQ(SelectedModelKey(), 291);
  Choose(198);
  EXPECT_EQ(Open(), entered) << Describe(Open(), entered);
  EXPECT_FLOAT_EQ(gModelParams.concentration[1], 0.45f);
}


// "Fit M and s" left by a model that takes the species in D: M becomes D
// as the menu toggle makes it (D = s R T / (M (1 - vbar rho))), and back
// at the discrete species the molar mass entered is there again.
TEST_F(ModelRoundTrip, LeavingTheMolarMassFormConvertsTheSpecies) {
  LoadRun(3);
  gFitEngineState.molarMassParameters = 1;
  Choose(198);
  Open(0, {{405, "0.5"}, {406, "66596"}, {407, "4.5"}});
  ASSERT_FLOAT_EQ(gModelParameterVector.P[1], 66596.0f);
  const double T = CurrentScanSet().records[CurrentScanSet().order[1]].temperature + 273.15;
  const double buoyancy = 1.0 - gSolutionConditions.vbar * gSolutionConditions.density;
  const double D = 4.5e-13 * 8.314462618e7 * T / (66596.0 * buoyancy) * 1e7;  // 1e-7 cm^2/s
  for (int command : {893, 227, 291}) {
    SCOPED_TRACE(command);
    Choose(command);
    EXPECT_EQ(gFitEngineState.molarMassParameters, 0);
    EXPECT_NEAR(gModelParameterVector.P[1], D, 2e-3 * D);
    Choose(198);
    EXPECT_EQ(gFitEngineState.molarMassParameters, 1);
    EXPECT_FLOAT_EQ(gModelParameterVector.P[1], 66596.0f);
  }
}

// After the electrophoresis cell the discrete species are chosen again
// (the already-selected test saw the cell's species switch), with the
// bottom of the sector as it was and the buffer's slot set up again in
// buffer-mismatch mode.
TEST_F(ModelRoundTrip, DiscreteSpeciesAfterTheElectrophoresisCellAndInBufferMode) {
  LoadRun(3);
  Choose(198);
  const float bottom = gModelParams.bottom;
  Choose(291);
  EXPECT_NEAR(gModelParams.bottom, gModelParams.meniscus + gModelParams.electrophoresisColumnLength, 1e-5);
  Choose(198);
  EXPECT_EQ(SelectedModelKey(), 198);
  EXPECT_TRUE(Window().IsMenuItemChecked(198));
  EXPECT_FALSE(Window().IsMenuItemChecked(291));
  EXPECT_FLOAT_EQ(gModelParams.bottom, bottom);

  Choose(275);
  gBufferSedSettings.BufferSedOn = true;
  Choose(198);
  gBufferSedSettings.BufferSedOn = false;
  EXPECT_EQ(gModelParams.included[4], 1);
}


}  // namespace
