// The tolerance summary as an aligned table, one CSV or JSON.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/tolerance_output.h"
#include "models/limits.h"

namespace kx::tol {
namespace {

constexpr int kReasons = 7;
// Keys and texts of the accuracy limits, in kx::Reason bit order.
constexpr const char* kReasonKey[kReasons] = {"fh", "er", "cover", "wh", "w", "sh", "s"};
constexpr const char* kReasonText[kReasons] = {
    "F*H above 25 GHz-mm", "Er above 20",  "Zoo above Zoe (cover height with S/H)",
    "W/H above 10",        "W too narrow", "S/H above 8",
    "S too narrow"};
static_assert(limits::max_fh == 25.0f && limits::max_er == 20.0f && limits::max_wh == 10.0f &&
                  limits::max_sh == 8.0f,
              "the reason texts quote the accuracy limits");

const char* dist_name(Dist d) { return d == Dist::normal ? "normal" : "uniform"; }
const char* dist_note(Dist d) {
  return d == Dist::normal ? "half-width = 3 sigma" : "half-width = bounds";
}

// Shortest text that reads back to the same value.
template <typename T>
std::string num(T v) {
  char buf[40];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}
// A CSV cell: shortest text, empty for not-a-number.
template <typename T>
std::string cell(T v) {
  return std::isnan(v) ? std::string() : num(v);
}
// A float as JSON: its shortest decimal, not the digits of its double widening.
nlohmann::ordered_json jf(float v) {
  if (!std::isfinite(v)) return nullptr;
  return std::stod(num(v));
}
nlohmann::ordered_json jd(double v) {
  if (!std::isfinite(v)) return nullptr;
  return v;
}

// A length in the output unit to the 7 significant digits a float carries:
// 0.03433f inch (0.034329999...) is 34.33 mil, not 34.329998.
double in_unit(const Study& study, float inches) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(inches) / study.inches_per_unit);
  return std::strtod(buf, nullptr);
}
double quantity(const Study& study, Param p) {
  const Section& s = study.nominal;
  switch (p) {
    case p_w:
      return in_unit(study, s.w);
    case p_s:
      return in_unit(study, s.s);
    case p_h:
      return in_unit(study, s.h);
    case p_h2:
      return in_unit(study, s.h2);
    case p_t:
      return in_unit(study, s.t);
    default:
      return static_cast<double>(s.er);
  }
}
double tolerance(const Study& study, Param p) {
  const float v = study.tol[p];
  return p == p_er ? static_cast<double>(v) : in_unit(study, v);
}

std::string fmt_g(double v, int width, int prec = 6) {
  char buf[64];
  if (std::isnan(v)) {
    std::snprintf(buf, sizeof buf, " %*s", width, "-");
  } else {
    std::snprintf(buf, sizeof buf, " %*.*g", width, prec, v);
  }
  return buf;
}

std::string limit_text(const Limit& lim) {
  return std::string(figure_names[static_cast<std::size_t>(lim.figure)]) + " " +
         (std::isinf(lim.min) ? std::string("-inf") : num(lim.min)) + " .. " +
         (std::isinf(lim.max) ? std::string("inf") : num(lim.max));
}

}  // namespace

