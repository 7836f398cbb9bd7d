#include "automation/result_files.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

#include "automation/automation_state.h"
#include "automation/ini_custom_pars.h"
#include "automation/plot_exports.h"
#include "data/load_hooks.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "distributions/regularization_scaling.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/fit_end.h"
#include "numerics/ccurve.h"
#include "platform/error_box.h"
#include "numerics/statistics.h"
#include "platform/paths.h"
#include "platform/user_interface.h"
#include "plot/plot_window_set.h"
#include "plot/residual_statistics.h"

const char* const kTarnelVersionText = "1.0 (December 2026)";

namespace {

std::string Format(const char* format, double v) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, format, v);
  return buffer;
}


void ReportCannotOpen(const std::string& path) {
  const std::string text = "\n\aAttention: could not open " + path;
  ErrorBox(text.c_str());
}


// Little-endian fields of the BMP headers.
void Put16(std::vector<unsigned char>& b, uint32_t v) {
  b.push_back(static_cast<unsigned char>(v & 0xff));
  b.push_back(static_cast<unsigned char>((v >> 8) & 0xff));
}
void Put32(std::vector<unsigned char>& b, uint32_t v) {
  Put16(b, v & 0xffff);
  Put16(b, v >> 16);
}

const char* Bool(bool on) { return on ? "TRUE" : "FALSE"; }

void Element(std::string& x, const char* name, const std::string& value) {
  x += "\n<";
  x += name;
  x += ">";
  x += value;
  x += "</";
  x += name;
  x += ">";
}

}  // namespace

std::string XmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

bool SaveWindowAreaAsBmp(const std::string& path, const platform::Bitmap& client, int left,
                         int top, int right, int bottom, int bitsPerPixel) {
  const int width = right - left, height = bottom - top;
  if (width <= 0 || height <= 0) return false;
  if (bitsPerPixel != 24 && bitsPerPixel != 32) return false;
  const uint32_t rowBytes = ((static_cast<uint32_t>(bitsPerPixel) * width + 31) & ~31u) / 8;
  const uint32_t imageSize = rowBytes * static_cast<uint32_t>(height);

  std::vector<unsigned char> bytes;
  bytes.reserve(54 + imageSize);
  bytes.push_back('B');
  bytes.push_back('M');
  Put32(bytes, 54 + imageSize);
  Put16(bytes, 0);
  Put16(bytes, 0);
  Put32(bytes, 54);
  Put32(bytes, 40);
  Put32(bytes, static_cast<uint32_t>(width));
  Put32(bytes, static_cast<uint32_t>(height));
  Put16(bytes, 1);
  Put16(bytes, static_cast<uint32_t>(bitsPerPixel));
  Put32(bytes, 0);
  Put32(bytes, imageSize);
  Put32(bytes, 0);
  Put32(bytes, 0);
  Put32(bytes, 0);
  Put32(bytes, 0);
  // Rows bottom-up, pixels blue-green-red; outside the capture is white.
  for (int row = height - 1; row >= 0; --row) {
    const std::size_t start = bytes.size();
    for (int col = 0; col < width; ++col) {
      const int x = left + col, y = top + row;
      const bool inside = x >= 0 && y >= 0 && x < client.Width() && y < client.Height();
      const uint32_t c = inside ? client.GetPixel(x, y) : 0xffffffu;
      bytes.push_back(static_cast<unsigned char>((c >> 16) & 0xff));
      bytes.push_back(static_cast<unsigned char>((c >> 8) & 0xff));
      bytes.push_back(static_cast<unsigned char>(c & 0xff));
      if (bitsPerPixel == 32) bytes.push_back(0);
    }
    while (bytes.size() - start < rowBytes) bytes.push_back(0);
  }
  return platform::WriteWholeFile(path, std::string(bytes.begin(), bytes.end()));
}

