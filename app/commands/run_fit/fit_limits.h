#pragma once
// The limits within which a fit keeps meniscus and bottom: automatic ones
// around the current positions, or the user's own; and the check that the
// grid settings of the continuous distributions are usable.
#include <cstdint>

class TXLAWindow;

// Set while the user's own limits are in force (cleared by every load).
std::uint8_t& UserFitLimitsSet();

// Meniscus +- 0.02 cm and bottom +- 0.05 cm (fluorescence: +- 0.1 cm),
// kept 0.001 cm clear of the fit limits; nothing while user limits are set.
void SetDefaultMeniscusBottomLimits();
// Asks for meniscus, bottom and their limits when forced or when the
// current limits are inconsistent.
void SetMeniscusBottomRanges(TXLAWindow& window, bool force);
// True when the distribution grid settings are usable; otherwise reports
// the problem (and switches the log grid off where that mends it).
bool CheckContiGridSettings();
