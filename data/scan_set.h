#pragma once
// The loaded data set: one ScanRecord per scan, the per-scan arrays, the
// common radial grid with the systematic-noise arrays, and the data-kind
// switches. These are program-wide records; every layer from data/ upwards
// reads them through CurrentScanSet() and CurrentDataTypeFlags().
//
// Memory ownership
// - Per-scan tables (radii, signals, records, points, ...) are std::vectors
//   of count + 1 entries; entry 0 is unused so that scan numbers run 1..count.
//   A table that is not in use for the loaded data is empty or holds nulls.
// - Every float array in them (radii[i], signals[i], model[i], ...) is a
//   one-based array from vector(1, n) of numerics/arrays.h and is owned by
//   the scan set: FreeScanSetArrays() releases it with free_vector.
// - The CVector/CCurve objects (radiusVec, dataCurve, ...) are views of
//   those arrays; the scan set owns the view objects, never their data
//   through them (deleting a view frees no float array).
// - grid and gridSignals[i] are owned only while gridOwned is 1; otherwise
//   they are views of the earliest scan's radii and of each scan's signals.
// - tiNoise, riNoise, meanProfile, scanMeans, gridWork, gridModel[i],
//   tiNoiseSubtracted, riNoiseSubtracted and the species arrays are owned
//   when not null.
// - dlsRecords is filled by the DLS loader (count + 1 entries) and emptied
//   with the other per-scan tables.
// The rotor-speed profile in use (CurrentSpeedProfile) is kept beside the
// scan set by the speed-profile code, not in it.
#include <cstdint>
#include <string>
#include <vector>

#include "data/dls_header.h"

class CVector;
class CCurve;
class CProgressLine;

// Per-scan header. Times are seconds; file times are seconds since the
// epoch (the platform's file times), not Windows FILETIMEs.
struct ScanRecord {
  char description[100] = {};  // filtered first line of the file, NUL-terminated
  char type = 'R';    // 'R' absorbance, 'I' intensity, 'P' interference,
                      // 'F' fluorescence, 'W'/'V' absorbance/intensity wavelength scan
  int32_t cell = 0;
  float temperature = 0;  // degrees Celsius
  float rpm = 0;          // rotor speed, revolutions per minute
  double timeRead = 0;    // elapsed time as read (s); w2t / omega^2 while "times from w^2t" is on
  double w2t = 0;         // integral of omega^2 dt (rad^2/s)
  float wavelength = 0;   // nm; for wavelength scans the radius of the scan (cm)
  int32_t headerCount = 0;  // last integer of the header line; >= 2 keeps the third column
  float meniscusNote = 0;   // number written before " - meniscus", else 0
  int32_t points = 0;
  double time = 0;          // recorded elapsed time (s), corrected by the time-stamp check
  double timeOriginal = 0;  // elapsed time as read, scaled with the time-stamp corrections
  double acceleration = 0;      // estimated rotor acceleration (rpm/s)
  double accelerationTime = 0;  // estimated duration of the acceleration phase (s)
  uint8_t timeStampMarked = 0;  // description holds "[TIMESTAMP CORRECTED" or "[T OK]"
  double creationTime = 0;      // file times at reading, seconds since the epoch
  double lastAccessTime = 0;
  double lastWriteTime = 0;
  int32_t fileTimesValid = 0;     // access and write times were read
  uint8_t creationTimeValid = 0;  // the file system reported a creation time
  uint8_t fluorescence = 0;
  float voltage = 0;  // fluorescence detector settings from the description
  int32_t gain = 0;
  int32_t range = 0;
};

// Kind of the loaded data, set by the scan reader from the type letter, and
// the spike filter applied while reading.
struct DataTypeFlags {
  uint8_t intensity = 0;     // 'I' or 'V'
  uint8_t absorbance = 0;    // 'R' or 'W'; also set for fluorescence and electrophoresis data
  uint8_t interference = 0;  // 'P'
  uint8_t excludeSpikes = 1;           // menu "Don't Load Spikes"
  uint8_t flagTooStrongGradients = 1;  // menu "Flag Too Strong Gradients"
  uint8_t nColumnsMode = 0;            // every row holds nColumns numbers
  uint8_t electrophoresis = 0;
  uint8_t fluorescence = 0;  // 'F'
  int32_t nColumns = 2;
  float absorbanceSpikeThreshold = 0.4f;
  float fluorescenceSpikeThreshold = 100.0f;
  float spikeThreshold = 0.4f;  // the level in use, chosen by the reader
  float maxGradient = 500.0f;   // limit of "Flag Too Strong Gradients"
  uint8_t dls = 0;              // DLS autocorrelation data are loaded
  uint8_t linearGeometry = 0;   // electrophoresis model geometry (hidden reload command)
  uint8_t floToolsData = 0;     // data loaded for the fluorescence tool box
};

// One optional set of per-species arrays (species slots 1..4).
struct SpeciesScanArrays {
  std::vector<float*> onGridPerScan;  // [1..scans], each gridLength long, zero-filled
  float* onGrid = nullptr;            // [1..gridLength]
  float* perScan = nullptr;           // [1..scans]
};

