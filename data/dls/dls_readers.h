#pragma once
// Readers of the DLS instruments' text exports. Each reads one export and
// writes the program's dlsdat files (lag times in s, g(2) - 1), with the
// conditions of the measurement taken from the export or from the caller
// (wavelengths in m, viscosities in poise, temperatures in degC).
//
// Every reader reads the whole export before writing anything: on failure
// no file is written and the result says why. A reader never writes over
// its input. Numbers are taken strictly: a token that is not a number, a
// lag time <= 0 or fewer data rows than the channel count refuse the file.
#include <string>

#include "data/dls/dls_read_result.h"
#include "data/dlsdat_file.h"

// Rows of tau (us) and g(2) after the line holding the first "Coef" (after
// line 1 when there is none) up to an empty line; commas read as blanks.
// asked: temperature, refractive index, viscosity, angle, wavelength.
DlsReadResult ReadDlsDynamics7(const std::string& in, const std::string& out, const DlsConditions& asked);
// As ReadDlsDynamics7 without the comma conversion.
DlsReadResult ReadDlsPS99v6(const std::string& in, const std::string& out, const DlsConditions& asked);
// Keyword report with "ARG[i] =" (channels of the sample time) and "ACF[i] =".
DlsReadResult ReadDlsPhotoCor(const std::string& in, const std::string& out);
// Header values after their tabs, rows of tau (ms) and g(2) - 1 after
// "Correlation" (or "Lag [ms]").
DlsReadResult ReadDlsALV(const std::string& in, const std::string& out);
// Two columns tau and g(2): tau x timeUnit (s), y = g(2) / baseline - 1,
// rows sorted by tau.
DlsReadResult ReadDls2ColumnG2(const std::string& in, const std::string& out, float timeUnit, float baseline,
                               const DlsConditions& asked);
// Two columns tau (us) and g(2) - 1.
DlsReadResult ReadDls2ColumnG2m1(const std::string& in, const std::string& out, const DlsConditions& asked);
// 37 leading numbers, then the channels' rows of tau (us) and raw counts,
// then four text lines that make the description.
DlsReadResult ReadDlsBIC(const std::string& in, const std::string& out);
// 23 leading numbers, then the rows as ReadDlsBIC.
DlsReadResult ReadDlsOldDosBIC(const std::string& in, const std::string& out);

// Multi-measurement exports; the numbered files "%05d.dlsdat" (and
// "average.dlsdat") go to the folder of out.
// All measurements, each "Measurement number i" followed by the channels'
// rows of tau and g(2); also writes their mean as "average".
DlsReadResult ReadDlsPSv4(const std::string& in, const std::string& out, const DlsConditions& asked,
                          int channels);
// As ReadDlsPSv4, each measurement's time, temperature and count rate from
// the summary table after "SOS".
DlsReadResult ReadDlsPS99v520(const std::string& in, const std::string& out, const DlsConditions& asked,
                              int channels);
// One table after "Coefficients (Ave)": tau, the measurements and their
// average; writes "average" and, with timeCourse, every measurement.
DlsReadResult ReadDlsPS99v526(const std::string& in, const std::string& out, const DlsConditions& asked,
                              int channels, bool timeCourse);
