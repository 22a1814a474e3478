// The dialogue's start: Kestrelix.DEF from the working directory, with the
// dialogue's own messages for a missing or faulty entry (the reader itself,
// shared with the command line, is shared/defaults_file.h).
#include <unistd.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "input/dialogue_steps.h"
#include "shared/defaults_file.h"

namespace kx::dialogue {
namespace {

constexpr std::string_view kFileName = "Kestrelix.DEF";

constexpr std::string_view kEndOfFile =
    R"t((6X,'End of file in Microstrip Coupler default value data',/,6X,'file: Kestrelix.DEF. Entry missing for variable ',A11))t";
constexpr std::string_view kEntryError =
    R"t((6X,'Error exists in Microstrip Coupler default value ','data',/,6X,'file: Kestrelix.DEF. Fix entry for variable ',A11))t";

// Where the installed example defaults file is, from this program's folder
// (bin/../share/kestrelix/Kestrelix.DEF as installed); "" when it is not
// there (a build tree).
std::string installed_example() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  std::string dir(self, static_cast<std::size_t>(n));
  dir = dir.substr(0, dir.rfind('/') + 1);
  const std::string path = dir + KX_EXAMPLE_DEFAULTS;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return "";
  return std::filesystem::weakly_canonical(path, ec).string();
}

// The entry label as the 11-character field the messages print.
std::string label11(std::string_view label) {
  std::string s(label.substr(0, 11));
  s.resize(11, ' ');
  return s;
}

}  // namespace

bool read_defaults_file(Console& io, Design& d, float& fo) {
  using Kind = DefaultsFault::Kind;
  const DefaultsFault f = read_defaults_into(std::string(kFileName), d, fo);
  switch (f.kind) {
    case Kind::none:
      return true;
    case Kind::cannot_open: {
      // No file at all (a first run in a new folder): where to find one.
      std::error_code ec;
      if (std::filesystem::exists(std::string(kFileName), ec)) throw FatalError(f.message);
      const std::string example = installed_example();
      throw FatalError(f.message + "; the dialogue needs Kestrelix.DEF in this folder" +
                       (example.empty() ? "" : ": copy the example " + example + " here") +
                       " (or see kestrelix --help)");
    }
    case Kind::not_a_defaults_file:
      throw FatalError(f.message);
    case Kind::entry_missing:
      io.out.console(kEndOfFile, {std::string_view(label11(f.entry))});
      return false;
    case Kind::entry_faulty:
      break;
  }
  io.out.console(kEntryError, {std::string_view(label11(f.entry))});
  return false;
}

}  // namespace kx::dialogue