void write_table(std::ostream& os, const Study& study, const Summary& sum) {
  const std::string& u = study.unit_name;
  const Section& n = study.nominal;
  os << "Tolerance analysis by Monte Carlo sampling\n";
  os << "  Section:     Er " << num(n.er) << ", H " << num(in_unit(study, n.h)) << " " << u
     << ", H2 " << num(in_unit(study, n.h2)) << " " << u << ", W " << num(in_unit(study, n.w))
     << " " << u << ", S " << num(in_unit(study, n.s)) << " " << u << ", T "
     << num(in_unit(study, n.t)) << " " << u << "\n";
  os << "  Frequency:   " << num(study.f) << " GHz\n";
  if (sum.four_port) {
    os << "  Coupler:     length " << num(in_unit(study, sum.length)) << " " << u;
    if (study.centre > 0.0f)
      os << " (quarter wave of the nominal section at " << num(study.centre) << " GHz)";
    os << "\n               Rs " << num(study.rs) << " ohm, Rl " << num(study.rl)
       << " ohm; loss tangent " << num(study.mat.tlos) << ", resistivity " << num(study.mat.res)
       << " u-ohm-cm, roughness " << num(study.mat.sr) << " u-in\n";
  }
  os << "  Tolerances:  ";
  bool any = false;
  for (int k = 0; k < n_params; ++k) {
    const auto p = static_cast<Param>(k);
    if (study.tol[p] == 0.0f) continue;
    os << (any ? ", " : "") << param_names[static_cast<std::size_t>(k)] << " +-"
       << (p == p_er ? num(study.tol[p]) : num(tolerance(study, p)) + " " + u);
    any = true;
  }
  os << (any ? "" : "none") << " (" << dist_name(study.dist) << ", " << dist_note(study.dist)
     << ")\n";
  os << "  Samples:     " << sum.samples << ", seed " << study.seed << "; " << sum.redraws
     << " unphysical draws drawn again\n";
  os << "  Valid:       " << sum.valid << " of " << sum.samples
     << "; statistics and yields are over the valid samples\n";
  const Invalid& inv = sum.invalid;
  if (inv.total > 0) {
    os << "  Invalid:     " << inv.total << " samples left out of the statistics\n";
    if (inv.iflag1 > 0)
      os << "    " << inv.iflag1 << " Zo above the single-strip impedance (flag 1)\n";
    if (inv.iflag2 > 0) os << "    " << inv.iflag2 << " Zoo above Zoe (flag 2)\n";
    for (int b = 0; b < kReasons; ++b) {
      if (inv.reason[b] > 0) os << "    " << inv.reason[b] << " " << kReasonText[b] << "\n";
    }
    if (inv.no_reason > 0) os << "    " << inv.no_reason << " with no accuracy limit crossed\n";
    if (inv.non_finite > 0)
      os << "    " << inv.non_finite << " with a result that is not a number\n";
    if (inv.unphysical > 0) {
      os << "    " << inv.unphysical << " with no physical draw in " << max_redraws + 1
         << " attempts\n";
    }
  }

  os << "\n";
  char head[256];
  std::snprintf(head, sizeof head, "%-16s %-4s %11s %11s %11s %11s %11s %11s %11s %11s %11s %11s\n",
                "figure", "unit", "nominal", "mean", "std dev", "min", "p1", "p5", "p50", "p95",
                "p99", "max");
  os << head;
  for (int i = 0; i < sum.n_fig; ++i) {
    const auto ui = static_cast<std::size_t>(i);
    const FigureStats& f = sum.fig[ui];
    char lead[64];
    std::snprintf(lead, sizeof lead, "%-16s %-4s", figure_names[ui], figure_units[ui]);
    os << lead << fmt_g(static_cast<double>(f.nominal), 11) << fmt_g(f.mean, 11)
       << fmt_g(f.stddev, 11, 4) << fmt_g(f.min, 11);
    for (const double p : f.pct) os << fmt_g(p, 11);
    os << fmt_g(f.max, 11) << "\n";
  }
  os << "  Mean and standard deviation streamed (Welford, double); percentiles interpolated\n"
        "  between order statistics, selected from one float array per figure (4 bytes per\n"
        "  figure per valid sample).\n";

  os << "\nShare of the spread, % (one-at-a-time runs: each tolerance alone, " << sum.oat_samples
     << " samples;\nits variance as a share of the sum of the variances)\n";
  std::snprintf(head, sizeof head, "%-21s%8s%8s%8s%8s%8s%8s   %s\n", "figure", "w", "s", "h", "h2",
                "t", "er", "largest");
  os << head;
  for (int i = 0; i < sum.n_fig; ++i) {
    const auto ui = static_cast<std::size_t>(i);
    const FigureStats& f = sum.fig[ui];
    char lead[32];
    std::snprintf(lead, sizeof lead, "%-21s", figure_names[ui]);
    os << lead;
    std::size_t top = 0;
    double topv = 0.0;
    for (std::size_t k = 0; k < n_params; ++k) {
      char c[16];
      std::snprintf(c, sizeof c, "%8.1f", 100.0 * f.share[k]);
      os << c;
      if (f.share[k] > topv) {
        topv = f.share[k];
        top = k;
      }
    }
    os << "   " << (topv > 0.0 ? param_names[top] : "-") << "\n";
  }

  if (!study.limits.empty()) {
    os << "\nYield over the valid samples (95 % confidence: Wilson score interval)\n";
    std::snprintf(head, sizeof head, "%-36s%10s%10s%10s%19s\n", "limit", "passed", "of", "yield %",
                  "95 % interval");
    os << head;
    const auto row = [&](const std::string& name, const Yield& y) {
      char line[160];
      std::snprintf(line, sizeof line, "%-36s%10lld%10lld%10.2f    %6.2f .. %6.2f\n", name.c_str(),
                    y.passed, y.count, y.percent, y.ci_low, y.ci_high);
      os << line;
    };
    for (std::size_t j = 0; j < study.limits.size(); ++j)
      row(limit_text(study.limits[j]), sum.yields[j]);
    row("all limits", sum.joint);
  }
}

