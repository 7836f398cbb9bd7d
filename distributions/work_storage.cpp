#include "distributions/work_storage.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "distributions/conti_settings.h"
#include "distributions/max_entropy.h"
#include "distributions/neq_kernel.h"
#include "distributions/work_blocks.h"

double DistributionWorkStorageBytes(double n, double m, double r, double fitted) {
  if (!(fitted >= 0) || fitted > r) fitted = r;
  // The centred design the normal equations are summed from: a float row
  // per kernel, one for the data and the zero row of the padding, over
  // every fitted point padded to whole chunks, or, where the product is
  // summed a chunk at a time, one chunk of those rows per worker; and its
  // product of doubles (padded to whole row blocks).
  const ContiSettings& cs = Conti();
  const int threads = cs.multipleThreads ? std::max(1, static_cast<int>(cs.normalEquationThreads)) : 1;
  const double rows = std::ceil((n + 1) / PackedDesign::kPad) * PackedDesign::kPad;
  const double chunks = std::max(1.0, std::ceil(fitted * m / PackedDesign::kChunk));
  const double rowLength = rows <= PackedDesign::kChunkProductRows || threads == 1
                               ? threads * static_cast<double>(PackedDesign::kChunkLd)
                               : chunks * PackedDesign::kChunk + 16;
  const double design = (n + 2) * rowLength * sizeof(float) + rows * rows * sizeof(double);
  // A product small enough to be shared by chunks takes a block of its own
  // per chunk of a pass.
  const double square = rows * rows * sizeof(double);
  const double perPass =
      std::min(chunks, std::max(static_cast<double>(PackedDesign::kChunksPerWorker) * threads,
                                std::max(1.0, std::floor(PackedDesign::kChunkProductBytes / square))));
  const double chunkBlocks = rows <= PackedDesign::kChunkProductRows ? perPass * square : 0.0;
  // The maximum-entropy solution's seven square arrays (the unit and
  // candidate columns and the candidates' orthogonal columns, the held
  // factor and its transpose, the apart system and its factor), and its
  // vectors.
  const double side = n + 1;
  const double maxEnt = 7 * side * side * sizeof(double) + 16 * side * sizeof(double);
  // The distribution's own arrays (s, M, c, companion as float; prior and
  // its companion as double), and the scans' model and residual values.
  const double distribution = n * (4 * sizeof(float) + 2 * sizeof(double));
  const double scans = 2 * m * (r + 1) * sizeof(float);
  return DistributionWorkBlockBytes(n, m, r) + design + chunkBlocks + maxEnt + distribution + scans;
}

double DistributionWorkStorageHeld() {
  const DistributionWorkBlock& w = WorkBlock();
  const NormalEquationBlock& b = NeqBlock();
  const PackedDesign& d = Design();
  const MaxEntState& me = MaxEnt();
  double held = static_cast<double>(d.capacity) * sizeof(float) +
                static_cast<double>(d.productCapacity + d.chunkCapacity) * sizeof(double);
  for (const std::vector<double>* square :
       {&me.unitColumns, &me.candidateColumns, &me.candidateOrthogonal, &me.heldFactor, &me.heldFactorTransposed,
        &me.apartMatrix, &me.apartFactor})
    held += static_cast<double>(square->capacity()) * sizeof(double);
  if (w.block) held += KernelBlockBytes(w.gridPoints, w.scans, w.gridLength);
  held += KeptKernelBlockBytes();
  if (b.block) held += NormalEquationBlockBytes(b.gridPoints, b.scans, b.gridLength);
  return held;
}
