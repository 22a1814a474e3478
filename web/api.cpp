#include "web/api.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <utility>

#include <nlohmann/json.hpp>

#include "studies/sweeps.h"
#include "tolerance/stack_tolerance.h"
#include "tolerance/tolerance.h"

namespace kx::web {
namespace {

using json = nlohmann::json;

constexpr const char* kJson = "application/json; charset=utf-8";

// The subcommands the API offers when this build has them.
constexpr const char* kCommands[] = {"analyse",    "response",  "dispersion", "sensitivity",
                                     "synthesise", "tolerance", "diffpair",   "check",
                                     "line",       "loss"};

// Options a request may not give: they read or write files, change the
// document's format, or print something other than a document.
constexpr const char* kRefused[] = {"defaults", "touchstone", "samples-out", "materials",
                                    "stackup",  "kicad",      "format",      "help",
                                    "help-all", "version"};

constexpr std::size_t kMaxName = 40;
constexpr std::size_t kMaxValue = 4096;
constexpr std::size_t kMaxMessages = 32;

// The option's name as the command line spells it, or BadRequest.
std::string option_name(const std::string& key) {
  std::string name = key;
  for (char& c : name) {
    if (c == '_') c = '-';
  }
  bool ok = !name.empty() && name.size() <= kMaxName && name[0] >= 'a' && name[0] <= 'z';
  for (const char c : name)
    ok = ok && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-');
  if (!ok) {
    throw BadRequest{"'" + key.substr(0, kMaxName) +
                     "' is not an option name (lower-case letters, digits and -)"};
  }
  for (const char* refused : kRefused) {
    if (name == refused) throw BadRequest{"--" + name + " is not accepted from the web page"};
  }
  return name;
}

// A value as the command line's text, or BadRequest.
std::string option_text(const std::string& name, const std::string& text) {
  if (text.size() > kMaxValue) throw BadRequest{"--" + name + ": the value is too long"};
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) throw BadRequest{"--" + name + ": control character in the value"};
  }
  return "--" + name + "=" + text;
}

std::string number_text(const json& v) {
  if (v.is_number_float()) {
    const double d = v.get<double>();
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
  }
  return v.dump();
}

