#pragma once
// Sliders over the plots, built on CScreenButton: a plain slider with a
// movable knob, a value slider that maps the knob to a number on a linear
// or logarithmic range and shows it with name and unit between two arrow
// buttons, and a list slider whose knob snaps to allowed values. They live
// in plot space (x 0..1399, y 0..1000 over the client area) like the
// buttons; clicks arrive in 0..1000 units of the client width and height.
#include <string>

#include "platform/draw_surface.h"
#include "plot/screen_button.h"

class CScreenSlider : public CScreenButton {
 public:
  CScreenSlider();

  void SetRect(float top, float left, float bottom, float right);
  // Ignored unless 0 <= p <= 1.
  void SetPosition(float p);
  float PositionFromPoint(float x, float y) const;
  // The new position when the body was hit, else -1.
  float Click(float x, float y);
  void SetHorizontal();
  void SetVertical();
  bool RecordFace(platform::DrawContext& dc);
  bool Redraw();
  void Paint(platform::DrawSurface& window) { CScreenButton::Paint(window); }

  int knobHalfSize = 3;
  int knobPos = 0;
  float position = 0.0f;
  std::uint8_t vertical = 0;
  std::uint8_t horizontal = 1;
  platform::COLORREF knobColor = 0x000000;

 protected:
  // The button rectangle contains the point (0..1000 client units).
  bool Hit(float x, float y) const;
};

// Hit test of a button without its toggle.
bool ScreenButtonHit(const CScreenButton& button, float x, float y);

class CValueSlider : public CScreenSlider {
 public:
  CValueSlider();
  ~CValueSlider();
  CValueSlider(const CValueSlider&) = delete;
  CValueSlider& operator=(const CValueSlider&) = delete;

  void SetRect(float top, float left, float bottom, float right);
  void SetRange(float a, float b, bool logarithmic);
  void SetLabel(const char* name, const char* unit, float displayScale);
  float ValueAt(float p) const;
  float DisplayValueAt(float p) const;
  float PositionOfValue(float v) const;
  float PositionOfDisplayValue(float d) const;
  void SetValueAt(float p);
  // The new position, or -1 when neither body nor arrows were hit.
  float Click(float x, float y);
  // Asks for a value when the body is hit; -1 on a miss, Cancel or a value
  // outside the range.
  float PromptValue(float x, float y);
  bool RedrawAll();

  CScreenButton* upButton = nullptr;
  CScreenButton* downButton = nullptr;
  CScreenButton* labelButton = nullptr;
  int buttonSize = 20;
  int labelWidth = 150;
  float minValue = 0, maxValue = 0;  // log10 of the shown values when logarithmic
  std::uint8_t linear = 1;
  float value = 0;
  std::string name, unit;
  float displayScale = 1.0f;

 protected:
  void SetLabelText(const std::string& text);
};

class CListValueSlider : public CValueSlider {
 public:
  CListValueSlider() = default;
  ~CListValueSlider();

  // Copies values[1..count]; in logarithmic mode with convertToLog stores
  // their log10. False for a null list or count < 1.
  bool SetValueList(int count, const float* values, bool convertToLog);
  void AllowZero();
  int SnapToPosition(float p);
  float StepUp();
  float StepDown();
  // -1 miss, -2 up arrow, -3 down arrow, else the new position.
  float HandleClick(platform::DrawSurface& window, float x, float y);
  float ClickOrPrompt(float x, float y);

  int valueCount = 0;
  int valueIndex = 0;
  float* values = nullptr;
  std::uint8_t zeroAllowed = 0;

 private:
  void Select(int index, float position);
  void PressArrow(platform::DrawSurface& window, CScreenButton& arrow);
};
