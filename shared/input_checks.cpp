#include "shared/input_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <kestrelix/validity.h>
#include "common/constants.h"
#include "common/text.h"
#include "models/limits.h"

namespace kx::checks {

void require_above(const std::string& name, float v, float floor) {
  if (!(v > floor)) throw InputError(name + ": must be above " + shortest(floor));
}

void require_at_least(const std::string& name, float v, float floor) {
  if (!(v >= floor)) throw InputError(name + ": must be at least " + shortest(floor));
}

void validate_section(const SectionNames& n, const Section& sec, bool need_w, bool need_s,
                      bool need_t) {
  require_at_least(n.er, sec.er, 1.0f);
  require_above(n.h, sec.h, 0.0f);
  require_above(n.h2, sec.h2, 0.0f);
  if (need_w) require_above(n.w, sec.w, 0.0f);
  if (need_s) require_above(n.s, sec.s, 0.0f);
  if (need_t) require_at_least(n.t, sec.t, 0.0f);
}

void validate_cover(const std::string& h2, const Section& sec, const ModelSettings& model,
                    bool need_t) {
  if (model.model == Model::closed) {
    if (sec.h2 < limits::min_h2h * sec.h) {
      throw InputError(h2 +
                       ": the top cover height H2 cannot be less than twice the substrate "
                       "thickness H with the closed forms (the field model takes a cover "
                       "above the strips)");
    }
    return;
  }
  // The field solver takes any cover above the strips (and their coating,
  // checked with the coating's options).
  if (need_t && !(sec.h2 > sec.t)) {
    throw InputError(h2 + ": the top cover must be above the strips (H2 above T)");
  }
}

void check_model_options(const ModelNames& n, bool field, bool accuracy_unused, bool method_given,
                         const std::string& coating_given) {
  if (field) return;
  if (!coating_given.empty()) {
    throw InputError(coating_given + ": the closed forms do not model a coating; leave out " +
                     n.closed);
  }
  if (method_given) {
    throw InputError(n.method + ": the field solver's setting; leave out " + n.closed);
  }
  if (accuracy_unused) {
    throw InputError(n.accuracy + ": the field solver's setting; leave out " + n.closed);
  }
}

field::Accuracy accuracy_of(const std::string& name, const std::string& text) {
  if (text == "fine") return field::Accuracy::fine;
  if (text != "standard") throw InputError(name + ": standard or fine, not '" + text + "'");
  return field::Accuracy::standard;
}

field::Method method_of(const std::string& name, const std::string& text) {
  if (text == "direct") return field::Method::direct;
  if (text != "fast") throw InputError(name + ": fast or direct, not '" + text + "'");
  return field::Method::fast;
}

void check_coating(const ModelNames& n, const ModelSettings& model, const Section& sec,
                   const LengthText& text) {
  const Coating& c = model.coating;
  require_at_least(n.coat_thickness, c.thickness, 0.0f);
  require_at_least(n.coat_er, c.er, 1.0f);
  // Over the strips the coating's top is T + its thickness up: there it
  // would fill the box, which no conformal coating does.
  if (c.thickness > 0.0f && std::isfinite(sec.h2) && !(sec.t + c.thickness < sec.h2)) {
    throw InputError(n.coat_thickness + ": the coating reaches the cover (T " + text(sec.t) +
                     " + coating " + text(c.thickness) + " is not below H2 " + text(sec.h2) + ")");
  }
}

void check_field_section(const ModelSettings& model, const Section& sec, const std::string& what) {
  if (model.model != Model::field) return;
  const std::string why = field::check(field_geometry(sec, model.coating));
  if (!why.empty()) throw InputError(what + ": the field solver cannot take it: " + why);
}

study::PairSolve pair_solve(const PairNames& n, bool w_given, bool s_given, bool zdiff_given,
                            bool zcomm_given) {
  const bool by_pair = zdiff_given && zcomm_given;
  if (zcomm_given && !zdiff_given) throw InputError(n.zcomm + ": give " + n.zdiff + " as well");
  if (by_pair && (w_given || s_given)) {
    throw InputError((w_given ? n.w : n.s) + ": " + n.zdiff + " with " + n.zcomm +
                     " finds W and S; leave them out");
  }
  if (zdiff_given && !by_pair && w_given == s_given) {
    throw InputError(n.zdiff + ": give " + n.w + " (to find S) or " + n.s + " (to find W), or " +
                     n.zcomm + " as well (to find both)");
  }
  if (by_pair) return study::PairSolve::w_and_s;
  if (!zdiff_given) return study::PairSolve::none;
  return w_given ? study::PairSolve::s : study::PairSolve::w;
}

void check_pair_targets(const PairNames& n, study::PairSolve solve, float zdiff, float zcomm) {
  if (solve == study::PairSolve::none) return;
  require_above(n.zdiff, zdiff, 0.0f);
  if (solve != study::PairSolve::w_and_s) return;
  require_above(n.zcomm, zcomm, 0.0f);
  // Zoe above Zoo: a coupled pair has Zcomm above Zdiff/4.
  if (!(2.0f * zcomm > zdiff / 2.0f)) {
    throw InputError(n.zcomm + ": must be above a quarter of " + n.zdiff + " (Zoe above Zoo)");
  }
}

std::string violation(const Section& sec, float f, int iflag, const LengthText& length_text,
                      const float* coupling_db, const float* zo) {
  const unsigned why = accuracy_reasons(sec, f, iflag);
  const auto fixed = [](float v, int d) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f", d, static_cast<double>(v));
    return std::string(buf);
  };
  std::vector<std::string> r;
  if (why & flag_fh) r.push_back("F*H " + fixed(f * sec.h * mm_per_inch, 2) + " GHz-mm above 25");
  if (why & flag_er) r.push_back("Er " + fixed(sec.er, 3) + " above 20");
  if (why & flag_cover) {
    r.push_back("H2/H " + fixed(sec.h2 / sec.h, 3) + " with S/H " + fixed(sec.s / sec.h, 2) +
                ": Zoo above Zoe");
  }
  if (why & flag_wh) r.push_back("W/H " + fixed(sec.w / sec.h, 2) + " above 10");
  if (why & flag_w_narrow) r.push_back("W " + length_text(sec.w) + " below 0.0001 in");
  if (why & flag_sh) r.push_back("S/H " + fixed(sec.s / sec.h, 2) + " above 8");
  if (why & flag_s_narrow) r.push_back("S " + length_text(sec.s) + " below 0.00001 in");
  if (coupling_db != nullptr &&
      !(-*coupling_db <= limits::tightest_db && -*coupling_db >= limits::loosest_db)) {
    r.push_back("coupling " + shortest(*coupling_db) + " dB outside 6 to 20 dB");
  }
  if (zo != nullptr && !(*zo >= limits::min_zo && *zo <= limits::max_zo)) {
    r.push_back("Zo " + shortest(*zo) + " ohm outside 20 to 100 ohm");
  }
  if (r.empty()) {
    r.push_back(iflag == 1 ? "Zo above the single strip's impedance (zo_single)"
                           : "the models' validity flag " + std::to_string(iflag));
  }
  std::string text = "the models' accuracy is violated at W " + length_text(sec.w) + ", S " +
                     length_text(sec.s) + ", " + shortest(f) + " GHz by ";
  for (std::size_t k = 0; k < r.size(); ++k) text += (k ? "; " : "") + r[k];
  return text;
}

