// The wideband line's studies (double precision, SI: hertz, metres, dB/m):
// its R, L, G and C over frequency, the attenuation of each of its modes
// (a pair's differential and common ones), and the S-parameters of a length
// of it, single-ended and mixed-mode; all from one static solve set
// (kestrelix/rlgc.h: pair_statics for the edge-coupled pair, stack_statics
// for a cross-section of kx::stack), which is where the field solutions are
// made. And the losses from the field of the closed forms' cross-section,
// which the analysis sweeps' rows take in place of the closed forms' losses.
//
//   kx::study::LinePlan plan;
//   plan.statics = kx::rlgc::pair_statics(geometry, materials);
//   plan.f_hz = kx::study::frequencies(1e9, 40e9, 1e9);
//   kx::study::loss_study(plan, [](const kx::study::LossRow& r) {
//     use(r.f_hz, r.modes[r.differential].alpha);   // dB/m
//     return true;
//   });
//
// Unlike the sweeps these check their plan first and throw
// std::invalid_argument with check()'s one-line reason for one they cannot
// take; between frequencies they poll the Stop.
#pragma once

#include <string>
#include <vector>

#include <kestrelix/coupled_line.h>
#include <kestrelix/line_network.h>
#include <kestrelix/rlgc.h>
#include <kestrelix/study.h>

namespace kx::study {

// start, start + step, ... up to stop (Hz, the last within 1e-9 of a step):
// floor((stop - start) / step + 1e-9) + 1 points, point k at start + k step
// rounded to the millihertz.
// Empty when an end is not finite and positive, the step not above 0, stop
// below start, or the count above max_points (a step too small for its range).
std::vector<double> frequencies(double start_hz, double stop_hz, double step_hz,
                                long long max_points = 1000000);

struct LinePlan {
  rlgc::LineStatics statics;
  std::vector<double> f_hz;  // each finite and positive
};

// "" when the plan can be run, else a one-line reason.
std::string check(const LinePlan& plan);

// R, L, G, C at each frequency (with the bound on R's error).
void rlgc_study(const LinePlan& plan, const Sink<rlgc::Rlgc>& sink, const Stop* stop = nullptr);

// The modes at one frequency, fastest first, each with its attenuation
// (alpha, dB/m), its conductor and dielectric shares, its impedance and
// effective permittivity. For a pair (two conductors) `differential` and
// `common` index the mode whose voltages have opposite signs and the other
// (a symmetric pair's odd and even modes: Zdiff = 2 z, Zcomm = z / 2);
// -1 for other lines.
struct LossRow {
  double f_hz = 0.0;
  std::vector<rlgc::LineMode> modes;
  int differential = -1, common = -1;
};

void loss_study(const LinePlan& plan, const Sink<LossRow>& sink, const Stop* stop = nullptr);

// A length of the line between ports referred to z_ref: its 2N-port in
// the line's numbering (kestrelix/line_network.h) and, for a pair, its
// mixed-mode matrix (D1, D2, C1, C2). A symmetric pair is formed from its
// even and odd modes (no mode conversion at all), any other line by the
// modal decomposition.
struct SParameterPlan {
  LinePlan line;
  double length_m = 0.0;
  double z_ref = 50.0;  // ohms
};
std::string check(const SParameterPlan& plan);

struct SParameterRow {
  double f_hz = 0.0;
  rlgc::CMatrix s;      // 2N x 2N
  rlgc::CMatrix mixed;  // a pair: 4 x 4; size 0 otherwise
};

void sparameter_study(const SParameterPlan& plan, const Sink<SParameterRow>& sink,
                      const Stop* stop = nullptr);

// ------------------------------------------------ a board cross-section's dielectrics

// The dielectrics of a board cross-section (kestrelix/stack.h) as the
// datasheets give them: each layer's er and loss_tangent, and the mask's,
// taken as one (Dk, Df) pair at f_datasheet_hz and fitted with `model`
// (Djordjevic-Sarkar: causal, the loss tangent nearly constant over the
// band). Into m.layers (one per layer) and m.mask (mask_set); the rest of
// `m` is left as it is. Throws std::invalid_argument naming the layer
// ("layers[1] (above): ...") for a pair the model cannot fit.
void datasheet_dielectrics(const stack::Stack& s, double f_datasheet_hz,
                           materials::DielectricModel model, rlgc::StackMaterials& m);

// ------------------------------------------------ losses of the closed forms' section

// The conductor and dielectric attenuation of both modes of the
// edge-coupled pair `sec` (the closed forms' cross-section, inches; H2
// infinite: open) with `coat`, from the field with the wideband materials:
// the static set of the pair (kx::rlgc::pair_statics) at f GHz. The radiation
// of the open pair is not in it. Keeps the static set of the last
// cross-section, so a sweep over frequency solves the field once.
class PairFieldLosses {
 public:
  PairFieldLosses(const rlgc::PairMaterials& materials, const rlgc::PairOptions& options,
                  const Coating& coat = {});
  // dB per inch, positive; at f = 0 the D.C. value 0 (no wave is attenuated
  // at D.C.). Throws std::invalid_argument with the solver's reason for a
  // cross-section it cannot take.
  Attenuation at(const Section& sec, float f_ghz);
  // The bound on each mode's conductor attenuation at the last call, dB per inch.
  Attenuation conductor_error() const { return error_; }

 private:
  rlgc::PairMaterials materials_;
  rlgc::PairOptions options_;
  Coating coat_;
  bool solved_ = false;
  field::Geometry geometry_;
  rlgc::LineStatics statics_;
  Attenuation error_;
};

}  // namespace kx::study
