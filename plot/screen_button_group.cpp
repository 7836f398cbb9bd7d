#include "plot/screen_button_group.h"

#include <cmath>

#include "plot/cwinplot.h"

using namespace platform;

CScreenButtonGroup::~CScreenButtonGroup() {
  if (ownsFace && face) DeleteMetaFile(face);
}

CScreenButton* CScreenButtonGroup::At(int i) const {
  return i >= 1 && i <= count && static_cast<size_t>(i) < buttons.size() ? buttons[static_cast<size_t>(i)].get()
                                                                          : nullptr;
}

void CScreenButtonGroup::Create(int n, float first, float l, float last, float r) {
  buttons.clear();
  count = 0;
  firstEdge = static_cast<int>(std::floor(first));
  lastEdge = static_cast<int>(std::floor(last));
  left = static_cast<int>(std::floor(l));
  right = static_cast<int>(std::floor(r));
  if (n < 1) return;
  const float step = std::floor((first - last) / static_cast<float>(n));
  buttons.resize(static_cast<size_t>(n) + 1);
  for (int i = 1; i <= n; ++i) {
    auto b = std::make_unique<CScreenButton>();
    b->on = 0;
    b->SetRect(first - static_cast<float>(i - 1) * step, l, first - static_cast<float>(i) * step + 1, r);
    buttons[static_cast<size_t>(i)] = std::move(b);
  }
  count = n;
}

void CScreenButtonGroup::SetColors(COLORREF onFace, COLORREF faceColour) {
  for (int i = 1; i <= count; ++i) {
    At(i)->onFaceColor = onFace;
    At(i)->faceColor = faceColour;
  }
}

void CScreenButtonGroup::SetAllFlat() {
  for (int i = 1; i <= count; ++i) At(i)->flat = 1;
}
void CScreenButtonGroup::SetAllPressed() {
  for (int i = 1; i <= count; ++i) At(i)->SetPressed();
}
void CScreenButtonGroup::SetAllFirstOption() {
  for (int i = 1; i <= count; ++i) At(i)->SetFirstOption();
}
void CScreenButtonGroup::SetAllSecondOption() {
  for (int i = 1; i <= count; ++i) At(i)->SetSecondOption();
}
void CScreenButtonGroup::BeepAll() {
  for (int i = 1; i <= count; ++i) At(i)->Beep();
}

void CScreenButtonGroup::SetHiddenAt(int i, bool flag) {
  if (CScreenButton* b = At(i)) b->hidden = flag ? 1 : 0;
}
bool CScreenButtonGroup::IsHiddenAt(int i) const {
  const CScreenButton* b = At(i);
  return b && b->hidden;
}
bool CScreenButtonGroup::IsOnAt(int i) const {
  const CScreenButton* b = At(i);
  return b && b->on;
}
bool CScreenButtonGroup::ToggleAt(int i) {
  CScreenButton* b = At(i);
  return b && b->ToggleState();
}
void CScreenButtonGroup::SetTextAt(int i, const char* caption, int captionLength, const char* onCaption,
                                   int onCaptionLength) {
  if (CScreenButton* b = At(i)) b->SetText(caption, captionLength, onCaption, onCaptionLength);
}
void CScreenButtonGroup::SetPressedAt(int i) {
  if (CScreenButton* b = At(i)) b->SetPressed();
}
HMETAFILE CScreenButtonGroup::FaceAt(int i) const {
  const CScreenButton* b = At(i);
  return b ? b->face : 0;
}

void CScreenButtonGroup::PaintAll(DrawSurface& window) {
  for (int i = 1; i <= count; ++i) At(i)->Paint(window);
}
void CScreenButtonGroup::SaveAllBackgrounds(DrawSurface& window) {
  for (int i = 1; i <= count; ++i) At(i)->SaveBackground(window);
}
void CScreenButtonGroup::RestoreAllBackgrounds(DrawSurface& window) {
  for (int i = 1; i <= count; ++i) At(i)->RestoreBackground(window);
}

bool CScreenButtonGroup::HitTest(float x, float y, int* index) {
  if (index) *index = 0;
  for (int i = 1; i <= count; ++i) {
    if (At(i)->Click(x, y)) {
      if (index) *index = i;
      return true;
    }
  }
  return false;
}

bool CScreenButtonGroup::RedrawAll() {
  if (count < 1) return false;
  bool ok = true;
  for (int i = 1; i <= count; ++i) ok = At(i)->Redraw() && ok;
  return ok;
}

bool CScreenButtonGroup::RecordGroupFace() {
  if (count < 1) return false;
  MetafileDC rec;
  rec.SetWindowExt(PlotSpaceWidth(), PlotSpaceHeight());
  for (int i = 1; i <= count; ++i) At(i)->RecordFace(rec);
  const HMETAFILE mf = rec.Close();
  if (!mf) return false;
  if (ownsFace && face) DeleteMetaFile(face);
  face = mf;
  ownsFace = 1;
  return true;
}