float percent_half_width(const std::string& name, float pct, float nominal, bool length_only) {
  if (length_only) throw InputError(name + ": give the etch offset as a length");
  return nominal * (pct / 100.0f);
}

namespace {

std::string one_decimal(float v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", static_cast<double>(v));
  return buf;
}

}  // namespace

std::string verdict(const study::Check& c, const std::string& field) {
  using Kind = study::Verdict::Kind;
  const study::Verdict& v = c.verdict;
  const std::string use = ": use " + field;
  if (v.kind == Kind::field_not_finite)
    return "the field solver gives no finite values here (not_finite)";
  if (v.kind == Kind::closed_not_finite) {
    return "the closed forms give no finite values here (not_finite)" + use;
  }
  if (v.kind == Kind::closed_invalid) {
    return std::string("the closed forms give no valid values here (") +
           (c.closed.iflag == 2 ? "Zoo above Zoe" : "Zo above the single-strip impedance") + ")" +
           use;
  }
  const auto said = [](study::CheckFigure f, float pct) {
    static const char* const names[] = {"Zoe", "Zoo", "Zo", "coupling", "eff_e", "eff_o"};
    return std::string(names[f]) + " " + one_decimal(std::fabs(pct)) + " % " +
           (pct > 0.0f ? "high" : "low");
  };
  const std::string z = said(v.impedance, v.impedance_pct);
  const std::string e = said(v.permittivity, v.permittivity_pct);
  switch (v.kind) {
    case Kind::both_off:
      return "closed forms put " + z + " and " + e + use;
    case Kind::impedance_off:
      return "closed forms put " + z + use;
    case Kind::permittivity_off:
      return "closed forms within " +
             one_decimal(std::ceil(std::fabs(v.impedance_pct) * 10.0f) / 10.0f) +
             " % in Zoe and Zoo here, but put " + e + use;
    default:
      return "closed forms within " +
             one_decimal(std::max(0.1f, std::ceil(v.worst_pct * 10.0f) / 10.0f)) + " % here";
  }
}

}  // namespace kx::checks
