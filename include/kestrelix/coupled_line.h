// kestrelix: analysis and synthesis of edge-coupled microstrip couplers
// under a metal cover. By default (Model::field) the static values of the
// field solver (kestrelix/field.h) carried to frequency by the published
// dispersion formulas; with Model::closed the closed forms alone
// (Hammerstad-Jensen, Kirschning-Jansen, Wheeler, Akhtarzad) in 32-bit
// arithmetic, as the console dialogue prints them.
//
// Units: lengths in inches (kestrelix/units.h converts from mm, mil and
// um), frequencies in GHz, impedances in ohms, resistivity in micro-ohm-cm,
// roughness in micro-inches, phases in degrees.
//
// Signs, as the field writes them: coupling is a positive number of dB
// (10 = a 10 dB coupler); attenuation is a positive number of dB per inch;
// S-parameters in dB are 20 log10 |S|, the negative numbers they are.
//
// Validity: every result carries `valid` and `flags` (kestrelix/validity.h).
// valid is false whenever a value of the result is not a finite number (one
// that should exist), the models refuse the input (flag_refused: a length
// not above 0 ...), or the point is outside a range or limit of the models
// (a frequency given in Hz: flag_fh); the flags say which. A value that does not exist (the
// level and phase of a port no wave leaves, the coupling of a pair without
// coupling) is NaN, and the result says why (Ports::wave, the flags). No
// call throws for a value it is given.
//
// Example:
//   kx::Section sec;
//   sec.er = 3.66f;
//   sec.h = kx::from_mil(20.0);
//   sec.h2 = kx::from_mil(250.0);
//   sec.t = kx::from_mil(1.4);
//   sec.w = kx::from_mil(34.3);
//   sec.s = kx::from_mil(3.7);
//   kx::CoupledLine line;                      // the field model
//   const kx::Modes m = line.at(sec, 2.4f);
//   if (!m.valid) { /* m.flags says why: kx::validity_codes(m.flags) */ }
//   // m.zoe, m.zoo, m.zo, m.coupling_db (about 10), m.eff_e, m.eff_o ...
//   // m.error_zoo: the solver's own estimate of its error
//
//   kx::CoupledLine closed(kx::ModelSettings{kx::Model::closed});
//   const kx::Modes c = closed.at(sec, 2.4f);  // the closed forms, as the dialogue prints them
#pragma once

#include <array>
#include <complex>
#include <memory>
#include <vector>

#include <kestrelix/field.h>
#include <kestrelix/field_local.h>
#include <kestrelix/section.h>
#include <kestrelix/units.h>

namespace kx {

// Where the static values of a cross-section come from.
enum class Model {
  closed,  // the closed forms, 32-bit (the program's heritage)
  field,   // the field solver (kestrelix/field.h): its static Zoe, Zoo, eff_e and eff_o,
           // carried to f by the closed forms' dispersion formulas; the losses, the
           // effective widths the dispersion reads, and the synthesis's starting
           // point are the closed forms' for the same geometry
};

// Factors on the closed forms' static Zoe, Zoo, eff_e and eff_o, applied
// before the dispersion: the closed forms corrected to a field solution at
// one cross-section (field value over closed-form value there) and used for
// its neighbours at the cost of the closed forms (all 1: the closed forms as
// they are). field_ratios() forms them.
struct StaticRatios {
  double zoe = 1.0, zoo = 1.0, eff_e = 1.0, eff_o = 1.0;
  bool identity() const { return zoe == 1.0 && zoo == 1.0 && eff_e == 1.0 && eff_o == 1.0; }
};

// How an evaluator computes: the field model unless told otherwise
// (ModelSettings{Model::closed}: the closed forms, as the dialogue prints
// them).
struct ModelSettings {
  ModelSettings() = default;
  explicit ModelSettings(Model m) : model(m) {}

