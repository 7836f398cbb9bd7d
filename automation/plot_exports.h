#pragma once
// Text files that hand the loaded scans, the fit and the distribution to
// outside plotters (and to the result set of the unattended run). Default
// names lie in the program's temp folder; a caller may give a full path.
// A file that cannot be opened or written whole is reported ("Attention:
// could not open %s" / "could not write %s"); files written before it stay.
// "Time order" means that file or block k holds the scan that is k-th by
// elapsed time.

// "<k>.fit" for k = 1 ... scans in time order: "%e %e" radius and model
// value of every point. The scan count, or 0.
int WriteFitCurvesForPlot();

// "<k>.dat" as the fit curves with the signals, then "times.dat": the
// elapsed time as read of each scan in time order ("%e"). The scan count,
// or 0.
int WriteDataCurvesForPlot();

// The current distribution, one "%e %e" line per grid point (DLS abscissae
// as log10 of the radius in nm); withEndMarker appends "-999.999 -999.999".
// path null: "dist.txt" (marked) or "dist.dat" in the temp folder.
// 1 when written; 0 without a distribution (silently) or when the file
// cannot be opened or written whole (reported).
int WriteDistributionForPlot(bool withEndMarker, const char* path);

// "sasdist.dat": the size-and-shape table of a c(s,f/f0) model. 1 when a
// c(s,f/f0) model is on and the table was written, else 0.
int WriteSasDistributionForPlot();

// "SEdata.dat": per scan in load order the points inside the fit limits
// ("%f\t%f", data then model, each with the already-subtracted TI noise
// added back, ended by -666.666 and -777.777 pairs and a -999.999 pair);
// then the total TI noise on the grid ("0 nan" when it is not fitted)
// between -1001 and -1010 pairs, and the RI noise per scan ("0 nan" when
// not fitted) between -1100 and -1110 pairs. The scan count, or 0.
int WriteSEDataFile();

// The data-fit-residuals matrix: each row "%e %e %e " (TI radius, total TI
// noise, RI noise), then "%e %e %e " (radius, data, fit) for every scan in
// time order, the data and fit with the already-subtracted TI noise added
// back. path null: "svdfrdata.dat" in the temp folder. Returns the scan
// count, or -1 when the file cannot be opened or written whole (reported).
int WriteSvdfrData(const char* path);

// "dlsdata.dat": per DLS set in load order the points inside the fit
// limits as "%e\t%e" (lag time, not its logarithm), the signal, model and
// residual blocks ended by -666.666, -777.777 and -888.888 pairs, then a
// -999.999 pair. The set count, or 0.
int WriteDlsDataFile();
