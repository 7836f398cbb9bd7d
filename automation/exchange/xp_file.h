#pragma once
// The "xp" experiment file through which the sibling analysis program takes
// over a loaded data set: the scan files, the solution conditions, meniscus,
// bottom, fit limits and noise switches, one value a line followed by its
// key in parentheses ("%f (Meniscus)"). Written for the loaded scans and
// read back by the load command.
#include <string>
#include <vector>

#include "equilibrium/eqtools/eq_data_tools.h"

// Writes the file for the loaded scans. Unless askNothing is set (serial
// fits, the series command, the unattended run), density, viscosity and
// vbar are asked first (and, by the kind of data, the extinction
// coefficient, centerpiece, path length and rotor); the answers become the
// program's solution conditions. False without scans, for a scan name that
// the quoted, blank-separated name line cannot carry, or when the file
// cannot be written (each reported except the first).
bool WriteMorleanXpFile(const std::string& path, bool askNothing);

// The xp file of one cell and wavelength of sorted equilibrium scans; false
// (reported "could not open %s") when it cannot be written.
bool WriteSortedEquilibriumXpFile(const EqXpFile& xp);

// The description text of line 2: the leading run of letters, digits and
// " \#_/:,." of a scan description (at most 100 characters), empty when
// shorter than 2.
std::string XpDescriptionText(const char* description);

// What the reader makes of an xp file.
enum class XpReadStatus {
  Ok,
  CannotOpen,
  NoNumber,     // the first line holds no number: ends silently
  NotVelocity,  // experiment type other than 0
  OldFormat,    // line 3 does not begin with a double quote
  BadNameLine,  // line 3 without its four quotes, too long, or without names
};

struct XpFileContents {
  XpReadStatus status = XpReadStatus::CannotOpen;
  std::string openError;  // with CannotOpen: why, naming the file
  std::string folder;              // absolute: a leading "_" is taken from the file's folder
  std::vector<std::string> names;  // scan file names in that folder
  // The numbers of the lines after the name line, in order, up to the
  // first line that holds none; at most kXpValueCount.
  std::vector<double> values;
};

// Lines after the name line that the reader takes into the program.
constexpr int kXpValueCount = 18;
// The longest name line the reader takes.
constexpr std::size_t kXpNameLineLimit = 128260;

XpFileContents ReadXpFile(const std::string& path);

// Takes values[0..] into the solution conditions, model, fit limits and
// noise switches in the order of the file (density, viscosity, vbar,
// meniscus, bottom, the four meniscus and bottom limits, the fit limits,
// two unused values, then the TI, RI, baseline, bottom and meniscus
// switches). Applies only the values present.
void ApplyXpValues(const std::vector<double>& values);
