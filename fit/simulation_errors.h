#pragma once
// Messages and solver error flags for the outcome of one Lamm-equation
// solution (a LammOutcome; invalid settings are already reported by the
// solver, a too slow rotor acceleration offers a low-speed phase before full
// speed).
class FitHost;

void ReportSimulationError(FitHost* host, int code);
