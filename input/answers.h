// Reading the console answers: one line per answer.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>

#include "shared/fields.h"

namespace kx {

// An answer that is not a valid number, or the end of standard input. The
// message is one line fit for standard error.
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Menu conversion: the nearest integer, halves away from zero (saturating
// at the 32-bit integer range; NaN gives 0).
int nearest_int(float x);
// Truncation toward zero (saturating; NaN gives 0).
int trunc_int(float x);

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