void write_csv(std::ostream& os, const Study& study, const Summary& sum) {
  // One header; every row has every column, empty where it does not apply.
  std::vector<std::string> cols{"kind", "name", "unit", "nominal", "mean", "std", "min",
                                "p1",   "p5",   "p50",  "p95",     "p99",  "max"};
  for (const char* p : param_names) cols.push_back(std::string("share_") + p);
  for (const char* c : {"limit_min", "limit_max", "passed", "count", "yield_pct", "ci95_low_pct",
                        "ci95_high_pct"}) {
    cols.push_back(c);
  }
  const auto col = [&](const char* name) {
    return static_cast<std::size_t>(std::find(cols.begin(), cols.end(), name) - cols.begin());
  };
  const auto put = [&](const std::vector<std::string>& row) {
    for (std::size_t i = 0; i < row.size(); ++i) os << (i == 0 ? "" : ",") << row[i];
    os << "\n";
  };
  put(cols);
  const auto blank = [&](const char* kind, const std::string& name) {
    std::vector<std::string> row(cols.size());
    row[0] = kind;
    row[1] = name;
    return row;
  };

  for (int i = 0; i < sum.n_fig; ++i) {
    const auto ui = static_cast<std::size_t>(i);
    const FigureStats& f = sum.fig[ui];
    std::vector<std::string> row = blank("figure", figure_names[ui]);
    row[col("unit")] = figure_units[ui];
    row[col("nominal")] = cell(f.nominal);
    row[col("mean")] = cell(f.mean);
    row[col("std")] = cell(f.stddev);
    row[col("min")] = cell(f.min);
    for (std::size_t j = 0; j < percentiles.size(); ++j) row[col("p1") + j] = cell(f.pct[j]);
    row[col("max")] = cell(f.max);
    for (std::size_t k = 0; k < n_params; ++k) row[col("share_w") + k] = cell(f.share[k]);
    row[col("count")] = num(f.count);
    put(row);
  }
  const auto yield_cells = [&](std::vector<std::string>& row, const Yield& y) {
    row[col("passed")] = num(y.passed);
    row[col("count")] = num(y.count);
    row[col("yield_pct")] = cell(y.percent);
    row[col("ci95_low_pct")] = cell(y.ci_low);
    row[col("ci95_high_pct")] = cell(y.ci_high);
  };
  for (std::size_t j = 0; j < study.limits.size(); ++j) {
    const Limit& lim = study.limits[j];
    const auto fi = static_cast<std::size_t>(lim.figure);
    std::vector<std::string> row = blank("yield", figure_names[fi]);
    row[col("unit")] = figure_units[fi];
    row[col("limit_min")] = num(lim.min);
    row[col("limit_max")] = num(lim.max);
    yield_cells(row, sum.yields[j]);
    put(row);
  }
  if (!study.limits.empty()) {
    std::vector<std::string> row = blank("yield", "all");
    yield_cells(row, sum.joint);
    put(row);
  }
  const auto count_row = [&](const char* kind, const char* name, long long n) {
    std::vector<std::string> row = blank(kind, name);
    row[col("count")] = num(n);
    put(row);
  };
  count_row("count", "samples", sum.samples);
  count_row("count", "valid", sum.valid);
  count_row("count", "redrawn", sum.redraws);
  const Invalid& inv = sum.invalid;
  count_row("invalid", "total", inv.total);
  count_row("invalid", "iflag_1", inv.iflag1);
  count_row("invalid", "iflag_2", inv.iflag2);
  for (int b = 0; b < kReasons; ++b) count_row("invalid", kReasonKey[b], inv.reason[b]);
  count_row("invalid", "no_reason", inv.no_reason);
  count_row("invalid", "non_finite", inv.non_finite);
  count_row("invalid", "unphysical", inv.unphysical);
}

