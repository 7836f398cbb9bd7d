// Reading and writing a set of 100 scans of 1000 points each.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "data/raw_data_workers.h"
#include "data/scan_file.h"
#include "data/scan_loading.h"
#include "numerics/arrays.h"

namespace {

constexpr int kScans = 100;
constexpr int kPoints = 1000;

struct ScanFolder {
  std::filesystem::path dir;
  std::vector<std::string> paths;
  FloatVec radii{1, kPoints}, signals{1, kPoints};
  ScanRecord record;
  int64_t bytes = 0;

  ScanFolder() {
    dir = std::filesystem::temp_directory_path() / ("tarnel_bench_scans_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    for (int i = 1; i <= kPoints; ++i) {
      radii[i] = 5.9f + 0.001f * i;
      signals[i] = 0.5f * (1 + std::erf((radii[i] - 6.4f) / 0.05f));
    }
    std::snprintf(record.description, sizeof record.description, "bench scan");
    record.type = 'R';
    record.cell = 1;
    record.temperature = 20;
    record.rpm = 50000;
    for (int k = 1; k <= kScans; ++k) {
      char name[32];
      std::snprintf(name, sizeof name, "%05d.RA1", k);
      paths.push_back((dir / name).string());
    }
    WriteAll();
    for (const auto& p : paths) bytes += static_cast<int64_t>(std::filesystem::file_size(p));
  }
  ~ScanFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  void WriteAll() {
    for (int k = 0; k < kScans; ++k) {
      record.time = 300.0 * (k + 1);
      record.w2t = record.time * 2.74e7;
      WriteScanFile(paths[static_cast<size_t>(k)].c_str(), kPoints, radii, signals, nullptr, nullptr,
                    0, record);
    }
  }
};

ScanFolder& Folder() {
  static ScanFolder folder;
  return folder;
}

// Every file of the folder read, its points binned to `binning` cm (0: as
// written).
void ReadScanSet(benchmark::State& state, float binning) {
  ScanFolder& f = Folder();
  for (auto _ : state) {
    for (const auto& p : f.paths) {
      ScanRecord rec;
      int n = 0;
      float *r = nullptr, *s = nullptr;
      ReadScanFile(p.c_str(), &rec, &n, &r, &s, nullptr, nullptr, binning);
      benchmark::DoNotOptimize(s);
      free_vector(r, 1, n);
      free_vector(s, 1, n);
    }
  }
  state.SetBytesProcessed(state.iterations() * f.bytes);
}

void BM_ReadScanSet(benchmark::State& state) { ReadScanSet(state, 0.0f); }
BENCHMARK(BM_ReadScanSet)->Unit(benchmark::kMillisecond);

void BM_ReadScanSetBinned(benchmark::State& state) { ReadScanSet(state, 0.003f); }
BENCHMARK(BM_ReadScanSetBinned)->Unit(benchmark::kMillisecond);

void BM_WriteScanSet(benchmark::State& state) {
  ScanFolder& f = Folder();
  for (auto _ : state) f.WriteAll();
  state.SetBytesProcessed(state.iterations() * f.bytes);
}
BENCHMARK(BM_WriteScanSet)->Unit(benchmark::kMillisecond);

// The loaded set written under a prefix into another folder, as "Save Raw
// Data Set" does.
void BM_SaveRawDataToFolder(benchmark::State& state) {
  ScanFolder& f = Folder();
  std::vector<std::string> names;
  for (const auto& p : f.paths) names.push_back(std::filesystem::path(p).filename().string());
  if (!LoadAllData(MakeSelection(f.dir.string(), names))) {
    state.SkipWithError("the bench scans did not load");
    return;
  }
  const std::filesystem::path out = f.dir / "saved";
  std::filesystem::create_directories(out);
  for (auto _ : state) {
    const RawDataResult r = SaveRawDataToFolder((out / "x").string());
    benchmark::DoNotOptimize(r.written.data());
  }
  state.SetBytesProcessed(state.iterations() * f.bytes);
  FreeScanData();
}
BENCHMARK(BM_SaveRawDataToFolder)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
