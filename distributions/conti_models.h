#pragma once
// The continuous-distribution models as the distribution code sees them:
// which member of the family the Model menu has chosen (read from
// gModelSelectorFlags), and the menu commands that choose them. The
// commands are plain functions so that the window, the automation run and
// tests call the same code; menu check marks and help are the window's.
#include <cstdint>
#include <string>

#include "distributions/conti_model_family.h"

class FitHost;

// ---- Model menu commands ---------------------------------------------------
// What the window must do after a command (menu marks are its business).
struct ContiModelCommandResult {
  bool refused = false;
  bool invalidate = false;    // repaint the whole window
  bool reallocLamm = false;   // re-allocate the Lamm arrays (grid size changed)
  bool rangeToMolarMass = false;  // the S range was turned into molar masses
};

// Outside services the commands need from the shell; null members are skipped.
struct ContiModelCommandContext {
  bool dlsDataLoaded = false;
  bool electrophoresisDataLoaded = false;
  int scanCount = 0;
  float lastScanTemperature = 20.0f;  // C
  bool quiet = false;                 // the restore's quiet switch: no notes
  bool reducedLsgMenu = false;
  // The commands set their switches only: the model's own entries, or the
  // first start of its row, were put in place before (the model entries').
  bool startToMaxEntropy = false;     // the start in place left Tikhonov-Phillips
  bool* fitMAndS = nullptr;           // the M-and-s parametrisation switch (in/out)
  FitHost* host = nullptr;            // for switching off times from w^2t
};

// Values the variants load into the fit vector, kept between commands.
struct ContiModelStore {
  float discreteM = 350.0f, discreteS = 1.0f, discreteSecond = 0.34f;
  int discreteMFit = 0, discreteSecondFit = 0;
  float conformation[3] = {200000.0f, 7.0f, 10.0f};
  float bimodal[3] = {2.0f, 10.0f, 20.0f};
  int bimodalSecondFit = 0;
  float vbarFit = 0;
  float scalingPrefactor = 0.003f, scalingExponent = 0.667f;
  int scalingPrefactorFit = 0, scalingExponentFit = 0;
  float wormPersistence = 36.0f;
  int wormPersistenceFit = 0;
  float worm[3] = {23.0f, 9000.0f, 0.4f};
  float ffDimension[3] = {1.0f, 2.0f, 10.0f};
  // In 1e-7 cm^2/s, the unit of its field: 5e-7 cm^2/s, a protein's D (a
  // start of 5e-7 in this unit, 5e-14 cm^2/s, is a species that does not
  // diffuse, whose boundary needs the largest static grid on every Run).
  float invariantD = 5.0f;
  float rodValue = 10000.0f;
  int distributionGridSize = 500;
  // "Nonideal c(s)" has been chosen once (its first start is the ideal limit).
  bool nonidealStartGiven = false;
};
ContiModelStore& ContiStore();

// "Continuous c(M) Distribution": also the common set-up of the family.
ContiModelCommandResult CmContinuousCMModel(const ContiModelCommandContext& ctx);
// "Continuous c(s) Distribution".
ContiModelCommandResult CmContinuousCSModel(const ContiModelCommandContext& ctx);
// The c(s) variants with their switches.
enum class CsVariant {
  With1Discrete,            // "Continuous c(s) With 1 Discrete Component"
  MsTable,                  // "Continuous c(s) With M(s) Table"
  ConformationalChange,     // "Continuous c(s) Conformational Change Model"
  BimodalFf0,               // "Continuous c(s) With Bimodal f/f0"
  BimodalFf0With1Discrete,  // "... With Bimodal f/f0 And 1 Discrete Component"
  FixFf0FloatingVbar,       // "Continuous c(s) With fix f/f0 And Floating vbar"
  GeneralScalingLaw,        // "Continuous c(s) With General Scaling Law"
  WormlikeChain,            // "Continuous c(s) For Wormlike Chain"
  CsFf0,                    // "Continuous c(s,ff0)"
  CsFf0With1Discrete,       // "Continuous c(s,ff0) With 1 Discrete Component"
  InvariantD,               // "Continuous c(s) With Invariant D"
  LinearRod521,             // the linear-rod c(s) model without menu item
};
ContiModelCommandResult CmContinuousCSVariant(CsVariant v, const ContiModelCommandContext& ctx);

// ---- first starts -----------------------------------------------------------
// The loaded data as a first start reads them.
struct ModelStartData {
  bool dls = false, electrophoresis = false;
  int scanCount = 0;
  float lastScanTemperature = 20.0f;  // C
  bool multiSpeed = false;
  bool fitMAndS = false;  // the M-and-s parametrisation switch (in/out)
};
ModelStartData LoadedModelStartData();

// What a first start changed that the model's command tells the user.
struct ModelStartNotes {
  bool written = false;             // the model's start is the table's
  bool rangeToMolarMass = false;    // the S range became molar masses
  bool toMaxEntropy = false;        // from Tikhonov-Phillips
  bool toSecondDerivative = false;  // from maximum entropy
};

// The first start of model `id` from its row of the model table and the
// data: the entries a model chosen for the first time shows, written before
// its command runs. Models whose start is not the table's are left alone
// (`written` false).
ModelStartNotes WriteModelStart(int id, ModelStartData& data);

// The grid of an ls-g*(s) model chosen for the first time (`id`: its
// command): confidence level, resolution and s range. Multi-speed runs span
// a wide range of s and float the meniscus; the zone form keeps the narrow.
void WriteLsgGridStart(int id, bool multiSpeed);

// Regularisation choice: Tikhonov-Phillips (second derivative) or maximum entropy.
void SetSecondDerivativeRegularization(bool quiet, const std::string& caption);
