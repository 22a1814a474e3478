// Console answers: one line per answer by the field rules of
// shared/fields.h, and the menu conversions.
#include "input/answers.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <istream>
#include <limits>
#include <streambuf>

#include "common/report.h"

namespace kx {
namespace {

constexpr std::size_t kNumberField = 13;  // the (F13.0) field
constexpr std::size_t kTextField = 20;    // the (A20) field
constexpr std::size_t kQuotedMax = 40;    // characters of a bad answer shown in the message
constexpr std::size_t kMaxAnswer = std::size_t{1} << 20;  // characters of one answer line

// Float to int with saturation; `rounded` is already an integral value.
int saturate(float rounded) {
  if (std::isnan(rounded)) return 0;
  if (rounded >= 2147483648.0f) return INT_MAX;
  if (rounded <= -2147483648.0f) return INT_MIN;
  return static_cast<int>(rounded);
}

}  // namespace

int nearest_int(float x) { return saturate(std::round(x)); }

int trunc_int(float x) { return saturate(std::trunc(x)); }

Answers::Answers(std::istream& in) : in_(in) {}

float Answers::number() {
  for (;;) {
    // The columns of the field, and a few more for the message.
    const std::string text = line(kQuotedMax);
    float value = 0.0f;
    if (read_f13(text, value)) return value;
    if (!retry_) throw InputError("kestrelix: not a valid number: \"" + printable(text) + "\"");
    retry_("kestrelix: \"" + printable(text.substr(0, kNumberField)) +
           "\" is not a number; please enter a number");
  }
}

std::string Answers::text20() { return read_a20(line(kTextField)); }

std::string Answers::line(std::size_t keep) {
  std::streambuf* buf = in_.rdbuf();
  if (buf == nullptr || !in_.good()) throw InputError("kestrelix: end of input");
  const BoundedLine r = read_bounded_line(*buf, keep, kMaxAnswer);
  check_interrupt();  // a read cut short by SIGINT or SIGTERM
  if (r.end == BoundedLine::End::kEndOfInput) {
    in_.setstate(std::ios::eofbit | std::ios::failbit);
    throw InputError("kestrelix: end of input");
  }
  if (r.end == BoundedLine::End::kTooLong) {
    in_.setstate(std::ios::failbit);
    throw InputError("kestrelix: answer line longer than 1 MiB");
  }
  return r.kept;
}

}  // namespace kx