std::string FittingStepsText() {
  const FitEngineState& fs = gFitEngineState;
  char text[200];
  // The static-grid solver's time-step marker is not kept by the solvers
  // here, so the blanks of the moving-frame case follow.
  if (fs.useMarquardt)
    std::snprintf(text, sizeof text, "sim #%d, ML step #%d, step #%d     ", fs.evaluationsTotal,
                  fs.minimiserRuns, fs.evaluationsThisRun);
  else if (fs.useAnnealing)
    std::snprintf(text, sizeof text, "sim #%d, SA step #%d, step#%d, T=%.3f     ",
                  fs.evaluationsTotal, fs.minimiserRuns, fs.evaluationsThisRun,
                  static_cast<double>(fs.annealTemperature));
  else
    std::snprintf(text, sizeof text, "s%d, step #%d     ", fs.minimiserRuns,
                  fs.evaluationsThisRun);
  return text;
}

namespace {

std::string ResultPath(const CIniCustomPars& r, const char* name) {
  return platform::Combine(r.OutputResultsDirectory, name);
}

}  // namespace

std::string ComposeResultParametersXml(const CIniCustomPars& r, bool screenshotWritten) {
  const ScanSet& s = CurrentScanSet();
  const FitEngineState& fs = gFitEngineState;
  const ModelParams& mp = gModelParams;
  const ContiSettings& c = Conti();
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  const SolutionConditions& sc = gSolutionConditions;

  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  x += "<cGMPTarnel>\n";
  Element(x, "TARNELVersion", std::string("TARNEL  version ") + kTarnelVersionText);
  // A failed run still writes its set (the state it reached); this element
  // tells a reader not to take it for a finished analysis.
  const AutomationState& state = CurrentAutomationState();
  if (state.exitCode != kAutomationOk)
    Element(x, "Failure",
            XmlEscape(state.failedStep) + "; exit status " + std::to_string(state.exitCode));
  // A regularisation that ended at a limit of its own rather than at its
  // chi-square ratio: the distribution is the one nearest to it.
  if (!Regularization().limitNote.empty())
    Element(x, "RegularizationLimit", XmlEscape(Regularization().limitNote));
  Element(x, "ScreenShotPath",
          screenshotWritten ? XmlEscape(ResultPath(r, "screenshot.bmp")) : std::string());
  Element(x, "CofsDataPath", XmlEscape(ResultPath(r, "distribution.dat")));
  Element(x, "TINoisePath", XmlEscape(ResultPath(r, "TInoise.dat")));
  Element(x, "RINoisePath", XmlEscape(ResultPath(r, "RInoise.dat")));
  Element(x, "ScanRMSDpath", XmlEscape(ResultPath(r, "ScanRMSD.dat")));
  if (r.hasPassThrough) Element(x, "PassThrough", XmlEscape(r.PassThrough));
  x += "\n<ScanDataFilesLoaded>";
  const FileNameList& list = CurrentFileNameList();
  for (int k = 1; k <= list.count && static_cast<std::size_t>(k) < list.names.size(); ++k)
    x += "\n  " + XmlEscape(list.names[static_cast<std::size_t>(k)]);
  x += "\n</ScanDataFilesLoaded>";
  x += "\n<FittingStepsText>" + FittingStepsText() + "</FittingStepsText>";
  // How the Fit ended, when one ran: a limit or an undetermined quantity
  // leaves status 0, and a reader learns of it here.
  if (LastFitEnd().kind != FitEndKind::None) {
    Element(x, "FitEnd", FitEndKindName(LastFitEnd().kind));
    Element(x, "FitEndNote", XmlEscape(LastFitEnd().text));
  }

  const double rmsd = fs.currentRmsd, points = fs.rmsdPointCount;
  Element(x, "RMSD", Format("%f", rmsd));
  Element(x, "RMSD-points", Format("%.0f", points));
  Element(x, "RMSD-SSR", Format("%f", rmsd * rmsd * points));
  float runsZ = 0;
  if (s.count > 0) {
    std::vector<int> first(static_cast<std::size_t>(s.count) + 1),
        last(static_cast<std::size_t>(s.count) + 1);
    std::vector<float*> model(static_cast<std::size_t>(s.count) + 1, nullptr);
    bool haveModel = true;
    for (int i = 1; i <= s.count; ++i) {
      ScanFitRange(s, i, first[static_cast<std::size_t>(i)], last[static_cast<std::size_t>(i)]);
      model[static_cast<std::size_t>(i)] = s.model[i];
      if (!s.model[i]) haveModel = false;
    }
    if (haveModel)
      runsZ = RunsTestZ(const_cast<float**>(s.signals.data()), model.data(), 1, s.count,
                        const_cast<int*>(s.order.data()), first.data(), last.data());
  }
  Element(x, "RunsTestZ", Format("%f", runsZ));
  float histogramH = 0;
  ComputeResidualStatistics(nullptr, nullptr, nullptr, nullptr, nullptr, &histogramH);
  Element(x, "HistogramH", Format("%f", histogramH));
  // One method, the one in use (Marquardt-Levenberg before annealing before
  // Simplex, as the fit report names it); empty when none is chosen.
  const char* method = fs.useMarquardt ? "Levenberg-Marquardt"
                       : fs.useAnnealing ? "SimulatedAnnealing"
                       : fs.useSimplex ? "Simplex"
                                       : "";
  Element(x, "FittingAlgorithm", method);
  Element(x, "Meniscus", Format("%f", mp.meniscus));
  Element(x, "MeniscusLowerLimit", Format("%f", fs.meniscusMin));
  Element(x, "MeniscusUpperLimit", Format("%f", fs.meniscusMax));
  Element(x, "MeniscusFitted", Bool(mp.meniscusFit != 0));
  Element(x, "Bottom", Format("%f", mp.bottom));
  Element(x, "BottomLowerLimit", Format("%f", fs.bottomMin));
  Element(x, "BottomUpperLimit", Format("%f", fs.bottomMax));
  Element(x, "BottomFitted", Bool(mp.bottomFit != 0));
  Element(x, "LeftFitLimit", Format("%f", s.leftFitLimit));
  Element(x, "RightFitLimit", Format("%f", s.rightFitLimit));
  const bool baseline =
      mp.baselineFit != 0 || (mp.baselineLinear != 0 && !mp.riNoiseFit && !fs.fitTINoise);
  x += std::string("\n\t<BaselineFitted>") + Bool(baseline) + "</BaselineFitted>";
  Element(x, "RINoiseFitted", Bool(mp.riNoiseFit != 0));
  Element(x, "TINoiseFitted", Bool(fs.fitTINoise != 0));
  if (sel.DistributionModel) Element(x, "Model", sel.LsgStarModel ? "lsgofs" : "cofs");
  Element(x, "RegularizationType",
          c.maxEntropy ? "maxent" : (c.secondDerivative ? "Tikhonov" : ""));
  Element(x, "RegularizationPvalue", Format("%f", c.confidenceLevel));
  Element(x, "StartingFrictionalRatio", Format("%f", r.StartingFrictionalRatio));
  Element(x, "FrictionalRatio", Format("%f", c.ffValue));
  // What the fit did: ls-g*(s) has no f/f0 to fit, whatever the switch says.
  const bool lsg = sel.DistributionModel && (sel.LsgStarModel || sel.LsgStarWith1DiscreteModel);
  Element(x, "FrictionalRatioFitted", Bool(c.fitFfValue != 0 && !lsg));
  Element(x, "Resolution", Format("%.0f", c.resolution));
  Element(x, "Smin", Format("%f", c.sMin));
  Element(x, "Smax", Format("%f", c.sMax));
  Element(x, "GridfromFile", Bool(c.gridFromFile != 0));
  Element(x, "UseLogSpaceSgrid", Bool(c.logSpacedGrid != 0));
  Element(x, "Vbar", Format("%f", sc.vbar));
  Element(x, "BufferDensity", Format("%f", sc.density));
  Element(x, "BufferViscosity", Format("%f", static_cast<double>(sc.viscosity) * 0.01002));
  Element(x, "SupressBaselineCorrelation", Bool(c.suppressBaselineCorrelation != 0));
  Element(x, "CheckTimeStamps", Bool(*CurrentLoadTargets().checkTimeStamps != 0));

  ScanRecord lastScan, firstScan;
  double tMean = 0, tMin = 0, tMax = 0;
  if (s.count > 0) {
    lastScan = s.records[static_cast<std::size_t>(s.order[s.count])];
    firstScan = s.records[static_cast<std::size_t>(s.order[1])];
    tMin = tMax = s.records[1].temperature;
    for (int i = 1; i <= s.count; ++i) {
      const double t = s.records[static_cast<std::size_t>(i)].temperature;
      tMean += t;
      tMin = std::min(tMin, t);
      tMax = std::max(tMax, t);
    }
    tMean /= s.count;
  }
  Element(x, "RotorSpeed", Format("%.0f", lastScan.rpm));
  Element(x, "Wavelength", Format("%.3f", lastScan.wavelength));
  Element(x, "w2tLastScan", Format("%e", lastScan.w2t));
  Element(x, "tLastScan", Format("%e", lastScan.timeRead));
  Element(x, "TemperatureStart", Format("%e", firstScan.temperature));
  Element(x, "TemperatureEnd", Format("%e", lastScan.temperature));
  Element(x, "TemperatureAverage", Format("%e", tMean));
  Element(x, "TemperatureDiffMax-Min", Format("%.3f", tMax - tMin));
  if (r.AutoExit) Element(x, "AutoExit", "TRUE");
  x += "\n</cGMPTarnel>\n";
  return x;
}

