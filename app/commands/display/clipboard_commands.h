#pragma once
// The Copy commands of the Data menu (tables of scans, fits, residuals,
// noise, distributions and priors for a spreadsheet, the distribution plot
// as a picture, the parameter listing) and the listing saved with the fit
// data.
#include <string>

class TXLAWindow;

// The parameter listing next to the fit data, under the wait cursor.
void SaveParametersListing(TXLAWindow& window, const std::string& name);
