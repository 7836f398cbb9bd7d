#include "platform/metafile.h"

#include <mutex>
#include <unordered_map>

namespace platform {

namespace {

struct MetafileTable {
  std::mutex mutex;
  HMETAFILE next = 1;
  std::unordered_map<HMETAFILE, std::shared_ptr<const MetafileData>> live;
  int invalidDeletes = 0;
};

MetafileTable& Table() {
  static MetafileTable table;
  return table;
}

HMETAFILE Insert(std::shared_ptr<const MetafileData> data) {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  HMETAFILE h = t.next++;
  t.live[h] = std::move(data);
  return h;
}

}  // namespace

MetafileData::MetafileData(const std::vector<DrawOp>& ops) {
  for (const DrawOp& op : ops) Append(op);
}

namespace {

// A call's first word: its kind, which of its values follow, and whether the
// whole call's index follows them.
constexpr std::uint32_t kKindMask = 0xff;
constexpr int kValuesShift = 8;  // a, b, c, d, flags, handle: one bit each
constexpr std::uint32_t kWholeBit = 1u << 14;
// Blocks of 256 kB: large enough that a plot needs few, small enough that
// the last one wastes little.
constexpr std::size_t kBlockWords = 1u << 16;

}  // namespace

void MetafileData::Append(const DrawOp& op) {
  const std::uint32_t values[6] = {static_cast<std::uint32_t>(op.a), static_cast<std::uint32_t>(op.b),
                                   static_cast<std::uint32_t>(op.c), static_cast<std::uint32_t>(op.d), op.flags,
                                   op.handle};
  const bool whole = !op.points.empty() || !op.text.empty() || op.object || op.bitmap;
  Store(op.kind, values, whole ? &op : nullptr);
}

void MetafileData::AppendValues(DrawOp::Kind kind, int a, int b, int c, int d, unsigned flags, HGDIOBJ handle) {
  const std::uint32_t values[6] = {static_cast<std::uint32_t>(a), static_cast<std::uint32_t>(b),
                                   static_cast<std::uint32_t>(c), static_cast<std::uint32_t>(d), flags, handle};
  Store(kind, values, nullptr);
}

void MetafileData::Store(DrawOp::Kind kind, const std::uint32_t (&values)[6], const DrawOp* whole) {
  std::uint32_t head = static_cast<std::uint32_t>(kind) & kKindMask;
  std::size_t words = 1;
  for (int v = 0; v < 6; ++v)
    if (values[v] != 0) {
      head |= 1u << (kValuesShift + v);
      ++words;
    }
  if (whole) {
    head |= kWholeBit;
    ++words;
  }
  if (blocks_.empty() || blocks_.back().size() + words > kBlockWords) {
    blocks_.emplace_back();
    blocks_.back().reserve(kBlockWords);
  }
  Block& block = blocks_.back();
  block.push_back(head);
  for (int v = 0; v < 6; ++v)
    if (values[v] != 0) block.push_back(values[v]);
  if (whole) {
    block.push_back(static_cast<std::uint32_t>(whole_.size()));
    whole_.push_back(*whole);
  }
  ++count_;
}

const DrawOp& MetafileData::Decode(const Block& block, std::size_t& at, DrawOp& light) const {
  const std::uint32_t head = block[at++];
  std::uint32_t values[6] = {0, 0, 0, 0, 0, 0};
  for (int v = 0; v < 6; ++v)
    if (head & (1u << (kValuesShift + v))) values[v] = block[at++];
  if (head & kWholeBit) return whole_[block[at++]];
  light.kind = static_cast<DrawOp::Kind>(head & kKindMask);
  light.a = static_cast<int>(values[0]);
  light.b = static_cast<int>(values[1]);
  light.c = static_cast<int>(values[2]);
  light.d = static_cast<int>(values[3]);
  light.flags = values[4];
  light.handle = values[5];
  return light;
}

std::vector<DrawOp> MetafileData::Ops() const {
  std::vector<DrawOp> ops;
  ops.reserve(count_);
  ForEach([&](const DrawOp& op) { ops.push_back(op); });
  return ops;
}

MetafileDC::MetafileDC() : data_(std::make_shared<MetafileData>()) {}

HMETAFILE MetafileDC::Close() {
  if (closed_) return 0;
  closed_ = true;
  return Insert(std::move(data_));
}

std::shared_ptr<const MetafileData> MetafileContents(HMETAFILE mf) {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  auto it = t.live.find(mf);
  return it == t.live.end() ? nullptr : it->second;
}

HMETAFILE CopyMetaFile(HMETAFILE mf) {
  auto data = MetafileContents(mf);
  return data ? Insert(std::move(data)) : 0;
}

bool DeleteMetaFile(HMETAFILE mf) {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  auto it = t.live.find(mf);
  if (it == t.live.end()) {
    ++t.invalidDeletes;
    return false;
  }
  t.live.erase(it);
  return true;
}

bool PlayMetaFile(DrawContext& dc, const MetafileData& data) {
  int level = dc.SaveDC();
  std::vector<std::pair<HGDIOBJ, HGDIOBJ>> objects;
  data.ForEach([&](const DrawOp& op) { dc.Apply(op, objects); });
  dc.RestoreDC(level);
  for (auto& [recorded, created] : objects) DeleteObject(created);
  return true;
}

bool PlayMetaFile(DrawContext& dc, HMETAFILE mf) {
  auto data = MetafileContents(mf);
  if (!data) return false;
  return PlayMetaFile(dc, *data);
}

HMETAFILE CreateMetaFileFromOps(std::vector<DrawOp> ops) {
  return Insert(std::make_shared<MetafileData>(ops));
}

int LiveMetafileCount() {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  return static_cast<int>(t.live.size());
}

int InvalidMetafileDeletes() {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  return t.invalidDeletes;
}

Size MetafileWindowExt(const MetafileData& data) {
  Size ext{0, 0};
  data.ForEach([&](const DrawOp& op) {
    if (op.kind != DrawOp::Kind::SetWindowExt) return true;
    ext = {op.a, op.b};
    return false;
  });
  return ext;
}

}  // namespace platform
