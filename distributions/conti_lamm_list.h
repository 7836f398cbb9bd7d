#pragma once
// One Lamm-equation solution per grid species of a distribution, written
// into the species' rows of the kernel block: the simulated signal of a
// unit loading concentration at every scan time on the common radial grid.
// The species share cell geometry, scan times, solver controls, solvent and
// rotor schedule; each is solved on a fresh CLammIdeal.

// Species lists are 1-based: s (S), D (cm^2/s), vbar (ml/g).
struct LammListJob {
  int n = 0;
  const double* s = nullptr;
  const double* D = nullptr;
  const double* vbar = nullptr;
  int threads = 1;  // 1: on the calling thread
};

// The solver of a species list; returns 0 or the first solver error code.
// Replaceable so that a dedicated list runner can take over.
using LammListSolver = int (*)(const LammListJob& job);
void SetLammListSolver(LammListSolver solver);
LammListSolver DefaultLammListSolver();

// Loads a solver with everything the species of the list share and with
// species k's s (S), D (cm^2/s) and vbar (ml/g); its output goes to the
// kernel rows of species k.
class CLammIdeal;
void ConfigureContiLammSpecies(CLammIdeal& solver, int k, double s, double D, double vbar);

// Worker count of the Lamm solutions (default: the hardware's).
int& LammListThreads();

// The list of the c(s) run: configures, solves (sList, dList, vbarList),
// reports errors. The stop flag tells whether the user interrupted.
void RunSVContiSedList(int n, const double* sList, const double* dList, const double* vbarList);

// The message of a species list's solver error code (nothing for 0 or a
// refusal), through the run's host.
void ReportListError(int code);
