// The checks every face makes of the values it is given, with their
// one-line messages. A face names a value its own way (the command line by
// its option, --h; the Python module by its keyword, h) and passes that
// name; the rest of each message is the same in every face.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include <kestrelix/check.h>
#include <kestrelix/coupled_line.h>
#include <kestrelix/diff_pair.h>

namespace kx::checks {

// A value the models cannot take, or options that do not go together: the
// message is one line that starts with the name of the value.
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The conductor when none is given: copper's resistivity (micro-ohm-cm) and
// a roughness of 2.5 micro-inch, the dialogue's menu defaults.
inline constexpr float default_res = 1.7f;
inline constexpr float default_sr = 2.5f;

// "NAME: must be above FLOOR" unless v > floor (a NaN is not).
void require_above(const std::string& name, float v, float floor);
// "NAME: must be at least FLOOR" unless v >= floor.
void require_at_least(const std::string& name, float v, float floor);

// How a face names the values of a cross-section.
struct SectionNames {
  std::string er, h, h2, w, s, t;
};
// Er at least 1, H above 0, H2 above 0, W and S above 0 (where needed), T
// at least 0.
void validate_section(const SectionNames& n, const Section& sec, bool need_w, bool need_s,
                      bool need_t = true);
// The cover of `sec` under `model` (`h2` names it): with the closed forms at
// least 2 H; with the field solver above the strips (where T is given).
void validate_cover(const std::string& h2, const Section& sec, const ModelSettings& model,
                    bool need_t = true);

// How a face names the field solver's options.
struct ModelNames {
  std::string accuracy, coat_thickness, coat_er, method;
  std::string closed;  // how the closed forms are asked for ("--model closed")
};
// The options given with the closed forms: a coating (`coating_given` names
// the value that gives it; "": none), a method or an accuracy that nothing
// uses (`accuracy_unused`) are the field solver's.
void check_model_options(const ModelNames& n, bool field, bool accuracy_unused, bool method_given,
                         const std::string& coating_given);
// "standard" or "fine".
field::Accuracy accuracy_of(const std::string& name, const std::string& text);
// "fast" or "direct".
field::Method method_of(const std::string& name, const std::string& text);
// A length as a face prints it in a message ("0.0007 in").
using LengthText = std::function<std::string(float inches)>;
// The coating of `model` on `sec`: its thickness at least 0, its Er at
// least 1, and below the cover over the strips (T + thickness below H2).
void check_coating(const ModelNames& n, const ModelSettings& model, const Section& sec,
                   const LengthText& text);
// With the field model: the solver's reason, naming `what`, when it cannot
// take the cross-section.
void check_field_section(const ModelSettings& model, const Section& sec, const std::string& what);

// How a face names the differential pair's values.
struct PairNames {
  std::string w, s, zdiff, zcomm;
};
// What the pair's search finds, from the values given: S at a given W, W at
// a given S for a target Zdiff, both for a target Zdiff and Zcomm.
study::PairSolve pair_solve(const PairNames& n, bool w_given, bool s_given, bool zdiff_given,
                            bool zcomm_given);
// The targets of `solve`: Zdiff above 0, Zcomm above 0 and above a quarter
// of Zdiff.
void check_pair_targets(const PairNames& n, study::PairSolve solve, float zdiff, float zcomm);

// The accuracy limits a point crosses where the models raise their validity
// flag, one line: "the models' accuracy is violated at W 0.5 mm, S 0.1 mm,
// 2.4 GHz by ..." (the limits the dialogue's accuracy report lists).
// `coupling_db` (positive dB) and `zo` are a synthesis's targets.
std::string violation(const Section& sec, float f, int iflag, const LengthText& length_text,
                      const float* coupling_db = nullptr, const float* zo = nullptr);

// A tolerance's half-width given as `pct` percent of its nominal value; the
// etch offset (`length_only`) takes a length only.
float percent_half_width(const std::string& name, float pct, float nominal, bool length_only);

// The check's verdict in one sentence; `field` is how the face asks for
// the field model ("use --model field").
std::string verdict(const study::Check& c, const std::string& field);

}  // namespace kx::checks
