#pragma once
// Messages and solver error flags for the result code of one Lamm-equation
// solution (0 success, 1 work memory, 2 discretisation, 3 singular matrix,
// 4 invalid settings (already reported by the solver), 5 rotor acceleration
// too slow: a low-speed phase before full speed, 6 non-ideality
// parameters, 7 non-ideality out of range).
class FitHost;

void ReportSimulationError(FitHost* host, int code);
