#pragma once
// One more curve on top of a plot, without adding it to the plot: each call
// records the curve, in the plot's current value-to-pixel transform, into a
// new metafile that the caller replays and deletes. Point numbers are
// 1-based; styles are the numbering of CWINPlot::DrawCurve (-1 a plain line,
// 12 thick, 14 dashed, ...); size becomes the plot's symbol size during the
// call. Colours are 0x00BBGGRR. The plot is left unchanged.
#include "numerics/ccurve.h"
#include "platform/metafile.h"
#include "plot/cwinplot.h"

// Points first..last of the curve; 0 when last < first. A first of 1 or
// below, or of n - 1 or above, starts at point 1; a last of n or above, or
// one not beyond the first drawn point, runs to point n.
HMETAFILE DrawCurveInDC(CWINPlot* plot, CCurve* curve, int first, int last, COLORREF colour, int style, int size);
// The same with one colour per point: colours[k][1..3] = red, green, blue of
// point k (an imatrix with rows 1..n).
HMETAFILE DrawCurveInDC2(CWINPlot* plot, CCurve* curve, int first, int last, int** colours, int style, int size);
HMETAFILE DrawCurveInWindow(CWINPlot* plot, CCurve* curve, COLORREF colour, int style, int size);

// Wrappers over 1-based arrays (elements 1..n).
HMETAFILE PlotFloatArrays(CWINPlot* plot, float* x, float* y, int n, COLORREF colour, int style, int size);
HMETAFILE PlotFloatArraysRange(CWINPlot* plot, float* x, float* y, int n, int from, int to, COLORREF colour,
                               int style, int size);
HMETAFILE PlotFloatArraysColoured(CWINPlot* plot, float* x, float* y, int n, int** colours, int style, int size);
HMETAFILE PlotDoubleArrays(CWINPlot* plot, const double* x, const double* y, int n, COLORREF colour, int style,
                           int size);
HMETAFILE PlotFloatDoubleArrays(CWINPlot* plot, float* x, const double* y, int n, COLORREF colour, int style,
                                int size);
// y scaled so that its largest value becomes peak.
HMETAFILE PlotFloatDoubleArraysScaled(CWINPlot* plot, float* x, const double* y, int n, double peak,
                                      COLORREF colour, int style, int size);
HMETAFILE PlotFloatArraysScaled(CWINPlot* plot, float* x, const float* y, int n, double peak, COLORREF colour,
                                int style, int size);
