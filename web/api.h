// The web page's JSON API: one route per subcommand of the command line.
//
//   POST /api/NAME   body {"er": 3.66, "h": "0.5", "units": "mm", "f-range": "1:4:0.1",
//                         "limit": ["zo=48:52"], "no-radiation": true}
//   -> the document `kestrelix NAME --er=3.66 --h=0.5 ... --format=json` prints.
//
// A request runs through cli::run_cli in this process, so the page and the
// command line share every number. The body carries the command line's
// options by name without the dashes (`_` may stand for `-`); numbers,
// strings, arrays for repeatable options, true for a flag (false and null
// leave the option out). Options that name files, the output format, help
// and version are refused, so a request can neither read nor write a file.
//
// Replies: 200 and the document (the run's messages, such as the dialogue's
// warnings, as a JSON array in the Kestrelix-Messages header); 400 for a
// usage error (status 2) with the command line's message; 422 when a point
// lies outside the models' validity (status 1: the partial document and the
// reasons) or the run was stopped by its time limit. Every error reply is
// {"error": "...", "details": [...]}.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli.h"

namespace kx::web {

// One HTTP reply.
struct Reply {
  int status = 200;
  std::string content_type;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

// {"error": message, "details": details}, and "document" when `document`
// holds JSON text.
Reply error_reply(int status, const std::string& message,
                  const std::vector<std::string>& details = {}, const std::string& document = "");

// A request that cannot become a command line: its message for a 400 reply.
struct BadRequest {
  std::string message;
};

using Query = std::vector<std::pair<std::string, std::string>>;

// The command line of a request (without the program name): the
// subcommand, then --NAME=VALUE per option. Throws BadRequest.
std::vector<std::string> command_line(const std::string& command, const std::string& json_body);
std::vector<std::string> command_line(const std::string& command, const Query& query);

// What a point costs, in seconds of one core: one evaluation of the closed
// forms (the chain with the losses, or a four-port response at one
// frequency: about 5 us a point of a sweep with its document, 1.3 us a
// tolerance sample) ...
inline constexpr double kClosedPointSeconds = 5e-6;
// ... one static solution of the field solver for a cross-section it has
// not solved yet, solved directly (about 1.2 to 3 ms: a coating, the fine
// accuracy, the check's comparison; the frequencies of one cross-section
// reuse it) ...
inline constexpr double kFieldPointSeconds = 2e-3;
// ... or read from the solver's tables (an uncoated section at the standard
// accuracy: about 7 us, and the closed forms' dispersion after it).
inline constexpr double kFastFieldPointSeconds = 1.5e-5;
// ... or, on the general solver of board cross-sections, a solution per
// conductor of the section (a line or a pair about 1 ms, a coplanar pair
// with a neighbour on each side some 3 ms: this is about twice that).
inline constexpr double kStackConductorSeconds = 1e-3;
// A run estimated to cost more than this is of the slow kind.
inline constexpr double kQuickRunSeconds = 1.0;

// The work a run asks for, in seconds of one core: the points it evaluates
// (sweep points, synthesis levels, map points, tolerance samples and their
// band) times what a point costs its model. An estimate for sharing the
// server's turns, not a promise; a command line the run will refuse costs
// what its text asks for, at least one point.
double estimated_seconds(const std::vector<std::string>& command_line);

// Whether a run is of the slow kind, which takes the heavy turn: an
// estimate above kQuickRunSeconds (a field-solver sweep of thousands of
// points, a map, a large or field-solved tolerance run).
bool is_heavy(const std::vector<std::string>& command_line);

class Api {
 public:
  // Asks the command line which subcommands this build has.
  Api();

  bool has(const std::string& command) const { return commands_.count(command) > 0; }

  // POST /api/COMMAND.
  Reply post(const std::string& command, const std::string& json_body,
             const cli::RunLimits& limits) const;
  // GET /api/touchstone?QUERY: the response's Touchstone file as a download.
  Reply touchstone(const Query& query, const cli::RunLimits& limits) const;

 private:
  std::set<std::string> commands_;
};

}  // namespace kx::web
