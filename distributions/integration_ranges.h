#pragma once
// Fixed integration ranges of a c(s) distribution, kept in a text file of
// the user's: one range per line, s-min and s-max in S as the first two
// numbers (the rest of the line is ignored, empty lines are not allowed).
// The program folder's pointer file "integratrangefile.txt" names that file
// on its single line. While the option is on, every integration of the
// distribution integrates all ranges and reports them in "integrals.dat".
#include <string>
#include <vector>

struct IntegrationRange {
  float sMin = 0, sMax = 0;  // S, used as given (not reordered)
};

struct IntegrationRangesState {
  std::string path;  // the ranges file named by the pointer file
  bool loaded = false;
  std::vector<IntegrationRange> ranges;
};
IntegrationRangesState& IntegrationRanges();

// Writes the pointer file naming rangesPath (no line end); false when the
// pointer file cannot be written.
bool SaveIntegrationRangesChoice(const std::string& rangesPath);
// Reads the pointer file and the ranges it names; returns the loaded state.
// No pointer file: false without a message. An unreadable ranges file, one
// with an empty line or a line that does not start with two numbers:
// "could not load distribution ranges from file %s" and false.
bool LoadIntegrationRanges();

// One integrated range: signal c, its weight-average s, and c as a
// percentage of the first range's signal (0 when that is not positive).
struct RangeIntegral {
  float sMin = 0, sMax = 0, c = 0, sw = 0, percent = 0;
};
struct RangesReport {
  std::string text;                // the report of "integrals.dat"
  std::vector<RangeIntegral> rows;
  std::string table;               // s-min, s-max, c, percent, sw per row, for the clipboard
};
// Integrates the current distribution over every range; rangesPath names
// the file in the report's first line.
RangesReport IntegrateRangeList(const std::vector<IntegrationRange>& ranges, const std::string& rangesPath);

// The automatic integration: unless the option is off or the ranges cannot
// be read again, writes the report to "integrals.dat" in the data folder,
// shows it in the text editor and puts the table on the clipboard. True
// when the report was written; "could not open file %s for writing" when
// it cannot be.
bool IntegrateRangesFromFile(bool optionOn);
