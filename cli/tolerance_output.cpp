// The tolerance summary as a document: one row per figure (its statistics
// and each tolerance's share of its spread), one per limit and one for all
// limits jointly; the sample counts in the summary (the method is in
// doc/tolerance.md).
#include "cli/tolerance_output.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <kestrelix/validity.h>

namespace kx::cli {
namespace {

using tol::Param;
using tol::Study;
using tol::Summary;

// A length in the output unit to the 7 significant digits a float carries:
// 0.03433f inch (0.034329999...) is 34.33 mil, not 34.329998.
double in_unit(const Study& study, float inches) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(inches) / study.inches_per_unit);
  return std::strtod(buf, nullptr);
}

bool is_length(Param p) { return p != tol::p_er; }

float nominal_of(const Section& s, Param p) {
  switch (p) {
    case tol::p_w:
      return s.w;
    case tol::p_s:
      return s.s;
    case tol::p_h:
      return s.h;
    case tol::p_h2:
      return s.h2;
    case tol::p_t:
      return s.t;
    case tol::p_er:
      return s.er;
    default:
      return 0.0f;
  }
}

Value number(double v) { return std::isfinite(v) ? Value(v) : Value::none(); }
Value number(float v) { return std::isfinite(v) ? Value(v) : Value::none(); }

void inputs(Document& doc, const Study& study, const Summary& sum) {
  const Section& n = study.nominal;
  for (const Param p : {tol::p_er, tol::p_h, tol::p_h2, tol::p_w, tol::p_s, tol::p_t}) {
    const std::string name = tol::param_names[static_cast<std::size_t>(p)];
    if (is_length(p)) {
      doc.input(name, Unit::length, in_unit(study, nominal_of(n, p)));
    } else {
      doc.input(name, Unit::none, n.er);
    }
  }
  doc.input("f", Unit::frequency, study.f);
  if (study.length > 0.0f) doc.input("length", Unit::length, in_unit(study, study.length));
  if (study.centre > 0.0f) doc.input("centre", Unit::frequency, study.centre);
  if (sum.four_port) {
    doc.input("rs", Unit::impedance, study.rs);
    doc.input("rl", Unit::impedance, study.rl);
  }
  doc.input("tlos", Unit::none, study.mat.tlos);
  doc.input("res", Unit::resistivity, study.mat.res);
  doc.input("sr", Unit::roughness, study.mat.sr);
  for (int k = 0; k < tol::n_params; ++k) {
    const auto p = static_cast<Param>(k);
    const std::string name = std::string("tol_") + tol::param_names[static_cast<std::size_t>(k)];
    if (is_length(p)) {
      doc.input(name, Unit::length, in_unit(study, study.tol[p]));
    } else {
      doc.input(name, Unit::none, study.tol[p]);
    }
  }
  const bool normal = study.dist == tol::Dist::normal;
  doc.input("distribution", Unit::none, normal ? "normal" : "uniform");
  doc.input("half_width", Unit::none, normal ? "3 sigma" : "bounds");
  doc.input("samples", Unit::none, study.samples);
  doc.input("seed", Unit::none, static_cast<unsigned long long>(study.seed));
}

void summary(Document& doc, const Study& study, const Summary& sum) {
  doc.summary("length", Unit::length,
              sum.four_port ? Value(in_unit(study, sum.length)) : Value::none());
  doc.summary("centre", Unit::frequency, study.centre > 0.0f ? Value(study.centre) : Value::none());
  doc.summary("samples", Unit::none, sum.samples);
  doc.summary("valid", Unit::none, sum.valid);
  const tol::OutsideRange& out = sum.outside;
  doc.summary("outside_range", Unit::none, out.total);
  doc.summary("outside_wh", Unit::none, out.wh, true);
  doc.summary("outside_sh", Unit::none, out.sh, true);
  doc.summary("outside_er", Unit::none, out.er, true);
  doc.summary("outside_fh", Unit::none, out.fh, true);
  doc.summary("outside_s_lt_2t", Unit::none, out.s_lt_2t, true);
  const tol::Invalid& inv = sum.invalid;
  doc.summary("invalid", Unit::none, inv.total);
  doc.summary("invalid_zo_single", Unit::none, inv.iflag1, true);
  doc.summary("invalid_cover", Unit::none, inv.iflag2, true);
  doc.summary("invalid_not_finite", Unit::none, inv.non_finite, true);
  doc.summary("invalid_unphysical", Unit::none, inv.unphysical, true);
  // The accuracy limits the flagged samples cross, in the accuracy report's
  // order (Zoo above Zoe is invalid_cover).
  for (const unsigned code : {flag_fh, flag_er, flag_wh, flag_w_narrow, flag_sh, flag_s_narrow}) {
    doc.summary(std::string("invalid_") + validity_code(code), Unit::none,
                inv.reason[static_cast<std::size_t>(code_index(code))], true);
  }
  doc.summary("invalid_no_reason", Unit::none, inv.no_reason, true);
  doc.summary("redrawn", Unit::none, sum.redraws);
  doc.summary("oat_samples", Unit::none, sum.oat_samples);
  doc.summary("yield_rule", Unit::none,
              "a sample passes a limit when it is within it and inside the models' ranges; "
              "the statistics count the samples outside the ranges too (doc/tolerance.md)");
}

}  // namespace

