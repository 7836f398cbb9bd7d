#pragma once
// A column of on-screen buttons laid out and handled as one unit.
#include <memory>
#include <vector>

#include "platform/draw_surface.h"
#include "platform/metafile.h"
#include "plot/screen_button.h"

class CScreenButtonGroup {
 public:
  CScreenButtonGroup() = default;
  ~CScreenButtonGroup();
  CScreenButtonGroup(const CScreenButtonGroup&) = delete;
  CScreenButtonGroup& operator=(const CScreenButtonGroup&) = delete;

  // n buttons stacked from firstEdge towards lastEdge (plot space).
  void Create(int n, float firstEdge, float left, float lastEdge, float right);
  void SetColors(platform::COLORREF onFace, platform::COLORREF face);
  void SetAllFlat();
  void SetAllPressed();
  void SetAllFirstOption();
  void SetAllSecondOption();
  void BeepAll();
  // Index 1..count; outside it nothing happens and reads give 0.
  void SetHiddenAt(int i, bool flag);
  bool IsHiddenAt(int i) const;
  bool IsOnAt(int i) const;
  bool ToggleAt(int i);
  void SetTextAt(int i, const char* caption, int captionLength, const char* onCaption, int onCaptionLength);
  void SetPressedAt(int i);
  platform::HMETAFILE FaceAt(int i) const;
  void PaintAll(platform::DrawSurface& window);
  void SaveAllBackgrounds(platform::DrawSurface& window);
  void RestoreAllBackgrounds(platform::DrawSurface& window);
  // Offers the point to the buttons in order; the first hit (toggled if it
  // is a toggle button) gives its index.
  bool HitTest(float x, float y, int* index);
  bool RedrawAll();
  bool RecordGroupFace();
  platform::HMETAFILE GroupFace() const { return face; }

  int count = 0;
  std::vector<std::unique_ptr<CScreenButton>> buttons;  // 1..count
  int right = 0, left = 0;
  int firstEdge = 0, lastEdge = 0;
  platform::HMETAFILE face = 0;
  std::uint8_t ownsFace = 0;

 private:
  CScreenButton* At(int i) const;
};
