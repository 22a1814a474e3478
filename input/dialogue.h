// The input dialogue `mscupinp`: banner, menus, data prompts and the storage
// question, writing every answer to the design record.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include <kestrelix/coupled_line.h>

#include "common/report.h"
#include "input/answers.h"
#include "shared/design.h"

namespace kx {

// A fault that ends the program with one line on standard error and exit
// status 1 (for example a defaults file that cannot be opened).
struct FatalError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct DateTime {
  int year{}, month{}, day{}, hour{}, minute{}, second{};
};
using Clock = std::function<DateTime()>;

// The platform's local date and time.
DateTime local_clock();

// True when both names lead to one existing file (same device and inode),
// whatever their spelling: "./Kestrelix.DEF", a path or a link to it.
bool same_file(const std::string& a, const std::string& b);

// What the dialogue talks through: the answers, the console (prompts and
// messages go to the console only) and the clock of the date stamp.
struct Console {
  Answers& in;
  Report& out;
  Clock clock;
};

// One complete dialogue, started as design.isel asks (0 first, 1 new option,
// 2 new coupler). Sets design.isel = select_error after a defaults-file fault (its
// message already printed). Throws InputError at the end of input or for an
// answer that is not a number, FatalError when the defaults file cannot be
// opened. `fo` is the frequency answer Fo; the computed centre frequency and
// length evaluate the cross-section with `line`.
void mscupinp(Console& io, Design& design, CoupledLine& line, float& fo);

}  // namespace kx
