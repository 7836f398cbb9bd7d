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
  bool labelsShown = false;
  bool peakBoxOpen = false;
  std::array<PeakLabelSlot, kSlots + 1> slots;  // 1..10
  PeakLabelTable();
  ~PeakLabelTable();
};
PeakLabelTable& PeakLabels();

// Removes every label, restoring the window under it, and empties the table.
void DeletePeakLabels(TXLAWindow& window);
