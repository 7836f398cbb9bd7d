#pragma once
// The models of the program, one row each: what the Model menu and the
// hidden model commands choose. Every question of the kind "which models
// ..." (is it a distribution, does it hold the discrete species, which
// data can it compute, what does its command do when its model is in use)
// is answered from this table, so that a model added here is covered by
// the model entries, the refusals of Run and Fit and the round-trip test.
#include <cstdint>
#include <span>

#include "fit/model_ids.h"

enum class ModelFamily : std::uint8_t {
  Species,      // discrete species in the slots (and their geometries)
  Association,  // rapid self-association, the reacting system
  Nonideal,     // concentration-dependent s and D
  Distribution, // c(M), c(s), its variants, ls-g*(s), the DLS distributions
  Transform,    // van Holde-Weischet, the ls-g* extrapolation
  Equilibrium,
};

// The kinds of data a model computes (bits).
enum ModelData : unsigned {
  kVelocityData = 1,         // sedimentation velocity scans
  kDlsData = 2,              // autocorrelation functions
  kElectrophoresisData = 4,  // electrophoresis scans
  kEquilibriumData = 8,      // sedimentation equilibrium scans
};
constexpr unsigned kSedimentationData = kVelocityData | kElectrophoresisData | kEquilibriumData;

// Values of the other models that the model keeps in slots of its own
// (bits): they go back to the others when it is left.
enum ModelBorrows : unsigned {
  kBorrowsFfSlot = 1,  // its own value in the f/f0 slot P[2n+3]
  kBorrowsVbar = 2,    // the floating vbar written over the solution's
  kBorrowsBottom = 4,  // the electrophoresis cell's end as the bottom
  // Its entries pass through the discrete component of the distributions
  // (s, M, D, the hybrid's threshold) or through the nonideality (log ks,
  // log kd), stores that other models take their first start from.
  kBorrowsDiscrete = 8,
  kBorrowsNonideality = 16,
};

// What a model's command does when its model is already the one in use:
// the model entry decides it from this column, and no command tests for
// itself whether it is chosen.
enum class InUseAgain : std::uint8_t {
  Nothing,      // nothing at all: the model, its entries and its marks stay
  // It asks its own question again (the solvent's viscosity, the oil
  // volume, the transform's direction and resolution); the answer is the
  // newest entry of that option, the model's switches and entries stay.
  OptionsOnly,
  // It runs again as chosen from another model of its family, over its own
  // entries, and asks for the values kept outside them (the c(M) priors).
  AsksAgain,
};

// Where a model chosen for the first time starts from: the program's
// start-up entries, or the species of the last species model.
enum class ModelStart : std::uint8_t { StartUp, LastSpecies };

// The s range (S) a member of the distribution family chosen for the first
// time shows, unless the range before it was one of molar masses (that of
// the f(M) scaling law is one of molar masses itself).
struct StartSRange {
  float lo = 2.0f, hi = 20.0f;
};

// The regularisation a model chosen for the first time starts with.
enum class StartRegularisation : std::uint8_t {
  Kept,              // as the start-up entries have it
  MaxEntropy,        // the c(s) family's
  SecondDerivative,  // Tikhonov-Phillips, as the step functions of ls-g*(s) want
};

// What the first quantity of a species model's slots holds: M or D, as the
// M-and-s switch says, or the Stokes radius (nm) of the light-scattering
// species.
enum class SpeciesQuantity : std::uint8_t { MassOrD, StokesRadius };

// Values a first start reads from a store kept outside the entries (the
// last values the model held, or the values its tools keep).
enum class StoredStart : std::uint8_t {
  None,
  ThreeStateAssociation,   // monomer, constants and s; the n-mers' masses from the monomer's
  ReactingSystem,          // A + B <-> AB as the model last held it
  EquilibriumAssociation,  // A + B <-> AB at equilibrium, the complex from the mass action
  NonidealSpecies,         // log ks and log kd, species 1's s and D
};

