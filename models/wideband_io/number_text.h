// The shortest decimal text that reads back to the same double (private to
// the text formats).
#pragma once

#include <charconv>
#include <string>

namespace kx::rlgc {

inline void append_number(std::string& out, double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

}  // namespace kx::rlgc
