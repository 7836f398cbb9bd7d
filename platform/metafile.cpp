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

MetafileDC::MetafileDC() = default;

HMETAFILE MetafileDC::Close() {
  if (closed_) return 0;
  closed_ = true;
  auto data = std::make_shared<MetafileData>();
  data->ops = std::move(ops_);
  ops_.clear();
  return Insert(std::move(data));
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
  for (const auto& op : data.ops) dc.Apply(op, objects);
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
  auto data = std::make_shared<MetafileData>();
  data->ops = std::move(ops);
  return Insert(std::move(data));
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
  for (const auto& op : data.ops)
    if (op.kind == DrawOp::Kind::SetWindowExt) return {op.a, op.b};
  return {0, 0};
}

}  // namespace platform
