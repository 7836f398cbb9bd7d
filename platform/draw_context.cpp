#include "platform/draw_context.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace platform {

namespace {

constexpr HGDIOBJ kStockBit = 0x80000000u;

struct ObjectTable {
  std::mutex mutex;
  HGDIOBJ next = 1;
  struct Entry {
    GdiObject object;
    int selections = 0;
  };
  std::unordered_map<HGDIOBJ, Entry> live;
};

ObjectTable& Table() {
  static ObjectTable table;
  return table;
}

bool StockObject(int index, GdiObject& out) {
  out = GdiObject{};
  switch (index) {
    case WHITE_BRUSH:
      out.kind = GdiObject::Kind::Brush;
      out.brush = {BS_SOLID, 0xffffff};
      return true;
    case 1:
      out.kind = GdiObject::Kind::Brush;
      out.brush = {BS_SOLID, 0xc0c0c0};
      return true;
    case 2:
      out.kind = GdiObject::Kind::Brush;
      out.brush = {BS_SOLID, 0x808080};
      return true;
    case 3:
      out.kind = GdiObject::Kind::Brush;
      out.brush = {BS_SOLID, 0x404040};
      return true;
    case BLACK_BRUSH:
      out.kind = GdiObject::Kind::Brush;
      out.brush = {BS_SOLID, 0x000000};
      return true;
    case NULL_BRUSH:
      out.kind = GdiObject::Kind::Brush;
      out.brush = {BS_NULL, 0};
      return true;
    case WHITE_PEN:
      out.kind = GdiObject::Kind::Pen;
      out.pen = {PS_SOLID, 0, 0xffffff};
      return true;
    case BLACK_PEN:
      out.kind = GdiObject::Kind::Pen;
      out.pen = {PS_SOLID, 0, 0x000000};
      return true;
    case NULL_PEN:
      out.kind = GdiObject::Kind::Pen;
      out.pen = {PS_NULL, 0, 0};
      return true;
    case SYSTEM_FONT:
      out.kind = GdiObject::Kind::Font;
      out.font.height = 16;
      out.font.weight = FW_BOLD;
      out.font.pitchAndFamily = FF_SWISS;
      return true;
    default:
      return false;
  }
}

HGDIOBJ Insert(const GdiObject& object) {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  HGDIOBJ h = t.next++;
  if (t.next >= kStockBit) t.next = 1;
  t.live[h] = ObjectTable::Entry{object, 0};
  return h;
}

void ChangeSelections(HGDIOBJ h, int delta) {
  if (h == 0 || (h & kStockBit)) return;
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  auto it = t.live.find(h);
  if (it != t.live.end()) it->second.selections = std::max(0, it->second.selections + delta);
}

// A call as the backends see it: its kind and up to four values.
DrawOp Call(DrawOp::Kind kind, int a = 0, int b = 0, int c = 0, int d = 0) {
  DrawOp op;
  op.kind = kind;
  op.a = a;
  op.b = b;
  op.c = c;
  op.d = d;
  return op;
}

DrawOp FlagsCall(DrawOp::Kind kind, unsigned flags) {
  DrawOp op;
  op.kind = kind;
  op.flags = flags;
  return op;
}

// Extents only count in the scalable modes, as in the original system.
bool ExtentCounts(int mapMode, int cx, int cy) {
  return (mapMode == MM_ANISOTROPIC || mapMode == MM_ISOTROPIC) && cx != 0 && cy != 0;
}

// Device units per logical unit along one axis from its own extents; the
// isotropic mode takes the smaller magnitude of the two axes, with this
// axis' sign.
double AxisScale(int mapMode, int viewportOwn, int windowOwn, int viewportOther, int windowOther) {
  if (mapMode == MM_TEXT) return 1.0;
  const double own = static_cast<double>(viewportOwn) / windowOwn;
  if (mapMode == MM_ISOTROPIC) {
    const double other = static_cast<double>(viewportOther) / windowOther;
    const double m = std::min(std::fabs(own), std::fabs(other));
    return own < 0 ? -m : m;
  }
  return own;
}

std::string Hex(COLORREF c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%06x", static_cast<unsigned>(c & 0xffffff));
  return buf;
}

}  // namespace

HPEN CreatePen(int style, int width, COLORREF color) {
  GdiObject o;
  o.kind = GdiObject::Kind::Pen;
  o.pen = {style, width, color & 0xffffff};
  return Insert(o);
}

