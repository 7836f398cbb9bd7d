#pragma once
// The continuous-distribution models as the distribution code sees them:
// which member of the family the Model menu has chosen (read from
// gModelSelectorFlags), and the menu commands that choose them. The
// commands are plain functions so that the window, the automation run and
// tests call the same code; menu check marks and help are the window's.
#include <cstdint>
#include <string>

#include "distributions/conti_model_family.h"
#include "distributions/conti_model_store.h"

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

// Regularisation choice: Tikhonov-Phillips (second derivative) or maximum entropy.
void SetSecondDerivativeRegularization(bool quiet, const std::string& caption);
