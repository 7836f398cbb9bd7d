#include "distributions/ms_table.h"

#include "distributions/conti_settings.h"
#include "fit/model_params.h"
#include "numerics/arrays.h"
#include "numerics/matrix_files.h"
#include "platform/program_paths.h"

namespace {

struct SMTable {
  double* s = nullptr;  // [1..rows]
  double* m = nullptr;  // [1..rows], thousands of g/mol
  int rows = 0;
};

SMTable& Table() {
  static SMTable table;
  return table;
}

}  // namespace

void FreeSMTable() {
  SMTable& t = Table();
  if (t.s) free_dvector(t.s, 1, t.rows);
  if (t.m) free_dvector(t.m, 1, t.rows);
  t = SMTable{};
  Conti().msTableLoaded = 0;
}

bool LoadSMTable() { return LoadSMTable(platform::ProgramPaths.MofsTablePath.c_str()); }

bool LoadSMTable(const char* path) {
  FreeSMTable();
  int rows = 0;
  float** data = ReadMatrixFile(path, 2, &rows);
  if (!data || rows < 1) return false;
  SMTable& t = Table();
  t.rows = rows;
  t.s = dvector(1, rows);
  t.m = dvector(1, rows);
  for (int i = 1; i <= rows; ++i) {
    t.s[i] = data[1][i];
    t.m[i] = data[2][i];
  }
  free_matrix(data, 1, 2, 1, rows);
  Conti().msTableLoaded = 1;
  return true;
}

double InterpolateSMTable(double s) {
  const SolutionConditions& c = gSolutionConditions;
  return InterpolateSMTable(s, c.vbar, c.viscosity, c.vbarRho);
}

double InterpolateSMTable(double s, double vbar, double viscosity, double vbarRho) {
  const SMTable& t = Table();
  if (!Conti().msTableLoaded || t.rows < 1) return 1.0;
  const double star = s * (1.0 - vbar * 0.99823) * viscosity / (1.0 - vbarRho);
  double xlo, ylo, xhi, yhi;
  if (star < t.s[1]) {
    xlo = 0.0;
    ylo = 0.0;
    xhi = t.s[1];
    yhi = t.m[1];
  } else if (star > t.s[t.rows]) {
    if (t.rows < 2) return 1.0;
    xlo = t.s[t.rows - 1];
    ylo = t.m[t.rows - 1];
    xhi = t.s[t.rows];
    yhi = t.m[t.rows];
  } else {
    if (t.rows < 2) return 1000.0 * t.m[1];
    int i = 1;
    while (i < t.rows - 1 && t.s[i + 1] < star) ++i;
    xlo = t.s[i];
    ylo = t.m[i];
    xhi = t.s[i + 1];
    yhi = t.m[i + 1];
  }
  if (xhi == xlo) return 1.0;
  return 1000.0 * (ylo + (star - xlo) * (yhi - ylo) / (xhi - xlo));
}
