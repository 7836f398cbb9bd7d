#pragma once
// Equilibrium scans by series: the scans of one cell, one wavelength window,
// one file-name letter and one rotor speed. The sort writes the latest scan
// of each accepted series as a new scan file (absorbance for intensity data,
// optionally with a blank subtracted) and, per cell and wavelength, an xp
// experiment file listing them; the test of approach to equilibrium compares
// each scan of a series with its latest one.
#include <functional>
#include <string>
#include <vector>

// Kind of scan k by the second letter of its file extension ("RI1", "RP1").
bool IsIntensityScan(int k);
bool IsInterferenceScan(int k);
// Value of point i of scan k: the signal, or for intensity scans
// log10(reference / signal), 10.0 where either is not positive.
float EqPointValue(int k, int i);

// Offset-corrected rmsd between scan a and the reference scan ref over the
// reference's points first..last (a's values interpolated onto ref's
// radii); 0 when there is nothing to compare. With the outputs given they
// receive ref's radii and a - ref + mean offset over the range.
float EqTestScanRmsd(int a, int ref, int first, int last, std::vector<float>* radii = nullptr,
                     std::vector<float>* differences = nullptr);
// The fit range of scan k (1 and its point count where unset).
void EqScanFitRange(int k, int* first, int* last);
// EqTestScanRmsd over the latest scan's fit range.
float ComputeEqScanDifferences(int a, int latest);
// The file name without folder and extension read as a decimal number.
int ScanFileNumber(int k);

struct EqSeries {
  std::vector<int> scans;  // elapsed-time order, the latest scan last
  std::vector<int> loadOrder;  // the members in load order
  int latest = 0;
  int firstScan = 0;     // the group's first scan (cell, wavelength, letter)
  char letter = 0;       // 'i', 'm', 'o' in letter mode, else 0
  float speed = 0;       // rpm of the series
};

// Every loaded scan in exactly one series: a scan joins the first group of
// its cell and letter whose first scan's wavelength lies within tolerance
// (inclusive), and there the series of its whole-rpm speed. Groups in order
// of their first scan, series in order of their speed's first appearance.
std::vector<EqSeries> GroupEqSeries(float tolerance);

// The xp experiment file of one cell and wavelength.
struct EqXpFile {
  std::string path;
  std::string folder;               // with its trailing separator
  std::vector<std::string> names;   // the written scan files, name and extension
  bool interference = false;        // the last file came from an interference scan
  float density = 1, vbar = 0.73f, extinctionA = 1, extinctionB = 1, extinctionC = 0;
};

struct EqSortRequest {
  std::string outputPath;  // its folder receives every file
  std::string blankPath;   // empty: no blank
  float tolerance = 5.0f;
  bool makeXp = false;
  float density = 1, vbar = 0.73f, extinctionA = 1, extinctionB = 1, extinctionC = 0;
};

// What the sort needs of the window: the question whether a series reached
// equilibrium (scan list in load order with the latest appended) and the
// writer of the xp files.
struct EqSortHooks {
  std::function<bool(const std::vector<int>& list, int latest)> testEquilibriumAttained;
  std::function<bool(const EqXpFile& xp)> writeXp;
};

// Name of the sorted file of a series before any collision:
// "eq%dk_%.0f", in letter mode "%c_eq%dk_%.0f".
std::string EqFileBaseName(char letter, float rpm, float wavelength);
// Name of the xp file: "cell%d_%d", "cell%d_IF" at 660 and 675 nm.
std::string EqXpBaseName(char letter, int cell, float wavelength);
// The extension of a scan's file with an intensity "I" turned into "a".
std::string EqFileExtension(int k);

// The sort; returns the paths of the written scan files.
std::vector<std::string> SortEqDataToDisk(const EqSortRequest& request, const EqSortHooks& hooks);
