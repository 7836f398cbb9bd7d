#pragma once
// CWINPlot: the one graph object of the program. It holds curves that others
// own, per-curve drawing attributes, the axis texts, the plot rectangle in the
// plot space of the main window (1400 x 1000 logical units), the value ranges
// and the value-to-pixel transforms, and records its drawing as a metafile
// that window painting replays.
//
// Plot space: a window layout coordinate x (0..1000) becomes a plot column
// trunc(x * PlotXStretch); rows are layout rows. A value v is drawn at column
// trunc(v * xScale + xOffset) and row trunc(v * yScale + yOffset) (log10 v on
// a logarithmic axis); rows grow downwards, so yScale is negative.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/draw_context.h"
#include "platform/metafile.h"

class CScreenButton;

using platform::COLORREF;
using platform::HMETAFILE;

// Horizontal stretch of the plot space (single precision on purpose:
// 1000 * 1.4f truncates to 1399, the width of every recorded picture).
inline constexpr float PlotXStretch = 1.4f;
inline constexpr float PlotUnits = 1000.0f;
// Distance between the plot rectangle and its frame, in plot units.
inline constexpr int PlotFrameMargin = 8;
// Window extent of every recorded plot picture: 1399 x 1000.
int PlotSpaceWidth();
int PlotSpaceHeight();

// Half width of error-bar caps (callers set floor(1.5 x symbol size)).
extern int ErrorBarHalfWidth;
// Alternates the dots of very short dashed segments from call to call.
extern std::uint8_t DotPhase;
// Set while the ticks of a logarithmic-style axis are computed.
extern int AxisLogTicks;
// Set by curve drawing when a point lies outside the shown y range.
extern int PointsOutsideYRange;

// Converts a transformed coordinate to a pixel by truncation towards zero.
// Non-finite values give 0 and huge ones are clamped, so that a degenerate
// transform never turns into undefined integer conversions.
int PixelTrunc(double v);

class CWINPlot {
 public:
  CWINPlot();
  // Starts with one curve over the given curve's vectors, style 0, then
  // autoscales.
  explicit CWINPlot(const CCurve& curve);
  ~CWINPlot();
  CWINPlot(const CWINPlot&) = delete;
  CWINPlot& operator=(const CWINPlot&) = delete;

  // ---- curves (0-based; invalid indices are ignored, getters give 0)
  void AddCurve(CCurve* curve);
  void RemoveLastCurve();
  void ClearCurves();
  void SetCurve(int i, CCurve* curve);
  void ReplaceLastCurve(CCurve* curve);
  void SetCurveColor(int i, COLORREF color);
  COLORREF GetCurveColor(int i) const;
  void SetCurveStyle(int i, int style);
  int GetCurveStyle(int i) const;
  void SetDefaultStyle(int v);
  void SetCurveRange(int i, int from, int to);
  void SetCurveName(int i, const char* text);
  void AttachCurveArrays(int i, float* x, float* y, int n);
  void AttachExtraX(int i, float* array, int n);
  void AttachExtraY(int i, float* array, int n);
  void SetCurveMask(const int* mask, int n, int style, COLORREF color, int size);
  void SetExtraData(int k, float* array, int from, int to, int flag);
  void SetExtraDataScale(float low, float high);
  void AddHighlight(CVector* band);
  // Marks points for thinned drawing (random selection of positions).
  void ThinPoints(int from, int to);

  // ---- texts and switches
  const std::string& SetAnnotation1(const char* text);
  const std::string& SetAnnotation2(const char* text);
  const std::string& SetAnnotation3(const char* text);
  const std::string& SetXLabel(const char* text);
  const std::string& SetYLabel(const char* text);
  void ClearXLabel();
  void ClearYLabel();
  void SetXLabelOption(int v) { xLabelOption = v; }
  void SetYLabelOption(int v) { yLabelOption = v; }
  void SetAnnotation3Option(int v) { annotation3Option = v; }
  void SetOptionValue(int v) { optionValue = v; }
  void SetCaption2(int value, const char* a, const char* b);
  void SetCaption3(int x, int y, const char* text);
  void ShowYAxisTitle() { showYAxisTitle = 1; }
  void HideYAxisTitle() { showYAxisTitle = 0; }
  void SetCompactAxes() { compactAxes = 1; }
  void ClearCompactAxes() { compactAxes = 0; }
  void SetFillBackground(bool on) { fillBackground = on; }
  void ShowColorBarTicks() { showColorBarTicks = 1; }
  void SetRampPurpleLow(bool on) { rampPurpleLow = on; }
  void SetRampBlackForMissing() { rampBlackForMissing = 1; }
  void ClearRampBlackForMissing() { rampBlackForMissing = 0; }
  void SetRampWhiteForMissingA() { rampWhiteForMissingA = 1; }
  void ClearRampWhiteForMissingA() { rampWhiteForMissingA = 0; }
  void SetRampWhiteForMissingB() { rampWhiteForMissingB = 1; }
  void ClearRampWhiteForMissingB() { rampWhiteForMissingB = 0; }
  void SetCurveSetOption() { curveSetOption = 1; }
  void ClearCurveSetOption() { curveSetOption = 0; }
  void ToggleYIncludesZero() { yIncludesZero = !yIncludesZero; }
  void ClearYIncludesZero() { yIncludesZero = 0; }
  void ToggleDisplayOption() { connectPoints = !connectPoints; }
  void ClearDisplayOption() { connectPoints = 0; }
  // The secondary y range (bounds stored in order); equal values clear it.
  void SetYRange(float a, float b);

