#pragma once
// Text files that hand the loaded scans, the fit and the distribution to
// outside plotters (and to the result set of the unattended run). Default
// names lie in the program's temp folder; a caller may give a full path.

// The current distribution, one "%e %e" line per grid point (DLS abscissae
// as log10 of the radius in nm); withEndMarker appends "-999.999 -999.999".
// path null: "dist.txt" (marked) or "dist.dat" in the temp folder.
// 1 when written; 0 without a distribution (silently) or when the file
// cannot be opened or written whole (reported).
int WriteDistributionForPlot(bool withEndMarker, const char* path);

// The data-fit-residuals matrix: each row "%e %e %e " (TI radius, total TI
// noise, RI noise), then "%e %e %e " (radius, data, fit) for every scan in
// time order, the data and fit with the already-subtracted TI noise added
// back. path null: "svdfrdata.dat" in the temp folder. Returns the scan
// count, or -1 when the file cannot be opened or written whole (reported).
int WriteSvdfrData(const char* path);
