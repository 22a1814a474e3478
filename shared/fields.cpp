// The field rules: the (F13.0) number, the (A20) text and one bounded line.
#include "shared/fields.h"

#include <cmath>
#include <cstdlib>
#include <streambuf>

#include "common/stop.h"

namespace kx {
namespace {

constexpr std::size_t kNumberField = 13;
constexpr std::size_t kTextField = 20;
constexpr std::size_t kPollEvery = std::size_t{1} << 12;  // characters between signal checks

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_sign(char c) { return c == '+' || c == '-'; }

// Validates a blank-free (F13.0) field and rewrites it in the C form
// [sign]digits[.digits][e[sign]digits]. False when it is not a number.
bool to_c_number(const std::string& f, std::string& out) {
  std::size_t i = 0;
  if (i < f.size() && is_sign(f[i])) out += f[i++];
  bool digits = false;
  bool point = false;
  for (; i < f.size(); ++i) {
    if (is_digit(f[i])) {
      digits = true;
    } else if (f[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
    out += f[i];
  }
  if (!digits) return false;
  if (i == f.size()) return true;

  // Exponent: E or D with an optional sign, or a sign alone (1.5+3).
  const char c = f[i];
  if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
    ++i;
  } else if (!is_sign(c)) {
    return false;
  }
  out += 'e';
  if (i < f.size() && is_sign(f[i])) out += f[i++];
  if (i == f.size()) return false;
  for (; i < f.size(); ++i) {
    if (!is_digit(f[i])) return false;
    out += f[i];
  }
  return true;
}

}  // namespace

bool read_f13(std::string_view line, float& value) {
  std::string field;
  for (const char c : line.substr(0, kNumberField)) {
    if (c != ' ' && c != '\t') field += c;  // blanks are not significant
  }
  if (field.empty()) {
    value = 0.0f;
    return true;
  }
  std::string text;
  if (!to_c_number(field, text)) return false;
  // Decimal text straight to the nearest float (no detour through double).
  const float v = std::strtof(text.c_str(), nullptr);
  if (std::isinf(v)) return false;  // beyond the float range
  value = v;
  return true;
}

std::string read_a20(std::string_view line) {
  std::string text(line.substr(0, kTextField));
  text.resize(kTextField, ' ');
  return text;
}

BoundedLine read_bounded_line(std::streambuf& in, std::size_t keep, std::size_t max_length) {
  using Traits = std::streambuf::traits_type;
  BoundedLine r;
  for (;;) {
    const int c = in.sbumpc();
    if (Traits::eq_int_type(c, Traits::eof())) {
      if (r.length == 0) r.end = BoundedLine::End::kEndOfInput;
      break;
    }
    if (c == '\n') break;
    if (r.length == max_length) {
      r.end = BoundedLine::End::kTooLong;
      break;
    }
    // An input that never blocks (/dev/zero) gives the signal no read to cut short.
    if (r.length % kPollEvery == kPollEvery - 1 && pending_interrupt() != 0) {
      r.end = BoundedLine::End::kInterrupted;
      break;
    }
    // One character past the field is kept, to tell a carriage return that
    // ends the line from one inside it.
    if (r.kept.size() <= keep) r.kept += Traits::to_char_type(c);
    ++r.length;
  }
  if (r.end == BoundedLine::End::kLine && r.kept.size() == r.length && !r.kept.empty() &&
      r.kept.back() == '\r') {
    r.kept.pop_back();
  }
  if (r.kept.size() > keep) r.kept.resize(keep);
  return r;
}

}  // namespace kx
