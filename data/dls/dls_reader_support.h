#pragma once
// What the instrument readers share: their output records, the checks and
// writing of all outputs at the end, and the lookups in an export's text.
#include <string>
#include <string_view>
#include <vector>

#include "data/dls/dls_read_result.h"
#include "data/dlsdat_file.h"

namespace dls_readers {

struct Output {
  std::string path;
  std::string description;
  DlsConditions conditions;
  std::vector<double> tau;  // s
  std::vector<double> y;    // g(2) - 1
};

DlsReadResult Failed(std::string reason);

// Checks every output (not the input, conditions sound, lag times > 0,
// at least one row), then writes them all; result files on success.
DlsReadResult WriteOutputs(const std::string& input, const std::vector<Output>& outputs, int files);

// The folder of the chosen output path joined with name.
std::string BesideOutput(const std::string& out, const std::string& name);

// Position just after the first occurrence of keyword, or npos.
std::size_t After(std::string_view text, std::string_view keyword, std::size_t from = 0);
// The number after keyword: the token following the next ':', '=' or tab on
// the keyword's line. False with a reason when the keyword or its number is
// missing.
bool ValueAfter(std::string_view text, std::string_view keyword, double& value, std::string& reason);

// Index of the line that holds text position pos.
std::size_t LineOf(const std::vector<std::string_view>& lines, std::string_view text, std::size_t pos);

// Rows of two leading numbers from lines[first] up to the first empty line
// or the end; the rest of a row is skipped. tau x tauScale, y = value + yShift.
bool RowsUntilBlank(const std::vector<std::string_view>& lines, std::size_t first, double tauScale,
                    double yShift, Output& o, std::string& reason);

// The integer part of a channel count, refused outside 1 .. 1e6.
bool ChannelCount(double value, int& channels, std::string& reason);

}  // namespace dls_readers
