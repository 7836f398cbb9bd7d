#pragma once
// Settings of the buffer-sedimentation correction ("buffer mismatch"):
// interference optics see the refractive-index difference of sample and
// reference sector, so buffer components that differ between the sectors
// (in concentration, composition or meniscus) sediment into a slowly growing
// signal of their own. Each side is one ideal solute with its own s (S) and
// D (1e-7 cm^2/s) or buoyant molar mass Mb (g/mol); the model adds
// SignalSign x (sample profile - reference profile).

struct BufferSedSettings {
  bool BufferSedOn = false;
  bool BufferSedWasOn = false;
  bool ExcessInSample = true;
  bool ExcessInReference = false;
  double SignalSign = 1.0;
  double SampleBufferD = 86.0;     // 1e-7 cm^2/s
  double SampleBufferMb = 60.0;    // g/mol
  double SampleBufferS = 0.21;     // S
  double BufferSignal = 30.0;      // >= 0; the sign is SignalSign
  bool MeniscusMismatch = false;
  double MeniscusDifference = 0.1;   // cm, sample minus reference meniscus
  double RelativeConcentration = 1.0;
  bool DifferentReferenceBuffer = false;
  double ReferenceBufferD = 200.0;
  double ReferenceBufferMb = 100.0;
  double ReferenceBufferS = 0.1;
  bool FloatSampleD = false;  // D, or Mb with the M-and-s parametrisation
  bool FloatSampleS = false;
  bool FloatBufferSignal = true;
  bool FloatMeniscusDifference = false;
  bool FloatRelativeConcentration = false;
  bool FloatReferenceD = false;
  bool FloatReferenceS = false;
  // One-shot flag of the buffer-mismatch subtraction: the evaluation that
  // sees it takes the buffer signal out of the scans instead of adding it.
  bool SubtractFromData = false;
  bool InterferenceNoteShown = false;
};

extern BufferSedSettings gBufferSedSettings;

// Inputs of one solver pass (one sector).
extern double BufferPassD;          // cm^2/s
extern double BufferPassS;          // S
extern double BufferPassAmplitude;  // uniform initial signal
extern double BufferPassMeniscus;   // cm
extern double BufferPassBottom;     // cm
extern bool BufferPassIsReference;
