#pragma once
// Which member of the continuous-distribution family the Model menu has
// chosen, as the distribution code asks it (read from gModelSelectorFlags,
// the data kind and the run's corrections). Below the arrays, the grid and
// the run that branch on it, and below the menu commands that change it.

bool DlsDistributionModel();      // DLS I(D), I(Rh) or the I(Rh) time course
bool TwoDimensionalModel();       // c(s,f/f0), with or without discrete component
bool LsgModel();                  // ls-g*(s), with 1 discrete, hybrid
// Models whose grid is a grid of s-values (ModelSelectorFlags::GridIsS).
bool SBasedModel();
// c(M) and its variants: the grid holds molar masses
// (ModelSelectorFlags::GridIsMass with the DLS data flag of the data loaded).
bool MassGridModel();
// Grid point 1 is no part of the distribution (a discrete species, a
// leading term or the buffer's signal) for the model and corrections in use.
bool LeadingTermModel();
// Electrophoresis and zone models whose "molar mass" is a copy of the grid.
bool GridIsOwnMass();
