#pragma once
// Workers that write the loaded scans to new scan files under systematic
// names, or cut them in place: the average of all scans, absorbance from
// intensity scans, aligned copies, a radial region cut out, six-channel
// sections, the rotor-stretch shift, names from rotor speed and wavelength,
// a scan without one point, and the set under a prefix in another folder.
//
// Each first works out every name it is going to write; when two scans
// would end in one file, or an input cannot be honoured, it writes nothing,
// tells the user why and returns that reason. Files that fail while
// writing are reported by WriteScanFile and left out of `written`; the
// worker goes on with the next scan.
#include <string>
#include <vector>

struct ScanRecord;

struct RawDataResult {
  std::vector<std::string> written;  // paths of the files written, in order
  std::string refusal;               // why nothing was done; empty when the worker ran
  bool Refused() const { return !refusal.empty(); }
};

// Writes the mean profile on the common grid to path ("averaged", scan 1's
// record), makes path the only listed file and loads it in place of the set.
RawDataResult AverageScansToFile(const std::string& path);

// Intensity scans (.RI?) as absorbance log10(I0 / I) (10 where either is not
// positive) to .RA? files in the data folder, the reference intensities as
// third column.
RawDataResult WriteIntensityAsAbsorbance();
// Sample ("S...") and reference ("R...") pseudo-absorbance log10(1000 / I).
RawDataResult WriteIntensityAsPseudoAbsorbance();

// Each scan into the target's folder: with the old file-name convention
// under the target's name, otherwise its own name with 'a' for its first
// character.
RawDataResult SaveAlignedScans(const std::string& targetPath);

// Removes the points with low <= radius <= high from every scan. Refused
// outside scan 1's radii, for high < low, and when a scan would keep fewer
// than two points.
RawDataResult ExcludeRegionFromScans(float low, float high);

// Inner (radius <= b1), middle and outer (radius > b2) section of every
// scan to "i", "m" and "o" files in the data folder; the boundary points
// belong to both neighbouring sections.
RawDataResult SplitSixChannelScans(float b1, float b2);

// Stretch modules (cm per (1000 rpm)^2) that keep every shifted radius of a
// rotor positive.
constexpr double kMaxStretchModule = 1e-4;
bool StretchModuleAccepted(double module);

// Writes every scan shifted by s = -module (rpm / 1000)^2 cm into the target's
// folder, named after its whole elapsed seconds. With maintainField the
// written rotor speeds (and a profile in use, saved as "speedsteps.txt"
// there) keep omega^2 r at the middle of scan 1. With rename the loaded
// file names become the new names.
RawDataResult UndoRotorStretch(double module, const std::string& targetPath, bool maintainField,
                               bool rename);

// The name a scan gets from its rotor speed and wavelength (or radius for
// 'W' wavelength scans), without folder; see SaveRawDataWithSpeedNames.
std::string SpeedFileName(const std::string& fileName, const ScanRecord& record);
RawDataResult SaveRawDataWithSpeedNames(const std::string& targetPath);

// Each scan to the target's folder under the target's name followed by its
// own name (the typed name is a prefix).
RawDataResult SaveRawDataToFolder(const std::string& targetPath);

// Writes scan `scan` without point `point` over its entry of the file list
// (the list of the loaded set in time order, built when it does not hold
// them); unless keepName the scan and its entry are first renamed "<name>_mod".
// The caller reloads the list.
RawDataResult MarkScanModified(int scan, int point, bool keepName);
// Takes point `point` out of scan `scan` in memory (the arrays on its points
// are made again, the common grid is rebuilt); the other scans stay as they
// are. A scan of 2 points is refused.
RawDataResult RemoveScanPoint(int scan, int point);
