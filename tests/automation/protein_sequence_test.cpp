// Residue-increment properties of hen lysozyme's mature chain (worked out by
// hand from the residue table) and the parsing of ambiguous letters.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "automation/tools/protein_sequence.h"

namespace {

constexpr const char* kLysozyme =
    "KVFGRCELAAAMKRHGLDNYRGYSLGNWVCAAKFESNFNTQATNRNTDGSTDYGILQINSRWWCNDGRTPGSRNLCNIPCSALLSSDITASVNCAKKIVSDGNGMNAW"
    "VAWRNRCKGTDVQAWIRGCRL";

ProteinConditions At20(float disulfide) {
  ProteinConditions k;
  k.disulfideFraction = disulfide;
  k.temperature = 20;
  k.bufferIndex = 1.334f;
  k.wavelength = 580;
  return k;
}

TEST(ProteinSequence, LysozymeWithAllCystinesBridged) {
  const ProteinComposition c = ParseProteinSequence(kLysozyme);
  EXPECT_EQ(c.residues, 129);
  EXPECT_TRUE(c.notes.empty());
  const ProteinProperties p = ComputeProteinProperties(c, At20(1));
  EXPECT_FLOAT_EQ(p.epsilon280a, 6 * 5500 + 3 * 1490 + 8 * 62.5f);
  EXPECT_FLOAT_EQ(p.epsilon280b, 38940);
  EXPECT_FLOAT_EQ(p.epsilon288, 30645);
  EXPECT_FLOAT_EQ(p.epsilon205, 558390);
  EXPECT_NEAR(p.mass, 14305.1, 0.05);
  EXPECT_NEAR(p.vbarStandard, 0.71483, 2e-5);
  EXPECT_NEAR(p.vbarResidue, 0.71947, 2e-5);
  EXPECT_NEAR(p.dndc589, 0.19596, 2e-5);
  const std::string text = ProteinPropertiesText(c, At20(1), p);
  EXPECT_EQ(text.substr(0, text.find("(")),
            "129 amino acids read:\nmass = 14305.1 Da\nmolar extinction coefficient: 37970 OD280/Mcm ");
  EXPECT_NE(text.find("dndc (25C, 589.3 nm) = 0.1960 ml/g\n"), std::string::npos) << text;
  EXPECT_EQ(text.find('\n', text.rfind("fringe coefficient")), std::string::npos);
}

TEST(ProteinSequence, ReducedLysozymeKeepsItsHydrogens) {
  const ProteinProperties p = ComputeProteinProperties(ParseProteinSequence(kLysozyme), At20(0));
  EXPECT_NEAR(p.mass, 14313.2, 0.05);
  EXPECT_FLOAT_EQ(p.epsilon280a, 6 * 5500 + 3 * 1490);
}

TEST(ProteinSequence, AmbiguousLettersAreSharedAndNamedOnce) {
  const ProteinComposition c = ParseProteinSequence("ABZB");
  EXPECT_EQ(c.residues, 4);
  EXPECT_FLOAT_EQ(c.counts['N' - 'A'], 1.0f);
  EXPECT_FLOAT_EQ(c.counts['D' - 'A'], 1.0f);
  EXPECT_FLOAT_EQ(c.counts['G' - 'A'], 1.0f / 3);
  ASSERT_EQ(c.notes.size(), 2u);
  EXPECT_EQ(c.notes[0], "found B in sequence = either N or D: averaging values from both (2 times)");
  EXPECT_EQ(c.notes[1], "found Z in sequence = either E, Q, or G: averaging values from all (1 time)");

  const ProteinComposition x = ParseProteinSequence("a x\na1,");
  EXPECT_EQ(x.residues, 2);
  ASSERT_EQ(x.notes.size(), 1u);
  EXPECT_EQ(x.notes[0], "found X in sequence: unknown will be ignored (1 time)");
}

TEST(ProteinSequence, CaseDoesNotMatter) {
  std::string lower = kLysozyme;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char ch) { return static_cast<char>(ch + 32); });
  const ProteinProperties a = ComputeProteinProperties(ParseProteinSequence(kLysozyme), At20(0.5f));
  const ProteinProperties b = ComputeProteinProperties(ParseProteinSequence(lower), At20(0.5f));
  EXPECT_EQ(a.mass, b.mass);
  EXPECT_EQ(a.vbarResidue, b.vbarResidue);
  EXPECT_EQ(a.epsilon205, b.epsilon205);
}

TEST(ProteinSequence, NoTryptophanTyrosineOrCysteine) {
  // Peptide bonds only, plus the side chains of F, H and D.
  const ProteinProperties p = ComputeProteinProperties(ParseProteinSequence("GAFHDG"), At20(0));
  EXPECT_EQ(p.epsilon280a, 0);
  EXPECT_EQ(p.epsilon288, 0);
  EXPECT_FLOAT_EQ(p.epsilon205, 2780 * 5 + 8600 + 5200 + 400);
}

}  // namespace