HBRUSH CreateSolidBrush(COLORREF color) {
  GdiObject o;
  o.kind = GdiObject::Kind::Brush;
  o.brush = {BS_SOLID, color & 0xffffff};
  return Insert(o);
}

HFONT CreateFontIndirect(const FontSpec& spec) {
  GdiObject o;
  o.kind = GdiObject::Kind::Font;
  o.font = spec;
  return Insert(o);
}

HGDIOBJ GetStockObject(int index) {
  GdiObject o;
  return StockObject(index, o) ? (kStockBit | static_cast<HGDIOBJ>(index)) : 0;
}

bool DeleteObject(HGDIOBJ object) {
  if (object & kStockBit) return true;
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  auto it = t.live.find(object);
  if (it == t.live.end() || it->second.selections > 0) return false;
  t.live.erase(it);
  return true;
}

GdiObject LookupObject(HGDIOBJ object) {
  GdiObject o;
  if (object & kStockBit) {
    StockObject(static_cast<int>(object & ~kStockBit), o);
    return o;
  }
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  auto it = t.live.find(object);
  if (it != t.live.end()) o = it->second.object;
  return o;
}

int LiveGdiObjectCount() {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  return static_cast<int>(t.live.size());
}

std::string DescribeOp(const DrawOp& op) {
  using K = DrawOp::Kind;
  char buf[160];
  auto two = [&](const char* name) {
    std::snprintf(buf, sizeof buf, "%s(%d,%d)", name, op.a, op.b);
    return std::string(buf);
  };
  auto four = [&](const char* name) {
    std::snprintf(buf, sizeof buf, "%s(%d,%d,%d,%d)", name, op.a, op.b, op.c, op.d);
    return std::string(buf);
  };
  auto points = [&](const char* name) {
    std::string s = name;
    s += "(";
    for (size_t i = 0; i < op.points.size(); ++i) {
      if (i) s += ",";
      s += std::to_string(op.points[i].x) + " " + std::to_string(op.points[i].y);
    }
    return s + ")";
  };
  switch (op.kind) {
    case K::SetMapMode: return "SetMapMode(" + std::to_string(op.a) + ")";
    case K::SetWindowExt: return two("SetWindowExt");
    case K::SetViewportExt: return two("SetViewportExt");
    case K::SetWindowOrg: return two("SetWindowOrg");
    case K::SetViewportOrg: return two("SetViewportOrg");
    case K::MoveTo: return two("MoveTo");
    case K::LineTo: return two("LineTo");
    case K::Rectangle: return four("Rectangle");
    case K::Ellipse: return four("Ellipse");
    case K::Polygon: return points("Polygon");
    case K::Polyline: return points("Polyline");
    case K::TextOut:
      std::snprintf(buf, sizeof buf, "TextOut(%d,%d,", op.a, op.b);
      return buf + ("\"" + op.text + "\")");
    case K::ExtTextOut:
      std::snprintf(buf, sizeof buf, "ExtTextOut(%d,%d,%u,", op.a, op.b, op.flags);
      return buf + ("\"" + op.text + "\")");
    case K::SetTextAlign: return "SetTextAlign(" + std::to_string(op.flags) + ")";
    case K::SetTextColor: return "SetTextColor(" + Hex(op.flags) + ")";
    case K::SetBkColor: return "SetBkColor(" + Hex(op.flags) + ")";
    case K::SetBkMode: return "SetBkMode(" + std::to_string(op.a) + ")";
    case K::SetROP2: return "SetROP2(" + std::to_string(op.a) + ")";
    case K::SelectObject: {
      static const GdiObject none;
      const GdiObject& o = op.object ? *op.object : none;
      switch (o.kind) {
        case GdiObject::Kind::Pen:
          if (o.pen.style == PS_NULL) return "SelectPen(null)";
          return "SelectPen(" + std::to_string(o.pen.style) + "," +
                 std::to_string(o.pen.width) + "," + Hex(o.pen.color) + ")";
        case GdiObject::Kind::Brush:
          if (o.brush.style == BS_NULL) return "SelectBrush(null)";
          return "SelectBrush(" + Hex(o.brush.color) + ")";
        case GdiObject::Kind::Font:
          return "SelectFont(" + std::to_string(o.font.height) + "," +
                 std::to_string(o.font.escapement) + "," + std::to_string(o.font.weight) + ")";
        case GdiObject::Kind::None: return "SelectObject(?)";
      }
      return "SelectObject(?)";
    }
    case K::SaveDC: return "SaveDC";
    case K::RestoreDC: return "RestoreDC(" + std::to_string(op.a) + ")";
    case K::IntersectClipRect: return four("IntersectClipRect");
    case K::ResetClip: return "ResetClip";
    case K::DrawBitmap: return four("DrawBitmap");
  }
  return "?";
}