  // ---- colours
  COLORREF ColorForIndex(int i) const;
  void SetTableColor(int i, COLORREF c);
  void SetDefaultColors();
  COLORREF ColorForValue(float v) const;

  // ---- geometry and buttons
  // x, y in thousandths of the client width and height.
  bool HitTest(float x, float y, float* outX, float* outY) const;
  void CreateButtons(int n);
  void PlaceButtons();

  // ---- scaling (plot_scaling.cpp)
  void SetPlotRect(int top, int left, int bottom, int right);
  void AutoScale();
  void Rescale() { AutoScale(); }
  void RescaleAll();
  void SetRanges(float xMin, float xMax, float yMin, float yMax);
  void SetXScale(float xMin, float xMax);
  void SetYScale(float yMin, float yMax);
  void SetXRangeAutoY(float xMin, float xMax);
  float PixelToY(int row) const;

  // ---- value to pixel (logarithmic axes and their off-plot position)
  int ToPixelX(float v) const;
  int ToPixelY(float v) const;

  // ---- ticks (axis_ticks.cpp): a new vector of tick values, owned by the
  // caller; empty for a degenerate range.
  void DrawAxis(int major, float lo, float hi, CVector** ticks) const;

  // ---- drawing aids into a caller's context
  void DrawErrorBars(platform::DrawContext& dc, int i, const float* errA, const float* errB, int from, int to,
                     COLORREF color) const;
  static void DrawDot(platform::DrawContext& dc, int x, int y);
  static void DrawDotIfPhase(platform::DrawContext& dc, int x, int y);
  static void DrawDottedSegment(platform::DrawContext& dc, int x1, int y1, int x2, int y2);

  // ---- drawing and recording (plot_record.cpp, draw_curve.cpp)
  bool Plot();
  // The width, in plot units, that the widest value label of the y axis
  // takes beside the frame (an estimate from its character count).
  int YLabelWidth() const;
  // Moves the right edge of the plot in, when needed, so that the value
  // labels of the right axis end inside the picture.
  void KeepRightLabelsInside();
  void DrawCurve(platform::DrawContext& dc, int i);
  void PlotFunction(platform::DrawContext& dc, float (*f)(float), int n, COLORREF color) const;
  // Opens a recording with the plot's extent and background; the caller
  // draws more and closes it.
  std::unique_ptr<platform::MetafileDC> BeginRecording() const;
  HMETAFILE RecordMarker(float x, COLORREF color) const;
  HMETAFILE RecordDashedMarker(float x, COLORREF color) const;
  HMETAFILE RecordDashedFrame(COLORREF color) const;