void statistics_columns(Document& doc) {
  const std::size_t kind = doc.column("kind", Unit::none, Precision::shortest());
  doc.hide_in_table(kind);
  doc.column("figure", Unit::none, Precision::shortest());
  doc.column("unit", Unit::none, Precision::shortest());
  for (const char* stat :
       {"nominal", "mean", "std", "min", "p1", "p5", "p50", "p95", "p99", "max"}) {
    doc.column(stat, Unit::none, Precision::sig(stat == std::string("std") ? 4 : 6));
  }
}

Document tolerance_document(const Study& study, const Summary& sum) {
  Document doc("tolerance", study.unit_name);
  inputs(doc, study, sum);
  // The statistics are in each figure's own unit (the row's unit field).
  doc.uses(Unit::impedance);
  doc.uses(Unit::level);
  if (sum.four_port) doc.uses(Unit::angle);

  statistics_columns(doc);
  doc.column("count", Unit::none, Precision::shortest());
  for (const char* p : tol::param_names) {
    doc.column(std::string("share_") + p, Unit::percent, Precision::decimals(1),
               std::string("share ") + p);
  }
  doc.column("limit_min", Unit::none, Precision::shortest(), "min");
  doc.column("limit_max", Unit::none, Precision::shortest(), "max");
  doc.column("over_band", Unit::none, Precision::shortest(), "band");
  doc.column("passed", Unit::none, Precision::shortest());
  const std::size_t yield_col = doc.columns().size();
  doc.column("yield", Unit::percent, Precision::decimals(2));
  doc.column("ci95_low", Unit::percent, Precision::decimals(2), "95% from");
  doc.column("ci95_high", Unit::percent, Precision::decimals(2), "to");
  // Counts in tol::histogram_bins equal bins from the row's min to its max.
  doc.hide_in_table(doc.column("histogram", Unit::none, Precision::shortest()));
  const std::size_t count_col = 13;

  for (int i = 0; i < sum.n_fig; ++i) {
    const auto ui = static_cast<std::size_t>(i);
    const tol::FigureStats& f = sum.fig[ui];
    Row row;
    row.values = {"figure",       tol::figure_names[ui], tol::figure_units[ui], number(f.nominal),
                  number(f.mean), number(f.stddev),      number(f.min)};
    for (const double p : f.pct) row.values.emplace_back(number(p));
    row.values.emplace_back(number(f.max));
    row.values.emplace_back(f.count);
    for (const double sh : f.share) row.values.emplace_back(100.0 * sh);
    row.values.resize(doc.columns().size() - 1);
    row.values.emplace_back(f.histogram);
    row.flags = sum.nominal_flags;
    doc.add(std::move(row));
  }
  const auto yield_row = [&](const char* kind_name, const std::string& figure, const char* unit,
                             float lo, float hi, bool band, const tol::Yield& y) {
    Row row;
    row.values.resize(doc.columns().size());
    row.values[0] = kind_name;
    row.values[1] = figure;
    row.values[2] = unit;
    row.values[count_col] = y.count;
    row.values[yield_col - 4] = number(lo);
    row.values[yield_col - 3] = number(hi);
    row.values[yield_col - 2] = band;
    row.values[yield_col - 1] = y.passed;
    row.values[yield_col] = number(y.percent);
    row.values[yield_col + 1] = number(y.ci_low);
    row.values[yield_col + 2] = number(y.ci_high);
    row.flags = sum.nominal_flags;
    row.group = 1;
    doc.add(std::move(row));
  };
  for (std::size_t j = 0; j < sum.limits.size(); ++j) {
    const tol::Limit& lim = sum.limits[j];
    const auto fi = static_cast<std::size_t>(lim.figure);
    const bool band = !study.band.empty() && lim.figure >= tol::n_section_figures;
    yield_row("limit", tol::figure_names[fi], tol::figure_units[fi], lim.min, lim.max, band,
              sum.yields[j]);
  }
  if (!sum.limits.empty()) {
    const float inf = INFINITY;
    yield_row("all_limits", "all", "", -inf, inf, !study.band.empty(), sum.joint);
  }
  summary(doc, study, sum);
  return doc;
}

}  // namespace kx::cli
