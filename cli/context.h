// What every subcommand shares: the common options, the cross-section
// options, value resolution (command line, then the --defaults file), units,
// the accuracy messages and the document a run prints. The option parser
// (CLI11) stays behind Context (cli/options.cpp), the JSON writer behind
// the document's writers (cli/writers.cpp): a command file includes neither.
#pragma once

#include <charconv>
#include <deque>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

#include <kestrelix/check.h>
#include <kestrelix/coupled_line.h>

#include "cli/document.h"
#include "cli/run_limits.h"
#include "common/output_file.h"
#include "shared/design.h"
#include "shared/input_checks.h"

namespace kx::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// The program name and version --version prints (the dialogue's screens
// keep the version they always printed).
inline constexpr std::string_view kVersion = "kestrelix 2.0";
static_assert(kVersion.substr(10) == kProgramVersion, "one version");

// A usage error: its message (naming the option) goes to standard error as
// one line and the exit status is 2. The checks every face makes throw it
// too (shared/input_checks.h).
using UsageError = checks::InputError;

// A failure after the run started (a file that cannot be written): one line,
// exit status 1.
struct RunError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Points of one sweep (a usage error beyond).
inline constexpr int kMaxSteps = 100000;
inline constexpr int kMaxSynthesisSteps = 2000;  // each point is a search

// One option value as typed on the command line.
struct Arg {
  std::string name;  // "--er"
  std::string text;
  bool set = false;  // given on the command line (known after parsing)
  bool given() const { return set; }
};

// A whole number in [lo, hi] (`fallback` when not given); UsageError naming
// the option otherwise.
template <typename T>
T whole(const Arg& a, T fallback, T lo, T hi) {
  if (!a.given()) return fallback;
  T v{};
  const char* b = a.text.data();
  const char* e = b + a.text.size();
  const auto r = std::from_chars(b, e, v);
  bool in_range = v <= hi;
  if constexpr (std::is_signed_v<T>) in_range = in_range && v >= lo;
  if (a.text.empty() || r.ec != std::errc() || r.ptr != e || !in_range) {
    throw UsageError(a.name + ": expected a whole number from " + std::to_string(lo) + " to " +
                     std::to_string(hi) + ", got '" + a.text + "'");
  }
  return v;
}

// A subcommand being declared (the parser's own object stays in options.cpp).
struct Command;

// What parsing a command line asks for.
struct Parsed {
  enum class Action { run, help, version, usage_error };
  Action action = Action::run;
  std::string text;  // the help text, or the usage error's one-line message
};

// START:STOP:STEP (or STRONG:WEAK:STEP, MAX:MIN:STEP) as three numbers.
struct Range {
  float a{}, b{}, step{};
};

// The model options of a subcommand: --model field|closed (field unless
// told otherwise), --method, --accuracy, --coat-thickness, --coat-er and
// (where the subcommand has it) --check.
struct ModelArgs {
  std::string model;  // as given ("": not given)
  Arg* method{};
  Arg* accuracy{};
  Arg* coat_thickness{};
  Arg* coat_er{};
  bool check = false;       // --check: the closed forms with the field solver's deviation
  bool field_only = false;  // the subcommand always uses the field solver (check)
  // The closed forms' rows carry the field solver's deviation (the
  // subcommand forms them; set by Context::add_model).
  bool deviations = false;
};

// The cross-section options of a subcommand.
struct SectionArgs {
  Arg* er{};
  Arg* h{};
  Arg* h2{};
  Arg* w{};
  Arg* s{};
  Arg* t{};
  Arg* res{};
  Arg* sr{};
};

class Context {
 public:
  // `about` and `footer` frame the program's --help text.
  Context(std::ostream& out_stream, std::ostream& err_stream, const std::string& about,
          const std::string& footer, const RunLimits& limits = {});
  ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  std::ostream& out;
  std::ostream& err;

