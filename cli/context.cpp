#include "cli/context.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <ostream>
#include <utility>

#include <kestrelix/validity.h>
#include "common/constants.h"
#include "common/report.h"
#include "common/sweep.h"
#include "models/limits.h"
#include "shared/defaults_file.h"
#include "shared/warnings.h"

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

}  // namespace

// ----------------------------------------------------------------- Context --

SectionArgs Context::add_section(Command& cmd, bool with_w_s) {
  SectionArgs a;
  a.er = add_value(cmd, "--er", "Substrate relative dielectric constant Er");
  a.h = add_value(cmd, "--h", "Substrate thickness H");
  a.h2 = add_value(cmd, "--h2",
                   "Top cover height above the substrate H2 (inf: none; the field model: above "
                   "the strips, T + any coating; the closed forms: at least 2 H)");
  if (with_w_s) {
    a.w = add_value(cmd, "--w", "Strip width W");
    a.s = add_value(cmd, "--s", "Gap between the strips S");
  }
  a.t = add_value(cmd, "--t", "Strip thickness T");
  a.res = add_value(cmd, "--res", "Conductor resistivity, micro-ohm-cm (default 1.7, copper)");
  a.sr = add_value(cmd, "--sr", "RMS surface roughness, micro-inch (default 2.5)");
  return a;
}

void Context::add_model(Command& cmd, ModelArgs& m, bool with_check, bool deviations) {
  m.deviations = deviations;
  if (!m.field_only) {
    add_choice(cmd, "--model", m.model, {"field", "closed"},
               deviations ? "Static values from the field solver (default) or the closed forms "
                            "(each row then gives the field solver's deviation)"
                          : "Static values from the field solver (default) or the closed forms");
    m.method = add_value(cmd, "--method",
                         "Field solver: fast (default: its tables, or models of its solutions, "
                         "where they reach) or direct (every cross-section solved)",
                         "fast|direct");
  }
  m.accuracy =
      add_value(cmd, "--accuracy", "Field solver: standard (default) or fine", "standard|fine");
  m.coat_thickness =
      add_value(cmd, "--coat-thickness", "Field solver: coating (solder mask) thickness");
  m.coat_er = add_value(cmd, "--coat-er", "Field solver: coating relative dielectric constant");
  if (with_check) {
    add_flag(cmd, "--check", m.check,
             "The closed forms (as --model closed), every row with the field solver's deviation "
             "of Zoe, Zoo and the coupling");
  }
}

