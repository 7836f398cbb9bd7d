#include "numerics/matrix_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "numerics/arrays.h"
#include "numerics/text_lines.h"
#include "platform/error_box.h"
#include "platform/paths.h"

namespace {

void Report(const char* format, const char* name) {
  char text[1200];
  std::snprintf(text, sizeof text, format, name ? name : "");
  ErrorBox(text);
}

std::FILE* OpenForWriting(platform::CheckedOutputFile& file, const char* name) {
  std::FILE* f = file.get();
  if (!f) Report("\n\x07" "Attention: could not open %s", name);
  return f;
}

bool Close(platform::CheckedOutputFile& file, const char* name) {
  if (!file.Commit()) {
    Report("\n\x07" "Attention: could not write %s", name);
    return false;
  }
  return true;
}

template <typename T>
bool WriteRows(T** m, int nrl, int nrh, int ncl, int nch, const char* name) {
  platform::CheckedOutputFile file(name ? name : "");
  std::FILE* f = OpenForWriting(file, name);
  if (!f) return false;
  for (int i = nrl; i <= nrh; ++i) {
    for (int j = ncl; j <= nch; ++j) std::fprintf(f, "\t%f", static_cast<double>(m[i][j]));
    std::fputc('\n', f);
  }
  return Close(file, name);
}

template <typename T>
bool WriteColumns(T** m, int nrl, int nrh, int ncl, int nch, const char* name) {
  platform::CheckedOutputFile file(name ? name : "");
  std::FILE* f = OpenForWriting(file, name);
  if (!f) return false;
  for (int j = ncl; j <= nch; ++j) {
    for (int i = nrl; i <= nrh; ++i) std::fprintf(f, "\t%f", static_cast<double>(m[i][j]));
    std::fputc('\n', f);
  }
  return Close(file, name);
}

// The first `columns` numbers of every non-blank line, row after row.
bool ReadTable(const char* name, int columns, std::vector<float>& values, int* lines) {
  *lines = 0;
  const platform::CheckedInputFile in(name ? name : "", platform::kDataFileLimit);
  if (!in) {
    ErrorBox(("\n\x07" "Attention: " + in.ErrorText()).c_str());
    return false;
  }
  std::FILE* f = in.get();
  std::string line;
  bool ok = columns >= 1;
  int c;
  while (ok) {
    line.clear();
    bool any = false;
    while ((c = std::fgetc(f)) != EOF && c != '\n') {
      line.push_back(static_cast<char>(c));
      any = true;
    }
    if (!any && c == EOF) break;
    if (!BlankLine(line)) {
      const char* p = line.c_str();
      for (int k = 0; k < columns; ++k) {
        char* end = nullptr;
        const float v = std::strtof(p, &end);
        if (end == p) {
          ok = false;
          break;
        }
        values.push_back(v);
        p = end;
      }
      ++*lines;
    }
    if (c == EOF) break;
  }
  if (!ok || *lines == 0) {
    Report("\n\x07" "Attention: could not read from %s", name);
    *lines = 0;
    return false;
  }
  return true;
}

}  // namespace

bool WriteMatrixFile(double** m, int nrl, int nrh, int ncl, int nch, const char* name) {
  return WriteRows(m, nrl, nrh, ncl, nch, name);
}
bool WriteMatrixFileT(float** m, int nrl, int nrh, int ncl, int nch, const char* name) {
  return WriteRows(m, nrl, nrh, ncl, nch, name);
}
bool WriteMatrixFileColumns(double** m, int nrl, int nrh, int ncl, int nch, const char* name) {
  return WriteColumns(m, nrl, nrh, ncl, nch, name);
}
bool WriteMatrixFileColumnsF(float** m, int nrl, int nrh, int ncl, int nch, const char* name) {
  return WriteColumns(m, nrl, nrh, ncl, nch, name);
}

float** ReadMatrixFile(const char* name, int columns, int* count) {
  std::vector<float> v;
  int lines = 0;
  const bool ok = ReadTable(name, columns, v, &lines);
  if (count) *count = lines;
  if (!ok) return nullptr;
  float** m = matrix(1, columns, 1, lines);
  for (int l = 1; l <= lines; ++l)
    for (int c = 1; c <= columns; ++c)
      m[c][l] = v[static_cast<size_t>((l - 1) * columns + (c - 1))];
  return m;
}

float** ReadMatrixFile2(const char* name, int columns, int* count) {
  std::vector<float> v;
  int lines = 0;
  const bool ok = ReadTable(name, columns, v, &lines);
  if (count) *count = lines;
  if (!ok) return nullptr;
  float** m = matrix(1, lines, 1, columns);
  for (int l = 1; l <= lines; ++l)
    for (int c = 1; c <= columns; ++c)
      m[l][c] = v[static_cast<size_t>((l - 1) * columns + (c - 1))];
  return m;
}