  // Declaring the subcommands and their options.
  //
  // A subcommand with the common options (--units, --format, --defaults);
  // `action` runs after a successful parse and returns the exit status.
  // `touchstone`: --format also takes touchstone.
  Command& add_command(const std::string& name, const std::string& about,
                       std::function<int()> action, bool touchstone = false);
  // Another name for the subcommand ("analyze").
  void alias(Command& cmd, const std::string& name);
  // One option taking a value (kept as text until resolved); `type_name`
  // is what --help shows for the value ("" chooses NUMBER, A:B:STEP or FILE);
  // `alias` is another spelling of the option ("--center").
  Arg* add_value(Command& cmd, const std::string& name, const std::string& help,
                 const std::string& type_name = "", const std::string& alias = "");
  // An option without a value.
  void add_flag(Command& cmd, const std::string& name, bool& flag, const std::string& help);
  // An option whose value is one of `choices`.
  void add_choice(Command& cmd, const std::string& name, std::string& value,
                  const std::vector<std::string>& choices, const std::string& help);
  // A repeatable option.
  void add_list(Command& cmd, const std::string& name, std::vector<std::string>& values,
                const std::string& help, const std::string& type_name);
  // `a` and `b` cannot be given together.
  void excludes(const Arg* a, const Arg* b);
  // --er --h --h2 [--w --s] --t --res --sr.
  SectionArgs add_section(Command& cmd, bool with_w_s);
  // The model options into `m` (bound to it: it must outlive the parse);
  // --check where `with_check`, --model unless m.field_only.
  // `deviations`: the subcommand's closed-form rows carry the field
  // solver's deviation (then --accuracy goes with --model closed too).
  void add_model(Command& cmd, ModelArgs& m, bool with_check, bool deviations = false);

  // Parses argv (argv[0] is the program name).
  Parsed parse(int argc, const char* const* argv);
  // The name of the subcommand that was parsed ("" when none).
  const std::string& command() const { return command_; }
  // Runs the action of the subcommand that was parsed.
  int run_action() const { return action_ ? action_() : kExitUsage; }

  // After parsing.
  Format format() const;
  // Inches per length unit: 1 (in), 0.001 (mil), 1/25.4 (mm), 1/25400 (um).
  const std::string& units() const { return units_; }
  float to_inch(double v) const;   // a length in the chosen unit, to inches
  float from_inch(float v) const;  // inches to the chosen unit
  // A length of the inputs in the chosen unit as it was typed (0.8725 mm,
  // not 0.87250006: the float in inches that holds it read back); a length
  // that was not typed in this unit (from --defaults, in inches) converted.
  Value echo(float inches) const;
  // An empty document of the subcommand in the chosen length unit.
  Document document(const std::string& command) const { return Document(command, units_); }
  // The cross-section (w, s when given) as inputs of `doc`.
  void section_inputs(Document& doc, const Section& sec, bool with_w = true,
                      bool with_s = true) const;
  // A range as the inputs NAME_FIRST, NAME_SECOND and NAME_step (lengths
  // converted from inches).
  void range_inputs(Document& doc, const std::string& name, Unit unit, const Range& r,
                    const std::string& first = "start", const std::string& second = "stop") const;
  // The materials as inputs of `doc`.
  void material_inputs(Document& doc, const Materials& mat, bool with_tlos = true) const;
  // The model as inputs of `doc`: model (field or closed), with the field
  // model its method (where not the default), accuracy and the coating,
  // check with --check.
  void model_inputs(Document& doc, const ModelSettings& model, bool check = false) const;
  // A length typed in the chosen unit, in inches: typed in inches it is read
  // as every number; in another unit it is read in double precision and
  // rounded once, giving the bits of the same length typed in inches.
  // UsageError naming the option when it is not a number.
  float length_to_inch(const std::string& name, const std::string& text) const;
  float per_unit(float per_inch) const;  // dB/inch to dB per length unit
  // The --defaults file, read once by read_defaults (nullptr without
  // --defaults); a faulty file is a usage error.
  const Design* defaults();

