#pragma once
// The text block of a running continuous-model fit. Parts of it describe
// records that live above the distributions (buffer sedimentation, the
// inhomogeneous solvent); their owners supply those pieces through the
// hooks, and without them the pieces are left out.
#include <array>
#include <functional>
#include <string>

class FitHost;

struct ContiFitDisplayHooks {
  // The component line of the buffer-sedimentation correction, when it is on.
  std::function<std::string()> bufferComponentLine;
  // The apparent vbar of the inhomogeneous solvent: true and the value when
  // that mode is on.
  std::function<bool(float* apparentVbar)> apparentVbar;
  // The mean-field check of "Nonideal c(s)" before each of its evaluations.
  std::function<void()> checkExternalMeanField;
};
ContiFitDisplayHooks& ContiFitDisplay();

// The eight lines at y = 70, 90, ..., 210: step, rmsd, model, bottom,
// meniscus, component, vbar, signal corrections.
std::array<std::string, 8> ComposeContiFitLines();

// Progress block of a running continuous fit: the parameter, counter and
// rmsd lines at x = 10, y = 70..210, and the distribution refreshed when the
// current rmsd improves on the best one shown.
void DisplayBestContiParams(FitHost* host);
// The minimisers' display of their best vertex.
void ShowBestContiVertex(FitHost* host, float* vertex);