bool WriteAutomationResultFiles(const CIniCustomPars& r, const ResultScreenshot& shot,
                                std::string* failures) {
  std::string failed;
  auto fail = [&](const std::string& what) {
    if (!failed.empty()) failed += "; ";
    failed += what;
  };
  // Each writer writes its file under a temporary name and renames it into
  // place (platform::CheckedOutputFile): a run killed midway leaves no cut
  // file under a result's name, and a failure names the result itself.
  auto put = [&](const std::string& path, const std::function<bool(const std::string&)>& write) {
    if (write(path)) return true;
    fail("could not write " + path);
    return false;
  };
  auto text = [](const std::string& content) {
    return [&content](const std::string& path) { return platform::WriteWholeFile(path, content); };
  };
  // One level is created; an existing folder is fine.
  if (!platform::DirectoryExists(r.OutputResultsDirectory))
    platform::CreateDirectory(r.OutputResultsDirectory);

  // Without a picture there is no screenshot, and ScreenShotPath stays empty.
  bool screenshotWritten = false;
  if (shot.wanted && !shot.client.Empty()) {
    const std::string path = ResultPath(r, "screenshot.bmp");
    screenshotWritten = put(path, [&](const std::string& p) {
      return SaveWindowAreaAsBmp(p, shot.client, 0, 0, shot.client.Width(),
                                 shot.client.Height(), 24);
    });
  }

  const ScanSet& s = CurrentScanSet();
  {
    const ContiSettings& c = Conti();
    const bool computed = c.sValues && c.distribution && c.gridSize > 0;
    // Without a distribution the file still belongs to the set; it stays empty.
    const std::string empty;
    put(ResultPath(r, "distribution.dat"),
        computed ? std::function<bool(const std::string&)>([](const std::string& p) {
          return WriteDistributionForPlot(false, p.c_str()) == 1;
        })
                 : std::function<bool(const std::string&)>(text(empty)));
  }
  {
    std::vector<float> rad(1, 0.0f), ti(1, 0.0f);
    for (int j = 1; s.grid && j <= s.gridLength; ++j) {
      if (s.leftFitLimit != 0 && s.grid[j] < s.leftFitLimit) continue;
      if (s.rightFitLimit != 0 && s.grid[j] > s.rightFitLimit) break;
      rad.push_back(s.grid[j]);
      ti.push_back((s.tiNoiseSubtracted ? s.tiNoiseSubtracted[j] : 0.0f) +
                   (s.tiNoise ? s.tiNoise[j] : 0.0f));
    }
    put(ResultPath(r, "TInoise.dat"), [&](const std::string& p) {
      return WriteXYArrays(p.c_str(), static_cast<int>(rad.size()) - 1, rad.data(), ti.data());
    });
  }
  {
    std::vector<float> t(static_cast<std::size_t>(s.count) + 1, 0.0f),
        ri(static_cast<std::size_t>(s.count) + 1, 0.0f);
    for (int k = 1; k <= s.count; ++k) {
      const int i = s.order[k];
      t[static_cast<std::size_t>(k)] = static_cast<float>(s.records[static_cast<std::size_t>(i)].time);
      ri[static_cast<std::size_t>(k)] = TotalRINoise(s, i);
    }
    put(ResultPath(r, "RInoise.dat"), [&](const std::string& p) {
      return WriteXYArrays(p.c_str(), s.count, t.data(), ri.data());
    });
  }
  put(ResultPath(r, "ScanRMSD.dat"), [](const std::string& p) { return WriteScanRmsToFile(p); });
  // The plots' per-scan rmsd file of the run is a result too: written again
  // from the final state when the run wrote it or failed to, or when anything
  // stands at its name, so that a pipe there or a full disk fails the set
  // like any other result file.
  if (CurrentAutomationState().automationMode) {
    const PlotWindowSet& w = CurrentPlotWindows();
    const std::string scanRms = w.scanRmsPath;
    std::error_code error;
    const bool present = std::filesystem::symlink_status(platform::ToNative(scanRms), error).type() !=
                         std::filesystem::file_type::not_found;
    if (!scanRms.empty() && (!w.scanRmsEnabled || present) && !WriteScanRmsToFile(scanRms))
      fail("could not write " + scanRms);
  }
  put(ResultPath(r, "dfr.dat"),
      [&](const std::string& p) { return WriteSvdfrData(p.c_str()) == s.count; });
  // A file that could not be written fails the run before the summary is
  // composed, so that the summary names that failure too.
  if (!failed.empty())
    RecordAutomationFailure(kAutomationWriteFailed, "result files",
                            "result set incomplete, no flag file written: " + failed);
  const std::string xml = ComposeResultParametersXml(r, screenshotWritten);
  const std::string xmlPath = ResultPath(r, "ResultParameters.xml");
  if (!put(xmlPath, text(xml)))
    RecordAutomationFailure(kAutomationWriteFailed, "result files",
                            "result set incomplete, no flag file written: could not write " +
                                xmlPath);
  // Last, and only after a complete set: its appearance tells that the set
  // beside it is whole (ResultParameters.xml tells whether the run failed).
  if (failed.empty()) {
    const std::string flag =
        r.handshakeLength >= 1 ? r.handshakeText : std::string("no handshake found");
    if (!put(r.AllDoneFlagFile, text(flag))) {
      ReportCannotOpen(r.AllDoneFlagFile);
      // A pipeline that waits for the flag must learn from the status and
      // the summary that it will never come.
      RecordAutomationFailure(kAutomationWriteFailed, "flag file",
                              "no flag file written: could not write \"" +
                                  std::string(r.AllDoneFlagFile) + "\"");
      if (!put(xmlPath, text(ComposeResultParametersXml(r, screenshotWritten))))
        RecordAutomationFailure(kAutomationWriteFailed, "result files",
                                "could not write " + xmlPath);
    }
  }
  if (failures) *failures = failed;
  return failed.empty();
}
