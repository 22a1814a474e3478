// synthesise: W and S for a coupler impedance and coupling (the synthesis
// study, one level per point) or for an even/odd pair (the front door's
// synthesise_pair), each section analysed again; diffpair: the differential
// pair's study.
#include <algorithm>
#include <cmath>
#include <string>

#include <kestrelix/diff_pair.h>
#include <kestrelix/validity.h>
#include "python/src/functions.h"
#include "python/src/points.h"
#include "shared/input_checks.h"
#include "studies/synthesis.h"

namespace kx::py_face {
namespace {

double nan() { return std::nan(""); }
// v where `has`, else NaN (no value).
double value_if(bool has, float v) { return has ? static_cast<double>(v) : nan(); }

float largest_error(const Modes& m) {
  return 100.0f * std::max({m.error_zoe, m.error_zoo, m.error_eff_e, m.error_eff_o});
}

}  // namespace

py::dict synthesise(Keys& keys, const SectionValue& substrate, const py::object& zo_arg,
                    const py::object& coupling_arg, const py::object& zoe_arg,
                    const py::object& zoo_arg, const py::object& f, bool dc,
                    const py::object& materials, const ModelArgs& model, const SectionArgs& v) {
  const bool by_level = !coupling_arg.is_none();
  const bool by_pair = !zoe_arg.is_none() || !zoo_arg.is_none();
  if (by_level == by_pair || (by_level && zo_arg.is_none()) ||
      (by_pair && (zoe_arg.is_none() || zoo_arg.is_none() || !zo_arg.is_none()))) {
    throw checks::InputError(
        "synthesise: give zo and coupling (a coupler), or zoe and zoo (a pair)");
  }
  const ModelSettings settings = settings_of(model);
  const Materials mat = materials_of(materials);
  const CoatingValue* coating = coating_of(model.coating);
  const LengthUnit u = substrate.units;
  Broadcast b;
  const SectionSlots slots =
      section_slots(b, substrate, v.er, v.h, v.h2, py::none(), py::none(), v.t);
  const int f_slot = b.add("f", f);
  const int a_slot = b.add(by_level ? "zo" : "zoe", by_level ? zo_arg : zoe_arg);
  const int b_slot = b.add(by_level ? "coupling" : "zoo", by_level ? coupling_arg : zoo_arg);
  b.finish();

  Columns cols(b, keys);
  double* coupling = cols.number("coupling");
  double* zo = cols.number("zo");
  double* zoe = cols.number("zoe");
  double* zoo = cols.number("zoo");
  double* w = cols.number("w");
  double* s = cols.number("s");
  double* eff_e = cols.number("eff_e");
  double* eff_o = cols.number("eff_o");
  double* quarter = cols.number("quarter_wave");
  double* an_zo = cols.number("an_zo");
  double* an_zoe = cols.number("an_zoe");
  double* an_zoo = cols.number("an_zoo");
  double* an_coupling = cols.number("an_coupling");
  double* an_eff_e = cols.number("an_eff_e");
  double* an_eff_o = cols.number("an_eff_o");
  double* an_alpha_e = cols.number("an_alpha_e");
  double* an_alpha_o = cols.number("an_alpha_o");
  double* closed_w = cols.number("closed_w");
  double* closed_s = cols.number("closed_s");
  double* error = cols.number("field_error");
  bool* valid = cols.boolean("valid");
  unsigned* flags = cols.flags("flags");
  DeviationColumns dev(cols, model.deviations);

  const bool field = settings.model == Model::field;
  each_point(b, settings, model.deviations, heavy_points,
             [&](const Broadcast::Cursor& c, py::ssize_t i, Evaluators& e) {
               CoupledLine& line = e.line;
               const Section sub = section_at(c, slots, u);
               const auto fa = static_cast<float>(c[f_slot]);
               check_section(sub, false, false, settings, coating, u);
               check_at_least("f", fa, 0.0f);
               study::SynthesisRow row;
               if (by_level) {
                 // The synthesis study of one level, as the command line runs it.
                 study::SynthesisPlan plan;
                 plan.substrate = sub;
                 plan.zo = static_cast<float>(c[a_slot]);
                 checks::require_above("zo", plan.zo, 0.0f);
                 plan.levels = {static_cast<float>(c[b_slot])};
                 checks::require_above("coupling", plan.levels[0], 0.0f);
                 plan.f_analysis = fa;
                 plan.f = dc ? 0.0f : fa;
                 plan.reanalyse = true;
                 plan.materials = mat;
                 study::synthesis_sweep(line, plan, [&row](const study::SynthesisRow& r) {
                   row = r;
                   return true;
                 });
               } else {
                 PairTarget target;
                 target.zoe = static_cast<float>(c[a_slot]);
                 target.zoo = static_cast<float>(c[b_slot]);
                 target.f = dc ? 0.0f : fa;
                 checks::require_above("zoe", target.zoe, 0.0f);
                 checks::require_above("zoo", target.zoo, 0.0f);
                 row.synthesis = line.synthesise_pair(sub, target);
                 const Coupling cp = coupling_of(target.zoe, target.zoo);
                 row.coupling_db = cp.coupling_db;
                 row.zo = cp.zo;
                 row.zoe = target.zoe;
                 row.zoo = target.zoo;
                 row.section = sub;
                 row.section.w = row.synthesis.w;
                 row.section.s = row.synthesis.s;
                 if (row.synthesis.iflag == 0) row.analysis = line.at(row.section, mat, fa);
                 row.flags = row.synthesis.flags | (row.analysis ? row.analysis->flags : 0u);
               }
               const Synthesis& syn = row.synthesis;
               coupling[i] = row.coupling_db;
               zo[i] = row.zo;
               zoe[i] = row.zoe;
               zoo[i] = row.zoo;
               w[i] = from_inch(syn.w, u);
               s[i] = from_inch(syn.s, u);
               eff_e[i] = syn.eff_e;
               eff_o[i] = syn.eff_o;
               closed_w[i] = from_inch(syn.closed_w, u);
               closed_s[i] = from_inch(syn.closed_s, u);
               const bool analysed = row.analysis.has_value();
               const Modes m = analysed ? *row.analysis : Modes{};
               quarter[i] = analysed && fa != 0.0f ? from_inch(quarter_wave(m.eff_c, fa), u)
                                                   : nan();
               an_zo[i] = value_if(analysed, m.zo);
               an_zoe[i] = value_if(analysed, m.zoe);
               an_zoo[i] = value_if(analysed, m.zoo);
               an_coupling[i] = value_if(analysed, m.coupling_db);
               an_eff_e[i] = value_if(analysed, m.eff_e);
               an_eff_o[i] = value_if(analysed, m.eff_o);
               an_alpha_e[i] = value_if(analysed, per_unit(m.loss_e, u));
               an_alpha_o[i] = value_if(analysed, per_unit(m.loss_o, u));
               error[i] = value_if(analysed && field, largest_error(m));
               const bool off =
                   dev.fill(i, analysed && e.check ? &*e.check : nullptr, m, row.section, fa);
               valid[i] = syn.iflag == 0 && syn.valid && (!analysed || m.valid) && !off;
               flags[i] = row.flags | (off ? flag_closed_form_off : 0u);
             });
  py::dict d = cols.finish();
  d[keys("model")] = keys(model_name(settings));
  d[keys("units")] = keys(unit_name(u));
  return d;
}

py::dict diffpair(Keys& keys, const SectionValue& section, const py::object& f,
                  const py::object& zdiff_arg, const py::object& zcomm_arg, const ModelArgs& model,
                  const SectionArgs& v) {
  // W or S is what the search finds when neither the section nor the call gives it.
  const bool w_given = !std::isnan(section.w) || !v.w.is_none();
  const bool s_given = !std::isnan(section.s) || !v.s.is_none();
  static const checks::PairNames names{"w", "s", "zdiff", "zcomm"};
  const study::PairSolve solve =
      checks::pair_solve(names, w_given, s_given, !zdiff_arg.is_none(), !zcomm_arg.is_none());
  const bool find_w = solve == study::PairSolve::w || solve == study::PairSolve::w_and_s;
  const bool find_s = solve == study::PairSolve::s || solve == study::PairSolve::w_and_s;
  const ModelSettings settings = settings_of(model);
  const CoatingValue* coating = coating_of(model.coating);
  const LengthUnit u = section.units;
  Broadcast b;
  const SectionSlots slots = section_slots(b, section, v.er, v.h, v.h2, v.w, v.s, v.t);
  const int f_slot = b.add("f", f);
  const int zdiff_slot = zdiff_arg.is_none() ? b.add(0.0) : b.add("zdiff", zdiff_arg);
  const int zcomm_slot = zcomm_arg.is_none() ? b.add(0.0) : b.add("zcomm", zcomm_arg);
  b.finish();

  Columns cols(b, keys);
  double* w = cols.number("w");
  double* s = cols.number("s");
  double* zdiff = cols.number("zdiff");
  double* zcomm = cols.number("zcomm");
  double* zoe = cols.number("zoe");
  double* zoo = cols.number("zoo");
  double* eff_e = cols.number("eff_e");
  double* eff_o = cols.number("eff_o");
  double* delay_e = cols.number("delay_e");
  double* delay_o = cols.number("delay_o");
  double* evaluations = cols.number("evaluations");
  double* error = cols.number("field_error");
  bool* found = cols.boolean("found");
  bool* valid = cols.boolean("valid");
  unsigned* flags = cols.flags("flags");
  DeviationColumns dev(cols, model.deviations);

  const bool field = settings.model == Model::field;
  each_point(b, settings, model.deviations, heavy_points,
             [&](const Broadcast::Cursor& c, py::ssize_t i, Evaluators& e) {
               CoupledLine& line = e.line;
               study::DiffPairPlan plan;
               plan.section = section_at(c, slots, u);
               plan.f = static_cast<float>(c[f_slot]);
               plan.zdiff = static_cast<float>(c[zdiff_slot]);
               plan.zcomm = static_cast<float>(c[zcomm_slot]);
               plan.solve = solve;
               check_section(plan.section, !find_w, !find_s, settings, coating, u);
               check_at_least("f", plan.f, 0.0f);
               checks::check_pair_targets(names, solve, plan.zdiff, plan.zcomm);
               const study::DiffPair p = study::diff_pair(line, plan);
               const Modes& m = p.modes;
               w[i] = from_inch(p.section.w, u);
               s[i] = from_inch(p.section.s, u);
               if (!find_w) w[i] = c[slots.w];  // as given
               if (!find_s) s[i] = c[slots.s];
               zdiff[i] = value_if(p.found, p.zdiff);
               zcomm[i] = value_if(p.found, p.zcomm);
               zoe[i] = value_if(p.found, m.zoe);
               zoo[i] = value_if(p.found, m.zoo);
               eff_e[i] = value_if(p.found, m.eff_e);
               eff_o[i] = value_if(p.found, m.eff_o);
               delay_e[i] = value_if(p.found, per_unit(p.delay_e, u));
               delay_o[i] = value_if(p.found, per_unit(p.delay_o, u));
               evaluations[i] = static_cast<double>(p.evaluations);
               error[i] = value_if(p.found && field, largest_error(m));
               const bool off =
                   dev.fill(i, p.found && e.check ? &*e.check : nullptr, m, p.section, plan.f);
               found[i] = p.found;
               valid[i] = p.valid && !off;
               flags[i] = p.flags | (off ? flag_closed_form_off : 0u);
             });
  py::dict d = cols.finish();
  d["solve"] = solve == study::PairSolve::w_and_s ? "w_s" : find_s ? "s" : find_w ? "w" : "none";
  d[keys("model")] = keys(model_name(settings));
  d[keys("units")] = keys(unit_name(u));
  return d;
}

}  // namespace kx::py_face
