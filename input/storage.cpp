// Output storage question, the file name rules and the date stamp.
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <string_view>

#include "common/text.h"
#include "input/dialogue_steps.h"

namespace kx {

DateTime local_clock() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &tm) == nullptr) return {};
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (a.empty() || b.empty()) return false;
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

namespace dialogue {
namespace {

constexpr std::string_view kStoragePrompt =
    R"t((/,6X,'Is Output Data STORAGE desired? (1=YES) = '))t";
constexpr std::string_view kNameHints =
    R"t((6X,'Enter a FILENAME (up to 20 characters) for Output Data storage: ',/,10X,'-Enter: Filename.xls for storage in a spreadsheet.',/,10X,'-Enter: Filename.doc for storage in a word processor.',/,10X,'-Enter: Filename.txt for storage as a text document.'))t";
constexpr std::string_view kNamePrompt =
    R"t((11X,'Enter your FILENAME for Output Data Storage: '))t";

std::string padded20(std::string_view s) {
  std::string out(s.substr(0, 20));
  out.resize(20, ' ');
  return out;
}

}  // namespace

void take_date_stamp(Console& io, Design& d) {
  const DateTime now = io.clock ? io.clock() : local_clock();
  d.iyr = now.year;
  d.imon = now.month;
  d.iday = now.day;
  d.ihr = now.hour;
  d.imin = now.minute;
  d.isec = now.second;
}

void storage_question(Console& io, Design& d) {
  d.istore = storage_off;
  const int k = nearest_int(ask(io, kStoragePrompt));
  if (k == baseline_verification) d.istore = baseline_verification;
  if (k != storage_on) return;
  io.out.console(kNameHints);
  io.out.prompt(kNamePrompt);
  const std::string fname = padded20(io.in.text20());
  if (!trimmed_view(fname).empty()) d.fn = fname;
  // A control byte (a NUL cuts the name short for the system) makes a name
  // that is not the one shown: refused.
  const std::string_view chosen = trimmed_view(d.fn);
  if (std::any_of(chosen.begin(), chosen.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
    throw FatalError("kestrelix: output file name \"" + printable(chosen) +
                     "\" contains a control character; it is not used");
  }
  // The defaults file and the program file are never overwritten.
  const std::string_view name = trimmed_view(d.fn);
  if (name == "Kestrelix.DEF" || name == "Kestrelix.EXE") d.fn = padded20("Kestrelix.XLS");
  // Another spelling of the defaults file (a path or a link to it) is
  // replaced the same way, so it is never truncated either.
  if (same_file(std::string(trimmed_view(d.fn)), "Kestrelix.DEF")) d.fn = padded20("Kestrelix.XLS");
  d.istore = storage_on;
}

float ask(Console& io, std::string_view prompt) {
  io.out.prompt(prompt);
  return io.in.number();
}

bool reenter(Console& io, std::string_view question) { return nearest_int(ask(io, question)) == 1; }

}  // namespace dialogue
}  // namespace kx
