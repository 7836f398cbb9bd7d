#include "distributions/work_blocks.h"
#include "distributions/work_storage.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "distributions/conti_grid.h"
#include "distributions/conti_settings.h"
#include "distributions/ms_table.h"
#include "platform/machine_memory.h"
#include "platform/paths.h"
#include "platform/scripted_ui.h"

TEST(WorkBlocks, LayoutIsContiguousZeroFilledAndReallocatable) {
  ASSERT_TRUE(AllocDistributionWorkArrays(3, 2, 10));
  DistributionWorkBlock& w = WorkBlock();
  EXPECT_EQ(w.lammSolutions[1][1], w.block);
  EXPECT_EQ(w.lammSolutions[2][1] - w.block, 2 * 11);
  EXPECT_EQ(w.lammSolutions[3][2] - w.block, 5 * 11);
  for (int i = 0; i < 3 * 2 * 11; ++i) EXPECT_EQ(w.block[i], 0.0f);
  w.lammSolutions[3][2][10] = 1.0f;
  // The next block of the same shape is the released one, cleared; while
  // released it counts as storage held.
  float* const first = w.block;
  const double heldBefore = DistributionWorkStorageHeld();
  FreeDistributionWorkArrays(3);
  EXPECT_EQ(WorkBlock().lammSolutions, nullptr);
  EXPECT_DOUBLE_EQ(KeptKernelBlockBytes(), KernelBlockBytes(3, 2, 10));
  EXPECT_DOUBLE_EQ(DistributionWorkStorageHeld(), heldBefore);
  ASSERT_TRUE(AllocDistributionWorkArrays(3, 2, 10));
  EXPECT_EQ(WorkBlock().block, first);
  EXPECT_EQ(KeptKernelBlockBytes(), 0.0);
  EXPECT_EQ(WorkBlock().lammSolutions[3][2] - WorkBlock().block, 5 * 11);
  for (int i = 0; i < 3 * 2 * 11; ++i) EXPECT_EQ(WorkBlock().block[i], 0.0f);
  WorkBlock().lammSolutions[3][2][10] = 1.0f;
  ASSERT_TRUE(AllocDistributionWorkArrays(4, 3, 5));  // releases the first block
  EXPECT_EQ(KeptKernelBlockBytes(), 0.0);             // and frees it: another shape
  EXPECT_EQ(WorkBlock().gridPoints, 4);
  EXPECT_EQ(WorkBlock().lammSolutions[4][3][5], 0.0f);
  FreeDistributionWorkArrays(4);
  EXPECT_EQ(WorkBlock().lammSolutions, nullptr);
  FreeDistributionWorkArrays(4);  // nothing left to free
  // A count other than the block's own frees the block's own rows, neither
  // more (past the row table) nor fewer, and keeps nothing for reuse.
  for (const int count : {2, 7}) {
    ASSERT_TRUE(AllocDistributionWorkArrays(4, 3, 5));
    FreeDistributionWorkArrays(count);
    EXPECT_EQ(WorkBlock().lammSolutions, nullptr);
    EXPECT_EQ(KeptKernelBlockBytes(), 0.0);
  }

  ASSERT_TRUE(AllocNormalEquationBlock(5, 3, 7));
  NormalEquationBlock& b = NeqBlock();
  EXPECT_EQ(b.normalMatrix[2] - b.normalMatrix[1], 6);
  EXPECT_EQ(b.regularizedMatrix[1] - b.normalMatrix[1], 5 * 6);
  EXPECT_EQ(b.kernelScanMean[2] - b.kernelScanMean[1], 4);
  EXPECT_EQ(b.kernelRadialMean[2] - b.kernelRadialMean[1], 8);
  b.normalMatrix[5][5] = 3.0;
  ASSERT_TRUE(AllocNormalEquationBlock(5, 3, 7));
  EXPECT_EQ(NeqBlock().normalMatrix[5][5], 0.0);
  FreeNormalEquationBlock();
  FreeNormalEquationBlock();
  EXPECT_EQ(NeqBlock().passiveSet, nullptr);
}

