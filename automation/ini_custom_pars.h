#pragma once
// The parameter file of an unattended analysis: a small XML text whose
// elements are found by a plain text search for their names (no XML
// parser), and the record CIniCustomPars that holds its values with their
// defaults for the whole run.
#include <cstdint>
#include <string>
#include <vector>

struct CIniCustomPars {
  // Capacities of the text buffers, the terminating zero included.
  static constexpr int kPathCapacity = 260;
  static constexpr int kChannelCapacity = 10;
  static constexpr int kWordCapacity = 100;

  CIniCustomPars();
  ~CIniCustomPars() = default;

  uint8_t valid = 0;  // 1 when the file was read completely and no element was repeated
  int32_t handshakeLength = 0;  // -1 without a handshake text, else its length
  std::string handshakeText;    // kept whole, whatever its length

  char AllDoneFlagFile[kPathCapacity] = {};
  char OutputResultsDirectory[kPathCapacity] = {};
  char DataDirectory[kPathCapacity] = {};
  char Channel[kChannelCapacity] = {};  // extension of the scan files, without the point
  int32_t FirstScan = -1;
  int32_t LastScan = -1;
  int32_t ScanInterval = 1;
  float Meniscus = 6.0f;  // cm
  float MeniscusLowerLimit = 5.95f;
  float MeniscusUpperLimit = 6.05f;
  uint8_t MeniscusFitted = 1;
  float Bottom = 7.2f;  // cm
  float BottomLowerLimit = 7.18f;
  float BottomUpperLimit = 7.25f;
  uint8_t BottomFitted = 0;
  float LeftFitLimit = 6.1f;  // cm
  float RightFitLimit = 7.0f;
  char Model[kWordCapacity] = {};               // "cofs" or "lsgofs"
  char RegularizationType[kWordCapacity] = {};  // "Tikhonov", else maximum entropy
  float RegularizationPvalue = 0.7f;
  float StartingFrictionalRatio = 1.3f;
  uint8_t FrictionalRatioFitted = 1;
  uint8_t BaselineFitted = 0;
  uint8_t RINoiseFitted = 0;
  uint8_t TINoiseFitted = 1;
  int32_t Resolution = 50;
  float Smin = 0.5f;  // S
  float Smax = 10.0f;
  uint8_t GridfromFile = 0;
  uint8_t UseLogSpaceSgrid = 0;
  float Vbar = 0.73f;             // ml/g
  float BufferDensity = 1.0f;     // g/ml
  float BufferViscosity = 0.01002f;  // poise
  uint8_t SupressBaselineCorrelation = 1;
  char FittingAlgorithm[kWordCapacity] = {};  // "Simplex" or "Levenberg-Marquardt"
  uint8_t ShowResidualsHistogram = 1;
  uint8_t AutoRun = 0;
  uint8_t AutoFit = 0;
  uint8_t AutoExit = 0;
  uint8_t AutoSubtractSystematicNoise = 0;
  int32_t NumberComputationThreads = 2;
  uint8_t FilterDataSpikes = 1;
  float DataSpikeThreshold = 0.4f;
  uint8_t CheckTimeStamps = 0;
  bool hasPassThrough = false;
  std::string PassThrough;  // free text copied into the result file

  // Why the last read refused the file (empty when it was accepted).
  std::string rejection;
  // Optional elements present in the file whose value could not be read (no
  // closing tag, an empty element, a switch holding none of TRUE, true,
  // FALSE, false): they keep their defaults, and the run's log names them.
  std::vector<std::string> unreadElements;
};

// The whole file as text, line ends as single line feeds. False when the
// path is empty or the file cannot be read or is no regular file.
bool ReadWholeFile(std::string& textOut, const std::string& path);

// What a lookup met: the element read, absent, there but without a value
// that can be read, or there twice.
enum class ElementOutcome { kRead, kAbsent, kUnreadable, kRepeated };

// One element looked up in text (or, when text is null, in the file at
// path). The opening tag may carry attributes; the value runs from the
// first ">" behind it to the closing tag. Every non-null out argument receives the value (the text
// with the XML entities &amp; &lt; &gt; &quot; &apos; decoded); the boolean
// conversion fails for a value holding none of TRUE, true, FALSE, false.
// An opening tag found again behind the element's closing tag makes the
// element repeated, and the lookup fails. outcome, when given, says which.
bool ReadXmlElement(const std::string* text, const std::string& path, const char* key,
                    std::string* textOut, float* floatOut, int32_t* intOut, uint8_t* boolOut,
                    ElementOutcome* outcome = nullptr);

// Fills the record from the file; true (and valid = 1) when the file is a
// regular file holding the eight required elements, no element twice, no
// text value longer than its buffer, and values an analysis can start from
// (Smin below Smax, positive buffer viscosity, density and starting f/f0,
// Resolution at least 2); rejection names the elements otherwise.
bool ReadAutomationParameterFile(CIniCustomPars& record, const std::string& path);
