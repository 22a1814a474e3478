#include "cli/context.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <sstream>
#include <utility>

#include "common/constants.h"
#include "common/ftn_format.h"
#include "common/report.h"
#include "common/sweep.h"
#include "input/accuracy_lines.h"
#include "input/dialogue_steps.h"
#include "input/warnings.h"
#include "models/limits.h"

namespace kx::cli {
namespace {

std::string one_line(std::string s) {
  std::replace(s.begin(), s.end(), '\n', ' ');
  return s;
}

// The three parts of A:B:STEP.
std::array<std::string, 3> range_parts(const std::string& name, const std::string& text) {
  const auto p1 = text.find(':');
  const auto p2 = p1 == std::string::npos ? p1 : text.find(':', p1 + 1);
  if (p2 == std::string::npos || text.find(':', p2 + 1) != std::string::npos) {
    throw UsageError(name + ": expected three numbers A:B:STEP, got '" + one_line(text) + "'");
  }
  return {text.substr(0, p1), text.substr(p1 + 1, p2 - p1 - 1), text.substr(p2 + 1)};
}

// A float as a JSON number (the double nearest its shortest decimal text,
// which prints as that text), or null when it is not finite.
nlohmann::ordered_json json_number(float v) {
  if (!std::isfinite(v)) return nullptr;
  return std::strtod(shortest(v).c_str(), nullptr);
}

}  // namespace

std::string shortest(float v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// ------------------------------------------------------------------ Output --

Output::Output(std::string command, std::vector<std::string> columns)
    : command_(std::move(command)), columns_(std::move(columns)) {}

void Output::input(const std::string& key, float value) { inputs_[key] = json_number(value); }

void Output::input(const std::string& key, const std::string& value) { inputs_[key] = value; }

void Output::row(std::vector<float> values) { rows_.push_back(std::move(values)); }

void Output::write(std::ostream& out, Format format) const {
  if (format == Format::json) {
    nlohmann::ordered_json doc = nlohmann::ordered_json::object();
    doc["command"] = command_;
    doc["inputs"] = inputs_;
    doc["rows"] = nlohmann::ordered_json::array();
    for (const auto& r : rows_) {
      nlohmann::ordered_json o = nlohmann::ordered_json::object();
      for (std::size_t k = 0; k < columns_.size() && k < r.size(); ++k) {
        o[columns_[k]] = json_number(r[k]);
      }
      doc["rows"].push_back(std::move(o));
    }
    out << doc.dump(2) << '\n';
    return;
  }
  std::vector<std::vector<std::string>> cells;
  cells.push_back(columns_);
  for (const auto& r : rows_) {
    std::vector<std::string> line;
    for (const float v : r) line.push_back(shortest(v));
    cells.push_back(std::move(line));
  }
  if (format == Format::csv) {
    for (const auto& line : cells) {
      for (std::size_t k = 0; k < line.size(); ++k) out << (k ? "," : "") << line[k];
      out << '\n';
    }
    return;
  }
  std::vector<std::size_t> width(columns_.size(), 0);
  for (const auto& line : cells) {
    for (std::size_t k = 0; k < line.size() && k < width.size(); ++k) {
      width[k] = std::max(width[k], line[k].size());
    }
  }
  for (const auto& line : cells) {
    for (std::size_t k = 0; k < line.size() && k < width.size(); ++k) {
      out << (k ? "  " : "") << std::string(width[k] - line[k].size(), ' ') << line[k];
    }
    out << '\n';
  }
}

// ----------------------------------------------------------------- Context --

CLI::App* Context::add_command(CLI::App& app, const std::string& name, const std::string& about,
                               std::function<int()> action) {
  CLI::App* cmd = app.add_subcommand(name, about);
  cmd->add_option("--units", units_,
                  "Length unit of every length in and out: in (default), mil, mm, um")
      ->check(CLI::IsMember({"in", "mil", "mm", "um"}));
  cmd->add_option("--format", format_, "Output: table (default), csv or json")
      ->check(CLI::IsMember({"table", "csv", "json"}));
  cmd->add_option("--defaults", defaults_path_,
                  "Defaults file in the Kestrelix.DEF format: supplies every value not given")
      ->check(CLI::ExistingFile);
  cmd->footer("Columns, units, defaults and exit status: kestrelix --help");
  cmd->callback([this, action = std::move(action)] { action_ = action; });
  return cmd;
}

Arg* Context::add_value(CLI::App* cmd, const std::string& name, const std::string& help) {
  args_.push_back(Arg{name, {}, nullptr});
  Arg& a = args_.back();
  a.opt = cmd->add_option(name, a.text, help);
  const bool range = name.size() > 6 && name.compare(name.size() - 6, 6, "-range") == 0;
  a.opt->type_name(range ? "A:B:STEP" : name == "--touchstone" ? "FILE" : "NUMBER");
  return &a;
}

SectionArgs Context::add_section(CLI::App* cmd, bool with_w_s) {
  SectionArgs a;
  a.er = add_value(cmd, "--er", "Substrate relative dielectric constant Er");
  a.h = add_value(cmd, "--h", "Substrate thickness H");
  a.h2 = add_value(cmd, "--h2", "Top cover height above the substrate H2 (at least 2 H)");
  if (with_w_s) {
    a.w = add_value(cmd, "--w", "Strip width W");
    a.s = add_value(cmd, "--s", "Gap between the strips S");
  }
  a.t = add_value(cmd, "--t", "Strip thickness T");
  a.res = add_value(cmd, "--res", "Conductor resistivity, micro-ohm-cm (default 1.7, copper)");
  a.sr = add_value(cmd, "--sr", "RMS surface roughness, micro-inch (default 2.5)");
  return a;
}

Format Context::format() const {
  if (format_ == "csv") return Format::csv;
  if (format_ == "json") return Format::json;
  return Format::table;
}

float Context::units_per_inch() const {
  if (units_ == "mil") return 1000.0f;
  if (units_ == "mm") return mm_per_inch;
  if (units_ == "um") return 25400.0f;
  return 1.0f;
}

// Converted in double precision and rounded once (kestrelix/units.h): a
// length typed in mm gives the bits of the same length typed in inches.
float Context::to_inch(double v) const {
  if (units_ == "mil") return from_mil(v);
  if (units_ == "mm") return from_mm(v);
  if (units_ == "um") return from_um(v);
  return static_cast<float>(v);
}
float Context::from_inch(float v) const {
  if (units_ == "mil") return to_mil(v);
  if (units_ == "mm") return to_mm(v);
  if (units_ == "um") return to_um(v);
  return v;
}
float Context::per_unit(float per_inch) const { return per_inch / units_per_inch(); }

const Design* Context::defaults() {
  if (defaults_path_.empty()) return nullptr;
  if (!defaults_) {
    Design d{};
    float fo = 0.0f;
    std::istringstream none;
    Answers in(none);
    Report rep(err);
    Console io{in, rep, {}};
    bool ok = false;
    try {
      ok = dialogue::read_defaults_file(io, d, fo, defaults_path_);
    } catch (const std::exception& e) {
      std::string what = e.what();
      const std::string prefix = "kestrelix: ";
      if (what.rfind(prefix, 0) == 0) what.erase(0, prefix.size());
      throw UsageError("--defaults: " + what);
    }
    if (!ok) throw UsageError("--defaults: faulty defaults file " + defaults_path_);
    defaults_ = d;
  }
  return &*defaults_;
}

void Context::warn(std::string_view message, std::string_view question) const {
  std::string m = ftn_format(message, {});
  if (!m.empty() && m.front() == '\n') m.erase(0, 1);
  std::string q = ftn_format(question, {}, true);
  q = q.substr(0, q.find("Enter 1"));
  while (!q.empty() && q.back() == ' ') q.pop_back();
  err << m;
  if (!q.empty()) err << q << '\n';
}

void Context::violation(std::string_view run_name, const Section& sec, float f, int iflag,
                        const float* co, const float* zo) const {
  accuracy_lines(run_name, sec, f, iflag, co, zo,
                 [this](std::string_view t, std::initializer_list<FtnArg> a) {
                   err << ftn_format(t, a);
                 });
  err.flush();
}

void Context::section_inputs(Output& o, const Section& sec, bool with_w, bool with_s) const {
  o.input("length_unit", units());
  o.input("er", sec.er);
  o.input("h", from_inch(sec.h));
  o.input("h2", from_inch(sec.h2));
  if (with_w) o.input("w", from_inch(sec.w));
  if (with_s) o.input("s", from_inch(sec.s));
  o.input("t", from_inch(sec.t));
}

void Context::material_inputs(Output& o, const Materials& mat, bool with_tlos) const {
  o.input("res_uohm_cm", mat.res);
  o.input("sr_uinch", mat.sr);
  if (with_tlos) o.input("tlos", mat.tlos);
}

void Context::emit(const Output& o) const {
  o.write(out, format());
  out.flush();
  if (!out) throw RunError("cannot write the results to standard output");
}

// ------------------------------------------------------------------ Values --

float Values::number(const Arg& a, const FromDefaults& def, std::optional<float> fallback) {
  if (a.given()) return parse_number(a.name, a.text);
  if (const Design* d = ctx_.defaults(); d != nullptr && def) return def(*d);
  if (fallback) return *fallback;
  missing(a.name);
  return 0.0f;
}

float Values::length(const Arg& a, const FromDefaults& def, std::optional<float> fallback) {
  if (a.given()) return ctx_.length_to_inch(a.name, a.text);
  return number(a, def, fallback);
}

Range Values::range(const Arg& a, const FromDefaults& a_def, const FromDefaults& b_def,
                    const FromDefaults& step_def, bool lengths) {
  if (a.given()) {
    if (!lengths) return parse_range(a.name, a.text);
    const std::array<std::string, 3> p = range_parts(a.name, a.text);
    return {ctx_.length_to_inch(a.name, p[0]), ctx_.length_to_inch(a.name, p[1]),
            ctx_.length_to_inch(a.name, p[2])};
  }
  if (const Design* d = ctx_.defaults(); d != nullptr && a_def && b_def && step_def) {
    return {a_def(*d), b_def(*d), step_def(*d)};
  }
  missing(a.name);
  return {};
}

void Values::check() const {
  if (missing_.empty()) return;
  std::string msg = "missing ";
  for (std::size_t k = 0; k < missing_.size(); ++k) msg += (k ? ", " : "") + missing_[k];
  throw UsageError(msg + " (or give --defaults FILE)");
}

// ----------------------------------------------------------------- parsing --

float parse_number(const std::string& name, const std::string& text) {
  const bool plain = !text.empty() &&
                     text.find_first_not_of("0123456789.+-eE") == std::string::npos;
  char* end = nullptr;
  const float v = plain ? std::strtof(text.c_str(), &end) : 0.0f;
  if (!plain || end != text.c_str() + text.size()) {
    throw UsageError(name + ": not a number: '" + one_line(text) + "'");
  }
  if (!std::isfinite(v)) throw UsageError(name + ": number out of range: " + text);
  return v;
}

float Context::length_to_inch(const std::string& name, const std::string& text) const {
  if (units_ == "in") return parse_number(name, text);
  parse_number(name, text);  // the same checks as every number
  const float v = to_inch(std::strtod(text.c_str(), nullptr));
  if (!std::isfinite(v)) throw UsageError(name + ": number out of range: " + text);
  return v;
}

Range parse_range(const std::string& name, const std::string& text) {
  const std::array<std::string, 3> p = range_parts(name, text);
  return {parse_number(name, p[0]), parse_number(name, p[1]), parse_number(name, p[2])};
}

int sweep_steps(const std::string& name, float max, float min, float step, int max_steps) {
  if (!(step > 0.0f)) throw UsageError(name + ": the step must be above 0");
  if (min > max) throw UsageError(name + ": the range must not run backwards");
  const int n = step_count(max, min, step);
  if (n < 0) throw UsageError(name + ": the range has no points");
  if (n >= max_steps) {
    throw UsageError(name + ": too many points (at most " + std::to_string(max_steps) + ")");
  }
  return n;
}

void require_above(const std::string& name, float v, float floor) {
  if (!(v > floor)) throw UsageError(name + ": must be above " + shortest(floor));
}

void require_at_least(const std::string& name, float v, float floor) {
  if (!(v >= floor)) throw UsageError(name + ": must be at least " + shortest(floor));
}

bool too_high(float f, float h) { return warnings::frequency_too_high(f, h); }

// ----------------------------------------------------------------- section --

Section resolve_section(Values& v, const SectionArgs& a, bool need_w, bool need_s) {
  Section sec;
  sec.er = v.number(*a.er, [](const Design& d) { return d.erdef; });
  sec.h = v.length(*a.h, [](const Design& d) { return d.hdef; });
  sec.h2 = v.length(*a.h2, [](const Design& d) { return d.h2def; });
  if (need_w) sec.w = v.length(*a.w, [](const Design& d) { return d.wdefdef; });
  if (need_s) sec.s = v.length(*a.s, [](const Design& d) { return d.sdefdef; });
  sec.t = v.length(*a.t, [](const Design& d) { return d.tdef; });
  return sec;
}

void validate_section(const SectionArgs& a, const Section& sec, bool need_w, bool need_s) {
  require_at_least(a.er->name, sec.er, 1.0f);
  require_above(a.h->name, sec.h, 0.0f);
  require_above(a.h2->name, sec.h2, 0.0f);
  if (sec.h2 < limits::min_h2h * sec.h) {
    throw UsageError(a.h2->name +
                     ": the top cover height H2 cannot be less than twice the "
                     "substrate thickness H");
  }
  if (need_w) require_above(a.w->name, sec.w, 0.0f);
  if (need_s) require_above(a.s->name, sec.s, 0.0f);
  require_at_least(a.t->name, sec.t, 0.0f);
}

Materials resolve_materials(Values& v, const SectionArgs& a, const Arg* tlos) {
  Materials mat;
  mat.res = v.number(
      *a.res, [](const Design& d) { return d.res1def; }, 1.7f);
  mat.sr = v.number(
      *a.sr, [](const Design& d) { return d.sr1def; }, 2.5f);
  if (tlos != nullptr)
    mat.tlos = v.number(
        *tlos, [](const Design& d) { return d.tlosdef; }, 0.0f);
  require_at_least(a.res->name, mat.res, 0.0f);
  require_at_least(a.sr->name, mat.sr, 0.0f);
  if (tlos != nullptr) require_at_least(tlos->name, mat.tlos, 0.0f);
  return mat;
}

void check_width(const Context& ctx, float w, float h) {
  if (warnings::strip_too_wide(w, h)) {
    ctx.warn(warnings::kWideStrip, warnings::kWideStripAsk);
  }
}

void check_gap(const Context& ctx, float s, float t, float h, bool narrow_test, bool stored_ratio) {
  if (narrow_test && warnings::gap_too_narrow(s, t))
    ctx.warn(warnings::kNarrowGap, warnings::kNarrowGapAsk);
  const bool wide = stored_ratio ? warnings::gap_too_wide_stored(s, h)
                                 : warnings::gap_too_wide(s, h);
  if (wide) ctx.warn(warnings::kWideGap, warnings::kWideGapAsk);
}

void check_section(const Context& ctx, const Section& sec, bool check_w, bool check_s) {
  if (check_w) check_width(ctx, sec.w, sec.h);
  if (check_s) check_gap(ctx, sec.s, sec.t, sec.h, true, false);
  if (sec.er > limits::max_er) ctx.warn(warnings::kHighEr, warnings::kHighErAsk);
}

}  // namespace kx::cli
