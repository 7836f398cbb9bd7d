// Loading 100 absorbance scans of 1000 points each from their files onto
// the common radial grid, and 100 DLS sets of 250 lag times, written in
// reverse time order so that loading has to sort them.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "data/dls/dls_loading.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"

namespace {

// A folder of its own for the files of one benchmark, removed afterwards.
struct BenchFolder {
  BenchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnel_bench_loading_XXXXXX").string();
    folder = mkdtemp(pattern.data()) ? pattern : std::string(".");
  }
  ~BenchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
  BenchFolder(const BenchFolder&) = delete;
  BenchFolder& operator=(const BenchFolder&) = delete;
  std::string folder;
  std::vector<std::string> names;
};

struct ScanFolder : BenchFolder {
  ScanFolder(int scans, int points) {
    for (int i = 1; i <= scans; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "%05d.RA1", i);
      names.push_back(name);
      FILE* f = std::fopen((folder + "/" + name).c_str(), "w");
      const double t = 600.0 * i;
      const double omega = 50000 * 3.14159265358979 / 30;
      std::fprintf(f, "bench scan\nR 2 20.0 50000 %ld %1.4e 280 1\n", static_cast<long>(t),
                   omega * omega * t);
      for (int k = 0; k < points; ++k) {
        const double r = 5.9 + 0.0012 * k;
        const double c = 0.5 * std::erfc((6.2 + 0.0008 * i - r) / 0.03);
        std::fprintf(f, "   %1.4f  %1.5e   %1.5e \n", r, c, 0.0);
      }
      std::fclose(f);
    }
  }
};

void BM_LoadScansOntoGrid(benchmark::State& state) {
  ScanFolder data(100, 1000);
  const std::string selection = MakeSelection(data.folder, data.names);
  for (auto _ : state) {
    const bool ok = LoadAllData(selection);
    benchmark::DoNotOptimize(ok);
  }
  state.counters["scans"] = CurrentScanSet().count;
  state.counters["gridPoints"] = CurrentScanSet().gridLength;
  FreeScanData();
}
BENCHMARK(BM_LoadScansOntoGrid)->Unit(benchmark::kMillisecond);

struct DlsFolder : BenchFolder {
  DlsFolder(int sets, int lagTimes) {
    for (int i = 1; i <= sets; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "%05d.dlsdat", i);
      names.push_back(name);
      FILE* f = std::fopen((folder + "/" + name).c_str(), "w");
      std::fprintf(f, "bench set\nA 20.000000 %d 100000.00 1.333000 0.010020 90.000000 6.328000e-07\n",
                   10 * (sets - i));
      for (int k = 0; k < lagTimes; ++k) {
        const double tau = 1e-7 * std::pow(10.0, 6.0 * k / lagTimes);
        std::fprintf(f, "   %1.5e  %1.5e \n", tau, 0.8 * std::exp(-2.0 * tau / (1e-4 * (1 + 0.01 * i))));
      }
      std::fclose(f);
    }
  }
};

void BM_LoadDlsSets(benchmark::State& state) {
  DlsFolder data(100, 250);
  const std::string selection = MakeSelection(data.folder, data.names);
  for (auto _ : state) {
    const int ok = LoadDLSData(selection, false);
    benchmark::DoNotOptimize(ok);
  }
  state.counters["sets"] = CurrentScanSet().count;
  state.counters["lagTimes"] = CurrentScanSet().points[1];
  FreeScanData();
}
BENCHMARK(BM_LoadDlsSets)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
