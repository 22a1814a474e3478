// Reading the console answers: one line per answer.
#pragma once

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

// The console answer source. A trailing carriage return is dropped from
// every line.
class Answers {
 public:
  explicit Answers(std::istream& in);
  // Reads one line by the "(F13.0)" rule; throws InputError at the end of
  // input or for an answer that is not a valid number.
  float number();
  // Reads one line by the "(A20)" rule; throws InputError at the end of input.
  std::string text20();

 private:
  std::string line();
  std::istream& in_;
};

}  // namespace kx
