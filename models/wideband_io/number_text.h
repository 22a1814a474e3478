// Helpers of the text formats (private to them): the shortest decimal text
// that reads back to the same double, and comment lines.
#pragma once

#include <charconv>
#include <string>
#include <vector>

namespace kx::rlgc {

inline void append_number(std::string& out, double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// Comment lines, each after `prefix`; a line break or other control byte
// inside a comment becomes a blank, so that a comment never ends a line.
inline void append_comments(std::string& out, const char* prefix,
                            const std::vector<std::string>& comments) {
  for (const std::string& c : comments) {
    out += prefix;
    for (const char ch : c) out += static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f ? ' ' : ch;
    out += '\n';
  }
}

}  // namespace kx::rlgc
