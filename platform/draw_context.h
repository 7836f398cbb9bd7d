#pragma once
// The device context the plots draw with. It keeps the semantics of the
// Windows drawing interface the plotting code was written against: logical
// coordinates mapped through window and viewport extents, a current
// position, lines that leave out their end pixel, rectangles and ellipses
// that leave out their right and bottom edge, pens, brushes and fonts that
// are created as objects, selected into a context and deleted, raster
// operations for inverted drawing, and text aligned on a point or written at
// the current position. Backends: the recorder of metafile.h (our
// metafiles), the recording context below (tests), and the Qt contexts of
// platform/qt (window canvas, printer, SVG). Nothing here depends on Qt.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class Bitmap;

// Colours are 0x00BBGGRR: red in the low byte.
using COLORREF = std::uint32_t;
constexpr COLORREF RGB(int r, int g, int b) {
  return static_cast<COLORREF>((r & 0xff) | ((g & 0xff) << 8) | ((b & 0xff) << 16));
}
// The plain colours the window draws with.
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kMagenta = RGB(255, 0, 255);
static_assert(kRed == 0x0000FF && kBlue == 0xFF0000, "0x00BBGGRR");

constexpr int GetRValue(COLORREF c) { return static_cast<int>(c & 0xff); }
constexpr int GetGValue(COLORREF c) { return static_cast<int>((c >> 8) & 0xff); }
constexpr int GetBValue(COLORREF c) { return static_cast<int>((c >> 16) & 0xff); }

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};
struct Size {
  int cx = 0;
  int cy = 0;
  bool operator==(const Size&) const = default;
};
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool operator==(const Rect&) const = default;
};

// Mapping modes.
enum : int { MM_TEXT = 1, MM_ISOTROPIC = 7, MM_ANISOTROPIC = 8 };
// Text alignment flags.
enum : unsigned {
  TA_NOUPDATECP = 0,
  TA_UPDATECP = 1,
  TA_LEFT = 0,
  TA_RIGHT = 2,
  TA_CENTER = 6,
  TA_TOP = 0,
  TA_BOTTOM = 8,
  TA_BASELINE = 24
};
// Background modes.
enum : int { TRANSPARENT = 1, OPAQUE = 2 };
// Raster operations of pens and brushes: copy, or invert what is there.
enum : int { R2_NOT = 6, R2_COPYPEN = 13 };
// Text output options.
enum : unsigned { ETO_OPAQUE = 2, ETO_CLIPPED = 4 };
// Pen and brush styles.
enum : int { PS_SOLID = 0, PS_DASH = 1, PS_DOT = 2, PS_NULL = 5 };
enum : int { BS_SOLID = 0, BS_NULL = 1 };
// Stock objects.
enum : int {
  WHITE_BRUSH = 0,
  BLACK_BRUSH = 4,
  NULL_BRUSH = 5,
  HOLLOW_BRUSH = 5,
  WHITE_PEN = 6,
  BLACK_PEN = 7,
  NULL_PEN = 8,
  SYSTEM_FONT = 13
};
// Font families (the low nibble is the pitch).
enum : int { FF_DONTCARE = 0x00, FF_ROMAN = 0x10, FF_SWISS = 0x20, FF_MODERN = 0x30 };
enum : int { FW_NORMAL = 400, FW_BOLD = 700, FW_HEAVY = 900 };
enum : int { OUT_DEFAULT_PRECIS = 0, OUT_TT_PRECIS = 4 };
enum : int { CLIP_DEFAULT_PRECIS = 0 };
enum : int { DEFAULT_QUALITY = 0, PROOF_QUALITY = 2 };
enum : int { ANSI_CHARSET = 0 };

