#include "web/api.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <utility>

#include <nlohmann/json.hpp>

namespace kx::web {
namespace {

using json = nlohmann::json;

constexpr const char* kJson = "application/json; charset=utf-8";

// The subcommands the API offers when this build has them.
constexpr const char* kCommands[] = {"analyse",    "response",  "dispersion", "sensitivity",
                                     "synthesise", "tolerance", "diffpair",   "check"};

// Options a request may not give: they read or write files, change the
// document's format, or print something other than a document.
constexpr const char* kRefused[] = {"defaults", "touchstone", "samples-out", "format",
                                    "help",     "help-all",   "version"};

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

Outcome run(const std::vector<std::string>& args, const cli::RunLimits& limits) {
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

bool is_heavy(const std::vector<std::string>& command_line) {
  if (command_line.empty()) return false;
  if (command_line.front() == "tolerance" || command_line.front() == "check") return true;
  return std::any_of(command_line.begin(), command_line.end(),
                     [](const std::string& a) { return a == "--model=field" || a == "--check"; });
}

Api::Api() {
  // A subcommand exists when its --help is its own help text.
  for (const char* c : kCommands) {
    const Outcome o = run({c, "--help"}, {});
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
  Outcome o = run(args, limits);
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
  Outcome o = run(args, limits);
  if (o.status != 0) return failure(o);
  Reply r;
  r.content_type = "application/octet-stream";
  r.body = std::move(o.out);
  r.headers.emplace_back("Content-Disposition", "attachment; filename=\"coupler.s4p\"");
  return r;
}

}  // namespace kx::web
