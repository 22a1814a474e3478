// The option parser behind Context: CLI11 is seen by this file only.
#include <algorithm>
#include <deque>
#include <unordered_map>

#include <CLI/CLI.hpp>

#include "cli/context.h"

namespace kx::cli {

struct Command {
  CLI::App* app = nullptr;
};

struct Context::Parser {
  CLI::App app;
  std::deque<Command> commands;
  std::unordered_map<const Arg*, CLI::Option*> options;
  bool version = false;
};

Context::Context(std::ostream& out_stream, std::ostream& err_stream, const std::string& about,
                 const std::string& footer, const RunLimits& limits)
    : out(out_stream), err(err_stream), parser_(std::make_unique<Parser>()), limits_(limits) {
  CLI::App& app = parser_->app;
  app.description(about);
  app.name("kestrelix");
  app.footer(footer);
  app.add_flag("--version", parser_->version, "Print the program name and version");
  app.require_subcommand(0, 1);
}

Context::~Context() = default;

Command& Context::add_command(const std::string& name, const std::string& about,
                              std::function<int()> action, bool touchstone) {
  CLI::App* cmd = parser_->app.add_subcommand(name, about);
  cmd->add_option("--units", units_,
                  "Length unit of every length in and out: in (default), mil, mm, um")
      ->check(CLI::IsMember({"in", "mil", "mm", "um"}));
  if (touchstone) {
    cmd->add_option("--format", format_,
                    "Output: table (default), csv, json, or touchstone (the Touchstone file)")
        ->check(CLI::IsMember({"table", "csv", "json", "touchstone"}));
  } else {
    cmd->add_option("--format", format_, "Output: table (default), csv or json")
        ->check(CLI::IsMember({"table", "csv", "json"}));
  }
  cmd->add_option("--defaults", defaults_path_,
                  "Defaults file in the Kestrelix.DEF format: supplies every value not given")
      ->check(CLI::ExistingFile);
  cmd->footer("Columns, units, defaults and exit status: kestrelix --help");
  cmd->callback([this, name, action = std::move(action)] {
    command_ = name;
    action_ = action;
  });
  parser_->commands.push_back(Command{cmd});
  return parser_->commands.back();
}

void Context::alias(Command& cmd, const std::string& name) { cmd.app->alias(name); }

Arg* Context::add_value(Command& cmd, const std::string& name, const std::string& help,
                        const std::string& type_name, const std::string& alias) {
  args_.push_back(Arg{name, {}, false});
  Arg& a = args_.back();
  CLI::Option* opt = cmd.app->add_option(alias.empty() ? name : name + "," + alias, a.text, help);
  const bool range = name.size() > 6 && name.compare(name.size() - 6, 6, "-range") == 0;
  opt->type_name(!type_name.empty() ? type_name : range ? "A:B:STEP" : "NUMBER");
  parser_->options[&a] = opt;
  return &a;
}

void Context::add_flag(Command& cmd, const std::string& name, bool& flag, const std::string& help) {
  cmd.app->add_flag(name, flag, help);
}

void Context::add_choice(Command& cmd, const std::string& name, std::string& value,
                         const std::vector<std::string>& choices, const std::string& help) {
  cmd.app->add_option(name, value, help)->check(CLI::IsMember(choices));
}

void Context::add_list(Command& cmd, const std::string& name, std::vector<std::string>& values,
                       const std::string& help, const std::string& type_name) {
  cmd.app->add_option(name, values, help)->type_name(type_name);
}

void Context::excludes(const Arg* a, const Arg* b) {
  parser_->options.at(a)->excludes(parser_->options.at(b));
}

namespace {

std::string one_line(std::string s) {
  while (!s.empty() && s.back() == '\n') s.pop_back();
  std::replace(s.begin(), s.end(), '\n', ' ');
  return s;
}

}  // namespace

Parsed Context::parse(int argc, const char* const* argv) {
  CLI::App& app = parser_->app;
  // A first word that names no subcommand is a usage error, --help or not.
  if (argc > 1 && argv[1][0] != '-') {
    std::string names;
    bool known = false;
    for (const CLI::App* sub : app.get_subcommands({})) {
      known = known || sub->check_name(argv[1]);
      names += (names.empty() ? "" : ", ") + sub->get_name();
    }
    if (!known) {
      return {Parsed::Action::usage_error, "'" + one_line(argv[1]) + "' is not a subcommand (" +
                                               names + ", serve); see kestrelix --help"};
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    return {Parsed::Action::help, app.help()};
  } catch (const CLI::CallForAllHelp&) {
    return {Parsed::Action::help, app.help("", CLI::AppFormatMode::All)};
  } catch (const CLI::ParseError& e) {
    return {Parsed::Action::usage_error, one_line(e.what())};
  }
  for (Arg& a : args_) a.set = parser_->options.at(&a)->count() > 0;
  if (parser_->version) return {Parsed::Action::version, {}};
  return {};
}

}  // namespace kx::cli
