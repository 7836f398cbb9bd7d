#include "data/scan_set.h"

#include <cstddef>
#include <utility>

#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"

ScanSet& CurrentScanSet() {
  static ScanSet set;
  return set;
}

DataTypeFlags& CurrentDataTypeFlags() {
  static DataTypeFlags flags;
  return flags;
}

namespace {

template <typename T>
void SizeTable(std::vector<T>& table, int n, const T& fill) {
  table.resize(static_cast<size_t>(n) + 1, fill);
}

void SizeAllTables(ScanSet& s, int n) {
  for (auto* t : {&s.radii, &s.signals, &s.signals2, &s.model, &s.model2, &s.residuals, &s.work,
                  &s.gridSignals, &s.gridModel})
    SizeTable<float*>(*t, n, nullptr);
  SizeTable(s.records, n, ScanRecord{});
  for (auto* t : {&s.points, &s.order, &s.firstFitPoint, &s.lastFitPoint}) SizeTable(*t, n, 0);
  SizeTable(s.fileNames, n, std::string());
  for (auto* t : {&s.radiusVec, &s.signalVec, &s.signal2Vec, &s.modelVec, &s.residualVec})
    SizeTable<CVector*>(*t, n, nullptr);
  for (auto* t : {&s.dataCurve, &s.signal2Curve, &s.modelCurve, &s.residualCurve})
    SizeTable<CCurve*>(*t, n, nullptr);
}

void FreeArray(float*& a) {
  if (a) free_vector(a, 1, 0);
  a = nullptr;
}

}  // namespace

void AllocateScanTables(ScanSet& s, int n) {
  if (n < 0) n = 0;
  SizeAllTables(s, n);
  s.count = n;
}

void GrowScanTables(ScanSet& s, int n) {
  if (n < s.count) return;
  SizeAllTables(s, n);
  s.count = n;
}

float TotalRINoise(const ScanSet& s, int scan) {
  return (s.riNoise ? s.riNoise[scan] : 0.0f) + (s.riNoiseSubtracted ? s.riNoiseSubtracted[scan] : 0.0f);
}

void ScanFitRange(const ScanSet& s, int scan, int& first, int& last) {
  const size_t i = static_cast<size_t>(scan);
  const bool known = scan >= 0;
  const int points = known && i < s.points.size() ? s.points[i] : 0;
  first = known && i < s.firstFitPoint.size() ? s.firstFitPoint[i] : 0;
  last = known && i < s.lastFitPoint.size() ? s.lastFitPoint[i] : 0;
  if (first <= 0) first = 1;
  if (last <= 0 || last > points) last = points;
}

void FreeScanSetArrays(ScanSet& s) {
  // Views first: they point into the arrays freed below.
  for (auto* t : {&s.dataCurve, &s.signal2Curve, &s.modelCurve, &s.residualCurve}) {
    for (CCurve*& c : *t) {
      delete c;
      c = nullptr;
    }
    t->clear();
  }
  for (auto* t : {&s.radiusVec, &s.signalVec, &s.signal2Vec, &s.modelVec, &s.residualVec}) {
    for (CVector*& v : *t) {
      delete v;
      v = nullptr;
    }
    t->clear();
  }
  // Grid signals that merely view the scans must not outlive them.
  if (!s.gridOwned) {
    for (float*& g : s.gridSignals) g = nullptr;
    s.grid = nullptr;
  }
  for (auto* t : {&s.radii, &s.signals, &s.signals2, &s.model, &s.model2, &s.residuals, &s.work}) {
    for (float*& a : *t) FreeArray(a);
    t->clear();
  }
  s.records.clear();
  s.points.clear();
  s.order.clear();
  s.firstFitPoint.clear();
  s.lastFitPoint.clear();
  s.fileNames.clear();
  s.dlsRecords.clear();
  s.count = 0;
}

void RemoveScanFromTables(ScanSet& s, int scan) {
  if (scan < 1 || scan > s.count) return;
  const auto at = static_cast<std::ptrdiff_t>(scan);
  auto erase = [&](auto& table) {
    if (static_cast<std::ptrdiff_t>(table.size()) > at) table.erase(table.begin() + at);
  };
  // Views first: they point into the arrays freed below.
  for (auto* t : {&s.dataCurve, &s.signal2Curve, &s.modelCurve, &s.residualCurve}) {
    if (static_cast<std::ptrdiff_t>(t->size()) > at) delete (*t)[static_cast<size_t>(scan)];
    erase(*t);
  }
  for (auto* t : {&s.radiusVec, &s.signalVec, &s.signal2Vec, &s.modelVec, &s.residualVec}) {
    if (static_cast<std::ptrdiff_t>(t->size()) > at) delete (*t)[static_cast<size_t>(scan)];
    erase(*t);
  }
  for (auto* t : {&s.radii, &s.signals, &s.signals2, &s.model, &s.model2, &s.residuals, &s.work}) {
    if (static_cast<std::ptrdiff_t>(t->size()) > at) FreeArray((*t)[static_cast<size_t>(scan)]);
    erase(*t);
  }
  erase(s.records);
  erase(s.points);
  erase(s.firstFitPoint);
  erase(s.lastFitPoint);
  erase(s.fileNames);
  s.count -= 1;
  // The time order of the others is kept; numbers above the removed scan move down by one.
  std::vector<int32_t> order(1, 0);
  for (int k = 1; k < static_cast<int>(s.order.size()); ++k) {
    const int32_t i = s.order[static_cast<size_t>(k)];
    if (i == scan || i < 1) continue;
    order.push_back(i > scan ? i - 1 : i);
  }
  order.resize(static_cast<size_t>(s.count) + 1, 0);
  s.order = std::move(order);
  for (auto* t : {&s.gridSignals, &s.gridModel}) t->resize(static_cast<size_t>(s.count) + 1, nullptr);
}

void FreeSpeciesScanArrays(ScanSet& s) {
  for (SpeciesScanArrays& sp : s.species) {
    for (float*& a : sp.onGridPerScan) FreeArray(a);
    sp.onGridPerScan.clear();
    FreeArray(sp.onGrid);
    FreeArray(sp.perScan);
  }
  s.speciesScanCount = 0;
  s.speciesGridLength = 0;
}

void FreeScanGridArrays(ScanSet& s) {
  if (s.gridOwned) {
    for (float*& g : s.gridSignals) FreeArray(g);
    FreeArray(s.grid);
  } else {
    for (float*& g : s.gridSignals) g = nullptr;
    s.grid = nullptr;
  }
  for (float*& g : s.gridModel) FreeArray(g);
  FreeArray(s.meanProfile);
  FreeArray(s.scanMeans);
  FreeArray(s.gridWork);
  FreeArray(s.tiNoise);
  FreeArray(s.tiNoiseSubtracted);
  FreeArray(s.riNoise);
  FreeArray(s.riNoiseSubtracted);
  FreeSpeciesScanArrays(s);
  s.gridLength = 0;
  s.profileSum = 0;
  s.profileWeight = 0;
  s.firstGridPoint = 0;
  s.lastGridPoint = 0;
  s.gridOwned = 0;
}

void FreeInitialDataScan(ScanSet& s) {
  FreeArray(s.initialData.radii);
  FreeArray(s.initialData.signals);
  FreeArray(s.initialData.third);
  s.initialData.points = 0;
}
