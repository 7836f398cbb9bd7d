#include "app/peak_labels.h"

#include "app/txla_window.h"
#include "plot/screen_button.h"

PeakLabelTable::PeakLabelTable() = default;
PeakLabelTable::~PeakLabelTable() = default;

PeakLabelTable& PeakLabels() {
  static PeakLabelTable table;
  return table;
}

void DeletePeakLabels(TXLAWindow& window) {
  PeakLabelTable& t = PeakLabels();
  if (t.count >= 1) {
    platform::DrawSurface* surface = window.Frame().Surface();
    for (int k = PeakLabelTable::kSlots; k >= 1; --k) {
      PeakLabelSlot& slot = t.slots[static_cast<size_t>(k)];
      slot.sw = slot.c = slot.fraction = 0;
      slot.index = 0;
      if (slot.label) {
        if (surface) slot.label->RestoreBackground(*surface);
        slot.label.reset();
      }
    }
    if (surface) window.Frame().FlushCanvas();
    t.count = 0;
  }
  t.labelsShown = false;
}
