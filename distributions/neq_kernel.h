#pragma once
// The hot path of every c(s): the product X X' of the centred design
// matrix. Row 0 of X holds the centred data u, rows 1..n the centred
// kernels, each over the fitted points (scan-major) and zero-padded to a
// whole number of chunks. The centred values are stored in single
// precision (as the scans and kernels themselves); every product of two
// floats is exact in double and summed in double. Then
//   P[0][0] = u'u,  P[k][0] = a_k'u = b_k,  P[k][l] = a_k'a_l = A_kl.
// Every element is summed chunk by chunk in a fixed order, so the result
// does not depend on how the row blocks are shared among threads.
#include <algorithm>
#include <atomic>
#include <cstddef>

struct PackedDesign {
  static constexpr int kChunk = 1024;  // values per chunk: a chunk of all rows stays in L2
  static constexpr int kBlock = 6;    // product rows per row block
  static constexpr int kColumns = 4;  // product columns per tile
  static constexpr int kPad = 12;     // rows are padded to a multiple of both
  // Products of up to this many rows are shared among workers by chunks
  // (AccumulateChunkBlocks): a chunk of every row, 4 KB each, stays in a
  // core's 1 MB cache while that core sums the whole triangle of the chunk.
  static constexpr int kChunkProductRows = 240;
  // The chunk blocks of one pass: as many as fit in these bytes, but at
  // least sixteen chunks per worker; more chunks are summed in passes.
  // Every block of a pass is fresh memory the first time, zeroed by the
  // system page by page: 2 MB keeps that small beside the design. A pass
  // ends when its slowest worker does (on a loaded machine one whose
  // processor was taken for a while), so each worker gets many items of it:
  // with sixteen, 8 workers sum a c(s) of 200 kernels over 100 scans of
  // 1000 points (98 chunks) in one pass, as before the bound.
  static constexpr size_t kChunkProductBytes = size_t{2} << 20;
  static constexpr int kChunksPerWorker = 16;
  // Row length of a worker's copy of one chunk; the extra cache line keeps
  // the rows from sharing cache sets, as in the whole design.
  static constexpr size_t kChunkLd = kChunk + 16;

  // The whole design (buffers == 0): used + 1 rows of ld floats, 64-byte
  // aligned. Streamed (buffers > 0): that many copies of one chunk, each
  // used + 1 rows of kChunkLd floats, one per worker.
  float* data = nullptr;
  size_t capacity = 0;         // floats
  size_t dirty = 0;            // floats from data on that may be nonzero (the rest is as the system gave it)
  double* product = nullptr;   // rows x rows, row-major; lower triangle used
  size_t productCapacity = 0;
  double* chunkProducts = nullptr;  // rows x rows per chunk of a pass
  size_t chunkCapacity = 0;         // doubles
  int used = 0;                // n + 1 rows in use
  int rows = 0;                // used, padded to a multiple of kPad (zero rows)
  size_t ld = 0;               // floats per row
  size_t points = 0;           // fitted points in use
  int chunks = 0;
  int buffers = 0;

  // Rows from `used` on (the padding) all read one zero row, stored after
  // the rows in use: padding rows of their own would be faulted in by the
  // reads alone.
  float* Row(int i) { return data + static_cast<size_t>(std::min(i, used)) * ld; }
  // Worker t's copy of a chunk (t = 0..buffers-1); its row i at i * ld.
  float* Buffer(int t) { return data + static_cast<size_t>(t) * (used + 1) * ld; }
  int Blocks() const { return rows / kBlock; }
};

// Rows of a design as the product reads them, from the column of a chunk:
// row i at data + i * ld, rows from `used` on reading the zero row at
// `used`.
struct DesignRows {
  const float* data;
  size_t ld;
  int used;
  const float* Row(int i) const { return data + static_cast<size_t>(std::min(i, used)) * ld; }
};
inline DesignRows ChunkOf(const PackedDesign& d, int chunk) {
  return {d.data + static_cast<size_t>(chunk) * PackedDesign::kChunk, d.ld, d.used};
}
inline DesignRows BufferOf(PackedDesign& d, int t) { return {d.Buffer(t), d.ld, d.used}; }

PackedDesign& Design();

// Whether the product of n kernels on `threads` workers reads the design a
// chunk at a time (each chunk packed when it is summed, into the copy of
// the worker summing it), or whole: only a product too large to be shared
// by chunks among several workers is summed region by region, each region
// over every chunk, and needs the whole design held.
bool StreamedDesign(int n, int threads);

// Sizes the design for n kernels over `points` fitted points on `threads`
// workers: whole, or one chunk copy per worker when streamed; grows the
// storage only when needed. The whole design's rows are zeroed over their
// padding; a chunk copy's zero row is zeroed, its other rows are written
// whole by each chunk's packing.
void ReserveDesign(int n, size_t points, int threads);

// Releases the design's storage (the next ReserveDesign allocates afresh).
void ReleaseDesign();

// Chunks whose blocks one pass of the shared product on `threads` workers
// holds, for a product of `rows` rows over `chunks` chunks.
int ChunkProductsPerPass(int rows, int chunks, int threads);
// That many, and room for them in chunkProducts (grown only when needed).
int ReserveChunkProducts(PackedDesign& d, int threads);

// Adds the tiles of one chunk `x` for row blocks b0..b1-1 (rows 6ib..6ib+5
// against every column tile that reaches the diagonal) into `product`
// (rows x rows). Summed chunk after chunk into one product, every element
// gets the same sums in the same order whoever packed the chunk.
void AccumulateChunkTiles(const DesignRows& x, int rows, int b0, int b1, double* product);

// The same sums for the tiles of row blocks b0..b1-1 whose column tile jb
// lies in [c0, c1) (and reaches no further than the diagonal), chunk after
// chunk. The rows a region touches stay in the cache from one chunk's
// tiles to the next, so workers sharing a large product fetch each chunk
// of a row far fewer times than block by block. The product rows must have
// been cleared.
void AccumulateProductRegion(PackedDesign& d, int b0, int b1, int c0, int c1,
                             const std::atomic<bool>& stop, std::atomic<long>* done);

// The tiles of one chunk `x` alone for row blocks b0..b1-1 (every column
// tile that reaches the diagonal) into `product`, a rows x rows block of
// its own whose tiles are cleared first. With one such block per chunk,
// workers share a product by chunks: a chunk of every row (under 1 MB for
// up to kChunkProductRows rows) is read from memory once and serves the
// whole triangle, where the regions read each row many times.
void AccumulateChunkBlocks(const DesignRows& x, int rows, int b0, int b1, double* product);
// Adds the chunk blocks 0..count-1 of chunkProducts, in that order, into
// the product's tiles of row blocks b0..b1-1. Each element is then summed
// exactly as chunk after chunk into one product: a tile's chunk sum added
// to zero is itself, and a sum that starts at +0 never becomes -0.
void AddChunkProducts(PackedDesign& d, int count, int b0, int b1);

// Column tiles of row block ib, and the total tiles of the product.
int ProductBlockTiles(int ib);
long ProductCost(const PackedDesign& d);

// Which vector unit the kernel uses ("avx512", "avx2", "generic"): the
// kernel of numerics/vector_kernel.h.
const char* ProductKernelName();
