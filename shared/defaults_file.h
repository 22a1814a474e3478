// The defaults file (Kestrelix.DEF format): a title line, 32 numeric entries
// in a fixed order (value in columns 1 to 13) and the default output file
// name. One reader for both faces: the dialogue prints its own messages for
// a faulty entry, the command line one line on standard error.
#pragma once

#include <string>

#include "shared/design.h"

namespace kx {

// Why a defaults file could not be read.
struct DefaultsFault {
  enum class Kind {
    none,
    cannot_open,          // missing, unreadable or a folder
    not_a_defaults_file,  // a line or the file far too long
    entry_missing,        // the file ended before the entry
    entry_faulty,         // not a number, or against the entry's rule
  };
  Kind kind = Kind::none;
  std::string entry;    // the entry's label ("ER.", "FN.", "1st line.")
  std::string message;  // one line for standard error
};

// The values of a defaults file.
struct Defaults {
  Design design;  // every entry in its current-answer and default fields
  float fo = 0;   // the F. entry (the spot frequency)
  DefaultsFault fault;
  bool ok() const { return fault.kind == DefaultsFault::Kind::none; }
};

// Reads the defaults file at `path` into a fresh design record.
Defaults read_defaults(const std::string& path);

// The same into an existing record (entries before a fault stay applied).
DefaultsFault read_defaults_into(const std::string& path, Design& d, float& fo);

}  // namespace kx
