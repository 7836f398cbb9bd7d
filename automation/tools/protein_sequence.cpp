#include "automation/tools/protein_sequence.h"

#include <cctype>
#include <cmath>

#include "data/data_messages.h"

using data_messages::Format;

namespace {

struct Residue {
  float mass, vA, refraction, vB, vBSlope;
};

// Rows A..Z; the ambiguous and unknown letters (B J O U X Z) have none of
// their own and stay zero.
constexpr Residue kResidues[26] = {
    {71.079f, 0.74f, 0.242f, 0.744f, 0.00057f},    // A
    {0, 0, 0, 0, 0},                               // B
    {103.144f, 0.63f, 0.238f, 0.615f, 0.000545f},  // C
    {115.089f, 0.60f, 0.227f, 0.604f, 0.000699f},  // D
    {129.116f, 0.66f, 0.233f, 0.657f, 0.000646f},  // E
    {147.177f, 0.77f, 0.287f, 0.776f, 0.000786f},  // F
    {57.052f, 0.64f, 0.225f, 0.632f, 0.000549f},   // G
    {137.142f, 0.67f, 0.253f, 0.686f, 0.000627f},  // H
    {113.160f, 0.90f, 0.282f, 0.884f, 0.000668f},  // I
    {0, 0, 0, 0, 0},                               // J
    {128.174f, 0.82f, 0.266f, 0.811f, 0.000479f},  // K
    {113.160f, 0.90f, 0.279f, 0.894f, 0.000474f},  // L
    {131.198f, 0.75f, 0.263f, 0.758f, 0.000769f},  // M
    {114.104f, 0.62f, 0.229f, 0.634f, 0.000837f},  // N
    {0, 0, 0, 0, 0},                               // O
    {97.117f, 0.76f, 0.245f, 0.765f, 0.000615f},   // P
    {128.131f, 0.67f, 0.237f, 0.682f, 0.000564f},  // Q
    {156.188f, 0.70f, 0.253f, 0.726f, 0.000641f},  // R
    {87.078f, 0.63f, 0.220f, 0.634f, 0.000477f},   // S
    {101.105f, 0.70f, 0.236f, 0.705f, 0.000496f},  // T
    {0, 0, 0, 0, 0},                               // U
    {99.133f, 0.86f, 0.270f, 0.843f, 0.00043f},    // V
    {186.213f, 0.74f, 0.297f, 0.737f, 0.000494f},  // W
    {0, 0, 0, 0, 0},                               // X
    {163.170f, 0.71f, 0.272f, 0.706f, 0.000621f},  // Y
    {0, 0, 0, 0, 0},                               // Z
};

// A cystine bridge takes one hydrogen from each of its two cysteines.
constexpr float kHydrogenMass = 1.008f;
constexpr float kPeptideBond205 = 2780.0f;

int Index(char letter) { return letter - 'A'; }

struct Ambiguity {
  char letter;
  const char* note;
  const char* candidates;  // empty: the letter is ignored
};

constexpr Ambiguity kAmbiguities[] = {
    {'B', "found B in sequence = either N or D: averaging values from both", "ND"},
    {'J', "found J in sequence = either I or L: averaging values from both", "IL"},
    {'O', "found O in sequence: will be ignored", ""},
    {'U', "found U in sequence: unknown will be ignored", ""},
    {'X', "found X in sequence: unknown will be ignored", ""},
    {'Z', "found Z in sequence = either E, Q, or G: averaging values from all", "EQG"},
};

// Per-residue extinction (1/(M cm)) of the four columns; f the disulfide fraction.
float Extinction(int column, char letter, float f) {
  switch (letter) {
    case 'W': return std::array<float, 4>{5500, 5690, 4815, 20400}[column];
    case 'Y': return std::array<float, 4>{1490, 1280, 385, 6080}[column];
    case 'C': return std::array<float, 4>{62.5f * f, 120, 75, 690 + 410 * f}[column];
    default: break;
  }
  if (column != 3) return 0;
  switch (letter) {
    case 'F': return 8600;
    case 'H': return 5200;
    case 'M': return 1830;
    case 'R': return 1350;
    case 'D':
    case 'E': return 400;
    default: return 0;
  }
}

}  // namespace

ProteinComposition ParseProteinSequence(const std::string& text) {
  ProteinComposition c;
  int ambiguous[26] = {};
  for (char raw : text) {
    const char ch = static_cast<char>(std::toupper(static_cast<unsigned char>(raw)));
    if (ch < 'A' || ch > 'Z') continue;
    if (kResidues[Index(ch)].mass > 0) {
      c.counts[Index(ch)] += 1;
      ++c.residues;
      continue;
    }
    ++ambiguous[Index(ch)];
    for (const Ambiguity& a : kAmbiguities) {
      if (a.letter != ch) continue;
      const std::string candidates = a.candidates;
      if (candidates.empty()) break;
      for (char candidate : candidates) c.counts[Index(candidate)] += 1.0f / static_cast<float>(candidates.size());
      ++c.residues;
    }
  }
  for (const Ambiguity& a : kAmbiguities) {
    const int n = ambiguous[Index(a.letter)];
    if (n > 0) c.notes.push_back(Format("%s (%d %s)", a.note, n, n == 1 ? "time" : "times"));
  }
  return c;
}

