// Reading the console answers: one line per answer.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kx {

// An answer that is not a valid number, or the end of standard input. The
// message is one line fit for standard error.
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The "(F13.0)" number rule: the value is taken from the first 13
// characters of the line (a shorter line counts as padded with blanks);
// blanks are ignored, an empty or all-blank field reads as 0; an optional
// sign, a decimal point and an exponent (E or D) are accepted; digits without
// a decimal point are a whole number. Returns false for a field that is not a
// valid number or whose value lies beyond the 32-bit float range.
bool read_f13(std::string_view line, float& value);

// The "(A20)" text rule: the first 20 characters, padded with blanks.
std::string read_a20(std::string_view line);

// Menu conversion: the nearest integer, halves away from zero (saturating
// at the 32-bit integer range; NaN gives 0).
int nearest_int(float x);
// Truncation toward zero (saturating; NaN gives 0).
int trunc_int(float x);

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

// The console answer source. A trailing carriage return is dropped from
// every line; only the columns an answer rule uses are kept. A line longer
// than 1 MiB (a device or a file that is not answers) ends the session.
class Answers {
 public:
  explicit Answers(std::istream& in);
  // Reads one line by the "(F13.0)" rule; throws InputError at the end of
  // input or for an answer that is not a valid number (unless a retry is
  // set).
  float number();
  // Reads one line by the "(A20)" rule; throws InputError at the end of input.
  std::string text20();

  // For a user at a terminal: an answer that is not a number is handed to
  // `retry` with the message that tells so, and the number is read again.
  void set_retry(std::function<void(const std::string& message)> retry) {
    retry_ = std::move(retry);
  }

 private:
  std::string line(std::size_t keep);
  std::istream& in_;
  std::function<void(const std::string&)> retry_;
};

}  // namespace kx
