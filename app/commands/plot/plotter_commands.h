#pragma once
// The outside plotters of the Plot menu: six auxiliary plot programs in the
// program folder's "bin" sub-folder (3-d data plot, sedimentation movie,
// data-fit-residuals, with distribution, size-and-shape distribution,
// structure plot) and the companion plotter PELDO ("PELDO/PELDO"). Each
// gets its temp files and an argument vector; a program that is absent or
// does not start is named in a message.
#include <array>
#include <string>

class TXLAWindow;
struct ShellServices;

constexpr int kPlotHelperCount = 6;

// The programs found at window set-up (rows in menu order 878 ... 883).
struct PlotHelperPathsRecord {
  std::array<std::string, kPlotHelperCount> paths;
  std::array<bool, kPlotHelperCount> present{};
};
PlotHelperPathsRecord& PlotHelperPaths();

// File names of the six programs in "bin", in row order.
extern const std::array<const char*, kPlotHelperCount> kPlotHelperNames;

// Looks for the six programs once and deletes the menu items of the absent.
void CheckPlotHelpers(TXLAWindow& window);
void InstallPlotterShellServices(ShellServices& services);

// The PELDO data-fit-residuals plots of DLS and equilibrium data.
void LaunchPeldoDls(TXLAWindow& window);
void LaunchPeldoSE(TXLAWindow& window);