void DrawContext::ExecuteValues(DrawOp::Kind kind, int a, int b, int c, int d) {
  Execute(Call(kind, a, b, c, d));
}

DrawContext::DrawContext() {
  // A fresh context holds the stock white brush, black pen and system font.
  state_.pen = GetStockObject(BLACK_PEN);
  state_.penSpec = LookupObject(state_.pen).pen;
  state_.brush = GetStockObject(WHITE_BRUSH);
  state_.brushSpec = LookupObject(state_.brush).brush;
  state_.font = GetStockObject(SYSTEM_FONT);
  state_.fontSpec = LookupObject(state_.font).font;
}

DrawContext::~DrawContext() { ReleaseSelections(state_); }

void DrawContext::ReleaseSelections(const State& s) {
  ChangeSelections(s.pen, -1);
  ChangeSelections(s.brush, -1);
  ChangeSelections(s.font, -1);
}

void DrawContext::AcquireSelections(const State& s) {
  ChangeSelections(s.pen, +1);
  ChangeSelections(s.brush, +1);
  ChangeSelections(s.font, +1);
}

int DrawContext::SetMapMode(int mode) {
  int old = state_.mapMode;
  state_.mapMode = mode;
  if (mode == MM_TEXT) {
    state_.windowExt = {1, 1};
    state_.viewportExt = {1, 1};
  }
  ExecuteValues(DrawOp::Kind::SetMapMode, mode);
  return old;
}

Size DrawContext::SetWindowExt(int cx, int cy) {
  Size old = state_.windowExt;
  if (ExtentCounts(state_.mapMode, cx, cy)) state_.windowExt = {cx, cy};
  ExecuteValues(DrawOp::Kind::SetWindowExt, cx, cy);
  return old;
}

Size DrawContext::SetViewportExt(int cx, int cy) {
  Size old = state_.viewportExt;
  if (ExtentCounts(state_.mapMode, cx, cy)) state_.viewportExt = {cx, cy};
  ExecuteValues(DrawOp::Kind::SetViewportExt, cx, cy);
  return old;
}

Point DrawContext::SetWindowOrg(int x, int y) {
  Point old = std::exchange(state_.windowOrg, Point{x, y});
  ExecuteValues(DrawOp::Kind::SetWindowOrg, x, y);
  return old;
}

Point DrawContext::SetViewportOrg(int x, int y) {
  Point old = std::exchange(state_.viewportOrg, Point{x, y});
  ExecuteValues(DrawOp::Kind::SetViewportOrg, x, y);
  return old;
}

double DrawContext::ScaleX() const {
  const State& s = state_;
  return AxisScale(s.mapMode, s.viewportExt.cx, s.windowExt.cx, s.viewportExt.cy, s.windowExt.cy);
}

double DrawContext::ScaleY() const {
  const State& s = state_;
  return AxisScale(s.mapMode, s.viewportExt.cy, s.windowExt.cy, s.viewportExt.cx, s.windowExt.cx);
}

Point DrawContext::LogicalToDevice(Point p) const {
  double x = (p.x - state_.windowOrg.x) * ScaleX() + state_.viewportOrg.x;
  double y = (p.y - state_.windowOrg.y) * ScaleY() + state_.viewportOrg.y;
  return {static_cast<int>(std::floor(x + 0.5)), static_cast<int>(std::floor(y + 0.5))};
}

Point DrawContext::MoveTo(int x, int y) {
  Point old = std::exchange(state_.position, Point{x, y});
  ExecuteValues(DrawOp::Kind::MoveTo, x, y);
  return old;
}

bool DrawContext::LineTo(int x, int y) {
  ExecuteValues(DrawOp::Kind::LineTo, x, y, state_.position.x, state_.position.y);
  state_.position = {x, y};
  return true;
}

bool DrawContext::Rectangle(int left, int top, int right, int bottom) {
  ExecuteValues(DrawOp::Kind::Rectangle, left, top, right, bottom);
  return true;
}

bool DrawContext::Ellipse(int left, int top, int right, int bottom) {
  ExecuteValues(DrawOp::Kind::Ellipse, left, top, right, bottom);
  return true;
}

