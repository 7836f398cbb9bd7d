#pragma once
// Whole one-based matrices as text: one line per row (or per column), each
// value written "\t%f". The readers return a new matrix (numerics/arrays.h)
// or null after telling the user what failed.

bool WriteMatrixFile(double** m, int nrl, int nrh, int ncl, int nch, const char* name);
bool WriteMatrixFileT(float** m, int nrl, int nrh, int ncl, int nch, const char* name);
// One line per column j holding m[nrl..nrh][j].
bool WriteMatrixFileColumns(double** m, int nrl, int nrh, int ncl, int nch, const char* name);
bool WriteMatrixFileColumnsF(float** m, int nrl, int nrh, int ncl, int nch, const char* name);

// matrix(1, columns, 1, lines): element [c][l] is value c of line l.
float** ReadMatrixFile(const char* name, int columns, int* count);
// matrix(1, lines, 1, columns): element [l][c] is value c of line l.
float** ReadMatrixFile2(const char* name, int columns, int* count);
