#pragma once
// Our metafiles: an immutable list of drawing calls in logical units,
// recorded through a MetafileDC and replayed onto any device context.
// Handles behave like those of the system the plotting code was written
// for: 0 is none, a handle stays valid until DeleteMetaFile, copies are
// independent handles. Handles are never reused, so deleting one twice is
// detected (and counted) instead of hitting another picture.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/draw_context.h"

namespace platform {

using HMETAFILE = std::uint32_t;

struct MetafileData {
  std::vector<DrawOp> ops;
};

// Records into a new metafile; Close hands it out as a handle.
class MetafileDC : public RecordingDC {
 public:
  MetafileDC();
  // Ends the recording; the context records nothing afterwards. Returns 0
  // when already closed.
  HMETAFILE Close();
  bool IsClosed() const { return closed_; }

 protected:
  void Execute(const DrawOp& op) override {
    if (!closed_) ops_.push_back(op);
  }

 private:
  bool closed_ = false;
};

// The recorded calls of a live metafile; null for 0 or a deleted handle.
std::shared_ptr<const MetafileData> MetafileContents(HMETAFILE mf);
// A new handle to the same picture.
HMETAFILE CopyMetaFile(HMETAFILE mf);
// False (and counted) for 0, unknown or already deleted handles.
bool DeleteMetaFile(HMETAFILE mf);
// Replays the picture onto dc. The context's state is saved around the
// replay and objects created for it are deleted afterwards, so the caller's
// selections, mapping and position are left as they were.
bool PlayMetaFile(DrawContext& dc, HMETAFILE mf);
bool PlayMetaFile(DrawContext& dc, const MetafileData& data);
// A handle for recorded calls (tests and loaders).
HMETAFILE CreateMetaFileFromOps(std::vector<DrawOp> ops);

// Metafiles not yet deleted, and the deletions of dead handles so far.
int LiveMetafileCount();
int InvalidMetafileDeletes();

// The window extent a picture sets, {0, 0} when it sets none.
Size MetafileWindowExt(const MetafileData& data);

}  // namespace platform
