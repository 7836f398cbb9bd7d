#pragma once
// The on-plot labels of the peaks of the distribution: one small button per
// peak, with the numbers of the peak it labels. The labelling fills the
// table; everything that makes the labels stale empties it.
#include <array>
#include <memory>

class CScreenButton;
class TXLAWindow;

struct PeakLabelSlot {
  std::unique_ptr<CScreenButton> label;  // none when the peak got no label
  float sw = 0;        // weight-average s of the peak's range (S)
  float c = 0;         // signal in the range
  float fraction = 0;  // c over the whole distribution's signal
  int index = 0;       // grid index of the peak's maximum
};

struct PeakLabelTable {
  static constexpr int kSlots = 10;
  int count = 0;  // peaks found by the last labelling
  bool labelsShown = false;  // kept by painting: a peak's details were shown
  bool labelsNew = false;    // made since the last paint, which replays them once
  bool peakBoxOpen = false;
  std::array<PeakLabelSlot, kSlots + 1> slots;  // 1..10
  PeakLabelTable();
  ~PeakLabelTable();
};
PeakLabelTable& PeakLabels();

// Removes every label, restoring the window under it, and empties the table.
void DeletePeakLabels(TXLAWindow& window);

// Labels the peaks (at most the ten highest) of the current distribution
// with their molar mass or sw; nothing without a distribution plot or for
// a distribution transformed to s20,w or Stokes radii.
void ShowPeakLabels(TXLAWindow& window);
// The "PEAK INFO" box of label k (1..count), with the peak drawn in red over
// the distribution and its radial stretch painted into the scans.
void ShowPeakDetails(TXLAWindow& window, int k);
// The label under (bx, by), thousandths of the client size: its details
// are shown. True when a label took the click.
bool PressPeakLabels(TXLAWindow& window, float bx, float by);
// Painting: labels neither kept nor new are dropped; the others replayed.
void PaintPeakLabels(TXLAWindow& window);
