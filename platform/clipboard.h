#pragma once
// The clipboard as the program uses it: text tables (tab-separated lines),
// pictures of plots (a metafile with a suggested size) and bitmaps. Each
// call replaces the clipboard's content; false means it could not be opened.
// The desktop installs the Qt clipboard; tests and the unattended run keep
// the in-memory one.
#include <memory>
#include <string>

#include "platform/bitmap.h"
#include "platform/metafile.h"

namespace platform {

// A picture on the clipboard: the metafile and its suggested size in the
// mapping mode's units (MM_ISOTROPIC: 0.01 mm, so 13000 x 9000 is 130 x 90 mm).
struct ClipboardPicture {
  std::shared_ptr<const MetafileData> metafile;
  int mapMode = MM_ISOTROPIC;
  int xExt = 0;
  int yExt = 0;
};

class IClipboard {
 public:
  virtual ~IClipboard() = default;
  virtual bool SetText(const std::string& text) = 0;
  virtual bool SetPicture(const ClipboardPicture& picture) = 0;
  virtual bool SetBitmap(const Bitmap& bitmap) = 0;
};

// Keeps the last content in memory; can be told to refuse opening.
class MemoryClipboard : public IClipboard {
 public:
  enum class Content { None, Text, Picture, Bitmap };
  bool SetText(const std::string& text) override;
  bool SetPicture(const ClipboardPicture& picture) override;
  bool SetBitmap(const Bitmap& bitmap) override;

  Content content = Content::None;
  std::string text;
  ClipboardPicture picture;
  Bitmap bitmap;
  bool refuseOpen = false;  // simulates a clipboard held by another program
  int writes = 0;
};

// The program-wide clipboard; an in-memory one until set.
IClipboard& Clipboard();
// Installs clipboard (not owned); nullptr restores the in-memory default.
void SetClipboard(IClipboard* clipboard);

}  // namespace platform
