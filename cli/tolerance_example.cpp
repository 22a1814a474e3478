// The worked example of the tolerance engine: a 10 dB, 50 ohm coupler at
// 2.4 GHz on Er 3.66, H 20 mil, T 1.4 mil under a cover at 250 mil, with W
// and S from the synthesis, sampled with +-0.5 mil on W and S, +-1 mil on H
// and +-0.05 on Er.
//
//   kx_tolerance_example [SAMPLES.csv] [table|csv|json]
#include <cmath>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "cli/tolerance.h"

int main(int argc, char** argv) {
  try {
    kx::tol::Spec spec;
    spec.nominal = {3.66f, 0.020f, 0.25f, 0.0f, 0.0f, 0.0014f};
    spec.f = 2.4f;
    kx::CoupledLine line;
    const kx::Synthesis syn = line.synthesise(spec.nominal, 50.0f, -10.0f, spec.f);
    if (!syn.valid) {
      std::cerr << "the synthesis did not converge\n";
      return 1;
    }
    // W and S to 0.01 mil, as they would be typed on the command line.
    const auto mil = [](float inch) {
      return static_cast<float>(std::round(static_cast<double>(inch) * 1.0e5) / 1.0e5);
    };
    spec.nominal.w = mil(syn.w);
    spec.nominal.s = mil(syn.s);
    spec.centre = 2.4f;
    spec.tol[kx::tol::p_w] = 0.0005f;
    spec.tol[kx::tol::p_s] = 0.0005f;
    spec.tol[kx::tol::p_h] = 0.001f;
    spec.tol[kx::tol::p_er] = 0.05f;
    spec.samples = 100000;
    spec.seed = 1;
    spec.inches_per_unit = 0.001;
    spec.unit_name = "mil";
    spec.limits.push_back(kx::tol::parse_limit("coupling_db=9.5:10.5"));
    spec.limits.push_back(kx::tol::parse_limit("zo=48:52"));
    spec.limits.push_back(kx::tol::parse_limit("return_loss_db=20:"));
    if (argc > 1) spec.samples_out = argv[1];
    const std::string format = argc > 2 ? argv[2] : "table";

    std::fprintf(stderr, "synthesised W %.4f mil, S %.4f mil\n", static_cast<double>(syn.w) * 1000.0,
                static_cast<double>(syn.s) * 1000.0);
    const kx::tol::Summary sum = kx::tol::run(spec);
    if (format == "csv") {
      kx::tol::write_csv(std::cout, spec, sum);
    } else if (format == "json") {
      kx::tol::write_json(std::cout, spec, sum);
    } else {
      kx::tol::write_table(std::cout, spec, sum);
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "kx_tolerance_example: " << e.what() << "\n";
    return 1;
  }
}
