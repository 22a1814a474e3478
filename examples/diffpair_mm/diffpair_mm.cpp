// A 100 ohm differential pair on 0.2 mm FR-4, typed in millimetres: its
// differential and common-mode impedances (Zdiff = 2 Zoo, Zcomm = Zoe/2)
// and the 4x4 S-matrix of 10 mm of it at 5 GHz, referred to 50 ohms, by the
// field model (the library's default evaluator).
#include <cstdio>

#include <kestrelix/coupled_line.h>
#include <kestrelix/diff_pair.h>
#include <kestrelix/validity.h>

int main() {
  kx::Section pair;
  pair.er = 4.3f;
  pair.h = kx::from_mm(0.2);
  pair.h2 = kx::from_mm(2.0);  // the shield lid
  pair.w = kx::from_mm(0.25);
  pair.s = kx::from_mm(0.2);
  pair.t = kx::from_mm(0.035);
  kx::Materials copper;
  copper.res = 1.7f;  // micro-ohm-cm
  copper.sr = 20.0f;  // micro-inch
  copper.tlos = 0.02f;
  const float f = 5.0f;  // GHz

  kx::CoupledLine line;
  // The pair as it is (kx::study::PairSolve::s would find S for a Zdiff).
  kx::study::DiffPairPlan plan;
  plan.section = pair;
  plan.f = f;
  const kx::study::DiffPair d = kx::study::diff_pair(line, plan);
  if (!d.valid) {
    std::fprintf(stderr, "the pair is not valid here: %s\n", kx::validity_codes(d.flags).c_str());
    return 1;
  }

  kx::ResponseOptions options;
  options.f = f;
  options.length = kx::from_mm(10.0);  // inch, the library's unit
  options.rs = options.rl = 50.0f;     // ohms
  options.reference = 50.0f;           // ohms, every port of the S-matrix
  const kx::Response r = line.response(pair, copper, options);
  const kx::Modes& m = r.modes;

  std::printf("Pair W %.3f mm, S %.3f mm on H %.3f mm, Er %.2f, at %.1f GHz\n", kx::to_mm(pair.w),
              kx::to_mm(pair.s), kx::to_mm(pair.h), pair.er, f);
  std::printf("  Zoe   = %8.3f ohm   Zoo   = %8.3f ohm\n", d.modes.zoe, d.modes.zoo);
  std::printf("  Zdiff = %8.3f ohm   Zcomm = %8.3f ohm\n", d.zdiff, d.zcomm);
  std::printf("  loss even %.4f dB/mm, odd %.4f dB/mm\n", m.loss_e / kx::to_mm(1.0f),
              m.loss_o / kx::to_mm(1.0f));
  std::printf(
      "S-matrix of %.1f mm (real, imaginary), 50 ohm ports 1 in, 2 coupled, 3 isolated, 4 "
      "thru:\n",
      kx::to_mm(options.length));
  for (const auto& row : r.s) {
    for (const auto& s : row) std::printf("  %8.4f %8.4f", s.real(), s.imag());
    std::printf("\n");
  }
  return 0;
}
