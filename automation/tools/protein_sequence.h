#pragma once
// Composition, molar mass, extinction coefficients, partial specific volume
// and refractive increment of a protein from its one-letter sequence, by
// per-residue increments.
#include <array>
#include <string>
#include <vector>

struct ProteinComposition {
  std::array<float, 26> counts{};  // A..Z, ambiguous letters spread over their candidates
  int residues = 0;
  // One line per ambiguous or unknown letter that occurs, with its count.
  std::vector<std::string> notes;
};

// Case is ignored; characters that are no residue letters are skipped.
ProteinComposition ParseProteinSequence(const std::string& text);

struct ProteinConditions {
  float disulfideFraction = 0;  // fraction of the cysteines in disulfide bonds
  float temperature = 20;       // C
  float bufferIndex = 1.334f;   // refractive index of the buffer at 25 C
  float wavelength = 580;       // nm
};

struct ProteinProperties {
  float mass = 0;  // Da
  float epsilon280a = 0, epsilon280b = 0, epsilon288 = 0, epsilon205 = 0;  // 1/(M cm)
  float vbarStandard = 0;  // ml/g at the temperature, standard coefficient
  float vbarResidue = 0;   // ml/g at the temperature, per-residue coefficients
  float dndc589 = 0;       // ml/g at 25 C and 589.3 nm
  float dndcWavelength = 0;
  float dndcWavelengthT = 0;
  float fringesPerMgMl = 0;
  float fringeCoefficient = 0;
};

ProteinProperties ComputeProteinProperties(const ProteinComposition& c, const ProteinConditions& k);
// The text of the result box.
std::string ProteinPropertiesText(const ProteinComposition& c, const ProteinConditions& k,
                                  const ProteinProperties& p);