  // A warning on standard error, one line: "kestrelix NAME: text".
  void warn(const std::string& text) const;
  // The accuracy limits a point crosses, one line on standard error (the
  // models' limits the dialogue's accuracy report lists). `coupling_db`
  // (positive dB) and `zo` are the synthesis's limits on its row.
  void violation(const Section& sec, float f, int iflag, const float* coupling_db = nullptr,
                 const float* zo = nullptr) const;
  // Writes the document and flushes (a stream that failed is a RunError);
  // then, when rows were flagged, one line on standard error saying so. With
  // --format touchstone the text `touchstone` is written instead of the
  // document (nothing when it is null: a run that stopped).
  void emit(const Document& doc, const std::string* touchstone = nullptr) const;
  // Appends a row to `doc`. A row with a value that is not finite is a
  // point outside the models' validity: the rows before it are written, the
  // reason (naming the point, `where`) goes to standard error, and the
  // result is false (the run ends with status 1).
  bool add_row(Document& doc, Row row, const std::string& where) const;
  // Writes a document whose run stops at a point the models flag (the
  // reasons follow from violation()).
  void stop(Document& doc) const;
  // A length in the chosen unit with its unit, for messages ("0.02 in"): as
  // typed, or (computed) to six digits; `full`: every digit of the float.
  std::string length_text(float inches, bool full = false) const;

  // What this run may do.
  const RunLimits& limits() const { return limits_; }
  // Polled at every point of a sweep: throws Interrupted at SIGINT or
  // SIGTERM, Stopped when the caller's Stop ends the run.
  void poll() const { check_stop(limits_.stop); }
  // sweep_steps within the run's limit on points.
  int sweep_steps(const std::string& name, float max, float min, float step,
                  long long max_steps = kMaxSteps) const;
  // The file named by the option `a`, written whole (common/output_file.h):
  // RunError naming the option when it is refused, UsageError when the run
  // may write no files or the name is empty.
  std::unique_ptr<OutputFile> output_file(const Arg& a);
  // An input the run reads (no output of the run may replace it).
  void protect(const std::string& path) { files_.protect(path); }

 private:
  float units_per_inch() const;

  struct Parser;
  std::unique_ptr<Parser> parser_;
  std::deque<Arg> args_;
  std::string units_ = "in";
  std::string format_ = "table";
  std::string defaults_path_;
  std::string command_;
  std::function<int()> action_;
  std::optional<Design> defaults_;
  // Every length typed in a unit other than inches: its inches, the number typed.
  mutable std::map<float, double> typed_;
  RunLimits limits_;
  OutputFiles files_;
};

// Resolves option values: the command line first, then the --defaults file;
// every value that neither gives is collected and reported together.
class Values {
 public:
  explicit Values(Context& ctx) : ctx_(ctx) {}

  using FromDefaults = std::function<float(const Design&)>;
  // A number; `fallback` when neither the option nor the defaults file gives
  // it (none: the option is missing).
  float number(const Arg& a, const FromDefaults& def, std::optional<float> fallback = {});
  // A length in the chosen unit, returned in inches.
  float length(const Arg& a, const FromDefaults& def, std::optional<float> fallback = {});
  // A range; `lengths` converts its ends and step to inches.
  Range range(const Arg& a, const FromDefaults& a_def, const FromDefaults& b_def,
              const FromDefaults& step_def, bool lengths);
  // Marks a value as missing under the given name.
  void missing(const std::string& name) { missing_.push_back(name); }
  // UsageError naming every missing option.
  void check() const;

 private:
  Context& ctx_;
  std::vector<std::string> missing_;
};

// Parses one number; UsageError naming the option when it is not one.
float parse_number(const std::string& name, const std::string& text);
// Parses A:B:STEP.
Range parse_range(const std::string& name, const std::string& text);

// Sweep helpers: the step count of MIN:MAX:STEP as the dialogue forms it,
// with a bound on the number of points (a step too small for its range is a
// usage error, not a run that never ends).
int sweep_steps(const std::string& name, float max, float min, float step,
                int max_steps = kMaxSteps);