// The part of a model's first start that follows its switches (the pack of
// its parameters reads them): written once its command has run. The species
// it takes from the last species model are converted to its own quantity.
struct SpeciesStart {
  std::int8_t automatic = -1, claverie = -1, movingHat = -1;  // the Lamm solver (-1: as the reset leaves it)
  std::int8_t fixedTimeStep = -1;
  bool modelInitial = false;     // the loading mixture as the initial distribution
  std::uint8_t emptyExtras = 0;  // bit k-1: species k's fourth quantity emptied
  bool fixAll = false;           // every fit box cleared
  bool emptyThirdSlots = false;  // the slots 2n+1..3n emptied
  bool floatBaseline = false;    // the baseline of the autocorrelation floats
  bool oneSpecies = false;       // component 1 alone, its amplitude floating
  bool zoneLoading = false;      // the row's lamella loading, its fit box ticked
  bool fitNoise = false;         // time- and radially-invariant noise fitted
  StoredStart stored = StoredStart::None;
  float oligomerA = 0, oligomerB = 0;  // the three-state n-mers as multiples of the monomer
  SpeciesQuantity quantity = SpeciesQuantity::MassOrD;
  constexpr bool Any() const {
    return automatic >= 0 || claverie >= 0 || movingHat >= 0 || fixedTimeStep >= 0 || modelInitial ||
           emptyExtras != 0 || fixAll || emptyThirdSlots || floatBaseline || oneSpecies || zoneLoading || fitNoise ||
           stored != StoredStart::None || quantity != SpeciesQuantity::MassOrD;
  }
};

// The constant part of a model's first start (0: none of its own); the
// rules that write it with what follows from the data are the first starts
// of distributions/model_starts.h.
struct StartValues {
  float resolution = 0;       // grid points of the distribution
  float confidence = 0;       // the regularisation's confidence level
  float ffValue = 0;          // the f/f0 in its slot
  float loading = 0;          // the zone's lamella (its fit box ticked)
  StartRegularisation regularisation = StartRegularisation::Kept;
  float discreteM = 0, discreteS = 0;  // the discrete component (not floated)
  float constantD = 0;        // D (1e-7 cm^2/s) of a velocity distribution without one
  SpeciesStart species = {};
};

struct ModelRow {
  int id;  // the command id
  ModelFamily family;
  unsigned accepts;  // ModelData bits
  ModelStart start;
  unsigned borrows = 0;  // ModelBorrows bits
  InUseAgain again = InUseAgain::Nothing;
  bool holdsSpecies = false;  // the slots hold the discrete species as such
  StartSRange startS = {};
  StartValues startValues = {};
};

std::span<const ModelRow> ModelTable();
// The row of a command id (nullptr: not a model command).
const ModelRow* FindModelRow(int id);

// The command id of the model the switches select (0: none chosen yet).
int SelectedModelKey();
// Command ids of the models (the Model menu and the hidden model commands).
bool IsModelCommand(int id);
// Models whose slots hold the discrete species as such (0: the start-up entries).
bool SpeciesModelKey(int key);
// Models that start from the discrete species in the slots.
bool TakesSpeciesKey(int key);
// What the first quantity of the species of model `key` holds (M or D for
// every model that does not hold species).
SpeciesQuantity SpeciesQuantityOf(int key);
bool DistributionKey(int key);
bool ModelBorrowsSlot(int key, ModelBorrows what);
// What the command of model `key` does when that model is in use.
InUseAgain ModelInUseAgain(int key);
// The Model menu item marked beside the model's own (0: none): the c(M)
// forms with prior knowledge are c(M) with an option.
int ModelMarkedBeside(int key);
// The first s range of a model (that of the row's default without a row).
StartSRange ModelStartSRange(int key);

// The kind of the loaded data (one ModelData bit; kVelocityData without data).
unsigned LoadedDataKind();
// Why the selected model cannot compute the loaded data (nullptr: it can).
const char* ModelDataRefusal();