bool DrawContext::Polygon(const std::vector<Point>& points) {
  if (points.size() < 2) return false;
  DrawOp op = Call(DrawOp::Kind::Polygon);
  op.points = points;
  Execute(op);
  return true;
}

bool DrawContext::Polyline(const std::vector<Point>& points) {
  if (points.size() < 2) return false;
  DrawOp op = Call(DrawOp::Kind::Polyline);
  op.points = points;
  Execute(op);
  return true;
}

bool DrawContext::TextOut(int x, int y, std::string_view text) {
  DrawOp op = Call(DrawOp::Kind::TextOut, x, y);
  op.text = std::string(text);
  Execute(op);
  if (state_.textAlign & TA_UPDATECP) state_.position.x += TextWidth(text);
  return true;
}

bool DrawContext::ExtTextOut(int x, int y, unsigned options, const Rect* clip, std::string_view text) {
  DrawOp op = Call(DrawOp::Kind::ExtTextOut, x, y);
  op.flags = options;
  if (clip) op.points = {{clip->left, clip->top}, {clip->right, clip->bottom}};
  op.text = std::string(text);
  Execute(op);
  if (state_.textAlign & TA_UPDATECP) state_.position.x += TextWidth(text);
  return true;
}

unsigned DrawContext::SetTextAlign(unsigned align) {
  unsigned old = std::exchange(state_.textAlign, align);
  Execute(FlagsCall(DrawOp::Kind::SetTextAlign, align));
  return old;
}

COLORREF DrawContext::SetTextColor(COLORREF color) {
  COLORREF old = std::exchange(state_.textColor, color & 0xffffff);
  Execute(FlagsCall(DrawOp::Kind::SetTextColor, color & 0xffffff));
  return old;
}

COLORREF DrawContext::SetBkColor(COLORREF color) {
  COLORREF old = std::exchange(state_.bkColor, color & 0xffffff);
  Execute(FlagsCall(DrawOp::Kind::SetBkColor, color & 0xffffff));
  return old;
}

int DrawContext::SetBkMode(int mode) {
  int old = std::exchange(state_.bkMode, mode);
  ExecuteValues(DrawOp::Kind::SetBkMode, mode);
  return old;
}

int DrawContext::SetROP2(int mode) {
  int old = std::exchange(state_.rop2, mode);
  ExecuteValues(DrawOp::Kind::SetROP2, mode);
  return old;
}

void DrawContext::Select(HGDIOBJ handle, const GdiObject& object, HGDIOBJ& slot) {
  ChangeSelections(slot, -1);
  ChangeSelections(handle, +1);
  slot = handle;
  switch (object.kind) {
    case GdiObject::Kind::Pen: state_.penSpec = object.pen; break;
    case GdiObject::Kind::Brush: state_.brushSpec = object.brush; break;
    case GdiObject::Kind::Font: state_.fontSpec = object.font; break;
    case GdiObject::Kind::None: break;
  }
}

HGDIOBJ DrawContext::SelectObject(HGDIOBJ object) {
  GdiObject o = LookupObject(object);
  HGDIOBJ old = 0;
  switch (o.kind) {
    case GdiObject::Kind::None: return 0;
    case GdiObject::Kind::Pen:
      old = state_.pen;
      Select(object, o, state_.pen);
      break;
    case GdiObject::Kind::Brush:
      old = state_.brush;
      Select(object, o, state_.brush);
      break;
    case GdiObject::Kind::Font:
      old = state_.font;
      Select(object, o, state_.font);
      break;
  }
  DrawOp op = Call(DrawOp::Kind::SelectObject);
  op.handle = object;
  op.object = std::make_shared<const GdiObject>(o);
  Execute(op);
  return old;
}

int DrawContext::SaveDC() {
  saved_.push_back(state_);
  ExecuteValues(DrawOp::Kind::SaveDC);
  return static_cast<int>(saved_.size());
}

bool DrawContext::RestoreDC(int level) {
  int n = static_cast<int>(saved_.size());
  int target = level < 0 ? n + level + 1 : level;
  if (target < 1 || target > n) return false;
  ReleaseSelections(state_);
  state_ = saved_[static_cast<size_t>(target - 1)];
  saved_.resize(static_cast<size_t>(target - 1));
  AcquireSelections(state_);
  ExecuteValues(DrawOp::Kind::RestoreDC, level);
  return true;
}