  Model model = Model::field;
  field::Accuracy accuracy = field::Accuracy::standard;  // Model::field
  // Model::field: the solver's fast path (its tabulated direct solutions,
  // within 0.1 % of them; a direct solution where the tables do not reach)
  // or always the direct solution.
  field::Method method = field::Method::fast;
  Coating coating;      // Model::field (the closed forms have none)
  StaticRatios ratios;  // Model::closed
  // Model::field with Method::fast: models of the solver built from its
  // direct solutions (kestrelix/field_local.h, at this accuracy and
  // coating) that serve the cross-sections they cover where the tables do
  // not reach (a coating, the fine accuracy): a local model, then the first
  // sweep model that covers a section; a model that does not hold is not
  // consulted. Shared, read only: any number of evaluators may use one.
  std::shared_ptr<const field::LocalModel> local;
  std::vector<std::shared_ptr<const field::SweepModel>> sweeps;
  // Model::field: the solver's error estimates (Modes::error_zoe ..., and
  // so the field_error flag) measured against a more accurate solution of
  // each cross-section (field::measured: 2 to 5 times the true error at the
  // median instead of 12 to 23 times, bounding it all the same), at 7 ms a
  // cross-section at the median, up to some 40 (17 and 120 at the fine
  // accuracy), on top of its solution. The values do not change. Off: the a-priori estimates.
  bool measured_error = false;
};

// The field model's solutions an evaluator has made: interpolated by the
// fast path, served by a local or a sweep model, solved directly, and of
// those the fallbacks (asked for the fast path, outside the tables and the
// models). A kept solution used again is not counted.
struct FieldCounts {
  long long fast = 0;
  long long local = 0;
  long long sweep = 0;
  long long direct = 0;
  long long fallbacks = 0;
};

// The result of one evaluation of a cross-section.
struct Modes {
  float f{};  // GHz

  // Static (D.C.) values.
  float wte{}, wto{};                        // even/odd effective strip widths, inch
  float eff_c_dc{}, eff_e_dc{}, eff_o_dc{};  // coupler, even, odd effective permittivity
  float zoe_dc{}, zoo_dc{}, zo_dc{};         // ohms
  float coupling_db_dc{};                    // dB, positive (NaN: Zoo at or above Zoe)

  // Dispersive values at f (equal to the static ones at f = 0).
  float eff_c{}, eff_e{}, eff_o{};
  float zoe{}, zoo{}, zo{};
  float coupling_db{};  // dB, positive; NaN when Zoo >= Zoe (no coupling)
  float cc{};           // voltage coupling coefficient (Zoe - Zoo)/(Zoe + Zoo)

  // Attenuation at f, dB per inch, conductor + dielectric + radiation
  // (zero unless Materials were given).
  float loss_e{}, loss_o{};

  // The models' own validity flag: 0, 1 Zo above the single-strip impedance
  // of the odd-mode width, 2 Zoo above Zoe (with the field model only 2).
  int iflag{};
  // The validity codes of the result: the ranges at f, the models' flag and
  // their accuracy limits (cover, zo_single, w_narrow ...), not_finite,
  // refused (a cross-section the solver cannot take gives values that are
  // not numbers and refused); with the field model also er for a coating's
  // Er above 20 and field_error where the solver's own estimate (below) is
  // above what its accuracy setting promises. valid: no code set.
  unsigned flags{};
  bool valid{true};