void Context::model_inputs(Document& doc, const ModelSettings& model, bool check) const {
  doc.input("model", Unit::none, model.model == Model::field ? "field" : "closed");
  if (model.model == Model::field) {
    if (model.method == field::Method::direct) doc.input("method", Unit::none, "direct");
    doc.input("accuracy", Unit::none,
              model.accuracy == field::Accuracy::fine ? "fine" : "standard");
    if (model.coating.thickness > 0.0f) {
      doc.input("coat_thickness", Unit::length, echo(model.coating.thickness));
      doc.input("coat_er", Unit::none, model.coating.er);
    }
  }
  if (check) doc.input("check", Unit::none, true);
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

Value Context::echo(float inches) const {
  const auto typed = typed_.find(inches);
  if (typed != typed_.end()) return typed->second;
  return from_inch(inches);
}

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

void Context::warn(const std::string& text) const {
  err << "kestrelix " << command_ << ": " << text << '\n';
}

void Context::violation(const Section& sec, float f, int iflag, const float* coupling_db,
                        const float* zo) const {
  const auto text = [this](float v) { return length_text(v); };
  warn(checks::violation(sec, f, iflag, text, coupling_db, zo) + ": the run ends here");
  err.flush();
}

void Context::section_inputs(Document& doc, const Section& sec, bool with_w, bool with_s) const {
  doc.input("er", Unit::none, sec.er);
  doc.input("h", Unit::length, echo(sec.h));
  // No cover: no height (null).
  doc.input("h2", Unit::length, std::isinf(sec.h2) ? Value::none() : echo(sec.h2));
  if (with_w) doc.input("w", Unit::length, echo(sec.w));
  if (with_s) doc.input("s", Unit::length, echo(sec.s));
  doc.input("t", Unit::length, echo(sec.t));
}

void Context::range_inputs(Document& doc, const std::string& name, Unit unit, const Range& r,
                           const std::string& first, const std::string& second) const {
  const auto v = [&](float x) { return unit == Unit::length ? echo(x) : Value(x); };
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
    return;
  }
  // The ranges, and apart from them the field solver's verdict on the closed forms.
  const auto count = [&doc](unsigned mask) {
    return static_cast<std::size_t>(std::count_if(doc.rows().begin(), doc.rows().end(),
                                                  [mask](const Row& r) { return r.flags & mask; }));
  };
  const std::size_t rows = doc.rows().size();
  const char* noun = rows == 1 ? " row" : " rows";
  if (const std::size_t n = count(~flag_closed_form_off); n > 0) {
    err << "kestrelix " << doc.command() << ": " << n << " of " << rows << noun
        << " outside the models' validity ranges ("
        << validity_codes(doc.all_flags() & ~flag_closed_form_off)
        << "): see the flags of each row\n";
  }
  if (const std::size_t n = count(flag_closed_form_off); n > 0) {
    err << "kestrelix " << doc.command() << ": " << n << " of " << rows << noun
        << " where the closed forms are more than 1 % from the field solver in Zoe or Zoo ("
        << validity_code(flag_closed_form_off) << "): --model field computes with the solver\n";
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

std::string Context::length_text(float inches, bool full) const {
  const auto typed = typed_.find(inches);
  if (typed != typed_.end()) return shortest(typed->second) + " " + units();
  if (full) return shortest(from_inch(inches)) + " " + units();
  char buf[32];  // a computed length: six digits say it
  std::snprintf(buf, sizeof buf, "%.6g", static_cast<double>(from_inch(inches)));
  return buf + (" " + units());
}

int Context::sweep_steps(const std::string& name, float max, float min, float step,
                         long long max_steps) const {
  const long long bound = std::min(max_steps, limits_.max_points);
  return cli::sweep_steps(name, max, min, step, static_cast<int>(std::max(1LL, bound)));
}

std::unique_ptr<OutputFile> Context::output_file(const Arg& a) {
  if (!limits_.files) throw UsageError(a.name + ": files are not written here");
  if (a.text.empty()) throw UsageError(a.name + ": the file name is empty");
  files_.protect(defaults_path_, true);
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
  const double typed = std::strtod(text.c_str(), nullptr);
  const float v = to_inch(typed);
  if (!std::isfinite(v)) throw UsageError(name + ": number out of range: " + text);
  typed_[v] = typed;
  return v;
}

Range parse_range(const std::string& name, const std::string& text) {
  const std::array<std::string, 3> p = range_parts(name, text);
  return {parse_number(name, p[0]), parse_number(name, p[1]), parse_number(name, p[2])};
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

void check_frequency(const Context& ctx, float f, float h, bool centre) {
  if (!warnings::frequency_too_high(f, h)) return;
  ctx.warn((centre ? "the centre frequency of the length, " + shortest(f) + " GHz,"
                   : shortest(f) + " GHz") +
           " puts F*H above 25 GHz-mm: the dispersion models may fail");
}

// ----------------------------------------------------------------- section --

// --h2 inf (or infinity, any case): open microstrip.
bool open_cover(const Arg& a) {
  if (!a.given()) return false;
  std::string t = a.text;
  for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return t == "inf" || t == "infinity";
}

Section resolve_section(Values& v, const SectionArgs& a, bool need_w, bool need_s, bool need_t) {
  Section sec;
  sec.er = v.number(*a.er, [](const Design& d) { return d.erdef; });
  sec.h = v.length(*a.h, [](const Design& d) { return d.hdef; });
  sec.h2 = open_cover(*a.h2) ? std::numeric_limits<float>::infinity()
                             : v.length(*a.h2, [](const Design& d) { return d.h2def; });
  if (need_w) sec.w = v.length(*a.w, [](const Design& d) { return d.wdefdef; });
  if (need_s) sec.s = v.length(*a.s, [](const Design& d) { return d.sdefdef; });
  if (need_t) sec.t = v.length(*a.t, [](const Design& d) { return d.tdef; });
  return sec;
}

void validate_section(const SectionArgs& a, const Section& sec, bool need_w, bool need_s,
                      bool need_t) {
  const checks::SectionNames names{a.er->name,
                                   a.h->name,
                                   a.h2->name,
                                   a.w != nullptr ? a.w->name : "--w",
                                   a.s != nullptr ? a.s->name : "--s",
                                   a.t->name};
  checks::validate_section(names, sec, need_w, need_s, need_t);
}

void validate_cover(const SectionArgs& a, const Section& sec, const ModelSettings& model,
                    bool need_t) {
  checks::validate_cover(a.h2->name, sec, model, need_t);
}

bool field_model(const ModelArgs& m) {
  return m.field_only || m.model == "field" || (m.model.empty() && !m.check);
}

bool with_deviations(const ModelArgs& m, const ModelSettings& model) {
  return model.model == Model::closed && (m.deviations || m.check);
}

ModelSettings resolve_model(const Context& ctx, const ModelArgs& m, const Section& sec) {
  ModelSettings model;
  const bool field = field_model(m);
  model.model = field ? Model::field : Model::closed;
  const checks::ModelNames names{m.accuracy->name, m.coat_thickness->name, m.coat_er->name,
                                 m.method != nullptr ? m.method->name : "--method",
                                 "--model closed"};
  const std::string coating = m.coat_thickness->given() ? m.coat_thickness->name
                              : m.coat_er->given()      ? m.coat_er->name
                                                        : std::string();
  checks::check_model_options(names, field, m.accuracy->given() && !m.check && !m.deviations,
                              m.method != nullptr && m.method->given(), coating);
  if (field && m.check) {
    throw UsageError(
        "--check: compares the closed forms with the field solver; it goes with "
        "--model closed");
  }
  if (m.method != nullptr && m.method->given())
    model.method = checks::method_of(names.method, m.method->text);
  if (m.accuracy->given()) model.accuracy = checks::accuracy_of(names.accuracy, m.accuracy->text);
  if (m.coat_thickness->given() != m.coat_er->given()) {
    throw UsageError((m.coat_thickness->given() ? m.coat_er : m.coat_thickness)->name +
                     ": a coating needs --coat-thickness and --coat-er");
  }
  if (m.coat_thickness->given()) {
    model.coating.thickness = ctx.length_to_inch(m.coat_thickness->name, m.coat_thickness->text);
    model.coating.er = parse_number(m.coat_er->name, m.coat_er->text);
    checks::check_coating(names, model, sec, [&ctx](float v) { return ctx.length_text(v); });
    if (model.coating.thickness > 0.0f && model.coating.er > limits::max_er) {
      ctx.warn("coating Er " + shortest(model.coating.er) +
               " above 20: the models may meet computational difficulties");
    }
  }
  return model;
}

float field_error_pct(const Modes& m) {
  return 100.0f * std::max({m.error_zoe, m.error_zoo, m.error_eff_e, m.error_eff_o});
}

unsigned field_flags(const ModelSettings& model, unsigned flags) {
  if (model.model != Model::field) return 0;
  return flags & (flag_er | flag_field_error);
}

void deviation_columns(Document& doc) {
  doc.column("field_dev_zoe", Unit::percent, Precision::decimals(2), "Zoe dev");
  doc.column("field_dev_zoo", Unit::percent, Precision::decimals(2), "Zoo dev");
  doc.column("field_dev_coupling", Unit::level, Precision::decimals(3), "Coupling dev");
}

void add_deviations(Row& row, const study::Deviations& d) {
  const auto num = [](float v) { return std::isfinite(v) ? Value(v) : Value::none(); };
  row.values.insert(row.values.end(), {num(d.zoe_pct), num(d.zoo_pct), num(d.coupling_db)});
  if (d.closed_form_off) row.flags |= flag_closed_form_off;
}

Materials resolve_materials(Values& v, const SectionArgs& a, const Arg* tlos) {
  Materials mat;
  mat.res = v.number(
      *a.res, [](const Design& d) { return d.res1def; }, checks::default_res);
  mat.sr = v.number(
      *a.sr, [](const Design& d) { return d.sr1def; }, checks::default_sr);
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
    ctx.warn("W " + ctx.length_text(w) +
             " puts W/H above 10: the coupler impedance is very low; the models may fail");
  }
}

void check_gap(const Context& ctx, float s, float t, float h, bool narrow_test, bool stored_ratio) {
  if (narrow_test && warnings::gap_too_narrow(s, t)) {
    ctx.warn("S " + ctx.length_text(s) + " below 2 T: the models' accuracy is compromised");
  }
  const bool wide = stored_ratio ? warnings::gap_too_wide_stored(s, h)
                                 : warnings::gap_too_wide(s, h);
  if (wide) {
    ctx.warn("S " + ctx.length_text(s) +
             " puts S/H above 8: the coupling is very loose; the models may fail");
  }
}

void check_dimensions(const Context& ctx, const Section& sec, const Range* w, const Range* s) {
  if (w != nullptr) {
    check_width(ctx, w->a, sec.h);
    check_width(ctx, w->b, sec.h);
  } else {
    check_width(ctx, sec.w, sec.h);
  }
  if (s != nullptr) {
    check_gap(ctx, s->a, sec.t, sec.h, true, false);
    check_gap(ctx, s->b, sec.t, sec.h, false, true);
  } else {
    check_gap(ctx, sec.s, sec.t, sec.h, true, false);
  }
  check_section(ctx, sec, false, false);
}

void check_section(const Context& ctx, const Section& sec, bool check_w, bool check_s) {
  if (check_w) check_width(ctx, sec.w, sec.h);
  if (check_s) check_gap(ctx, sec.s, sec.t, sec.h, true, false);
  if (sec.er > limits::max_er) {
    ctx.warn("Er " + shortest(sec.er) +
             " above 20: the models may meet computational difficulties");
  }
}

}  // namespace kx::cli