bool DrawContext::IntersectClipRect(int left, int top, int right, int bottom) {
  Point a = LogicalToDevice({std::min(left, right), std::min(top, bottom)});
  Point b = LogicalToDevice({std::max(left, right), std::max(top, bottom)});
  Rect r{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
  if (state_.clipped) {
    r.left = std::max(r.left, state_.clip.left);
    r.top = std::max(r.top, state_.clip.top);
    r.right = std::min(r.right, state_.clip.right);
    r.bottom = std::min(r.bottom, state_.clip.bottom);
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
  }
  state_.clipped = true;
  state_.clip = r;
  ExecuteValues(DrawOp::Kind::IntersectClipRect, left, top, right, bottom);
  return true;
}

void DrawContext::ResetClip() {
  state_.clipped = false;
  ExecuteValues(DrawOp::Kind::ResetClip);
}

bool DrawContext::DrawBitmap(int left, int top, int width, int height,
                             const std::shared_ptr<const Bitmap>& bitmap) {
  if (!bitmap) return false;
  DrawOp op = Call(DrawOp::Kind::DrawBitmap, left, top, width, height);
  op.bitmap = bitmap;
  Execute(op);
  return true;
}

void DrawContext::Apply(const DrawOp& op, std::vector<std::pair<HGDIOBJ, HGDIOBJ>>& objects) {
  using K = DrawOp::Kind;
  switch (op.kind) {
    case K::SetMapMode: SetMapMode(op.a); break;
    case K::SetWindowExt: SetWindowExt(op.a, op.b); break;
    case K::SetViewportExt: SetViewportExt(op.a, op.b); break;
    case K::SetWindowOrg: SetWindowOrg(op.a, op.b); break;
    case K::SetViewportOrg: SetViewportOrg(op.a, op.b); break;
    case K::MoveTo: MoveTo(op.a, op.b); break;
    case K::LineTo: LineTo(op.a, op.b); break;
    case K::Rectangle: Rectangle(op.a, op.b, op.c, op.d); break;
    case K::Ellipse: Ellipse(op.a, op.b, op.c, op.d); break;
    case K::Polygon: Polygon(op.points); break;
    case K::Polyline: Polyline(op.points); break;
    case K::TextOut: TextOut(op.a, op.b, op.text); break;
    case K::ExtTextOut: {
      if (op.points.size() == 2) {
        Rect r{op.points[0].x, op.points[0].y, op.points[1].x, op.points[1].y};
        ExtTextOut(op.a, op.b, op.flags, &r, op.text);
      } else {
        ExtTextOut(op.a, op.b, op.flags, nullptr, op.text);
      }
      break;
    }
    case K::SetTextAlign: SetTextAlign(op.flags); break;
    case K::SetTextColor: SetTextColor(op.flags); break;
    case K::SetBkColor: SetBkColor(op.flags); break;
    case K::SetBkMode: SetBkMode(op.a); break;
    case K::SetROP2: SetROP2(op.a); break;
    case K::SelectObject: {
      if (!op.object) break;
      const GdiObject& o = *op.object;
      HGDIOBJ mine = 0;
      if (op.handle & kStockBit) {
        mine = op.handle;
      } else {
        for (auto& [recorded, created] : objects)
          if (recorded == op.handle && LookupObject(created).kind == o.kind) mine = created;
        if (!mine) {
          switch (o.kind) {
            case GdiObject::Kind::Pen:
              mine = CreatePen(o.pen.style, o.pen.width, o.pen.color);
              break;
            case GdiObject::Kind::Brush:
              if (o.brush.style == BS_NULL)
                mine = GetStockObject(NULL_BRUSH);
              else
                mine = CreateSolidBrush(o.brush.color);
              break;
            case GdiObject::Kind::Font: mine = CreateFontIndirect(o.font); break;
            case GdiObject::Kind::None: break;
          }
          if (mine && !(mine & kStockBit)) objects.emplace_back(op.handle, mine);
        }
      }
      if (mine) SelectObject(mine);
      break;
    }
    case K::SaveDC: SaveDC(); break;
    case K::RestoreDC: RestoreDC(op.a); break;
    case K::IntersectClipRect: IntersectClipRect(op.a, op.b, op.c, op.d); break;
    case K::ResetClip: ResetClip(); break;
    case K::DrawBitmap: DrawBitmap(op.a, op.b, op.c, op.d, op.bitmap); break;
  }
}

std::vector<std::string> RecordingDC::Describe() const {
  std::vector<std::string> out;
  out.reserve(ops_.size());
  for (const auto& op : ops_) out.push_back(DescribeOp(op));
  return out;
}

}  // namespace platform
