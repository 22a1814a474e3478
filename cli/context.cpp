#include "cli/context.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <utility>

#include "common/constants.h"
#include "common/ftn_format.h"
#include "common/report.h"
#include "common/sweep.h"
#include "input/accuracy_lines.h"
#include "input/defaults_file.h"
#include "input/warnings.h"
#include "models/limits.h"
#include "models/validity.h"

namespace kx::cli {
namespace {

std::string one_line(std::string s) {
  std::replace(s.begin(), s.end(), '\n', ' ');
  return s;
}

}  // namespace

// ----------------------------------------------------------------- Context --

SectionArgs Context::add_section(Command& cmd, bool with_w_s) {
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
  if (format_ == "touchstone") return Format::touchstone;
  return Format::table;
}

float Context::units_per_inch() const {
  if (units_ == "mil") return 1000.0f;
  if (units_ == "mm") return mm_per_inch;
  if (units_ == "um") return 25400.0f;
  return 1.0f;
}

float Context::to_inch(float v) const { return v / units_per_inch(); }
float Context::from_inch(float v) const { return v * units_per_inch(); }
float Context::per_unit(float per_inch) const { return per_inch / units_per_inch(); }

const Design* Context::defaults() {
  if (defaults_path_.empty()) return nullptr;
  if (!defaults_) {
    const Defaults read = read_defaults(defaults_path_);
    if (!read.ok()) {
      std::string what = read.fault.message;
      const std::string prefix = "kestrelix: ";
      if (what.rfind(prefix, 0) == 0) what.erase(0, prefix.size());
      throw UsageError("--defaults: " + what);
    }
    defaults_ = read.design;
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

void Context::section_inputs(Document& doc, const Section& sec, bool with_w, bool with_s) const {
  doc.input("er", Unit::none, sec.er);
  doc.input("h", Unit::length, from_inch(sec.h));
  doc.input("h2", Unit::length, from_inch(sec.h2));
  if (with_w) doc.input("w", Unit::length, from_inch(sec.w));
  if (with_s) doc.input("s", Unit::length, from_inch(sec.s));
  doc.input("t", Unit::length, from_inch(sec.t));
}

void Context::range_inputs(Document& doc, const std::string& name, Unit unit, const Range& r,
                           const std::string& first, const std::string& second) const {
  const auto v = [&](float x) { return unit == Unit::length ? from_inch(x) : x; };
  doc.input(name + "_" + first, unit, v(r.a));
  doc.input(name + "_" + second, unit, v(r.b));
  doc.input(name + "_step", unit, v(r.step));
}

void Context::material_inputs(Document& doc, const Materials& mat, bool with_tlos) const {
  doc.input("res", Unit::resistivity, mat.res);
  doc.input("sr", Unit::roughness, mat.sr);
  if (with_tlos) doc.input("tlos", Unit::none, mat.tlos);
}

void Context::emit(const Document& doc, const std::string* touchstone) const {
  if (format() != Format::touchstone) {
    write(out, doc, format());
  } else if (touchstone != nullptr) {
    out << *touchstone;
  }
  out.flush();
  if (!out) throw RunError("cannot write the results to standard output");
  if (doc.flagged() > 0 && !doc.flag_note().empty()) {
    err << "kestrelix " << doc.command() << ": " << doc.flag_note() << '\n';
  } else if (const std::size_t n = doc.flagged(); n > 0) {
    err << "kestrelix " << doc.command() << ": " << n << " of " << doc.rows().size()
        << (doc.rows().size() == 1 ? " row" : " rows") << " outside the models' validity ranges ("
        << validity_codes(doc.all_flags()) << "): see the flags of each row\n";
  }
}

bool Context::add_row(Document& doc, Row row, const std::string& where) const {
  if (doc.add(std::move(row))) return true;
  doc.stopped();
  emit(doc);
  err << "kestrelix " << doc.command() << ": at " << where
      << " the models give a value that is not a finite number: the point is outside their "
         "validity ("
      << validity_code(flag_not_finite) << ")\n";
  err.flush();
  return false;
}

void Context::stop(Document& doc) const {
  doc.stopped();
  emit(doc);
}

std::string Context::length_text(float inches) const {
  return shortest(from_inch(inches)) + " " + units();
}

int Context::sweep_steps(const std::string& name, float max, float min, float step,
                         long long max_steps) const {
  const long long bound = std::min(max_steps, limits_.max_points);
  return cli::sweep_steps(name, max, min, step, static_cast<int>(std::max(1LL, bound)));
}

std::unique_ptr<OutputFile> Context::output_file(const Arg& a) {
  if (!limits_.files) throw UsageError(a.name + ": files are not written here");
  if (a.text.empty()) throw UsageError(a.name + ": the file name is empty");
  files_.protect(defaults_path_);
  try {
    return std::make_unique<OutputFile>(files_, a.text);
  } catch (const FileError& e) {
    throw RunError(a.name + ": " + e.what());
  }
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
  if (a.given()) return ctx_.to_inch(parse_number(a.name, a.text));
  return number(a, def, fallback);
}

Range Values::range(const Arg& a, const FromDefaults& a_def, const FromDefaults& b_def,
                    const FromDefaults& step_def, bool lengths) {
  if (a.given()) {
    Range r = parse_range(a.name, a.text);
    if (lengths) r = {ctx_.to_inch(r.a), ctx_.to_inch(r.b), ctx_.to_inch(r.step)};
    return r;
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

Range parse_range(const std::string& name, const std::string& text) {
  const auto p1 = text.find(':');
  const auto p2 = p1 == std::string::npos ? p1 : text.find(':', p1 + 1);
  if (p2 == std::string::npos || text.find(':', p2 + 1) != std::string::npos) {
    throw UsageError(name + ": expected three numbers A:B:STEP, got '" + one_line(text) + "'");
  }
  return {parse_number(name, text.substr(0, p1)),
          parse_number(name, text.substr(p1 + 1, p2 - p1 - 1)),
          parse_number(name, text.substr(p2 + 1))};
}

int sweep_steps(const std::string& name, float max, float min, float step, int max_steps) {
  if (!(step > 0.0f)) throw UsageError(name + ": the step must be above 0");
  if (min > max) {
    throw UsageError(name + ": the start is above the end; a range runs from low to high");
  }
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
