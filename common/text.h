// Small text helpers shared by the dialogue and the driver.
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

}  // namespace kx
