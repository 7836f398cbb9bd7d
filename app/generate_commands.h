#pragma once
// The Generate menu (one synthetic data set, a series of them in numbered
// folders), the hidden option 223 and the direct boundary model from a
// g(s*) file.
#include <string>

class TXLAWindow;

// Routes the synthetic-data generator to the window's model evaluation and
// distribution run; undone by DisconnectSyntheticData.
void ConnectSyntheticDataToWindow(TXLAWindow& window);
void DisconnectSyntheticData();

// Set while Series generates: the generator and the xp writer ask nothing.
bool& SeriesGenerationRunning();
// The scans in memory were made by Single, not loaded: their fit limits and
// settings are the generator's (a load clears it).
bool& GeneratedDataInMemory();
// The band-loading direction answered for the last synthetic set.
bool& BandInitialDistributionInverted();

// Scans Series takes when it counts them itself: the time a species of s1
// (S) needs from the meniscus to the right fit limit (cm) at rpm, divided
// by the scan interval (s). A right limit of 0 (nothing loaded) stands for
// bottom - 0.01 cm. 0 when s1 <= 0 or the interval is not positive.
int AutomaticScanCount(float meniscus, float rightFitLimit, float bottom, float s1, float rpm,
                       float interval);

// The self-association loading signal and decadic association constants
// in signal units, from the extinction coefficient eps (1/(M cm)), the
// total molar concentration (uM) and the association constants (1/M).
struct SelfAssociationEntries {
  double loading = 0;  // P[11]
  double logK1 = 0;    // P[3]
  double logK2 = 0;    // P[7], models with two constants
};
SelfAssociationEntries SelfAssociationParameters(double eps, double microMolar, double k1, double k2);
