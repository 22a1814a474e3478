// The field rules of a line of answers or of the defaults file: the
// "(F13.0)" number, the "(A20)" text and one line read with bounded memory.
// The dialogue's answers and the defaults file (both faces) read by them.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

namespace kx {

// The "(F13.0)" number rule: the value is taken from the first 13
// characters of the line (a shorter line counts as padded with blanks);
// blanks are ignored, an empty or all-blank field reads as 0; an optional
// sign, a decimal point and an exponent (E or D) are accepted; digits without
// a decimal point are a whole number. Returns false for a field that is not a
// valid number or whose value lies beyond the 32-bit float range.
bool read_f13(std::string_view line, float& value);

// The "(A20)" text rule: the first 20 characters, padded with blanks.
std::string read_a20(std::string_view line);

// One input line read with bounded memory: only the first `keep` characters
// are kept, the rest is discarded as it arrives. A trailing carriage return
// (a line written with CR LF) is not part of the line.
struct BoundedLine {
  enum class End { kLine, kEndOfInput, kTooLong, kInterrupted };
  End end = End::kLine;
  std::string kept;        // at most `keep` characters
  std::size_t length = 0;  // characters of the whole line, line end excluded
};
// Reads one line from `in`; kEndOfInput when the input ends before any
// character, kTooLong (the rest of the line left unread) when the line has
// not ended after `max_length` characters, kInterrupted when SIGINT or
// SIGTERM is noted during a long line.
BoundedLine read_bounded_line(std::streambuf& in, std::size_t keep, std::size_t max_length);

}  // namespace kx
