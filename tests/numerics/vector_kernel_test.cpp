// The choice of the vector kernel: names, what a request resolves to on this
// processor, the switch within a process, and the environment variable read
// by a fresh process, whose fallback is told once on stderr.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "numerics/vector_kernel.h"
#include "tests/support/own_program.h"

namespace {

int Occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Runs the test program's TheActiveKernelIsOneThisProcessorRuns alone, with
// `env` before it; its stdout and stderr.
std::string RunChild(const std::string& env) {
  const std::string command =
      teststate::OwnProgramRunning("VectorKernelChoice.TheActiveKernelIsOneThisProcessorRuns", env) + " 2>&1";
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[512];
  for (int lines = 0; lines < 200 && std::fgets(buffer, sizeof buffer, pipe); ++lines) out += buffer;
  pclose(pipe);
  return out;
}

}  // namespace

TEST(VectorKernelChoice, NamesRoundTripAndOthersAreRefused) {
  for (VectorKernel k : kAllVectorKernels) {
    VectorKernel parsed = k == VectorKernel::Generic ? VectorKernel::Avx512 : VectorKernel::Generic;
    EXPECT_TRUE(ParseVectorKernel(VectorKernelName(k), parsed));
    EXPECT_EQ(parsed, k);
  }
  EXPECT_STREQ(VectorKernelName(VectorKernel::Generic), "generic");
  EXPECT_STREQ(VectorKernelName(VectorKernel::Avx2), "avx2");
  EXPECT_STREQ(VectorKernelName(VectorKernel::Avx512), "avx512");
  for (const char* other : {"", "AVX2", "avx", "sse2", "avx512 ", "generic2"}) {
    VectorKernel k = VectorKernel::Avx2;
    EXPECT_FALSE(ParseVectorKernel(other, k)) << other;
    EXPECT_EQ(k, VectorKernel::Avx2);
  }
}

TEST(VectorKernelChoice, TheBestIsTheWidestThisProcessorRuns) {
  const VectorKernel best = BestVectorKernel();
  EXPECT_TRUE(VectorKernelSupported(best));
  EXPECT_TRUE(VectorKernelSupported(VectorKernel::Generic));
  for (VectorKernel k : kAllVectorKernels)
    if (static_cast<int>(k) > static_cast<int>(best)) { EXPECT_FALSE(VectorKernelSupported(k)); }
  // Every AVX-512 processor has AVX2 and FMA: the AVX-512 kernel's routines
  // that have no wider form use the AVX2 one.
  if (VectorKernelSupported(VectorKernel::Avx512)) {
    EXPECT_TRUE(VectorKernelSupported(VectorKernel::Avx2));
  }
}

TEST(VectorKernelChoice, ARequestIsFollowedOnlyWhereTheProcessorCan) {
  const VectorKernel best = BestVectorKernel();
  const std::string bestName = VectorKernelName(best);
  struct Case {
    const char* requested;
    VectorKernel expected;
    std::string note;
  };
  std::vector<Case> cases = {
      {nullptr, best, ""},
      {"", best, ""},
      {"generic", VectorKernel::Generic, ""},
      {"fastest", best,
       "TARNEL_KERNEL=fastest is not a kernel (generic, avx2, avx512); using " + bestName},
      {"AVX512", best,
       "TARNEL_KERNEL=AVX512 is not a kernel (generic, avx2, avx512); using " + bestName},
  };
  for (VectorKernel k : {VectorKernel::Avx2, VectorKernel::Avx512}) {
    const std::string name = VectorKernelName(k);
    if (VectorKernelSupported(k))
      cases.push_back({VectorKernelName(k), k, ""});
    else
      cases.push_back({VectorKernelName(k), best,
                       "TARNEL_KERNEL=" + name + ": this processor lacks it; using " + bestName});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.requested ? c.requested : "(none)");
    std::string note = "left over";
    EXPECT_EQ(ResolveVectorKernel(c.requested, note), c.expected);
    EXPECT_EQ(note, c.note);
  }
}

namespace {
int Generic() { return 0; }
int Avx2() { return 2; }
int Avx512() { return 512; }
}  // namespace

TEST(VectorKernelChoice, TheSwitchChoosesEveryRoutinesVariant) {
  const VectorKernel active = ActiveVectorKernel();
  const int expected[] = {0, 2, 512};
  for (VectorKernel k : kAllVectorKernels) {
    SCOPED_TRACE(VectorKernelName(k));
    if (SetActiveVectorKernel(k)) {
      EXPECT_EQ(ActiveVectorKernel(), k);
      EXPECT_EQ(ForActiveKernel(Generic, Avx2, Avx512)(), expected[static_cast<int>(k)]);
    } else {
      // A kernel the processor lacks is never switched to.
      EXPECT_NE(ActiveVectorKernel(), k);
    }
  }
  EXPECT_TRUE(SetActiveVectorKernel(active));
}

// Also run alone by the test below, in a fresh process.
TEST(VectorKernelChoice, TheActiveKernelIsOneThisProcessorRuns) {
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(VectorKernelSupported(ActiveVectorKernel()));
  std::printf("active kernel: %s\n", VectorKernelName(ActiveVectorKernel()));
}

TEST(VectorKernelChoice, AFreshProcessReadsTheEnvironmentAndTellsAFallbackOnce) {
  const std::string best = VectorKernelName(BestVectorKernel());
  struct Case {
    std::string env, active;
    int notes;
  };
  const Case cases[] = {
      {"env -u TARNEL_KERNEL", best, 0},
      {"TARNEL_KERNEL=generic", "generic", 0},
      {"TARNEL_KERNEL=" + best, best, 0},
      {"TARNEL_KERNEL=quick", best, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.env);
    const std::string out = RunChild(c.env);
    EXPECT_EQ(Occurrences(out, "active kernel: " + c.active + "\n"), 1) << out;
    EXPECT_EQ(Occurrences(out, "tarnel: TARNEL_KERNEL="), c.notes) << out;
  }
}
