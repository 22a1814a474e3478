// The dialogue's start: Kestrelix.DEF from the working directory, with the
// dialogue's own messages for a missing or faulty entry (the reader itself,
// shared with the command line, is shared/defaults_file.h).
#include <string>
#include <string_view>

#include "input/dialogue_steps.h"
#include "shared/defaults_file.h"

namespace kx::dialogue {
namespace {

constexpr std::string_view kFileName = "Kestrelix.DEF";

constexpr std::string_view kEndOfFile =
    R"t((6X,'End of file in Microstrip Coupler default value data',/,6X,'file: Kestrelix.DEF. Entry missing for variable ',A11))t";
constexpr std::string_view kEntryError =
    R"t((6X,'Error exists in Microstrip Coupler default value ','data',/,6X,'file: Kestrelix.DEF. Fix entry for variable ',A11))t";

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
    case Kind::cannot_open:
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