  // ---- fields (public: the window and the tools read them directly)
  HMETAFILE lastMetafile = 0;  // recorded by the last Plot; painting replays it
  std::uint8_t suppressCurves = 0;
  std::uint8_t ownsMetafile = 0;
  std::uint8_t dcOption = 0;
  int curveStep = 1;
  std::uint8_t hasExtraX = 0, hasExtraY = 0;
  std::vector<std::unique_ptr<CVector>> extraXVectors, extraYVectors;  // views, capacity + 1 slots
  int extraVectorCapacity = 100;
  std::vector<std::unique_ptr<CVector>> attachedX, attachedY;  // bar extents of histogram curves
  std::uint8_t hasAttached = 0;
  int attachedCapacity = 100;
  int extraDataCurve = -1;
  std::uint8_t hasExtraData = 0;
  std::uint8_t showColorBar = 0;
  int colorBarOffset = 0;
  float extraScaleHigh = 0, extraScaleLow = 0;
  std::uint8_t hasExtraScale = 0;
  std::vector<int> greyMask;  // 1-based
  int greyMaskCount = 0;
  COLORREF greyColor = 0xc8c8c8;
  int greySymbolSize = 3;
  int greyValue = 1;
  std::uint8_t hideMarked = 0;
  int caption2Value = 0;
  std::uint8_t hasCaption2 = 0;
  std::string caption2A, caption2B;
  std::vector<int> thinMask;  // 1-based
  int thinMaskCount = 0;
  std::uint8_t thinEnabled = 0;
  std::uint8_t hasCaption3 = 0;
  int caption3X = 0, caption3Y = 0;
  std::string caption3Text;
  std::uint8_t rampBlackForMissing = 0;
  std::uint8_t rampWhiteForMissingA = 0, rampWhiteForMissingB = 0;
  int highlightCount = 0;
  int highlightCapacity = 10;
  std::vector<CVector*> highlightIndices;  // entries 1 .. highlightCapacity, not owned
  float* extraData = nullptr;
  float extraMax = 0;
  int extraDataCount = 0;
  std::uint8_t showColorBarTicks = 0;
  std::uint8_t rampPurpleLow = 0;
  std::uint8_t extraDataFlag = 0;
  std::uint8_t hasYRange = 0;
  float yRangeLow = 0, yRangeHigh = 0;
  int envelopeXCount = 0;
  float* envelopeX = nullptr;
  float* envelopeXMax = nullptr;
  int envelopeYCount = 0;
  float* envelopeYMax = nullptr;
  float* envelopeY = nullptr;
  std::uint8_t showYAxisTitle = 0;
  std::uint8_t fillBackground = 1;
  int dcOption2 = 0;
  std::uint8_t compactAxes = 0;
  std::vector<COLORREF> curveColors;
  std::vector<int> curveColorSet;
  int symbolSize = 10;
  int symbolHalfWidth = 10, boxHalfHeight = 10, boxHalfWidth = 10;
  int xAxisOption = 0, yAxisOption = 0;
  std::uint8_t dcOption3 = 0;
  float valueFactor = 1.0f;
  std::uint8_t logX = 0, logY = 0;
  int offPlotDistance = 20;
  std::vector<int> curveRangeSet, curveFrom, curveTo;  // curveCount + 1 entries
  std::uint8_t narrowMargins = 0;
  std::uint8_t frameBottomAtPlot = 0, frameTopAtPlot = 0;
  std::uint8_t framePlotOption = 0;
  int curveCount = 0;
  std::vector<CCurve*> curves;  // not owned
  std::vector<int> curveStyles;
  std::string annotation1;
  int hasAnnotation1 = 0;
  std::string annotation2;
  int hasAnnotation2 = 0;
  std::string xLabel;
  int xLabelOption = 0;
  std::string yLabel;
  int yLabelOption = 0;
  std::string annotation3;
  int annotation3Option = 0, optionValue = 0;
  int hasAnnotation3 = 0, hasXLabel = 0, hasYLabel = 0;
  std::vector<std::string> curveNames;  // empty: no legend text
  int curveSetOption = 0;
  int plotLeft = 0, plotRight = 0, plotBottom = 0, plotTop = 0;
  int xRangeFixed = 0, yRangeFixed = 0;
  int yIncludesZero = 0;
  int scaleChanged = 1;
  float xScale = 0, yScale = 0;
  float xOffset = 0, yOffset = 0;
  float xMin = 0, xMax = 0, yMin = 0, yMax = 0;
  int frameLeft = 0, frameBottom = 0, frameRight = 0, frameTop = 0;
  int connectPoints = 0;
  int defaultStyle = -1;
  std::array<COLORREF, 10> colorTable{};
  COLORREF backgroundColor = 0xffffff;
  COLORREF frameColor = 0x000000;
  std::vector<std::unique_ptr<CScreenButton>> buttons;  // 1 .. buttonCount
  int buttonCount = 0;
  int buttonSize = 20;

 protected:
  // Recording with the picture's window extent set.
  static std::unique_ptr<platform::MetafileDC> OpenRecording();

 private:
  bool PlotOnce();
  void ComputeTransforms(bool doX = true, bool doY = true);
  void NoCurveRanges();
  void IndexWindows(std::vector<int>& from, std::vector<int>& to) const;
  void IndexWindow(int i, int& from, int& to) const;
  // The scaling over the curves with the running extents as they stand
  // (AutoScale starts them afresh, AddCurve goes on from them).
  void ScaleOverCurves();
  // Extremes of one axis over curves 0..count-1 in one mode (every value, or
  // the positive ones of a logarithmic axis), folded in curve order.
  struct RunningExtent {
    int count = 0;
    bool first = true, anyPositive = false;
    float lo = 0, hi = 0;
  };
  // The extents of the curves as added: a curve added is merged into them,
  // so that adding n curves reads each curve once. Any other change of the
  // curves, their index windows or the point mask starts them afresh.
  struct RunningExtents {
    RunningExtent extent[2][2];  // [x axis][positive only]
    const std::vector<int>* mask = nullptr;
    int maskCount = 0;
  };
  RunningExtents running_;
  std::unique_ptr<CCurve> ownedFirstCurve_;
};

// Smaller and larger of two floats; a tie gives the second argument.
float PlotMin(float a, float b);
float PlotMax(float a, float b);

// Writes the value of point k of curve i (times the plot's value factor) at
// (x, y) with the text alignment switched to the current position.
void DrawValueLabel(const CWINPlot& plot, platform::DrawContext& dc, int x, int y, int i, int k);
