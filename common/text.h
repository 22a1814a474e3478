// Small text helpers shared by the dialogue, the driver and the faces' messages.
#pragma once

#include <string>
#include <string_view>

namespace kx {

// A blank-padded Fortran-style name without its trailing blanks.
inline std::string_view trimmed_view(std::string_view s) {
  const auto end = s.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view{} : s.substr(0, end + 1);
}
inline std::string trimmed(std::string_view s) { return std::string(trimmed_view(s)); }

// The shortest decimal text that reads back as the same float: plain
// decimals between 1e-4 and 1e9 (0.0007, not 7e-04), the exponent form
// outside.
std::string shortest(float v);
// The same for a double.
std::string shortest(double v);

}  // namespace kx
