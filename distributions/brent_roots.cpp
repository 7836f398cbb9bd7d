#include "distributions/brent_roots.h"

#include "distributions/conti_context.h"
#include "distributions/conti_settings.h"
#include "fit/serial_fit_settings.h"
#include "numerics/brent_root.h"

namespace {

// Brent's root finder; a root not found in 200 steps is reported as the
// run's error 4 and taken as 0.
template <typename Real, typename F>
Real Brent(const F& f, Real a, Real b, Real fa, Real fb, Real tol, Real eps) {
  Real root;
  if (BrentRoot(f, a, b, fa, fb, tol, eps, 200, &root)) return root;
  ContiErrorOrCode("Maximum number of iterations exceeded in zbrent", 4);
  return 0;
}

}  // namespace

float zbrent(const std::function<float(float)>& f, float x1, float x2, float tol) {
  float fa = f(x1), fb = f(x2);
  for (int i = 0; i < 10 && SameSign(fa, fb); ++i) {
    x2 = 2.0f * x2;
    fb = f(x2);
  }
  if (SameSign(fa, fb)) {
    ContiSettings& cs = Conti();
    if (SerialFitRunning()) {
      gSerialFitSettings.errorCode = 3;
    } else if (!cs.wormLikeChain) {
      ContiErrorOrCode("problem in regularization, cannot reach chi-square increase; try using fewer scans", 3);
    } else if (!cs.wormLikeChainOnce) {
      cs.wormLikeChainOnce = 1;
    } else {
      ContiErrorOrCode("problem in finding M(s) for low Mw in worm-like chain model", 3);
    }
  }
  return Brent<float>(f, x1, x2, fa, fb, tol, 3.0e-8f);
}

double zbrentRoot(const std::function<double(double)>& f, double x1, double x2, double tol) {
  const double fa = f(x1), fb = f(x2);
  if (SameSign(fa, fb))
    ContiErrorOrCode("too many iterations finding root", 5);
  return Brent<double>(f, x1, x2, fa, fb, tol, 1e-16);
}
