#include "platform/clipboard.h"

namespace platform {

namespace {
IClipboard* g_clipboard = nullptr;
}

bool MemoryClipboard::SetText(const std::string& t) {
  if (refuseOpen) return false;
  content = Content::Text;
  text = t;
  picture = {};
  bitmap = {};
  ++writes;
  return true;
}

bool MemoryClipboard::SetPicture(const ClipboardPicture& p) {
  if (refuseOpen) return false;
  content = Content::Picture;
  text.clear();
  picture = p;
  bitmap = {};
  ++writes;
  return true;
}

bool MemoryClipboard::SetBitmap(const Bitmap& b) {
  if (refuseOpen) return false;
  content = Content::Bitmap;
  text.clear();
  picture = {};
  bitmap = b;
  ++writes;
  return true;
}

IClipboard& Clipboard() {
  static MemoryClipboard fallback;
  return g_clipboard ? *g_clipboard : fallback;
}

void SetClipboard(IClipboard* clipboard) { g_clipboard = clipboard; }

}  // namespace platform
