// The closed forms against the field solver: both models at the same
// cross-section and frequency (the field model is Model::field: the solver's
// static values carried to f by the closed forms' dispersion formulas), the
// difference of every figure, and whether the closed forms are off
// (flag_closed_form_off: Zoe or Zoo more than closed_form_off_pct from the
// field's, or no valid, finite figures from the closed forms); over a grid
// of S and T, a map of that difference.
//
//   const kx::study::Check c = kx::study::check(sec, 2.4f);
//   if (c.closed_form_off) { /* compute with Model::field */ }
//   c.figures[kx::study::fig_zoo].difference_pct ...
#pragma once

#include <array>
#include <optional>

#include <kestrelix/coupled_line.h>
#include <kestrelix/study.h>

namespace kx::study {

// Whether a model gave every figure compared as a finite number: Zoe, Zoo,
// Zo, eff_e, eff_o, and the coupling where Zoo is below Zoe (a pair without
// coupling has none). A model that gives one figure that is not a number
// gives none (a negative permittivity beside a NaN impedance is no value
// either): its figures are not compared.
bool finite_figures(const Modes& m);

// The closed forms' deviation from the field model's value: 100 (closed -
// field)/field in percent for the impedances and the permittivities, closed -
// field in dB for the coupling (positive: the closed forms are high); NaN
// where either value is not a finite number, and every one NaN where either
// model's figures are not all finite (finite_figures).
struct Deviations {
  float zoe_pct{}, zoo_pct{}, zo_pct{};
  float coupling_db{};
  float eff_e_pct{}, eff_o_pct{};
  bool closed_form_off{};  // |zoe_pct| or |zoo_pct| above closed_form_off_pct
};
Deviations deviations(const Modes& closed, const Modes& field);

// The field solver's verdict on rows the closed forms computed: an
// evaluator of the field model (of `settings`' accuracy and coating) kept
// for the rows of one run.
class FieldCheck {
 public:
  explicit FieldCheck(const ModelSettings& settings = {});
  // The deviations of `closed`, the closed forms' modes of `sec` at f GHz.
  Deviations operator()(const Modes& closed, const Section& sec, float f);

 private:
  CoupledLine field_;
};

// The figures compared, in this order.
enum CheckFigure : int { fig_zoe, fig_zoo, fig_zo, fig_coupling_db, fig_eff_e, fig_eff_o };
inline constexpr int n_check_figures = 6;

// A model whose figures are not all finite (finite_figures) gives none:
// its values, the differences and (the field's) the error are NaN.
struct Compared {
  float closed{}, field{};
  float difference{};      // closed - field, in the figure's unit (ohm, dB or none)
  float difference_pct{};  // 100 (closed - field) / field
  // The solver's estimate of its own error, in the figure's unit (for Zo and
  // the coupling propagated from those of Zoe and Zoo): check() measures it
  // against a more accurate solution (ModelSettings::measured_error), some
  // 2 to 5 times the true error at the median where the a-priori estimate is 12
  // to 23 times it.
  float error{};
};

// Which way the closed forms are off, by the deviations of Zoe and Zoo (the
// worse is named) and of eff_e and eff_o.
struct Verdict {
  enum class Kind {
    field_not_finite,   // the field model gives no finite figures here
    closed_not_finite,  // the closed forms give no finite figures here
    closed_invalid,     // the closed forms raise their validity flag here
    both_off,           // an impedance and a permittivity more than closed_form_off_pct off
    impedance_off,      // an impedance only
    permittivity_off,   // a permittivity only
    within,             // all four within closed_form_off_pct
  };
  Kind kind = Kind::within;
  CheckFigure impedance = fig_zoe;       // the worse of Zoe and Zoo
  float impedance_pct{};                 // its deviation, percent
  CheckFigure permittivity = fig_eff_e;  // the worse of eff_e and eff_o
  float permittivity_pct{};
  float worst_pct{};  // the largest |deviation| of the four
};

struct Check {
  Modes closed, field;
  std::array<Compared, n_check_figures> figures{};  // in CheckFigure order
  // The closed forms are off: they give no finite figures, raise their
  // validity flag, or put Zoe or Zoo more than closed_form_off_pct from the
  // field's (not known where the field gives no finite figures).
  bool closed_form_off{};
  // The section's ranges, the closed forms' flag, not_finite where either
  // model gives no finite figures, closed_form_off, and the field model's own
  // codes (er for a coating's Er above 20, field_error).
  unsigned flags{};
  Verdict verdict;
};

// Both models at `sec` and f GHz; `field` gives the solver's accuracy and
// coating (its model is the field model whatever it says), and the field's
// error estimates are measured (ModelSettings::measured_error, whatever
// `field` says: 10 to 30 ms more).
Check check(const Section& sec, float f, const ModelSettings& field = {});

// A map of the same comparison over a grid of S and T.
struct MapPlan {
  Section section;
  float f{};
  // The solver's accuracy and coating; its error estimates are the
  // a-priori ones unless field.measured_error (which makes the example
  // board's 440-point map 2.3 s instead of 0.01 s).
  ModelSettings field;
  std::optional<Range> s;  // the gaps (none: the section's S)
  std::optional<Range> t;  // the strip thicknesses (none: the section's T)
};

// One grid point, T outer and S inner.
struct MapRow {
  long long t_index{};  // the point's T among the thicknesses
  Section section;
  Modes closed, field;
  Deviations deviations;
  float field_error{};  // the largest of the solver's relative error estimates
  unsigned flags{};     // as Check's
};

void check_map(const MapPlan& plan, const Sink<MapRow>& sink, const Stop* stop = nullptr);

}  // namespace kx::study