  // The field model: the solver's estimate of its own relative error in the
  // static Zoe, Zoo, eff_e and eff_o (0 with the closed forms).
  float error_zoe{}, error_zoo{}, error_eff_e{}, error_eff_o{};
};

// A synthesised cross-section: the W and S that realise the target pair.
struct Synthesis {
  float w{}, s{};                    // inch
  float zoe_target{}, zoo_target{};  // the target pair, ohms
  // The modes at f of the last cross-section the search evaluated: the
  // returned W and S, unless the search ended on a width step that no
  // longer changed W (then the W before that step).
  float zoe{}, zoo{};      // ohms
  float eff_e{}, eff_o{};  // effective permittivities
  int iflag{};             // 0 found; otherwise the models' validity flag (or 1: W/H above 11 / no
                           // convergence)
  // no_converge (iflag 1) or cover (iflag 2), the ranges of the section found
  // at f, not_finite, refused (a target that is not a coupled pair: Zoe,
  // Zoo or Zo not above 0, Zoo not below Zoe, a coupling not above 0 dB).
  unsigned flags{};
  bool valid{true};
  // The closed forms' W and S (inch): the answer of the closed forms, and the
  // field model's starting point (equal to w and s with the closed forms).
  float closed_w{}, closed_s{};
  int evaluations{};  // field model: field solutions the search used
};

// The impedance whose sensitivities are asked for.
enum class Impedance { zoe, zoo };

// Normalised sensitivities (dZ/Z)/(dx/x) of one impedance to each quantity.
struct Sensitivities {
  float er{}, h{}, h2{}, s{}, t{}, w{};
};

// The sensitivities of the dispersive Zoe or Zoo at f: one-sided forward
// differences with one quantity at a time raised by 0.1 % (the field model:
// 0.1 % on the solver's fast path or a local model, 1 % on direct solutions
// and on sweep models; see field_sensitivity_step).
struct Sensitivity {
  float f{};           // GHz
  Impedance of{};      // the impedance the sensitivities are of
  float zoe{}, zoo{};  // the unperturbed dispersive impedances, ohms
  Sensitivities to;    // of `of` to Er, H, H2, S, T, W (0 for H2 without a cover
                       // below 100 H, and for T = 0)
  int iflag{};         // validity flag of the last evaluation (see Modes)
  unsigned flags{};    // as Modes' (the worst evaluation's)
  bool valid{true};
};

// The waves leaving the coupler's four ports for unit power into port 1:
// index 0..3 = port 1 (reflected), 2 (coupled), 3 (isolated), 4 (through).
struct Ports {
  std::array<float, 4> mag{};  // amplitudes, dB (20 log10 |S|, negative); NaN: no wave
  std::array<float, 4> ang{};  // phases, degrees; NaN: no wave
  float vswr{};                // input VSWR at port 1 (infinite at total reflection)
  float phi{};                 // coupled-to-through phase difference in [0, 180), degrees
  float phase_error{};         // phi - 90, degrees
  // The power leaving the coupled and through ports (the total loss of the
  // coupler, as a level), and leaving all four ports (what the conductors,
  // the dielectric and the radiation do not take: the I*I*R loss), dB, 0 or
  // below (minus infinity: none).
  float loss{};
  float total{};
  // false: no wave at all leaves the port (mag and ang are then NaN: the
  // port has no level and no phase).
  std::array<bool, 4> wave{};
};

// The 4x4 scattering matrix, s[i][j] = S(i+1, j+1), every port referred to
// the same reference impedance; ports numbered as in Ports.
using SMatrix = std::array<std::array<std::complex<float>, 4>, 4>;

// What a four-port response is asked for, by name (two frequencies or two
// terminations cannot be swapped at the call site):
//
//   kx::ResponseOptions o;
//   o.f = 5.0f;                       // GHz
//   o.length = kx::from_mm(10.0);     // inch
//   o.rs = o.rl = 50.0f;              // ohms
//   const kx::Response r = line.response(sec, mat, o);
struct ResponseOptions {
  constexpr ResponseOptions() {}  // user-provided: the fields are set by name only
  float f{};                      // GHz
  float length{};                 // of the coupler, inch
  float rs{50.0f};                // the source at port 1, ohms
  float rl{50.0f};                // the loads at ports 2, 3 and 4, ohms
  // The radiation loss of the open pair, half on each mode's attenuation.
  bool radiation = true;
  // false: the static (D.C.) permittivities and impedances at every
  // frequency, with the losses at f formed from them (a quasi-static
  // reference for the dispersive response).
  bool dispersion = true;
  // Reference impedance of the S-matrix, ohms (0: no S-matrix).
  float reference = 0.0f;
  // The conductor and dielectric attenuation of each mode at f, dB per
  // inch, in place of the closed forms' (the losses from the field,
  // kestrelix/rlgc.h); the radiation stays as `radiation` says.
  bool own_losses = false;
  Attenuation losses{};
};

// What a synthesis is to meet, by name: a coupler impedance and coupling,
// or an even/odd pair, at f GHz (0: from the D.C. impedances).
//
//   kx::CouplerTarget t;
//   t.zo = 50.0f;
//   t.coupling_db = 10.0f;
//   t.f = 2.4f;
//   const kx::Synthesis r = line.synthesise(substrate, t);
struct CouplerTarget {
  constexpr CouplerTarget() {}  // user-provided: the fields are set by name only
  float zo{};                   // ohms
  float coupling_db{};          // positive dB (10: a 10 dB coupler)
  float f{};                    // GHz
};
struct PairTarget {
  constexpr PairTarget() {}  // user-provided: the fields are set by name only
  float zoe{}, zoo{};        // ohms
  float f{};                 // GHz
};

// The four-port response of a coupler at one frequency.
struct Response {
  Modes modes;  // the cross-section at f with its losses (the static modes without dispersion)
  Ports ports;  // port 1 driven from rs, port 2 loaded by rs, ports 3 and 4 by rl
  SMatrix s{};  // referred to ResponseOptions::reference (all 0 without one)
};

// The ideal TEM relations of a coupled pair: Zo = sqrt(Zoe Zoo) and the
// voltage coupling cc = (Zoe - Zoo)/(Zoe + Zoo), coupling_db = -20 log10 cc.
struct Pair {
  float zoe{}, zoo{};  // ohms
};
struct Coupling {
  float zo{};           // ohms
  float cc{};           // voltage coupling coefficient
  float coupling_db{};  // dB, positive; NaN when Zoo >= Zoe (no coupling)
};
// Zoe, Zoo of the pair with coupler impedance zo and coupling coupling_db (positive dB).
Pair pair_of(float zo, float coupling_db);
// Zo, cc and the coupling in dB of the pair zoe, zoo.
Coupling coupling_of(float zoe, float zoo);

// Quarter-wave length (inch) at f GHz of a line with coupler permittivity
// eff_c: c/(4 f sqrt(eff_c)), infinite at f = 0.
float quarter_wave(float eff_c, float f);

// The field model's relative step of the sensitivities' forward
// differences on direct solutions. The solver's values move smoothly with
// the geometry except for jumps of a few 1e-5 (relative) where its mesh
// gains or loses a panel; a 1 % step keeps that below 0.005 in a
// sensitivity, and the curvature of the impedances over the step costs
// under 1 % of it.
inline constexpr float field_sensitivity_step = 0.01f;
// The step on the solver's fast path (its interpolant is smooth, C2): the
// closed forms' 0.1 %. Used where the fast path covers the point and every
// neighbour the differences take.
inline constexpr float field_fast_sensitivity_step = 0.001f;

// The field solver's cross-section of `sec` with `coat` (inches; H2
// infinite: open).
field::Geometry field_geometry(const Section& sec, const Coating& coat = {});

// The factors that carry the closed forms' static values at `sec` to those
// of the field model `field` there (all 1 where either is not a finite
// positive number).
StaticRatios field_ratios(const Section& sec, const ModelSettings& field);

struct ChainContext;
class FieldCache;

// Evaluates cross-sections. Each call stands on its own: an evaluator keeps
// partial results of earlier calls only to save work, never to change one,
// so any number of evaluators can run side by side (one per thread) and a
// copy starts afresh.
class CoupledLine {
 public:
  CoupledLine();
  explicit CoupledLine(const ModelSettings& settings);
  ~CoupledLine();
  CoupledLine(const CoupledLine& other);
  CoupledLine& operator=(const CoupledLine& other);
  CoupledLine(CoupledLine&& other) noexcept;
  CoupledLine& operator=(CoupledLine&& other) noexcept;

