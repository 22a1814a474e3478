// What every subcommand shares: the common options, the cross-section
// options, value resolution (command line, then the --defaults file), units,
// the accuracy messages and the output writers.
#pragma once

#include <deque>
#include <functional>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <kestrelix/coupled_line.h>

#include "input/design.h"

namespace kx::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// The program name and version the dialogue prints.
inline constexpr std::string_view kVersion = "kestrelix 1.3";

// A usage error: its message (naming the option) goes to standard error as
// one line and the exit status is 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A failure after the run started (a file that cannot be written): one line,
// exit status 1.
struct RunError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One option value as typed on the command line.
struct Arg {
  std::string name;  // "--er"
  std::string text;
  CLI::Option* opt = nullptr;
  bool given() const { return opt != nullptr && opt->count() > 0; }
};

// START:STOP:STEP (or STRONG:WEAK:STEP, MAX:MIN:STEP) as three numbers.
struct Range {
  float a{}, b{}, step{};
};

enum class Format { table, csv, json };

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

// The result of a subcommand: named columns, one row per point, and the
// inputs it ran with (for JSON).
class Output {
 public:
  Output(std::string command, std::vector<std::string> columns);
  void input(const std::string& key, float value);
  void input(const std::string& key, const std::string& value);
  void row(std::vector<float> values);
  std::size_t rows() const { return rows_.size(); }
  // Writes everything in the chosen format.
  void write(std::ostream& out, Format format) const;

 private:
  std::string command_;
  std::vector<std::string> columns_;
  std::vector<std::vector<float>> rows_;
  nlohmann::ordered_json inputs_ = nlohmann::ordered_json::object();
};

// Coupling as the subcommands print it: the negative number of dB (-10 for
// a 10 dB coupler), where the library gives it as a positive one ...
inline float printed_coupling_db(float coupling_db) { return -coupling_db; }
// ... and back to the library's sign.
inline float library_coupling_db(float printed_db) { return -printed_db; }

// The shortest decimal text that reads back as the same float.
std::string shortest(float v);

class Context {
 public:
  Context(std::ostream& out_stream, std::ostream& err_stream) : out(out_stream), err(err_stream) {}
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  std::ostream& out;
  std::ostream& err;

  // A subcommand with the common options; `action` runs after a successful
  // parse and returns the exit status.
  CLI::App* add_command(CLI::App& app, const std::string& name, const std::string& about,
                        std::function<int()> action);
  // One option taking a value (kept as text until resolved).
  Arg* add_value(CLI::App* cmd, const std::string& name, const std::string& help);
  // --er --h --h2 [--w --s] --t --res --sr.
  SectionArgs add_section(CLI::App* cmd, bool with_w_s);
  // Runs the action of the subcommand that was parsed.
  int run_action() const { return action_ ? action_() : kExitUsage; }

  // After parsing.
  Format format() const;
  // Inches per length unit: 1 (in), 0.001 (mil), 1/25.4 (mm), 1/25400 (um).
  const std::string& units() const { return units_; }
  float to_inch(double v) const;   // a length in the chosen unit, to inches
  float from_inch(float v) const;  // inches to the chosen unit
  // A length typed in the chosen unit, in inches: typed in inches it is read
  // as every number; in another unit it is read in double precision and
  // rounded once, giving the bits of the same length typed in inches.
  // UsageError naming the option when it is not a number.
  float length_to_inch(const std::string& name, const std::string& text) const;
  // The length unit and the cross-section (w, s when given) as inputs of `o`.
  void section_inputs(Output& o, const Section& sec, bool with_w = true, bool with_s = true) const;
  // The materials as inputs of `o`.
  void material_inputs(Output& o, const Materials& mat, bool with_tlos = true) const;
  float per_unit(float per_inch) const;  // dB/inch to dB per length unit
  // The --defaults file, read once (nullptr without --defaults); a faulty
  // file is a usage error.
  const Design* defaults();

  // The dialogue's warning on standard error: its message lines and the
  // first part of its question, without the re-enter request.
  void warn(std::string_view message, std::string_view question) const;
  // The accuracy-violation reasons of a point on standard error. `co` and
  // `zo` are the synthesis tests (coupling level in negative dB, Zo).
  void violation(std::string_view run_name, const Section& sec, float f, int iflag,
                 const float* co = nullptr, const float* zo = nullptr) const;
  // Writes the output and flushes; a stream that failed is a RunError.
  void emit(const Output& o) const;

 private:
  float units_per_inch() const;

  std::deque<Arg> args_;
  std::string units_ = "in";
  std::string format_ = "table";
  std::string defaults_path_;
  std::function<int()> action_;
  std::optional<Design> defaults_;
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
inline constexpr int kMaxSteps = 100000;
inline constexpr int kMaxSynthesisSteps = 2000;  // each point is a search
int sweep_steps(const std::string& name, float max, float min, float step,
                int max_steps = kMaxSteps);

// Value checks; UsageError naming the option.
void require_above(const std::string& name, float v, float floor);
void require_at_least(const std::string& name, float v, float floor);

// F*H above the dispersion models' limit (the dialogue's frequency test).
bool too_high(float f, float h);

// The cross-section options resolved to inches; W and S only when asked
// for (a range sweeps them instead).
Section resolve_section(Values& v, const SectionArgs& a, bool need_w, bool need_s);
// After Values::check: Er at least 1, H above 0, H2 at least 2 H, W and S
// above 0, T at least 0; UsageError otherwise.
void validate_section(const SectionArgs& a, const Section& sec, bool need_w, bool need_s);
// RES (micro-ohm-cm) and SR (micro-inch): copper 1.7 and 2.5 micro-inch, the
// dialogue's menu defaults, when neither the option nor --defaults gives
// them; TLOS 0 without option or defaults file.
Materials resolve_materials(Values& v, const SectionArgs& a, const Arg* tlos);
// The dialogue's warnings for one W and one S (W/H above 10, S below 2 T,
// S/H above 8) and for Er above 20; H2 below 2 H is a usage error.
void check_section(const Context& ctx, const Section& sec, bool check_w, bool check_s);
// The W/H warning for a width, the S tests for a gap (the stored-ratio form
// for the largest gap of a range, as the dialogue tests Smax).
void check_width(const Context& ctx, float w, float h);
void check_gap(const Context& ctx, float s, float t, float h, bool narrow_test, bool stored_ratio);

}  // namespace kx::cli
