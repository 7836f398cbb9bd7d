#pragma once
// The whole state of an analysis saved next to its data ("~tmppars" with
// the data's extension, or "<name>.~p" with the old file-name convention):
// model parameters with their fit flags, the model switches, the Lamm and
// distribution settings and the correction terms, as one "%f" value per
// line whose meaning is its position. Newer values were appended at the
// end; the reader accepts files of at least 99 values and gives every
// missing later value its default.
#include <functional>
#include <string>
#include <vector>

constexpr int kSavedParamsLines = 208;
constexpr int kSavedParamsMinimumLines = 99;

// Values owned by layers above the fit engine (the continuous
// distributions), and the model commands that a reload runs again. The
// layers register them; unset members are skipped (their lines are kept
// as read and written back unchanged).
struct SavedParamsHooks {
  // Lines 86-91 and 200-203: read (get) when saving, written (set) when reloading.
  std::function<float(int line)> getContiValue;
  std::function<void(int line, float value)> setContiValue;
  // The model the file's switches name (its command id): chosen again by
  // its own command, as from the menu, before the file's values are read
  // over what the command set up. Unset: the switches alone are set.
  std::function<void(int key)> reselectModel;
  // The reload chooses a model as a model command does: called before the
  // file is read (false) and when it is read (true), so that the model left
  // keeps its entries and the file's entries are those of the model read.
  std::function<void(bool read)> reloadModelEntry;
  // Checks the fit limits again after a reload.
  std::function<void()> checkFitLimits;
  // Lines 96-118, the buffer-sedimentation correction: read when saving,
  // written when reloading (present false for a line the file lacks); and
  // its validation once the reload is complete (not during a serial fit).
  std::function<float(int line)> getBufferValue;
  std::function<void(int line, float value, bool present)> setBufferValue;
  std::function<void()> afterReload;
  // Ticks the menu items of the fluorescence corrections after a reload.
  std::function<void()> checkCorrectionMenuItems;
  // The name the user knows a model by (its command id; empty: none), for
  // the note on a saved model that could not be restored.
  std::function<std::string(int modelKey)> modelName;
  // "Nonideal c(s)": its mean field saved beside the parameter file, and
  // offered again when that file is reloaded.
  std::function<void(const std::string& path)> savedNonidealModel;
  std::function<void(const std::string& path)> reloadedNonidealModel;
};
SavedParamsHooks& CurrentSavedParamsHooks();

// Lines that no record owns: carried from the last reload to the next save
// unchanged, on purpose.
bool IsCarriedSavedParamsLine(int line);
// The lines that no record (through the installed hooks) writes and the
// carried list does not name, and the carried lines that a record writes;
// empty when every line has one owner.
std::vector<int> SavedParamsOwnershipFaults();

// Writes the file; intermediate marks a save taken while a fit runs. An
// empty path (no data loaded) writes nothing. False when it cannot be
// written (reported with "Attention: could not open %s").
bool TmpSaveBestParams(const std::string& path, bool intermediate);

// A reload, in this order (both ways in, the offer after a load and the
// Data menu's command, pass here): a file that cannot be restored is refused
// before anything changes; the model in use is put aside with its entries;
// the model the file's switches name is chosen by its own command, as from
// the menu; the file's values (entries, fit boxes, fit range, Lamm grid
// size) are read over what the command set up; the defaults of the
// components are checked and the vector packed; the fit limits are checked
// against the data; the file's values become the chosen model's newest
// entries; a model the switches cannot name is told.
//
// Restores the state from the file: 1 restored; 0 refused without a word
// (missing file or fewer than 99 values); -1 refused after a message naming
// the file and the line (a whole-number line that no int holds, or an unknown
// distribution model). A refused file changes nothing. A file written with a
// model that its switches cannot name (line 208 keeps the model in use) is
// restored into the model they do name, and the user is told.
int ReloadParameters(const std::string& path);

// After a load: offers the saved analysis of the data ("restore previous
// data?" for an intermediate save, else "load previous analysis?") and
// reloads it on Yes. An unattended run is never asked and nothing is
// restored. A serial fit whose restore switch is on reloads it
// unasked. True when the state was restored.
bool OfferRestorePreviousAnalysis(const std::string& path, bool unattended);
