#pragma once
// The arrays of the displayed distribution (grid, molar masses, distribution,
// companion, prior and the c(s,f/f0) arrays of Conti()), the views and curves
// that a plot draws from, and the distribution plot itself. The graph object
// belongs to the plot layer: this module describes what is to be drawn and
// hands the description to a DistributionPlotHost that the plot or window
// layer installs. Without a host nothing is drawn and everything else works.
#include <cstdint>
#include <string>
#include <vector>

class CVector;
class CCurve;
struct ContiSettings;

// One distribution graph as the host must draw it.
struct DistributionPlotSpec {
  // Plot rectangle in the main window's plot units.
  int left = 630, right = 950, top = 75, bottom = 975;
  // One-dimensional curves (distribution, then companion); count 0 or more.
  CCurve* curves[2] = {nullptr, nullptr};
  uint32_t colours[2] = {0, 0xFF0000};
  int curveCount = 0;
  std::string xTitle, yTitle;
  bool logX = false;
  bool yFromZero = true;
  // c(s,f/f0) map: x/y of every 2-D point, z the 2-D distribution.
  bool map2D = false;
  CCurve* mapCurve = nullptr;
  const float* mapZ = nullptr;  // 0-based over the map's points
  int mapCount = 0;
  int curveStyle = 0;           // 11 s-f/f0 map, 9 the other axes
  int symbolSize = 0;
  int painterSymbolSize = 0;
  int cellWidth = 0, cellHeight = 0;
  bool fixedYRange = false;
  float yMin = 0, yMax = 0;
  std::string annotation1, annotation2;
  // The boundary analyses: the first curve drawn with this style and
  // symbol size (0 = as the plot's default), further black curves after it.
  int firstCurveStyle = 0;
  int firstCurveSymbolSize = 0;
  std::vector<CCurve*> extraCurves;
};

class DistributionPlotHost {
 public:
  virtual ~DistributionPlotHost() = default;
  // Makes (or replaces) the distribution graph.
  virtual void Build(const DistributionPlotSpec& spec) = 0;
  virtual void Destroy() = 0;
  // Rescales and draws; returns the graph's window handle (0 when none).
  virtual long Redraw() = 0;
  // Main-window layout values (PlotWindowSet) and the plots that depend on them.
  virtual void SetLayout(const int layout[4]) { (void)layout; }
  virtual void RelayoutAndRedrawPlots() {}
  virtual bool DataPlotExists() const { return false; }
  virtual void CreateIntegrateButton() {}
  virtual void DeleteIntegrateButton() {}
  virtual void RequestRepaint() {}
  // The normal-equation progress line at (x, y) of the main window once it
  // has been painted: pen colour 1 blue, 2 purple. Drawing a fraction and
  // erasing do nothing while no line is shown.
  virtual void ShowProgressLine(int penColour, int x, int y) {
    (void)penColour;
    (void)x;
    (void)y;
  }
  virtual void DrawProgressLine(float fraction) { (void)fraction; }
  virtual void EraseProgressLine() {}
  // Text at (x, y) of the main window once it has been painted.
  virtual void DrawText(int x, int y, const std::string& text) {
    (void)x;
    (void)y;
    (void)text;
  }
};

// Installs the host (null: no drawing). The host outlives its installation.
void SetDistributionPlotHost(DistributionPlotHost* host);
DistributionPlotHost* GetDistributionPlotHost();

// Module values beside Conti() that the distribution code keeps.
struct DistributionArrays {
  CVector* xView = nullptr;
  CVector* distView = nullptr;
  CVector* companionView = nullptr;
  CCurve* distCurve = nullptr;
  CCurve* companionCurve = nullptr;
  // What the graph draws: the curves above, except that a model whose grid
  // point 1 carries a discrete species draws from point 2 (that point holds
  // the species' s and its amplitude, not a density on the grid).
  CVector* drawnXView = nullptr;
  CVector* drawnDistView = nullptr;
  CVector* drawnCompanionView = nullptr;
  CCurve* drawnDistCurve = nullptr;
  CCurve* drawnCompanionCurve = nullptr;
  CVector* x2DView = nullptr;
  CVector* y2DView = nullptr;
  CCurve* curve2D = nullptr;
  bool plotExists = false;
  DistributionPlotSpec lastSpec;  // what the host was last asked to draw
  int layout[4] = {50, 475, 550, 950};
  // Sizes the arrays were allocated with (released with the same sizes).
  int allocatedN = 0;
  int allocated2D = 0;
  int allocatedFf = 0;
  int allocatedPrior = 0;
  // Copy of the grid settings at the last set-up.
  float lastResolution = 0;
  int32_t lastGrid2DSize = 0;
  float lastFfResolution = 0, lastSMin = 0, lastSMax = 0, lastFfMin = 0, lastFfMax = 0;
  bool normaliseOnLoad = true;
  float normalisationFactor = 1.0f;
  bool kernelRebuild = true;
  // The kernels and normal equations in the work blocks were computed whole
  // for the grid set up last (a stopped or failed Run leaves them partial).
  bool kernelsWhole = false;
  bool plotRebuildPending = false;  // the M(s)-table run rebuilds the plot first
  bool modelJustChosen = false;     // suppresses the "recalculate" note
  bool transformedToR = false, transformedToS20 = false;
};
DistributionArrays& DistArrays();
// The curves the graph draws (see the drawn views above).
CCurve* DrawnDistributionCurve();
CCurve* DrawnCompanionCurve();

// Releases every distribution array, view, curve and the graph.
void FreeDistributionArrays();
// Allocates the one-dimensional arrays for n points (distribution zeroed,
// prior 0.01) and the c(s,f/f0) arrays when n2 > 0.
void AllocDistributionArrays(int n, int n2, int ffCount);
// The c(s,f/f0) arrays of n2 points and the f/f0 axis; the prior grows to n2.
void AllocDistributionArrays2D(int n2, int ffCount);
void BuildDistributionPlot();
// The model commands' plot; returns whether a plot exists afterwards.
bool MakeDistributionPlot();
// The plot made anew for the model just chosen. The range of `cs` (the
// distribution settings) stays as it was: the model's entries (or its first
// start, or a mass range not yet converted to s) are in place, and the
// plot's axis must not stand in for it.
void RebuildDistributionPlotKeepingRange(ContiSettings& cs);
void TransformDistributionPlotToCM();
void PlotHydrodynamicRelation();
long RedrawDistributionPlot();
// Draws the current graph again with the first curve in `style` (symbol
// size `symbolSize`) and the extra curves after it (the boundary analyses).
void RestyleDistributionPlot(int style, int symbolSize, const std::vector<CCurve*>& extra);
// Rebuilds the curves over the current arrays (after the loader).
void RebuildDistributionCurves();