void add_value(std::vector<std::string>& args, const std::string& name, const json& v) {
  if (v.is_number()) {
    args.push_back(option_text(name, number_text(v)));
  } else if (v.is_string()) {
    args.push_back(option_text(name, v.get<std::string>()));
  } else {
    throw BadRequest{"--" + name + ": expected a number or a text"};
  }
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

struct Outcome {
  int status{};
  std::string out, err;
};

Outcome run_command(const std::vector<std::string>& args, const cli::RunLimits& limits) {
  std::vector<const char*> argv{"kestrelix"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  Outcome o;
  o.status = cli::run_cli(static_cast<int>(argv.size()), argv.data(), out, err, limits);
  o.out = out.str();
  o.err = err.str();
  return o;
}

// The reply to a run that did not end with status 0.
Reply failure(const Outcome& o) {
  std::vector<std::string> details = lines_of(o.err);
  const std::string message = details.empty() ? "the run failed" : details.front();
  if (o.status == 2) return error_reply(400, message, details);
  // Status 1: a point outside the models' validity (the rows before it
  // form a partial document), or a run stopped by its time limit.
  const json doc = json::parse(o.out, nullptr, false);
  return error_reply(422, message, details, doc.is_discarded() ? "" : o.out);
}

// The work estimate's counts. A synthesis or a root finding evaluates the
// closed forms some hundred times per level and solves the field some eight
// times (the closed forms' start, then Newton's steps); a sensitivity is the
// point and one raised quantity each of six; --map alone is 40 S by 11 T;
// the fine setting solves three or four times slower.
constexpr double kClosedSearchPoints = 100;
constexpr double kFieldSearchPoints = 8;
constexpr double kSensitivityPoints = 7;
constexpr double kMapPoints = 440;
constexpr double kFineAccuracyCost = 4;
constexpr double kDefaultSamples = 10000;
constexpr double kOatSamples = 10000;          // the closed forms' one-at-a-time passes, at most
constexpr double kLocalModelSolutions = 70;    // a tolerance run's local model, built and checked
constexpr double kSweepModelSolutions = 50;    // a model of a sweep beyond the tables
constexpr double kStackSearchSolutions = 12;   // a board cross-section's width or gap search
constexpr double kStackSearch2Solutions = 40;  // ... its width and gap together
constexpr double kDefaultStackSamples = 1000;  // a board cross-section's tolerance run
constexpr double kLossStaticSolutions = 12;    // the pair's static solve set of the losses

// A command line's options by name, for the work estimate.
class Options {
 public:
  void add(const std::string& arg) {
    if (arg.compare(0, 2, "--") != 0) return;
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    values_[name].push_back(eq == std::string::npos ? "" : arg.substr(eq + 1));
  }
  bool given(const std::string& name) const { return values_.count(name) > 0; }
  std::string value(const std::string& name) const {
    const auto it = values_.find(name);
    return it == values_.end() ? "" : it->second.back();
  }
  // The points of a range A:B:STEP (either order), 1 when there is none.
  double points(const std::string& name) const {
    double a = 0.0, b = 0.0, step = 0.0;
    char colon1 = 0, colon2 = 0;
    std::istringstream in(value(name));
    if (!(in >> a >> colon1 >> b >> colon2 >> step) || colon1 != ':' || colon2 != ':' ||
        !(step > 0.0)) {
      return 1.0;
    }
    const double n = std::floor(std::fabs(b - a) / step + 1e-4) + 1.0;
    return std::isfinite(n) ? std::max(1.0, n) : 1.0;
  }
  // Synthesis levels: a range or a list of couplings.
  double levels() const {
    if (given("coupling-range")) return points("coupling-range");
    if (given("zoe-range")) return points("zoe-range");
    const std::string list = value("coupling");
    return 1.0 + static_cast<double>(std::count(list.begin(), list.end(), ','));
  }
  double whole(const std::string& name, double fallback) const {
    const std::string v = value(name);
    char* end = nullptr;
    const double n = std::strtod(v.c_str(), &end);
    return !v.empty() && end != nullptr && *end == '\0' && n >= 1.0 && std::isfinite(n) ? n
                                                                                        : fallback;
  }
  // The tolerances given as something other than 0.
  double tolerances() const {
    double n = 0.0;
    for (const auto& [name, v] : values_) {
      if (name.compare(0, 4, "tol-") != 0) continue;
      const double x = std::strtod(v.back().c_str(), nullptr);
      if (x != 0.0) n += 1.0;
    }
    return n;
  }

 private:
  std::map<std::string, std::vector<std::string>> values_;
};

// The work of a board cross-section's run (`line`): solutions of the
// general solver, each costing kStackConductorSeconds per conductor (the
// signals, the coplanar grounds, the neighbours), four times that at the
// fine accuracy; a search for one dimension some kStackSearchSolutions, for
// two (a pitch, Zdiff with Zcomm) some kStackSearch2Solutions; a tolerance
// run one solution a sample and one per sample of each tolerance's share
// pass (at most tol::stack_oat_samples).
double stack_conductors(const Options& o) {
  const std::string name = o.value("structure");
  const bool pair = o.given("pair") || name.find("-pair") != std::string::npos;
  double conductors = pair ? 2.0 : 1.0;
  if (name.compare(0, 4, "gcpw") == 0 || o.given("ground-gap")) conductors += 2.0;
  if (o.given("neighbour") || o.given("neighbor")) conductors += o.given("both-sides") ? 2.0 : 1.0;
  return conductors;
}

double line_seconds(const Options& o) {
  const double fine = o.value("accuracy") == "fine" ? kFineAccuracyCost : 1.0;
  const double per_solution = fine * kStackConductorSeconds * stack_conductors(o);
  double solutions = 1.0;
  if (o.given("zcomm") || o.given("pitch")) {
    solutions = kStackSearch2Solutions;
  } else if (o.given("z0") || o.given("zdiff")) {
    solutions = kStackSearchSolutions;
  }
  const double passes = o.tolerances();
  if (passes > 0.0) {
    const double samples = o.whole("samples", kDefaultStackSamples);
    solutions += samples + passes * std::min(samples, static_cast<double>(tol::stack_oat_samples));
  }
  return solutions * per_solution;
}

// The work of a wideband loss run (`loss`): the line's static solve set
// (kLossStaticSolutions field solutions of the pair, or of a board
// cross-section at its conductors' cost; four times dearer at the fine
// accuracy or with a coating) and a few matrices a frequency.
double loss_seconds(const Options& o) {
  const bool coated = std::strtod(o.value("coat-thickness").c_str(), nullptr) != 0.0;
  const double fine = o.value("accuracy") == "fine" || coated ? kFineAccuracyCost : 1.0;
  const double per_solution = o.given("structure") ? kStackConductorSeconds * stack_conductors(o)
                                                   : kFieldPointSeconds;
  return kLossStaticSolutions * fine * per_solution + o.points("f-range") * kClosedPointSeconds;
}

}  // namespace

Reply error_reply(int status, const std::string& message, const std::vector<std::string>& details,
                  const std::string& document) {
  json body = json::object();
  body["error"] = message;
  body["details"] = details;
  if (!document.empty()) body["document"] = json::parse(document, nullptr, false);
  Reply r;
  r.status = status;
  r.content_type = kJson;
  // Invalid UTF-8 in a message (an echoed value) is replaced, never thrown.
  r.body = body.dump(-1, ' ', true, json::error_handler_t::replace) + "\n";
  return r;
}

std::vector<std::string> command_line(const std::string& command, const std::string& json_body) {
  const json body = json::parse(json_body, nullptr, false);
  if (body.is_discarded()) throw BadRequest{"the request body is not JSON"};
  if (!body.is_object()) throw BadRequest{"the request body must be a JSON object of options"};
  std::vector<std::string> args{command};
  for (const auto& [key, v] : body.items()) {
    const std::string name = option_name(key);
    if (v.is_null() || (v.is_boolean() && !v.get<bool>())) continue;
    if (v.is_boolean()) {
      args.push_back("--" + name);
    } else if (v.is_array()) {
      for (const json& item : v) add_value(args, name, item);
    } else {
      add_value(args, name, v);
    }
  }
  return args;
}

std::vector<std::string> command_line(const std::string& command, const Query& query) {
  std::vector<std::string> args{command};
  for (const auto& [key, value] : query) {
    const std::string name = option_name(key);
    if (value == "false") continue;
    args.push_back(value == "true" ? "--" + name : option_text(name, value));
  }
  return args;
}

double estimated_seconds(const std::vector<std::string>& command_line) {
  if (command_line.empty()) return 0.0;
  const std::string& command = command_line.front();
  Options o;
  for (std::size_t k = 1; k < command_line.size(); ++k) o.add(command_line[k]);
  if (command == "line") return line_seconds(o);
  if (command == "loss") return loss_seconds(o);
  // The field model unless the closed forms are asked for (their rows then
  // carry the solver's deviation at each section, on its tables).
  const bool closed_forms = o.value("model") == "closed" || o.given("check");
  const bool field = !closed_forms || command == "check";
  const double fine = o.value("accuracy") == "fine" ? kFineAccuracyCost : 1.0;
  // The tables serve an uncoated section at the standard accuracy; the
  // check sets the direct solution beside the closed forms.
  const bool coated = std::strtod(o.value("coat-thickness").c_str(), nullptr) != 0.0;
  const bool direct = o.value("method") == "direct";
  const bool tables = command != "check" && !coated && fine == 1.0 && !direct;
  const double per_solution = tables ? kFastFieldPointSeconds : fine * kFieldPointSeconds;
  double closed = 0.0;  // evaluations of the closed forms
  double fast = 0.0;    // field solutions on the tables (or a model of direct solutions)
  double solves = 0.0;  // cross-sections the field solver solves at per_solution
  if (command == "tolerance") {
    const double samples = o.whole("samples", kDefaultSamples);
    // A sample: the cross-section, with a length the four-port at f, and
    // at every frequency of a band; then one one-at-a-time pass per
    // tolerance for the shares (at f only).
    const bool four_port = o.given("centre") || o.given("center") || o.given("length");
    const double band = four_port && o.given("f-range") ? o.points("f-range") : 0.0;
    const double passes = o.tolerances();
    const double oat = field ? static_cast<double>(tol::field_oat_samples) : kOatSamples;
    closed = samples * (1.0 + four_port + band) +
             passes * std::min(samples, oat) * (1.0 + four_port);
    if (field) {
      // Every sample its own solution: from the tables, or (a coating, the
      // fine accuracy) from a local model of some seventy direct solutions
      // at about the tables' cost; every one solved with --method direct.
      const double sampled = samples + passes * std::min(samples, oat);
      if (direct) {
        solves = sampled;
      } else {
        fast = sampled;
        if (!tables) solves = kLocalModelSolutions;
      }
    } else {
      fast = 1.0;  // the closed forms' deviation at the nominal section
    }
  } else {
    const double sections = command == "check" && o.given("map") && !o.given("s-range") &&
                                    !o.given("t-range")
                                ? kMapPoints
                                : o.points("w-range") * o.points("s-range") * o.points("t-range");
    double per_section = 1.0;  // evaluations of one cross-section
    double per_solve = 1.0;    // field solutions of one cross-section
    double levels = 1.0;       // synthesis levels (sections)
    if (command == "sensitivity") {
      per_section = per_solve = kSensitivityPoints;
    } else if (command == "synthesise" || command == "diffpair") {
      levels = o.levels();
      per_section = kClosedSearchPoints * levels;
      per_solve = kFieldSearchPoints * levels;
    }
    closed = sections * per_section * o.points("f-range");
    if (field) {
      solves = sections * per_solve;
      // A long W or S sweep beyond the tables: a model of the sweep from a
      // few dozen direct solutions, then the tables' cost a point.
      const bool swept = o.given("w-range") || o.given("s-range");
      if (command == "analyse" && swept && !tables && !direct &&
          sections >= static_cast<double>(study::sweep_model_points)) {
        solves = kSweepModelSolutions;
        fast = sections;
      }
    } else {
      solves = sections * levels;  // the closed forms' rows: the solver's deviation at each
    }
  }
  return closed * kClosedPointSeconds + fast * kFastFieldPointSeconds + solves * per_solution;
}

bool is_heavy(const std::vector<std::string>& command_line) {
  return estimated_seconds(command_line) > kQuickRunSeconds;
}

Api::Api() {
  // A subcommand exists when its --help is its own help text.
  for (const char* c : kCommands) {
    const Outcome o = run_command({c, "--help"}, {});
    if (o.status == 0 &&
        o.out.find("Usage: kestrelix " + std::string(c) + " ") != std::string::npos) {
      commands_.insert(c);
    }
  }
}

Reply Api::post(const std::string& command, const std::string& json_body,
                const cli::RunLimits& limits) const {
  if (!has(command)) return error_reply(404, "no subcommand '" + command + "' in this build");
  std::vector<std::string> args;
  try {
    args = command_line(command, json_body);
  } catch (const BadRequest& e) {
    return error_reply(400, e.message);
  }
  args.push_back("--format=json");
  Outcome o = run_command(args, limits);
  if (o.status != 0) return failure(o);
  Reply r;
  r.content_type = kJson;
  r.body = std::move(o.out);
  std::vector<std::string> messages = lines_of(o.err);
  if (messages.size() > kMaxMessages) messages.resize(kMaxMessages);
  if (!messages.empty()) {
    r.headers.emplace_back("Kestrelix-Messages",
                           json(messages).dump(-1, ' ', true, json::error_handler_t::replace));
  }
  return r;
}

Reply Api::touchstone(const Query& query, const cli::RunLimits& limits) const {
  std::vector<std::string> args;
  try {
    args = command_line("response", query);
  } catch (const BadRequest& e) {
    return error_reply(400, e.message);
  }
  args.push_back("--format=touchstone");
  Outcome o = run_command(args, limits);
  if (o.status != 0) return failure(o);
  Reply r;
  r.content_type = "application/octet-stream";
  r.body = std::move(o.out);
  r.headers.emplace_back("Content-Disposition", "attachment; filename=\"coupler.s4p\"");
  return r;
}

}  // namespace kx::web