struct PenSpec {
  int style = PS_SOLID;
  int width = 0;  // 0: one device pixel whatever the mapping
  COLORREF color = 0;
  bool operator==(const PenSpec&) const = default;
};
struct BrushSpec {
  int style = BS_SOLID;
  COLORREF color = 0xffffff;
  bool operator==(const BrushSpec&) const = default;
};
// Height in logical units (positive: cell height, negative: character
// height); escapement in tenths of a degree, counter-clockwise.
struct FontSpec {
  int height = 0;
  int width = 0;
  int escapement = 0;
  int orientation = 0;
  int weight = FW_NORMAL;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  int charSet = ANSI_CHARSET;
  int outPrecision = OUT_DEFAULT_PRECIS;
  int clipPrecision = CLIP_DEFAULT_PRECIS;
  int quality = DEFAULT_QUALITY;
  int pitchAndFamily = FF_DONTCARE;
  std::string faceName;
  bool operator==(const FontSpec&) const = default;
};

// Drawing objects live in a process-wide table, as in the system they were
// written for: created once, selected into any number of contexts, deleted
// by their creator. 0 is no object; stock objects are never deleted.
using HGDIOBJ = std::uint32_t;
using HPEN = HGDIOBJ;
using HBRUSH = HGDIOBJ;
using HFONT = HGDIOBJ;

struct GdiObject {
  enum class Kind { None, Pen, Brush, Font } kind = Kind::None;
  PenSpec pen;
  BrushSpec brush;
  FontSpec font;
};

HPEN CreatePen(int style, int width, COLORREF color);
HBRUSH CreateSolidBrush(COLORREF color);
HFONT CreateFontIndirect(const FontSpec& spec);
HGDIOBJ GetStockObject(int index);
// False for an unknown handle, and for an object still selected into a
// context (which stays alive, as the original system would leak it).
bool DeleteObject(HGDIOBJ object);
// The object's description; Kind::None for an unknown handle.
GdiObject LookupObject(HGDIOBJ object);
// Objects created and not yet deleted (stock objects excluded); tests use
// it to find leaks.
int LiveGdiObjectCount();

// One recorded drawing call, in the context's logical units.
struct DrawOp {
  enum class Kind {
    SetMapMode,
    SetWindowExt,
    SetViewportExt,
    SetWindowOrg,
    SetViewportOrg,
    MoveTo,
    LineTo,
    Rectangle,
    Ellipse,
    Polygon,
    Polyline,
    TextOut,
    ExtTextOut,
    SetTextAlign,
    SetTextColor,
    SetBkColor,
    SetBkMode,
    SetROP2,
    SelectObject,
    SaveDC,
    RestoreDC,
    IntersectClipRect,
    ResetClip,
    DrawBitmap
  };
  Kind kind = Kind::MoveTo;
  int a = 0, b = 0, c = 0, d = 0;  // coordinates or the call's values; LineTo: (c, d) is where it starts
  unsigned flags = 0;              // alignment, colour, options
  std::vector<Point> points;
  std::string text;
  HGDIOBJ handle = 0;  // the handle as selected while recording
  std::shared_ptr<const GdiObject> object;  // what it described, so that replay needs no table
  std::shared_ptr<const Bitmap> bitmap;
};

// A readable one-line form of a call, e.g. "LineTo(104,198)"; tests compare
// recorded drawings with these.
std::string DescribeOp(const DrawOp& op);

class DrawContext {
 public:
  DrawContext();
  virtual ~DrawContext();
  DrawContext(const DrawContext&) = delete;
  DrawContext& operator=(const DrawContext&) = delete;

  int SetMapMode(int mode);
  int GetMapMode() const { return state_.mapMode; }
  Size SetWindowExt(int cx, int cy);
  Size SetViewportExt(int cx, int cy);
  Point SetWindowOrg(int x, int y);
  Point SetViewportOrg(int x, int y);
  Size GetWindowExt() const { return state_.windowExt; }
  Size GetViewportExt() const { return state_.viewportExt; }

  // Returns the previous position.
  Point MoveTo(int x, int y);
  Point GetCurrentPosition() const { return state_.position; }
  // Draws from the current position up to, not including, (x, y), which
  // becomes the current position.
  bool LineTo(int x, int y);
  // Corners in either order; outlined with the pen and filled with the brush,
  // right and bottom edge excluded.
  bool Rectangle(int left, int top, int right, int bottom);
  bool Ellipse(int left, int top, int right, int bottom);
  bool Polygon(const std::vector<Point>& points);
  bool Polyline(const std::vector<Point>& points);

