#pragma once
// The prior probability over the distribution's grid: from the prior file,
// the imported or discrete-species prior, or the peaks of the prior
// knowledge; over s for the s-based models, else over the molar mass.

int AssemblePriorProbability();
