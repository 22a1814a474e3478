// line: a board cross-section's line or pair on the general field solver
// (kx::study::structure), built from a named structure (kestrelix/stack.h),
// with the width or gap found for a target as `kestrelix line` finds it.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include <kestrelix/stack.h>
#include <kestrelix/stop.h>
#include <kestrelix/structure.h>
#include <kestrelix/validity.h>
#include "common/text.h"
#include "python/src/functions.h"
#include "python/src/watch.h"
#include "shared/input_checks.h"

namespace kx::py_face {
namespace {

namespace ks = kx::stack;

double metres_per_unit(LengthUnit u) {
  switch (u) {
    case LengthUnit::mil:
      return 2.54e-5;
    case LengthUnit::mm:
      return 1e-3;
    case LengthUnit::um:
      return 1e-6;
    case LengthUnit::in:
      break;
  }
  return 0.0254;
}

double given_or(const py::object& v, double fallback) {
  return v.is_none() ? fallback : v.cast<double>();
}

void positive(const char* name, double v) {
  if (!(v > 0.0)) throw checks::InputError(std::string(name) + ": must be above 0");
}
void at_least(const char* name, double v, double floor) {
  if (!(v >= floor))
    throw checks::InputError(std::string(name) + ": must be at least " + shortest(floor));
}

}  // namespace

py::dict line(const LineArgs& a) {
  std::string name = a.structure;
  bool pair = a.pair;
  if (name.size() > 5 && name.compare(name.size() - 5, 5, "-pair") == 0) {
    name.erase(name.size() - 5);
    pair = true;
  }
  if (name != "microstrip" && name != "stripline" && name != "embedded-microstrip" &&
      name != "offset-stripline" && name != "gcpw") {
    throw checks::InputError("structure: '" + a.structure +
                             "' is not a structure (microstrip, embedded-microstrip, stripline, "
                             "offset-stripline, gcpw; NAME-pair: a pair)");
  }
  const LengthUnit u = unit_of(a.units);
  const bool above = name == "embedded-microstrip" || name == "offset-stripline";
  positive("h", a.h);
  at_least("er", a.er, 1.0);
  at_least("t", a.t, 0.0);
  at_least("tand", a.tand, 0.0);
  if (!a.s.is_none() && !pair) throw checks::InputError("s: the gap of a pair; give pair=True");
  if (above && a.h_above.is_none()) {
    throw checks::InputError("h_above: the " + name + " needs the layer above");
  }
  if (!above && !(a.h_above.is_none() && a.er_above.is_none())) {
    throw checks::InputError("h_above: the " + name + " has no layer above");
  }
  if (name == "gcpw" && a.ground_gap.is_none()) {
    throw checks::InputError("ground_gap: the gcpw needs the gap to its grounds");
  }

  study::StructurePlan plan;
  plan.pair = pair;
  if (!a.z0.is_none()) {
    if (pair) throw checks::InputError("z0: a line's target; a pair takes zdiff");
    plan.solve = study::StructureSolve::width_for_z0;
    plan.z0 = a.z0.cast<double>();
    positive("z0", plan.z0);
  } else if (!a.zdiff.is_none()) {
    if (!pair) throw checks::InputError("zdiff: a pair's; give pair=True");
    plan.zdiff = a.zdiff.cast<double>();
    positive("zdiff", plan.zdiff);
    if (!a.zcomm.is_none()) {
      if (!a.w.is_none() || !a.s.is_none()) {
        throw checks::InputError(std::string(a.w.is_none() ? "s" : "w") +
                                 ": zdiff with zcomm finds W and S; leave it out");
      }
      plan.zcomm = a.zcomm.cast<double>();
      positive("zcomm", plan.zcomm);
      if (!(2.0 * plan.zcomm > plan.zdiff / 2.0)) {
        throw checks::InputError("zcomm: must be above a quarter of zdiff (Zoe above Zoo)");
      }
      plan.solve = study::StructureSolve::width_and_gap_for_zdiff_and_zcomm;
    } else if (!a.w.is_none() && a.s.is_none()) {
      plan.solve = study::StructureSolve::gap_for_zdiff;
    } else if (a.w.is_none() && !a.s.is_none()) {
      plan.solve = study::StructureSolve::width_for_zdiff;
    } else {
      throw checks::InputError(
          "zdiff: give w (to find S) or s (to find W), or zcomm as well "
          "(to find both)");
    }
  } else if (!a.zcomm.is_none()) {
    throw checks::InputError("zcomm: give zdiff as well");
  } else if (a.w.is_none() || (pair && a.s.is_none())) {
    throw checks::InputError(std::string(a.w.is_none() ? "w" : "s") +
                             ": needed (or a target that finds it)");
  }
  // The search starts where the command line starts it: W = H, S = W.
  const double w = given_or(a.w, a.h);
  const double s = given_or(a.s, w);
  positive("w", w);
  if (pair) positive("s", s);

  ks::Trace tr;
  tr.width = w;
  tr.thickness = a.t;
  const ks::Layer below{a.h, a.er, a.tand, "below"};
  ks::Layer top{};
  if (above) {
    top = {a.h_above.cast<double>(), given_or(a.er_above, a.er), a.tand, "above"};
    positive("h_above", top.thickness);
    at_least("er_above", top.er, 1.0);
  }
  if (name == "stripline") {
    plan.stack = pair ? ks::stripline_pair(2.0 * a.h + a.t, a.er, tr, s, a.tand)
                      : ks::stripline(2.0 * a.h + a.t, a.er, tr, a.tand);
  } else if (name == "microstrip") {
    plan.stack = pair ? ks::microstrip_pair(below, tr, s) : ks::microstrip(below, tr);
  } else if (name == "embedded-microstrip") {
    plan.stack = pair ? ks::embedded_microstrip_pair(below, top, tr, s)
                      : ks::embedded_microstrip(below, top, tr);
  } else if (name == "offset-stripline") {
    plan.stack = pair ? ks::offset_stripline_pair(below, top, tr, s)
                      : ks::offset_stripline(below, top, tr);
  } else {
    const double gg = a.ground_gap.cast<double>();
    positive("ground_gap", gg);
    const double gw = given_or(a.ground_width, ks::kUnbounded);
    positive("ground_width", gw);
    plan.stack = pair ? ks::gcpw_pair(below, tr, s, gg, gw) : ks::gcpw(below, tr, gg, gw);
  }
  if (!a.accuracy.is_none()) {
    const std::string acc = a.accuracy.cast<std::string>();
    if (acc == "fine") {
      plan.settings.accuracy = ks::Accuracy::fine;
    } else if (acc != "standard") {
      throw checks::InputError("accuracy: standard or fine, not '" + acc + "'");
    }
  }
  plan.inches_per_unit = metres_per_unit(u) / 0.0254;

  Stop stop;
  const study::Structure r =
      run_watched<study::Structure>(stop, [&] { return study::structure(plan, &stop); });
  if (!r.solved) {
    if ((r.flags & flag_refused) != 0) throw checks::InputError("the cross-section: " + r.reason);
    std::string what = "the target";
    if (plan.solve == study::StructureSolve::width_for_z0)
      what = "Z0 " + shortest(plan.z0) + " ohm";
    if (plan.zdiff > 0.0) what = "Zdiff " + shortest(plan.zdiff) + " ohm";
    if (plan.zcomm > 0.0) what += " with Zcomm " + shortest(plan.zcomm) + " ohm";
    throw checks::InputError(what + " cannot be met: " + r.reason);
  }
  const double ps = 1e12 * metres_per_unit(u);  // s/m to ps per length unit
  py::dict d;
  d["structure"] = name;
  d["pair"] = pair;
  d["w"] = r.width;
  d["s"] = pair ? py::object(py::float_(r.gap)) : py::object(py::none());
  const ks::LineFigures& l = r.lines.at(0);
  d["z0"] = l.z0;
  d["eff"] = l.eff;
  d["delay"] = l.delay * ps;
  if (pair) {
    const ks::PairFigures& p = r.pair;
    d["zdiff"] = p.zdiff;
    d["zcomm"] = p.zcomm;
    d["zoe"] = p.zoe;
    d["zoo"] = p.zoo;
    d["eff_e"] = p.eff_e;
    d["eff_o"] = p.eff_o;
    d["delay_e"] = p.delay_e * ps;
    d["delay_o"] = p.delay_o * ps;
    d["coupling"] = p.coupling_db;
    d["field_error"] = 100.0 * std::max({p.error_zoe, p.error_zoo, p.error_eff_e, p.error_eff_o});
  } else {
    d["field_error"] = 100.0 * std::max(l.error_z0, l.error_eff);
  }
  d["solves"] = r.solves;
  d["valid"] = r.valid();
  d["flags"] = validity_codes(r.flags);
  d["units"] = unit_name(u);
  return d;
}

}  // namespace kx::py_face
