// Design centre frequency of a coupler of given length: the frequency at
// which the length is a quarter of the guided wavelength, the guided
// wavelength taken from the dispersive coupler permittivity at that
// frequency.
#include <cmath>

#include "common/constants.h"
#include "models/dispersion/dispersion.h"
#include "models/dispersion/msfsyn.h"

namespace kx {

namespace {
constexpr float kFirstStep = 10.0f;    // GHz
constexpr float kTolerance = 1.0E-4f;  // relative length error accepted
// Previous error before the first candidate: large and positive, so the
// first comparison sees no change of sign when the first error is positive.
constexpr float kNoError = 1.0E20f;
// Bound on the candidates: a length whose quarter-wave frequency lies beyond
// about 100 THz, or one that is not positive, would otherwise step for ever
// (above 2^24 GHz the 10 GHz step no longer even changes the candidate).
constexpr int kMaxCandidates = 10000;
}  // namespace

void msfsyn(Records& rec, float effc, float effe, float effo, float er, float& f, float h, float l,
            float s, float wte, float wto) {
  f = 0.0f;
  float deltaf = kFirstStep;
  float zero = kNoError;
  float last = f;
  for (int candidate = 1; candidate <= kMaxCandidates; ++candidate) {
    f = f + deltaf;
    last = f;
    const float zero1 = zero;
    lceff(rec, effc, effe, effo, er, f, h, ieoro_both, iop_both_modes, s, wte, wto);
    const float ltest = light_speed / (4.0f * f * std::sqrt(rec.lceff1.effcf));
    zero = (ltest - l) * (1.0f / l);
    if (std::fabs(zero) < kTolerance) {
      return;
    }
    const float r = zero1 / zero;
    if (!(r > 0.0f)) {
      // The last step crossed the solution: step back and halve.
      f = f - deltaf;
      deltaf = deltaf / 2.0f;
      zero = zero1;
    }
  }
  // Bound exhausted: return the last candidate, whose values lceff1 holds.
  f = last;
}

}  // namespace kx
