#pragma once
// Editing the data by pointing: a clicked data point offers buttons beside
// it to drop its scan from the loaded set, or (one level further) to delete
// the point or open the scan's working copy in the text editor; while the
// pointer rests on a scan a label names its file. Nothing here acts on
// dynamic-light-scattering data.
#include <cstdint>
#include <memory>
#include <string>

class CScreenButton;
class TXLAWindow;

struct PointEditState {
  int pendingScan = 0;   // position in time order of the clicked scan; 0 = none
  int pendingPoint = 0;  // the clicked point of that scan (1-based)
  std::unique_ptr<CScreenButton> EditScanButton;    // "edit %s?"
  std::unique_ptr<CScreenButton> RemoveScanButton;  // "delete %s?"
  std::unique_ptr<CScreenButton> CancelPointButton;
  std::unique_ptr<CScreenButton> DeletePointButton;  // "delete point?"
  std::unique_ptr<CScreenButton> NotepadButton;      // "-> notepad?"
  int anchorX = 0, anchorY = 0;    // click, pixels
  int anchorX2 = 0, anchorY2 = 0;  // the second level, pixels
  bool rightSide = true;
  PointEditState();
  ~PointEditState();
  PointEditState& operator=(PointEditState&&);
};
PointEditState& PointEdit();

struct ScanNameHover {
  std::unique_ptr<CScreenButton> ScanNameButton;
  int anchorX = 0, anchorY = 0;
  int position = 0;  // in time order; 0 = none
  ScanNameHover();
  ~ScanNameHover();
  ScanNameHover& operator=(ScanNameHover&&);
};
ScanNameHover& ScanNameLabel();

// Positions are scan positions in time order, points 1-based, x and y
// client pixels.
void ShowPointEditButtons(TXLAWindow& window, int x, int y, int position, int point);
void DeletePointEditButtons(TXLAWindow& window);
// which: 0 cancel, 1 "edit %s?", 2 "delete %s?".
void PressPointEditButton(TXLAWindow& window, int which);
void ShowPointActionButtons(TXLAWindow& window, int x2, int y2, bool rightSide);
void DeletePointActionButtons(TXLAWindow& window);
// which: 1 "delete point?", 2 "-> notepad?".
void EditScanInNotepad(TXLAWindow& window, int which);
// Presses "cancel" when the point buttons are shown; false when they are not.
bool CancelPointEdit(TXLAWindow& window);

void ShowScanNameButton(TXLAWindow& window, int position, int x, int y);
void DeleteScanNameButton(TXLAWindow& window);

// The hit tests of a left click, (bx, by) in thousandths of the client
// size; true when a point button took it.
bool PressPointEditButtons(TXLAWindow& window, float bx, float by);
void PaintPointEditButtons(TXLAWindow& window);