void write_json(std::ostream& os, const Study& study, const Summary& sum) {
  using json = nlohmann::ordered_json;  // keys in the order written
  json in;
  in["units"] = {{"length", study.unit_name},
                 {"frequency", "GHz"},
                 {"impedance", "ohm"},
                 {"resistivity", "micro-ohm-cm"},
                 {"roughness", "micro-inch"}};
  json sec;
  json tol;
  for (int k = 0; k < n_params; ++k) {
    const auto p = static_cast<Param>(k);
    sec[param_names[static_cast<std::size_t>(k)]] = p == p_er ? jf(study.nominal.er)
                                                              : jd(quantity(study, p));
    tol[param_names[static_cast<std::size_t>(k)]] = p == p_er ? jf(study.tol[p])
                                                              : jd(tolerance(study, p));
  }
  in["section"] = sec;
  in["tolerances"] = tol;
  in["distribution"] = dist_name(study.dist);
  in["half_width"] = dist_note(study.dist);
  in["f"] = jf(study.f);
  in["length"] = sum.four_port ? jd(in_unit(study, sum.length)) : json(nullptr);
  in["centre"] = study.centre > 0.0f ? jf(study.centre) : json(nullptr);
  if (sum.four_port) {
    in["rs"] = jf(study.rs);
    in["rl"] = jf(study.rl);
  }
  in["tlos"] = jf(study.mat.tlos);
  in["res"] = jf(study.mat.res);
  in["sr"] = jf(study.mat.sr);
  in["samples"] = study.samples;
  in["seed"] = study.seed;

  json out;
  out["command"] = "tolerance";
  out["inputs"] = in;
  out["samples"] = sum.samples;
  out["valid"] = sum.valid;
  out["redrawn"] = sum.redraws;
  const Invalid& inv = sum.invalid;
  json reasons;
  for (int b = 0; b < kReasons; ++b) reasons[kReasonKey[b]] = inv.reason[b];
  out["invalid"] = {{"total", inv.total},          {"iflag_1", inv.iflag1},
                    {"iflag_2", inv.iflag2},       {"reasons", reasons},
                    {"no_reason", inv.no_reason},  {"non_finite", inv.non_finite},
                    {"unphysical", inv.unphysical}};
  json figs = json::object();
  for (int i = 0; i < sum.n_fig; ++i) {
    const auto ui = static_cast<std::size_t>(i);
    const FigureStats& f = sum.fig[ui];
    json pct;
    for (std::size_t j = 0; j < percentiles.size(); ++j) {
      pct["p" + num(static_cast<int>(percentiles[j]))] = jd(f.pct[j]);
    }
    json share;
    for (std::size_t k = 0; k < n_params; ++k) share[param_names[k]] = f.share[k];
    figs[figure_names[ui]] = {
        {"unit", figure_units[ui]}, {"nominal", jf(f.nominal)}, {"count", f.count},
        {"mean", jd(f.mean)},       {"std", jd(f.stddev)},      {"min", jd(f.min)},
        {"max", jd(f.max)},         {"percentiles", pct},       {"share", share}};
  }
  out["figures"] = figs;
  const auto yj = [](const Yield& y) {
    return json{{"passed", y.passed},
                {"count", y.count},
                {"yield_pct", jd(y.percent)},
                {"ci95_pct", json::array({jd(y.ci_low), jd(y.ci_high)})}};
  };
  json ys = json::array();
  for (std::size_t j = 0; j < study.limits.size(); ++j) {
    const Limit& lim = study.limits[j];
    json y = yj(sum.yields[j]);
    y["figure"] = figure_names[static_cast<std::size_t>(lim.figure)];
    y["min"] = jf(lim.min);
    y["max"] = jf(lim.max);
    ys.push_back(y);
  }
  out["yields"] = ys;
  out["joint_yield"] = study.limits.empty() ? json(nullptr) : yj(sum.joint);
  out["method"] = {
      {"statistics", "over the valid samples; mean and variance streamed (Welford, double)"},
      {"percentiles",
       "linear interpolation between order statistics, selected from one float array per figure"},
      {"share", "one-at-a-time runs, each tolerance alone over " + std::to_string(sum.oat_samples) +
                    " samples; share of the sum of the variances"},
      {"yield_interval", "Wilson score interval, 95 %"}};
  os << out.dump(2) << "\n";
}

}  // namespace kx::tol
