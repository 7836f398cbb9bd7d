#pragma once
// The start questions and per-set parameter steps that the list-file and
// PELDO series share.
#include <string>

#include "automation/serial/fluorescence_correction_record.h"

namespace serial {

struct SetUpAnswers {
  bool peldoVariant = false;  // asks the corrections only for fluorescence data
  bool fit = false;
  bool restore = false;
  bool overwriteCorrections = false;
  FluorescenceCorrectionValues corrections;  // as at the start
  bool bottomFloatedAtStart = false;
  bool overwriteRightLimit = false;
  float rightLimit = 0.0f;
  bool floatBottom = false;
};

// "fit each set?" (the given text), the corrections snapshot, "restore
// previous params if available?", "overwrite FDS-related parameters?",
// "overwrite FitRightLim?" with "right lim position ", "always float bottom?".
SetUpAnswers AskSetUp(const char* fitQuestion, bool peldoVariant = false);

// Parameters of a loaded set: its own saved analysis (with restore), else
// the start's parameter file; then the corrections, right limit and bottom
// as the answers say.
void PrepareSetParameters(const SetUpAnswers& answers, const std::string& startParameterFile);

}  // namespace serial
