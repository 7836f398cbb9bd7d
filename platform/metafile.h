#pragma once
// Our metafiles: an immutable list of drawing calls in logical units,
// recorded through a MetafileDC and replayed onto any device context.
// Handles behave like those of the system the plotting code was written
// for: 0 is none, a handle stays valid until DeleteMetaFile, copies are
// independent handles. Handles are never reused, so deleting one twice is
// detected (and counted) instead of hitting another picture.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include "platform/draw_context.h"

namespace platform {

using HMETAFILE = std::uint32_t;

// The calls of a picture. A plot of many points records millions of moves,
// lines and ellipses, so each call is kept as a few words: its kind and its
// values other than 0, in blocks that are filled and never moved. The few
// calls that carry points, a text, an object or a bitmap are kept whole
// beside them.
class MetafileData {
 public:
  MetafileData() = default;
  explicit MetafileData(const std::vector<DrawOp>& ops);

  void Append(const DrawOp& op);
  // The same for a call of values alone.
  void AppendValues(DrawOp::Kind kind, int a, int b, int c, int d, unsigned flags = 0, HGDIOBJ handle = 0);
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // All calls as recorded, in order (tests and tools).
  std::vector<DrawOp> Ops() const;
  // f(const DrawOp&) for every call in order; an f that returns bool stops
  // the walk by returning false.
  template <typename F>
  void ForEach(F&& f) const {
    DrawOp light;
    for (const auto& block : blocks_) {
      for (std::size_t at = 0; at < block.size();) {
        const DrawOp& op = Decode(block, at, light);
        if constexpr (std::is_same_v<decltype(f(op)), bool>) {
          if (!f(op)) return;
        } else {
          f(op);
        }
      }
    }
  }

 private:
  using Block = std::vector<std::uint32_t>;
  // Writes a call's words; `whole`, when not null, is kept beside them.
  void Store(DrawOp::Kind kind, const std::uint32_t (&values)[6], const DrawOp* whole);
  const DrawOp& Decode(const Block& block, std::size_t& at, DrawOp& light) const;
  std::vector<Block> blocks_;
  std::vector<DrawOp> whole_;
  std::size_t count_ = 0;
};

// Records into a new metafile; Close hands it out as a handle.
class MetafileDC : public DrawContext {
 public:
  MetafileDC();
  // Ends the recording; the context records nothing afterwards. Returns 0
  // when already closed.
  HMETAFILE Close();
  bool IsClosed() const { return closed_; }

 protected:
  void Execute(const DrawOp& op) override {
    if (!closed_) data_->Append(op);
  }
  void ExecuteValues(DrawOp::Kind kind, int a, int b, int c, int d) override {
    if (!closed_) data_->AppendValues(kind, a, b, c, d);
  }

 private:
  std::shared_ptr<MetafileData> data_;
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