// The extra scan read as experimental initial distribution.
struct InitialDataScan {
  ScanRecord record;
  int32_t points = 0;  // 0 = none loaded
  float* radii = nullptr;
  float* signals = nullptr;
  float* third = nullptr;
  uint8_t equalsFirstScan = 0;  // its time equals the earliest scan's
  int32_t polynomialOrder = 1;        // extrapolation towards the fit limits
  float extrapolationDistance = 1.0f;  // distance factor of that extrapolation
};

struct ScanSet {
  CProgressLine* loadProgress = nullptr;  // exists only during a load
  uint8_t dataChanged = 0;  // results outdated: data, limits or model changed since the last run or fit
  uint8_t equilibriumMode = 0;
  uint8_t gridOwned = 0;
  uint8_t mixedTypes = 0;
  uint8_t oldFileNameConvention = 0;
  uint8_t meniscusOrBottomChanged = 0;  // set by marker edits, cleared by Run and Fit
  uint8_t fitLimitQuestionAsked = 0;    // ls-g*(s) range question answered Yes
  // The fit limits in use (cm, 0 = not set): the user's own below, checked
  // against the scans, meniscus and bottom.
  float leftFitLimit = 0;
  float rightFitLimit = 0;
  // The fit limits as the user set them (a marker, a key, a parameter or xp
  // file, a restored analysis), or as they stood before a load when nobody
  // set them: a load of other data corrects the limits in use, never these,
  // so that the data loaded again are fitted over the user's range.
  float enteredLeftFitLimit = 0;
  float enteredRightFitLimit = 0;
  int32_t loadEvery = 1;
  int32_t count = 0;

  // Per scan, one-based by point.
  std::vector<float*> radii, signals, signals2, model, model2, residuals, work;
  double signalPerConcentration = 1.0;  // signal per mg/ml (3.3 for interference)
  std::vector<ScanRecord> records;
  std::vector<int32_t> points;
  std::vector<int32_t> order;  // scan numbers by elapsed time, order[1] the earliest
  std::vector<int32_t> firstFitPoint, lastFitPoint;
  std::vector<std::string> fileNames;  // name with extension, without folder
  std::string dataFolder;              // folder of the loaded files
  float radialResolution = 0.001f;     // cm

  // Common radial grid.
  float* grid = nullptr;
  int32_t gridLength = 0;
  float* meanProfile = nullptr;  // [1..gridLength]
  float* scanMeans = nullptr;    // [1..count]
  std::vector<float*> gridSignals;  // per scan, [1..gridLength]
  std::vector<float*> gridModel;    // per scan model on the grid, when computed
  float* gridWork = nullptr;
  float* tiNoise = nullptr;            // per grid point
  float* tiNoiseSubtracted = nullptr;  // TI noise already taken from the data
  float* riNoise = nullptr;            // per scan
  float* riNoiseSubtracted = nullptr;  // per scan, RI noise already taken from the data
  float profileSum = 0;     // scans x sum of meanProfile inside the fit limits
  float profileWeight = 0;  // scans x grid points inside the fit limits
  int32_t firstGridPoint = 0, lastGridPoint = 0;

  SpeciesScanArrays species[5];  // slots 1..4
  int32_t speciesScanCount = 0;  // sizes the species arrays were made with
  int32_t speciesGridLength = 0;

  InitialDataScan initialData;
  double referenceTotalConcentration = 1.0;  // nonideal models
  std::vector<DlsHeaderRecord> dlsRecords;   // one per loaded DLS set, 1-based

  // Views for plotting and analyses (signal2Vec/signal2Curve for intensity data).
  std::vector<CVector*> radiusVec, signalVec, signal2Vec, modelVec, residualVec;
  std::vector<CCurve*> dataCurve, signal2Curve, modelCurve, residualCurve;
};

ScanSet& CurrentScanSet();
DataTypeFlags& CurrentDataTypeFlags();

// The points of scan `scan` inside its fit limits: first and last point,
// 1-based; an unset (0) or out-of-range limit stands for the scan's end.
// A scan without tables gives first 1 and last 0 (no points).
void ScanFitRange(const ScanSet& s, int scan, int& first, int& last);

// The RI noise of scan `scan` found so far: the current estimate plus what
// was already taken from the data (0 for arrays not made).
float TotalRINoise(const ScanSet& s, int scan);

// Sizes every per-scan table of s for n scans (entries 1..n null or zero);
// s must hold no arrays (call FreeScanSetArrays first). Sets count = n.
void AllocateScanTables(ScanSet& s, int n);
// Grows the per-scan tables to n scans keeping entries 1..count.
void GrowScanTables(ScanSet& s, int n);
// Releases the per-scan float arrays, their views and the tables; count 0.
// Grid and noise arrays are left alone (FreeScanGridArrays).
void FreeScanSetArrays(ScanSet& s);
// Releases the common grid, the arrays on it, the noise arrays and the
// species arrays, honouring gridOwned; grid fields become 0.
void FreeScanGridArrays(ScanSet& s);
// Takes scan number `scan` out of the per-scan tables, freeing its arrays and
// views; later scans move down by one and the time order is kept. The grid
// arrays must have been released (FreeScanGridArrays) before: they are only
// resized, not rebuilt. The DLS headers (one per loaded set) are left alone.
void RemoveScanFromTables(ScanSet& s, int scan);
void FreeSpeciesScanArrays(ScanSet& s);
void FreeInitialDataScan(ScanSet& s);
