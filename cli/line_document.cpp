// The documents of `kestrelix line`: one row per layer, mask, conductor,
// line, pair, mode, aggressor and closed-form figure (a `kind` column says
// which, the table prints each kind as a block of its own); or the
// statistics and yields of a tolerance run.
#include "cli/line_document.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <kestrelix/validity.h>

#include "cli/tolerance_output.h"

namespace kx::cli {
namespace {

namespace ks = kx::stack;

Value number(double v) { return std::isfinite(v) ? Value(v) : Value::none(); }

// Appends a row; a row the document refuses (a number not finite in a list)
// ends the run (status 1) rather than vanishing.
void add(Document& doc, Row row) {
  if (!doc.add(std::move(row)))
    throw std::runtime_error("a figure of the solution is not a finite number");
}

enum Group : int { g_layer, g_mask, g_conductor, g_line, g_pair, g_mode, g_crosstalk, g_closed };

// The columns, in order; each kind of row fills its own.
struct Columns {
  std::size_t kind, index, name, thickness, er, loss_tangent, role, interface, left, right, w,
      top_w, s, over, on_substrate, between, z0, eff, delay, zdiff, zcomm, zoe, zoo, eff_e, eff_o,
      delay_e, delay_o, z, voltages, victim, gap, kb, kf, kf_per_length, quantity, closed, field,
      difference_pct, field_error, err_z0, err_eff, err_zoe, err_zoo, err_eff_e, err_eff_o, err_kb,
      err_kf, c, l;
};

Columns columns(Document& doc) {
  Columns c{};
  const auto col = [&doc](const char* name, Unit u, Precision p, const char* head) {
    return doc.column(name, u, p, head);
  };
  const Precision len = Precision::decimals(4);
  const Precision ohm = Precision::decimals(3);
  const Precision eff = Precision::decimals(4);
  const Precision delay = Precision::decimals(2);
  c.kind = col("kind", Unit::none, Precision::shortest(), "Kind");
  c.index = col("index", Unit::none, Precision::shortest(), "#");
  c.name = col("name", Unit::none, Precision::shortest(), "Name");
  c.thickness = col("thickness", Unit::length, len, "Thickness");
  c.er = col("er", Unit::none, Precision::shortest(), "Er");
  c.loss_tangent = col("loss_tangent", Unit::none, Precision::shortest(), "Loss tangent");
  c.role = col("role", Unit::none, Precision::shortest(), "Role");
  c.interface = col("interface", Unit::none, Precision::shortest(), "Interface");
  c.left = col("left", Unit::length, len, "Left");
  c.right = col("right", Unit::length, len, "Right");
  c.w = col("w", Unit::length, len, "W");
  c.top_w = col("top_w", Unit::length, len, "Top W");
  c.s = col("s", Unit::length, len, "S");
  c.over = col("over_trace", Unit::length, len, "Over trace");
  c.on_substrate = col("on_substrate", Unit::length, len, "On substrate");
  c.between = col("between", Unit::length, len, "Between");
  c.z0 = col("z0", Unit::impedance, ohm, "Z0");
  c.eff = col("eff", Unit::none, eff, "Eff");
  c.delay = col("delay", Unit::delay, delay, "Delay");
  c.zdiff = col("zdiff", Unit::impedance, ohm, "Zdiff");
  c.zcomm = col("zcomm", Unit::impedance, ohm, "Zcomm");
  c.zoe = col("zoe", Unit::impedance, ohm, "Zoe");
  c.zoo = col("zoo", Unit::impedance, ohm, "Zoo");
  c.eff_e = col("eff_e", Unit::none, eff, "Eff e");
  c.eff_o = col("eff_o", Unit::none, eff, "Eff o");
  c.delay_e = col("delay_e", Unit::delay, delay, "Delay e");
  c.delay_o = col("delay_o", Unit::delay, delay, "Delay o");
  c.z = col("z", Unit::impedance, ohm, "Z");
  c.voltages = col("voltages", Unit::none, Precision::shortest(), "Voltages");
  c.victim = col("victim", Unit::none, Precision::shortest(), "Victim");
  c.gap = col("gap", Unit::length, len, "Gap");
  c.kb = col("kb", Unit::none, Precision::sig(4), "Backward kb");
  c.kf = col("kf", Unit::none, Precision::sig(4), "Forward kf");
  c.kf_per_length = col("kf_per_length", Unit::delay, Precision::sig(4), "kf per length");
  c.quantity = col("quantity", Unit::none, Precision::shortest(), "Quantity");
  c.closed = col("closed", Unit::none, Precision::decimals(4), "Closed forms");
  c.field = col("field", Unit::none, Precision::decimals(4), "Field");
  c.difference_pct = col("difference", Unit::percent, Precision::decimals(3), "Difference");
  c.field_error = col("field_error", Unit::percent, Precision::decimals(3), "Field error");
  // Each figure's own error estimate, and the matrices' rows (JSON and CSV).
  const Precision all = Precision::shortest();
  c.err_z0 = col("error_z0", Unit::percent, all, "");
  c.err_eff = col("error_eff", Unit::percent, all, "");
  c.err_zoe = col("error_zoe", Unit::percent, all, "");
  c.err_zoo = col("error_zoo", Unit::percent, all, "");
  c.err_eff_e = col("error_eff_e", Unit::percent, all, "");
  c.err_eff_o = col("error_eff_o", Unit::percent, all, "");
  c.err_kb = col("error_kb", Unit::percent, all, "");
  c.err_kf = col("error_kf", Unit::percent, all, "");
  c.c = col("c", Unit::capacitance, all, "C");
  c.l = col("l", Unit::inductance, all, "L");
  for (std::size_t k = c.err_z0; k <= c.l; ++k) doc.hide_in_table(k);
  return c;
}

const char* role_name(ks::Role r) {
  switch (r) {
    case ks::Role::signal:
      return "signal";
    case ks::Role::ground:
      return "ground";
    case ks::Role::floating:
      return "floating";
  }
  return "";
}

// A row of the matrix m times `scale`.
std::vector<float> matrix_row(const ks::Matrix& m, std::size_t i, double scale) {
  std::vector<float> out;
  for (std::size_t j = 0; j < m.n; ++j) out.push_back(static_cast<float>(m(i, j) * scale));
  return out;
}

}  // namespace

void line_rows(Document& doc, const study::Structure& s, bool pair, const LineUnits& u, double w,
               double gap) {
  const Columns c = columns(doc);
  const double ps = 1e12 * u.m_per_unit;  // s/m to ps per unit
  const auto row = [&](Group g, const char* kind, unsigned flags = 0) {
    Row r;
    r.values.resize(doc.columns().size());
    r.values[c.kind] = kind;
    r.group = g;
    r.flags = flags;
    return r;
  };
  const ks::Stack& st = s.stack;
  for (std::size_t i = 0; i < st.layers.size(); ++i) {
    Row r = row(g_layer, "layer");
    const ks::Layer& l = st.layers[i];
    r.values[c.index] = static_cast<long long>(i);
    r.values[c.name] = l.name;
    r.values[c.thickness] = number(l.thickness);
    r.values[c.er] = number(l.er);
    r.values[c.loss_tangent] = number(l.loss_tangent);
    add(doc, std::move(r));
  }
  if (st.mask.present()) {
    Row r = row(g_mask, "mask");
    r.values[c.interface] = static_cast<long long>(st.mask_interface());
    r.values[c.over] = number(st.mask.over_trace);
    r.values[c.on_substrate] = number(st.mask.on_substrate);
    r.values[c.between] = number(st.mask.between);
    r.values[c.er] = number(st.mask.er);
    r.values[c.loss_tangent] = number(st.mask.loss_tangent);
    add(doc, std::move(r));
  }
  // The conductors as solved, with the aggressors of the crosstalk.
  const ks::Stack& all =
      s.crosstalk.empty() || s.crosstalk_stack.conductors.empty() ? st : s.crosstalk_stack;
  for (std::size_t i = 0; i < all.conductors.size(); ++i) {
    Row r = row(g_conductor, "conductor");
    const ks::Conductor& k = all.conductors[i];
    r.values[c.index] = static_cast<long long>(i);
    r.values[c.name] = k.name;
    r.values[c.role] = role_name(k.role);
    r.values[c.interface] = static_cast<long long>(k.interface);
    r.values[c.left] = number(k.left);  // unbounded: null
    r.values[c.right] = number(k.right);
    r.values[c.w] = number(k.bottom_width());
    r.values[c.top_w] = number(k.top_width());
    r.values[c.thickness] = number(k.thickness);
    add(doc, std::move(r));
  }
  const ks::Solution& sol = s.solution;
  for (std::size_t i = 0; i < s.lines.size(); ++i) {
    Row r = row(g_line, "line", s.flags);
    const ks::LineFigures& f = s.lines[i];
    const ks::Conductor& k = st.conductors[sol.lines[i]];
    r.values[c.index] = static_cast<long long>(i);
    r.values[c.name] = k.name;
    r.values[c.w] = number(k.bottom_width());
    r.values[c.z0] = number(f.z0);
    r.values[c.eff] = number(f.eff);
    r.values[c.delay] = number(f.delay * ps);
    r.values[c.field_error] = number(100.0 * std::max(f.error_z0, f.error_eff));
    r.values[c.err_z0] = number(100.0 * f.error_z0);
    r.values[c.err_eff] = number(100.0 * f.error_eff);
    r.values[c.c] = matrix_row(sol.c, i, 1e12 * u.m_per_unit);
    r.values[c.l] = matrix_row(sol.l, i, 1e9 * u.m_per_unit);
    add(doc, std::move(r));
  }
  if (pair) {
    Row r = row(g_pair, "pair", s.flags);
    const ks::PairFigures& p = s.pair;
    r.values[c.w] = number(w);
    r.values[c.s] = number(gap);
    r.values[c.zdiff] = number(p.zdiff);
    r.values[c.zcomm] = number(p.zcomm);
    r.values[c.zoe] = number(p.zoe);
    r.values[c.zoo] = number(p.zoo);
    r.values[c.eff_e] = number(p.eff_e);
    r.values[c.eff_o] = number(p.eff_o);
    r.values[c.delay_e] = number(p.delay_e * ps);
    r.values[c.delay_o] = number(p.delay_o * ps);
    r.values[c.field_error] =
        number(100.0 * std::max({p.error_zoe, p.error_zoo, p.error_eff_e, p.error_eff_o}));
    r.values[c.err_zoe] = number(100.0 * p.error_zoe);
    r.values[c.err_zoo] = number(100.0 * p.error_zoo);
    r.values[c.err_eff_e] = number(100.0 * p.error_eff_e);
    r.values[c.err_eff_o] = number(100.0 * p.error_eff_o);
    add(doc, std::move(r));
  }
  for (std::size_t i = 0; i < sol.modes.size(); ++i) {
    Row r = row(g_mode, "mode", s.flags);
    const ks::Mode& m = sol.modes[i];
    r.values[c.index] = static_cast<long long>(i);
    r.values[c.eff] = number(m.eff);
    r.values[c.delay] = number(m.delay * ps);
    r.values[c.z] = number(m.impedance);
    std::vector<float> v;
    for (const double x : m.voltage) v.push_back(static_cast<float>(x));
    r.values[c.voltages] = v;
    add(doc, std::move(r));
  }
  for (const study::CrosstalkRow& x : s.crosstalk) {
    Row r = row(g_crosstalk, "crosstalk", s.flags);
    const ks::Solution& xs = s.crosstalk_stack.conductors.empty() ? sol : s.crosstalk_solution;
    r.values[c.victim] = pair ? "pair" : "line";
    r.values[c.index] = static_cast<long long>(x.aggressor);
    r.values[c.name] = xs.stack.conductors[xs.lines[x.aggressor]].name;
    r.values[c.gap] = number(x.gap);
    r.values[c.kb] = number(x.figures.kb);
    r.values[c.kf] = number(x.figures.kf);
    r.values[c.kf_per_length] = number(x.figures.kf_per_length * ps);
    r.values[c.err_kb] = number(100.0 * x.figures.error_kb);
    r.values[c.err_kf] = number(100.0 * x.figures.error_kf);
    add(doc, std::move(r));
  }
  if (s.closed.available) {
    for (const study::ClosedFigure& f : s.closed.figures) {
      Row r = row(g_closed, "closed", s.closed.flags);
      r.values[c.quantity] = f.quantity;
      r.values[c.closed] = number(f.closed);
      r.values[c.field] = number(f.field);
      r.values[c.difference_pct] = number(f.difference_pct);
      r.values[c.field_error] = number(f.field_error_pct);
      if (std::abs(f.difference_pct) > static_cast<double>(closed_form_off_pct) &&
          f.quantity[0] == 'z') {
        r.flags |= flag_closed_form_off;
      }
      add(doc, std::move(r));
    }
  }
}

void line_summary(Document& doc, const study::Structure& s, bool pair, const std::string& solve,
                  double w, double gap) {
  doc.summary("solve", Unit::none, solve);
  doc.summary("solves", Unit::none, s.solves);
  doc.summary("w", Unit::length, w);
  if (pair) {
    doc.summary("s", Unit::length, gap);
    const std::vector<std::size_t> sig = s.stack.signals();
    const bool one_interface = s.stack.conductors[sig[0]].interface ==
                               s.stack.conductors[sig[1]].interface;
    doc.summary("pitch", Unit::length, one_interface ? Value(w + gap) : Value::none());
  }
  doc.summary("top_plane", Unit::none, s.stack.top_plane);
  doc.summary("panels", Unit::none, static_cast<long long>(s.solution.panels));
}

void line_tolerance_rows(Document& doc, const tol::StackStudy& study,
                         const tol::StackSummary& sum) {
  doc.uses(Unit::impedance);
  doc.uses(Unit::delay);
  statistics_columns(doc);
  const std::size_t count_col = doc.column("count", Unit::none, Precision::shortest());
  std::vector<std::size_t> shown;  // the tolerances given
  for (int k = 0; k < tol::n_stack_params; ++k) {
    if (study.half[static_cast<std::size_t>(k)] > 0.0) shown.push_back(static_cast<std::size_t>(k));
  }
  for (const std::size_t k : shown) {
    doc.column(std::string("share_") + tol::stack_param_names[k], Unit::percent,
               Precision::decimals(1), std::string("share ") + tol::stack_param_names[k]);
  }
  const std::size_t lim_min = doc.column("limit_min", Unit::none, Precision::shortest(), "min");
  doc.column("limit_max", Unit::none, Precision::shortest(), "max");
  doc.column("passed", Unit::none, Precision::shortest());
  doc.column("yield", Unit::percent, Precision::decimals(2));
  doc.column("ci95_low", Unit::percent, Precision::decimals(2), "95% from");
  doc.column("ci95_high", Unit::percent, Precision::decimals(2), "to");
  const std::size_t hist = doc.column("histogram", Unit::none, Precision::shortest());
  doc.hide_in_table(hist);
  const auto unit = [&doc](const std::string& figure) -> std::string {
    const std::string u = tol::stack_figure_unit(figure);
    return u == "delay" ? doc.unit_text(Unit::delay) : u;
  };
  for (std::size_t i = 0; i < sum.figures.size(); ++i) {
    const tol::StackFigureStats& f = sum.fig[i];
    Row row;
    row.values = {"figure",       sum.figures[i],   unit(sum.figures[i]), number(f.nominal),
                  number(f.mean), number(f.stddev), number(f.min)};
    for (const double p : f.pct) row.values.emplace_back(number(p));
    row.values.emplace_back(number(f.max));
    row.values.emplace_back(f.count);
    for (const std::size_t k : shown) row.values.emplace_back(100.0 * f.share[k]);
    row.values.resize(hist);
    row.values.emplace_back(f.histogram);
    row.flags = sum.nominal_flags;
    add(doc, std::move(row));
  }
  const auto yield_row = [&](const char* kind_name, const std::string& figure, double lo, double hi,
                             const tol::Yield& y) {
    Row row;
    row.values.resize(doc.columns().size());
    row.values[0] = kind_name;
    row.values[1] = figure;
    row.values[2] = figure == "all" ? "" : unit(figure);
    row.values[count_col] = y.count;
    row.values[lim_min] = number(lo);
    row.values[lim_min + 1] = number(hi);
    row.values[lim_min + 2] = y.passed;
    row.values[lim_min + 3] = number(y.percent);
    row.values[lim_min + 4] = number(y.ci_low);
    row.values[lim_min + 5] = number(y.ci_high);
    row.flags = sum.nominal_flags;
    row.group = 1;
    add(doc, std::move(row));
  };
  for (std::size_t j = 0; j < sum.limits.size(); ++j) {
    const tol::StackLimit& lim = sum.limits[j];
    yield_row("limit", sum.figures[static_cast<std::size_t>(lim.figure)], lim.min, lim.max,
              sum.yields[j]);
  }
  if (!sum.limits.empty()) {
    yield_row("all_limits", "all", -INFINITY, INFINITY, sum.joint);
  }
  doc.summary("samples", Unit::none, sum.samples);
  doc.summary("valid", Unit::none, sum.valid);
  doc.summary("field_error_samples", Unit::none, sum.field_error);
  doc.summary("unphysical", Unit::none, sum.unphysical);
  doc.summary("failed", Unit::none, sum.failed);
  doc.summary("redrawn", Unit::none, sum.redraws);
  doc.summary("oat_samples", Unit::none, sum.oat_samples);
  doc.summary("field_error", Unit::percent, 100.0 * sum.nominal_error);
  doc.summary("yield_rule", Unit::none,
              "a sample passes a limit when it is within it and the solver's error estimate is "
              "within what --accuracy promises; the statistics count the others too");
}

}  // namespace kx::cli