// The storage a size is judged by before it is allocated is what the two
// allocators then take: measured by the C library's own count of the bytes
// in use (mapped blocks and heap), within its page and chunk rounding.
TEST(WorkBlocks, TheStorageJudgedIsTheStorageTaken) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator keeps its own count";
#else
  struct Size {
    int n, m, r;
  } sizes[] = {{400, 6, 300}, {1000, 2, 50}, {150, 40, 800}, {100, 60, 1000}};
  for (const Size& z : sizes) {
    SCOPED_TRACE(z.n);
    const double kept = KeptKernelBlockBytes();  // freed by an allocation of another shape
    const struct mallinfo2 before = mallinfo2();
    ASSERT_TRUE(AllocDistributionWorkArrays(z.n, z.m, z.r));
    ASSERT_TRUE(AllocNormalEquationBlock(z.n, z.m, z.r));
    const struct mallinfo2 after = mallinfo2();
    const double taken = static_cast<double>(after.hblkhd + after.uordblks) -
                         static_cast<double>(before.hblkhd + before.uordblks) + kept;
    const double judged = DistributionWorkBlockBytes(z.n, z.m, z.r);
    EXPECT_NEAR(taken / judged, 1.0, 0.01) << taken << " taken, " << judged << " judged";
    // Blocks this large are backed by large pages where the system has
    // them; every kernel value still reads zero before a solver writes it.
    const DistributionWorkBlock& w = WorkBlock();
    size_t nonzero = 0;
    for (size_t i = 0; i < static_cast<size_t>(z.n) * z.m * (z.r + 1); ++i) nonzero += w.block[i] != 0.0f;
    EXPECT_EQ(nonzero, 0u);
    FreeNormalEquationBlock();
    FreeDistributionWorkArrays(z.n);
  }
  // Sizes beyond every integer type are judged without overflow: 40 n^2 bytes lead.
  EXPECT_NEAR(DistributionWorkBlockBytes(1e9, 10, 1000) / (40.0 * 1e18), 1.0, 1e-3);
  // The whole Run adds the design's product (8 n^2) and the seven square
  // arrays of the maximum-entropy solution (56 n^2): 104 n^2 bytes.
  EXPECT_NEAR(DistributionWorkStorageBytes(1e9, 10, 1000) / (104.0 * 1e18), 1.0, 1e-3);
#endif
}

// A Run leaves memory mapped beside the storage it keeps for reuse (heap
// its freed arrays came from): the Fit of the same analysis is judged
// against the memory the Run was granted and is not refused for what its
// own Run took; an analysis of other scans is judged afresh.
TEST(WorkBlocks, TheSameAnalysisKeepsTheMemoryItsRunWasGranted) {
  const int threads = 1, scans = 8, points = 1000;
  const double available = platform::MemoryForTheProgram(threads) + DistributionWorkStorageHeld();
  // The grid whose storage comes 8 MB short of the memory there is.
  double lo = 2, hi = 1e7;
  while (hi - lo > 1) {
    const double mid = std::floor((lo + hi) / 2);
    (DistributionWorkStorageBytes(mid, scans, points) < available - 8e6 ? lo : hi) = mid;
  }
  ASSERT_EQ(WorkStorageRefusal(lo, scans, points, threads), "");
  std::vector<char> taken(64u << 20, 1);  // what a Run leaves mapped, touched
  EXPECT_EQ(WorkStorageRefusal(lo, scans, points, threads), "");
  EXPECT_NE(WorkStorageRefusal(lo, scans, points - 1, threads), "");
  EXPECT_EQ(taken[12345], 1);
}

TEST(MsTable, InterpolatesThroughOriginAndExtrapolatesLastSegment) {
  const std::string path = platform::Combine(platform::SystemTempFolder(), "mofs_test.dat");
  FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fprintf(f, "2.0 20.0\n4.0 60.0\n8.0 100.0\n");
  std::fclose(f);
  ASSERT_TRUE(LoadSMTable(path.c_str()));
  // vbar 0 and unit viscosity: standard conditions equal the experiment's.
  auto m = [](double s) { return InterpolateSMTable(s, 0.0, 1.0, 0.0); };
  EXPECT_DOUBLE_EQ(m(1.0), 10000.0);   // origin to (2, 20)
  EXPECT_DOUBLE_EQ(m(4.0), 60000.0);   // a table row
  EXPECT_DOUBLE_EQ(m(3.0), 40000.0);
  EXPECT_DOUBLE_EQ(m(10.0), 120000.0); // along (4, 60)-(8, 100)
  // s* = s (1 - 0.73 * 0.99823) * 1.002 / (1 - 0.73 * 1.0)
  const double star = 3.0 * (1.0 - 0.73 * 0.99823) * 1.002 / (1.0 - 0.73);
  EXPECT_NEAR(InterpolateSMTable(3.0, 0.73, 1.002, 0.73), 1000.0 * (20.0 + (star - 2.0) * 20.0),
              1e-9);
  FreeSMTable();
  EXPECT_EQ(InterpolateSMTable(3.0, 0.0, 1.0, 0.0), 1.0);
  std::remove(path.c_str());

  platform::ScriptedUserInterface ui;
  ui.lenient = true;
  platform::ScopedUI scope(ui);
  EXPECT_FALSE(LoadSMTable("/nonexistent/mofs.dat"));
  EXPECT_EQ(Conti().msTableLoaded, 0);
}
