#pragma once
// The M(s) table "mofs.dat" of "Continuous c(s) With M(s) Table": two
// columns, s (Svedberg, standard conditions) and M (thousands of g/mol).

// Reads the table of the program folder; false when it cannot be read.
bool LoadSMTable();
bool LoadSMTable(const char* path);
// M (g/mol) for s (S at the experimental conditions): s is brought to
// standard conditions, s* = s (1 - vbar 0.99823) eta / (1 - vbar rho), and
// the table interpolated linearly (through the origin below the first row,
// extrapolated along the last segment above the last). 1.0 without a table.
double InterpolateSMTable(double s);
double InterpolateSMTable(double s, double vbar, double viscosity, double vbarRho);
void FreeSMTable();