// Value checks; UsageError naming the option.
using checks::require_above;
using checks::require_at_least;

// The warning for a frequency whose F*H is above the dispersion models'
// limit (the dialogue's frequency test); `centre`: the design centre
// frequency the run computed from the length.
void check_frequency(const Context& ctx, float f, float h, bool centre = false);

// The cross-section options resolved to inches; W, S and T only when asked
// for (a range sweeps them instead).
Section resolve_section(Values& v, const SectionArgs& a, bool need_w, bool need_s,
                        bool need_t = true);
// After Values::check: Er at least 1, H above 0, W and S above 0, T at
// least 0, and the cover: with the closed forms H2 at least 2 H (their
// accuracy limit), with the field model H2 above H and above the strips
// (and `coat` of coating on them: H2 above T + coat, checked where T is
// known); UsageError otherwise.
void validate_section(const SectionArgs& a, const Section& sec, bool need_w, bool need_s,
                      bool need_t = true);
void validate_cover(const SectionArgs& a, const Section& sec, const ModelSettings& model,
                    bool need_t = true);
// Whether the options ask for the field model (the default: neither
// --model closed nor --check).
bool field_model(const ModelArgs& m);
// The model options resolved for the cross-section `sec` (its T and H2):
// usage errors for --method, or a coating without the field model,
// --accuracy with the closed forms where nothing of the field solver is
// computed, --check with the field model, a coating without both its
// thickness and its Er, a coating that reaches the cover (T + its
// thickness at or above H2). A coating's Er above the accuracy limit (20)
// is warned of, as the substrate's is.
ModelSettings resolve_model(const Context& ctx, const ModelArgs& m, const Section& sec);
// With the field model: the solver's reason, as a usage error naming
// `what`, when it cannot take the cross-section.
using checks::check_field_section;
// The largest of the solver's relative error estimates of a field row, percent.
float field_error_pct(const Modes& m);
// The codes the field model adds to a row whose result carries `flags` (the
// field model's own: er for a coating's Er above the accuracy limit,
// field_error where the solver's own estimate is above what its accuracy
// setting promises); 0 with the closed forms.
unsigned field_flags(const ModelSettings& model, unsigned flags);
// The closed forms' rows: the columns field_dev_zoe_pct, field_dev_zoo_pct
// and field_dev_coupling_db, and their values on a closed-form row (the
// row's closed_form_off raised where the study says so).
void deviation_columns(Document& doc);
void add_deviations(Row& row, const study::Deviations& d);
// Whether the rows of a run with `model` carry the deviations (the closed
// forms on a subcommand that forms them).
bool with_deviations(const ModelArgs& m, const ModelSettings& model);

// RES (micro-ohm-cm) and SR (micro-inch): copper 1.7 and 2.5 micro-inch, the
// dialogue's menu defaults, when neither the option nor --defaults gives
// them; TLOS 0 without option or defaults file.
Materials resolve_materials(Values& v, const SectionArgs& a, const Arg* tlos);
// The dialogue's warnings for one W and one S (W/H above 10, S below 2 T,
// S/H above 8) and for Er above 20; H2 below 2 H is a usage error.
void check_section(const Context& ctx, const Section& sec, bool check_w, bool check_s);
// The warnings for the widths and gaps a run evaluates: the section's W and
// S, or the ends of their ranges (`w`, `s`; the stored-ratio form for the
// largest gap, as the dialogue tests Smax), and for Er.
void check_dimensions(const Context& ctx, const Section& sec, const Range* w, const Range* s);
// The W/H warning for a width, the S tests for a gap (the stored-ratio form
// for the largest gap of a range, as the dialogue tests Smax).
void check_width(const Context& ctx, float w, float h);
void check_gap(const Context& ctx, float s, float t, float h, bool narrow_test, bool stored_ratio);

}  // namespace kx::cli