  const ModelSettings& settings() const { return settings_; }
  // Model::field: how its solutions were made so far.
  FieldCounts field_counts() const;

  // Static and dispersive modes at f GHz; no losses.
  Modes at(const Section& sec, float f);
  // The same with the attenuation of both modes (radiation included).
  Modes at(const Section& sec, const Materials& mat, float f);

  // The conductor and dielectric attenuation near D.C. (at 0.0001 GHz, no
  // radiation) formed with the dispersive permittivities at f: the static
  // loss column of a coupler's baseline at its design frequency f.
  Attenuation near_dc_losses(const Section& sec, const Materials& mat, float f);

  // Sensitivities of the dispersive Zoe or Zoo at f GHz.
  Sensitivity sensitivity(const Section& sec, float f, Impedance of);

  // W and S of the pair with the target's coupler impedance and coupling;
  // er, h, h2 and t come from `sub`, its w and s are not used.
  Synthesis synthesise(const Section& sub, const CouplerTarget& target);
  // The same for a target even/odd pair.
  Synthesis synthesise_pair(const Section& sub, const PairTarget& target);
  // W and S for the target pair by Newton's method on this evaluator's model
  // from the W and S of `start` (the field model's synthesis starts from the
  // closed forms' answer this way). The target is met (iflag 0) with Zoe,
  // Zoo and Zo within 0.05 ohm and the coupling within 0.01 dB. On the
  // solver's fast path the search runs there and its answer is checked and,
  // where needed, polished on the direct solution: the target is met by the
  // direct solution, whose modes the result then holds.
  Synthesis refine_pair(const Section& start, const PairTarget& target);

  // Four-port response of a coupler of options.length at options.f, driven
  // from options.rs and loaded by options.rl, with the losses of `mat`.
  Response response(const Section& sec, const Materials& mat, const ResponseOptions& options);

  // Quarter-wave length (inch) of the coupler at f GHz, from its dispersive
  // coupler permittivity (infinite at f = 0).
  float quarter_wave_length(const Section& sec, float f);
  // Design centre frequency (GHz) at which the length l is a quarter of the
  // guided wavelength (step-and-halve search).
  float centre_frequency(const Section& sec, float l);

 private:
  bool closed() const { return settings_.model == Model::closed && settings_.ratios.identity(); }
  // Model::field on the solver's fast path (standard accuracy).
  bool fast_field() const;
  Modes field_at(const Section& sec, float f, field::Method method);
  Sensitivity field_sensitivity(const Section& sec, float f, Impedance of);
  Synthesis field_synthesis(const Section& sub, float zoe, float zoo, float f);
  Synthesis refine(const Section& start, float zoe, float zoo, float f);
  // Leaves the records as the closed forms' evaluation of `sec` at f leaves
  // them (the losses read them); nothing with the closed forms, whose own
  // evaluation just did.
  void closed_records(const Section& sec, float f);

  ModelSettings settings_;
  std::unique_ptr<ChainContext> chain_;
  std::unique_ptr<FieldCache> field_;
};

}  // namespace kx
