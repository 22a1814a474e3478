// The sweeps of one cross-section: its impedances over a range of W or of S
// at one frequency, its dispersion over frequency, the four-port response of
// a coupler cut from it, and the sensitivities of its impedances. Each is
// the loop of one run of the dialogue and of one subcommand, written once.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <kestrelix/coupled_line.h>
#include <kestrelix/study.h>

namespace kx::study {

// ------------------------------------------------------------- impedances

// Which dimension a sweep varies.
enum class Swept { none, w, s };

struct ImpedancePlan {
  Section section;  // W (or S) is replaced by the swept value
  Materials materials;
  float f{};  // GHz (0: D.C.)
  Swept swept = Swept::none;
  Range range;  // the widths or gaps, inch
};

// One point: the cross-section evaluated, its modes with the losses, and its
// validity codes (the modes').
struct ImpedanceRow {
  Section section;
  Modes modes;
  unsigned flags{};
};

void impedance_sweep(CoupledLine& line, const ImpedancePlan& plan, const Sink<ImpedanceRow>& sink,
                     const Stop* stop = nullptr);

// The field model's sweep of W or S where the solver's tables do not reach
// (a coating, the fine accuracy): a model of the sweep built from a few
// dozen direct solutions (kx::field::SweepModel at the model's accuracy and
// coating), for ModelSettings::sweep; nothing where the tables serve, the
// sweep has fewer than sweep_model_points points, the model is the closed
// forms' or asks for direct solutions, or the solver refuses an end. A
// model that does not hold is returned too: the evaluator then solves
// directly.
inline constexpr long long sweep_model_points = 64;
std::shared_ptr<const field::SweepModel> sweep_model(const ModelSettings& model,
                                                     const ImpedancePlan& plan);

// ------------------------------------------------------------- dispersion

struct DispersionPlan {
  Section section;
  Materials materials;
  Range f;  // GHz
};

// The static row first (statics = true: the modes at D.C. without losses),
// then one per frequency with the losses and the quarter-wave length
// (infinite at 0 GHz).
struct DispersionRow {
  bool statics{};
  float f{};
  Modes modes;
  float quarter_wave{};  // inch
  unsigned flags{};
};

void dispersion_sweep(CoupledLine& line, const DispersionPlan& plan,
                      const Sink<DispersionRow>& sink, const Stop* stop = nullptr);

// ------------------------------------------------------------- four-port

// A coupler's length and its design centre frequency, the frequency at which
// it is a quarter of the guided wavelength.
struct Coupler {
  float length{};  // inch
  float centre{};  // GHz
};

// The coupler cut from `section` with the given length (centre 0) or the
// given centre frequency (length 0): the other from the models.
Coupler coupler_of(CoupledLine& line, const Section& section, const Coupler& given);

// The coupler at its centre frequency: its modes with the losses and the
// conductor and dielectric losses near D.C. formed with the permittivities
// at the centre (the baseline of a four-port report).
struct Baseline {
  Modes modes;
  Attenuation near_dc;
  unsigned flags{};
};

Baseline baseline(CoupledLine& line, const Section& section, const Materials& materials,
                  float centre);

struct FourPortPlan {
  Section section;
  Materials materials;
  float length{};    // inch
  float rs{}, rl{};  // ohms
  ResponseOptions options;
  Range f;  // GHz
};

struct FourPortRow {
  float f{};
  Response response;
  unsigned flags{};
};

// `losses`, when set: the conductor and dielectric attenuation at f (dB per
// inch) in place of the closed forms' (the losses from the field).
using LossesAt = std::function<Attenuation(float f)>;
void four_port_sweep(CoupledLine& line, const FourPortPlan& plan, const Sink<FourPortRow>& sink,
                     const Stop* stop = nullptr, const LossesAt& losses = {});

// ------------------------------------------------------------- sensitivity

enum class SensitivitySwept { f, w, s };

struct SensitivityPlan {
  Section section;
  float f{};  // GHz, of a W or S sweep
  SensitivitySwept swept = SensitivitySwept::f;
  Range range;                  // GHz or inch
  bool zoe = true, zoo = true;  // which impedances' sensitivities
};

// One point: the swept value, the cross-section and frequency, the
// sensitivities asked for (Zoe first: when its evaluation fails, Zoo's is
// not formed), the field model's largest relative error estimate (0 with
// the closed forms) and the validity codes (both sensitivities', and the
// field model's own codes of the point: er, field_error).
struct SensitivityRow {
  float x{};
  Section section;
  float f{};
  std::optional<Sensitivity> zoe, zoo;
  float field_error{};
  unsigned flags{};
  // The models' flag of the last evaluation (0: both valid).
  int iflag() const;
};

void sensitivity_sweep(CoupledLine& line, const SensitivityPlan& plan,
                       const Sink<SensitivityRow>& sink, const Stop* stop = nullptr);

// The field model's sensitivities over W or S where the solver's tables do
// not reach (as sweep_model): models of the sweep of the section and of the
// section with each other quantity raised by field_sensitivity_step, for
// ModelSettings::sweeps (the evaluator then takes every difference from
// them); none where sweep_model would give none.
std::vector<std::shared_ptr<const field::SweepModel>> sensitivity_models(
    const ModelSettings& model, const SensitivityPlan& plan);

}  // namespace kx::study