ProteinProperties ComputeProteinProperties(const ProteinComposition& c, const ProteinConditions& k) {
  const float f = k.disulfideFraction;
  long double mass = 18.0L, massVA = 0, massVB = 0, massSlope = 0, massR = 0;
  long double e[4] = {0, 0, 0, 0};
  for (int i = 0; i < 26; ++i) {
    const long double n = c.counts[i];
    if (n == 0) continue;
    const char letter = static_cast<char>('A' + i);
    const Residue& r = kResidues[i];
    // The bridge changes the mass, not the residue's volume or refraction.
    const long double m = r.mass;
    mass += n * (letter == 'C' ? m - kHydrogenMass * f : m);
    massVA += n * m * r.vA;
    massVB += n * m * r.vB;
    massSlope += n * m * r.vBSlope;
    massR += n * m * r.refraction;
    for (int col = 0; col < 4; ++col) e[col] += n * Extinction(col, letter, f);
    e[3] += n * kPeptideBond205;
  }
  ProteinProperties p;
  p.mass = static_cast<float>(mass);
  p.epsilon280a = static_cast<float>(e[0]);
  p.epsilon280b = static_cast<float>(e[1]);
  p.epsilon288 = static_cast<float>(e[2]);
  p.epsilon205 = static_cast<float>(e[3] - kPeptideBond205);
  const long double T = k.temperature;
  const long double vA25 = massVA / mass;
  p.vbarStandard = static_cast<float>(vA25 + 0.000425L * (T - 25));
  p.vbarResidue = static_cast<float>(massVB / mass + (T - 20) * massSlope / mass);
  const long double R = massR / mass;
  const long double np2 = (2 * R + vA25) / (vA25 - R);
  const long double nb = k.bufferIndex;
  const long double dW = 1.5L * vA25 * nb * (np2 - nb * nb) / (np2 + 2 * nb * nb);
  const long double D = 1.0023555229104262L * dW;
  const long double lambda = k.wavelength;
  const long double thermal = (T - 25) * 0.0025L * 0.03333333333333333L;
  const long double dLambda = (2000000.0L / (lambda * lambda * 100.0L) + 0.94L) * D;
  const long double d655 = 0.9866173299924246L * D - thermal;
  const long double fringes = 0.012L * d655 * 0.001L * 1526717.5572519084L;
  p.dndc589 = static_cast<float>(dW);
  p.dndcWavelength = static_cast<float>(dLambda);
  p.dndcWavelengthT = static_cast<float>(dLambda - thermal);
  p.fringesPerMgMl = static_cast<float>(fringes);
  p.fringeCoefficient = static_cast<float>(0.8333333333333334L * fringes * mass);
  return p;
}

std::string ProteinPropertiesText(const ProteinComposition& c, const ProteinConditions& k,
                                  const ProteinProperties& p) {
  const float T = k.temperature;
  std::string t = Format("%d amino acids read:\n", c.residues);
  t += Format("mass = %.1f Da\n", p.mass);
  t += Format("molar extinction coefficient: %.0f OD280/Mcm (Trp 5500, Tyr 1490, cystine 125)\n", p.epsilon280a);
  t += Format("molar extinction coefficient: %.0f OD280/Mcm (Trp 5690, Tyr 1280, cystine 120)\n", p.epsilon280b);
  t += Format("molar extinction coefficient: %.0f OD288/Mcm (Trp 4815, Tyr 385, cystine 75)\n", p.epsilon288);
  t += Format("molar extinction coefficient: %.0f OD205/Mcm (peptide bond 2780 plus side chains)\n",
              p.epsilon205);
  t += Format("vbar (%.1fC, residue volumes at 25C, standard temp coefficient) = %.4f ml/g, vbar (%.1fC, "
              "residue volumes at 20C, per residue temp coefficient) = %.4f ml/g\n",
              T, p.vbarStandard, T, p.vbarResidue);
  t += Format("dndc (25C, 589.3 nm) = %.4f ml/g\n", p.dndc589);
  t += Format("dndc (25C, %.1f nm) = %.4f ml/g\n", k.wavelength, p.dndcWavelength);
  t += Format("estimated dndc (%.1fC, %.1f nm) = %.4f ml/g\n", T, k.wavelength, p.dndcWavelengthT);
  t += Format("fringes per mg/ml (12 mm pathlength, 655 nm laser, %.1fC) = %.3f\n", T, p.fringesPerMgMl);
  t += Format("fringe coefficient (fringe/[M cm]) = %.1f", p.fringeCoefficient);
  return t;
}