  bool TextOut(int x, int y, std::string_view text);
  bool ExtTextOut(int x, int y, unsigned options, const Rect* clip, std::string_view text);
  unsigned SetTextAlign(unsigned align);
  unsigned GetTextAlign() const { return state_.textAlign; }
  COLORREF SetTextColor(COLORREF color);
  COLORREF GetTextColor() const { return state_.textColor; }
  COLORREF SetBkColor(COLORREF color);
  int SetBkMode(int mode);
  int SetROP2(int mode);
  int GetROP2() const { return state_.rop2; }

  // Returns the object of the same kind selected before, 0 for an unknown
  // handle.
  HGDIOBJ SelectObject(HGDIOBJ object);
  HGDIOBJ CurrentPen() const { return state_.pen; }
  HGDIOBJ CurrentBrush() const { return state_.brush; }
  HGDIOBJ CurrentFont() const { return state_.font; }
  // Width of a text in logical units with the selected font; 0 where the
  // context cannot know it (a recorder).
  int MeasureText(std::string_view text) const { return TextWidth(text); }

  // Returns the saved level (1, 2, ...), 0 on failure.
  int SaveDC();
  // A negative level counts back from the last save.
  bool RestoreDC(int level);
  bool IntersectClipRect(int left, int top, int right, int bottom);
  void ResetClip();

  // Draws a bitmap stretched onto the logical rectangle.
  bool DrawBitmap(int left, int top, int width, int height, const std::shared_ptr<const Bitmap>& bitmap);

  // Re-issues a recorded call. Replay maps recorded object handles onto
  // objects of its own through `objects` (pairs of recorded and created).
  void Apply(const DrawOp& op, std::vector<std::pair<HGDIOBJ, HGDIOBJ>>& objects);

  // Logical to device coordinates under the current mapping.
  Point LogicalToDevice(Point p) const;
  // Scale factors of the mapping (device units per logical unit).
  double ScaleX() const;
  double ScaleY() const;

 protected:
  struct State {
    int mapMode = MM_TEXT;
    Size windowExt{1, 1};
    Size viewportExt{1, 1};
    Point windowOrg{0, 0};
    Point viewportOrg{0, 0};
    Point position{0, 0};
    unsigned textAlign = TA_LEFT | TA_TOP;
    COLORREF textColor = 0x000000;
    COLORREF bkColor = 0xffffff;
    int bkMode = OPAQUE;
    int rop2 = R2_COPYPEN;
    HGDIOBJ pen = 0;
    HGDIOBJ brush = 0;
    HGDIOBJ font = 0;
    PenSpec penSpec;
    BrushSpec brushSpec;
    FontSpec fontSpec;
    bool clipped = false;
    Rect clip;  // device pixels, valid when clipped
  };
  const State& state() const { return state_; }
  // Called after the shared state has been updated; backends record or
  // draw. `op` carries the call's arguments.
  virtual void Execute(const DrawOp& op) = 0;
  // A call of values alone (no points, text, object or bitmap), the most
  // frequent by far; by default handed to Execute as a DrawOp. A recorder
  // takes the values as they are, without making a DrawOp of them.
  virtual void ExecuteValues(DrawOp::Kind kind, int a = 0, int b = 0, int c = 0, int d = 0);
  // Width of a text in logical units with the selected font, for the
  // current position of TA_UPDATECP; recorders cannot know it and say 0.
  virtual int TextWidth(std::string_view /*text*/) const { return 0; }

 private:
  void Select(HGDIOBJ handle, const GdiObject& object, HGDIOBJ& slot);
  void ReleaseSelections(const State& s);
  void AcquireSelections(const State& s);
  State state_;
  std::vector<State> saved_;
};

// Records every call; tests read the calls back.
class RecordingDC : public DrawContext {
 public:
  const std::vector<DrawOp>& Ops() const { return ops_; }
  std::vector<std::string> Describe() const;
  void Clear() { ops_.clear(); }

 protected:
  void Execute(const DrawOp& op) override { ops_.push_back(op); }
  std::vector<DrawOp> ops_;
};

}  // namespace platform
