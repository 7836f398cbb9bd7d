#pragma once
// Simulated sedimentation-velocity experiments: absorbance scans computed
// with the current model, optional Gaussian noise added, which then stand
// as the loaded data set and are written as scan files "00001.ra0", ...
// (the extension of the chosen name, ".ra0" when it has none)
//
// Scan i (1-based) is taken at t_i = i dt, or (i - 1) dt + t0 with a first
// time t0 > 0 (s), at w2t = (2 pi rpm / 60)^2 t_i (rad^2/s). A linear run-up
// at a rpm/s adds its duration rpm / a to every time and one third of the
// w2t of that duration at full speed. The radial grid runs from the
// meniscus to the bottom (cm) in steps dr: n = floor((bottom - meniscus) /
// dr + 1e-4) + 1 points, so that the bottom is kept when it lies on the
// grid.
//
// The model and the distribution run above this layer; the window installs
// the hooks through which the scans reach them.
#include <cstdint>
#include <functional>
#include <string>

// Bounds that keep a mistyped entry from asking for unbounded memory.
constexpr int kMaxSyntheticPoints = 100000;
constexpr int kMaxSyntheticScans = 10000;

struct SyntheticDataHooks {
  // Concentration the loading profile starts from: the first included
  // species', or the total loading of a self-association model.
  std::function<float()> initialLoading;
  std::function<bool()> bandLoadingModel;
  std::function<void(bool inverted)> setBandInverted;
  // A continuous distribution c(s) is selected: the scans come from a
  // distribution read from a file.
  std::function<bool()> distributionModel;
  // The Series command is generating (no questions, no repaint).
  std::function<bool()> seriesRunning;
  // Switches off, for the simulation, the model's fits that are solved from
  // the data (the fitted baseline, the baseline and loadings as linear
  // amplitudes); what it returns puts the user's switches back.
  std::function<std::function<void()>()> holdFitSwitches;
  // Fills the model arrays of all scans (SimulateModel).
  std::function<void()> simulateModel;
  // The distribution path: switch of synthetic distributions, load, run.
  std::function<void(bool on)> setSyntheticDistribution;
  std::function<bool(const std::string& path, bool normalised)> loadDistribution;
  std::function<void()> runDistribution;
  // The Lamm solver's "ramp rotor speed" switch (its twin "times from
  // w2t" is a load target).
  std::function<bool()> rampRotorSpeed;
  std::function<void(bool)> setRampRotorSpeed;
  // The distribution display switch goes off: the data plot shows scans.
  std::function<void()> clearDistributionDisplay;
};
SyntheticDataHooks& CurrentSyntheticDataHooks();
void ResetSyntheticDataHooks();

struct SyntheticRun {
  bool reuse = false;        // simulate the loaded scans again, make no new ones
  float radialStep = 0.001f; // cm
  int rpm = 50000;
  float acceleration = -1;   // rpm/s; > 0 a run-up phase, < 0 no rotor ramp in the simulation
  float noise = 0;           // standard deviation of the added Gaussian noise
  float timeStep = 300;      // s between scans
  float firstTime = 0;       // s; 0: scan i at i x timeStep
  int scanCount = 0;         // < 1: nothing happens
  std::string path;          // a path in the folder that receives the scan files
};

enum class SyntheticOutcome {
  Made,            // scans simulated and written
  NothingToDo,     // scan count < 1
  Refused,         // inputs that cannot make a grid or a time; said why
  Unwritten,       // simulated, but a scan file could not be written (said once)
  // Stopped before the loaded data or any file was replaced: the folder
  // cannot be written, the distribution file could not be read (said), or
  // the user kept the scans already in the folder.
  Stopped,
};

// Number of grid points from the meniscus to the bottom in steps of dr; 0
// when no grid can be made (dr <= 0, bottom below the meniscus).
int SyntheticPointCount(float meniscus, float bottom, float dr);

// Time and w2t of scan i (1-based) of a run.
struct SyntheticTime {
  double t = 0;    // s
  double w2t = 0;  // rad^2/s
};
SyntheticTime SyntheticScanTime(const SyntheticRun& run, int i);

// The mean deviation text of the last run with noise ("mean dev = %f  "),
// empty without noise.
const std::string& SyntheticRmsdText();

// Before anything is replaced: the folder of the path must be writable, a
// c(s) distribution must be readable from "distrib.dat" of the program
// folder, and scans of the names to be written that are already in the
// folder are replaced only when the user says so (unless a series runs,
// which asks nothing). The scans are written until the first file that
// cannot be; that failure is said once.
SyntheticOutcome MakeSyntheticDataSet(const SyntheticRun& run);
