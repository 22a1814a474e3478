// The defaults file Kestrelix.DEF: a title line, 32 numeric entries in a
// fixed order (value in columns 1 to 13) and the default output file name.
// Each entry is tested by its rule before it is copied; the first faulty or
// missing entry ends the reading with a message that names it.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <utility>

#include "common/output_file.h"
#include "common/stop.h"
#include "common/text.h"
#include "shared/defaults_file.h"
#include "shared/fields.h"

namespace kx {
namespace {

// A line or a file too long for a defaults file.
struct TooLong {
  std::string message;
};

// One numeric entry: its label and the step that tests the value read and,
// when the rule holds, copies it. Returns false when the rule is broken.
struct Entry {
  std::string_view label;
  bool (*apply)(Design& d, float v, float& fo);
};

// clang-format off
constexpr std::array<Entry, 32> kEntries{{
    {"ER.", [](Design& d, float v, float&) {
       if (v < 1.0f) return false;
       d.er = v; d.erdef = v; return true; }},
    {"F.", [](Design& d, float v, float& fo) {
       if (v < 0.0f) return false;
       d.fdef = v; fo = v; d.fdefdef = v; return true; }},
    {"FMAX.", [](Design& d, float v, float&) {
       if (v <= 0.0f) return false;
       d.fmax = v; d.fmaxdef = v; return true; }},
    {"FMIN.", [](Design& d, float v, float&) {
       if (v < 0.0f || v > d.fmax) return false;
       d.fmin = v; d.fmindef = v; return true; }},
    {"FSTEP.", [](Design& d, float v, float&) {
       if (v <= 0.0f) return false;
       d.fstep = v; d.fstepdef = v; return true; }},
    {"H.", [](Design& d, float v, float&) {
       if (v <= 0.0f) return false;
       d.h = v; d.hdef = v; return true; }},
    {"H2.", [](Design& d, float v, float&) {
       if (2.0f * d.h > v) return false;
       d.h2 = v; d.h2def = v; return true; }},
    {"Co.", [](Design& d, float v, float&) {
       const float ko = std::abs(v);
       if (ko < 1.0f) return false;
       d.kodef = ko; d.kodefdef = ko;
       d.ccdef = std::pow(10.0f, -d.kodef / 20.0f);  // voltage coupling factor
       return true; }},
    {"Cstrong.", [](Design& d, float v, float&) {
       d.cstrongdef = std::abs(v); return true; }},
    {"Cweak.", [](Design& d, float v, float&) {
       d.cweakdef = std::abs(v);
       if (d.cstrongdef > d.cweakdef) std::swap(d.cstrongdef, d.cweakdef);
       return true; }},
    {"Cstep.", [](Design& d, float v, float&) {
       d.cstepdef = std::abs(v); return true; }},
    {"L.", [](Design& d, float v, float&) {
       if (v <= 0.0f) return false;
       d.l = v; d.ldef = v; return true; }},
    {"RES.", [](Design& d, float v, float&) {
       if (v < 0.0f) return false;
       d.res1 = v; d.res1def = v; return true; }},
    {"RL.", [](Design& d, float v, float&) {
       if (v <= 0.0f) return false;
       d.rl = v; d.rldef = v; return true; }},
    {"RS.", [](Design& d, float v, float&) {
       if (v <= 0.0f) return false;
       d.rs = v; d.rsdef = v; return true; }},
    {"S.", [](Design& d, float v, float&) {
       if (v <= 0.0f) return false;
       d.sdef = v; d.sdefdef = v; return true; }},
    {"SMAX.", [](Design& d, float v, float&) {
       if (v <= 0.0f) return false;
       d.smax = v; d.smaxdef = v; return true; }},
    {"SMIN.", [](Design& d, float v, float&) {
       if (v <= 0.0f || v > d.smax) return false;
       d.smin = v; d.smindef = v; return true; }},
    {"SR.", [](Design& d, float v, float&) {
       if (v < 0.0f) return false;
       d.sr1 = v; d.sr1def = v; return true; }},
    {"SSTEP.", [](Design& d, float v, float&) {
       if (v <= 0.0f) return false;
       d.sstep = v; d.sstepdef = v; return true; }},
    {"T.", [](Design& d, float v, float&) {
       if (v < 0.0f) return false;
       d.t = v; d.tdef = v; return true; }},
    {"TLOS.", [](Design& d, float v, float&) {
       if (v < 0.0f) return false;
       d.tlos = v; d.tlosdef = v; return true; }},
    {"W.", [](Design& d, float v, float&) {
       if (v <= 0.0f) return false;
       d.wdef = v; d.wdefdef = v; return true; }},
    {"WMAX.", [](Design& d, float v, float&) {
       if (v <= 0.0f) return false;
       d.wmax = v; d.wmaxdef = v; return true; }},
    {"WMIN.", [](Design& d, float v, float&) {
       if (v <= 0.0f || v > d.wmax) return false;
       d.wmin = v; d.wmindef = v; return true; }},
    {"WSTEP.", [](Design& d, float v, float&) {
       if (v <= 0.0f) return false;
       d.wstep = v; d.wstepdef = v; return true; }},
    {"ZO.", [](Design& d, float v, float&) {
       if (v <= 0.0f) return false;
       d.zodef = v; d.zodefdef = v; return true; }},
    {"ZOE.", [](Design& d, float v, float&) {
       if (v <= 0.0f) return false;
       d.zoedef = v; d.zoedefdef = v; return true; }},
    {"ZOEmax.", [](Design& d, float v, float&) {
       d.zoemaxdef = v; return true; }},
    {"ZOEmin.", [](Design& d, float v, float&) {
       d.zoemindef = v;
       if (d.zoemindef > d.zoemaxdef) std::swap(d.zoemindef, d.zoemaxdef);
       return true; }},
    {"ZOEstep.", [](Design& d, float v, float&) {
       d.zoestepdef = v; return true; }},
    {"ZOO.", [](Design& d, float v, float&) {
       if (v <= 0.0f || v >= d.zoedef) return false;
       d.zoodef = v; d.zoodefdef = v; return true; }},
}};
// clang-format on

// A defaults file is 34 short lines. A line that has not ended after this
// many characters, or that much read in all, is not a defaults file (a
// device or a large file linked under the name): the reading stops at once.
constexpr std::size_t kMaxRead = std::size_t{1} << 20;

constexpr std::size_t kNumberColumns = 13;
constexpr std::size_t kNameColumns = 20;

// Reads the line of the `number`th entry (1 the title line), keeping only
// the columns the entry uses; false at the end of the file. `read` counts
// the characters read so far.
bool next_line(std::streambuf& file, std::size_t number, std::size_t keep, std::size_t& read,
               std::string& line) {
  const std::size_t room = kMaxRead - std::min(read, kMaxRead);
  const BoundedLine r = read_bounded_line(file, keep, room);
  if (r.end == BoundedLine::End::kTooLong) {
    throw TooLong{room < kMaxRead ? std::string("more than 1 MiB in its first ") +
                                        std::to_string(number) + " lines"
                                  : "line " + std::to_string(number) + " longer than 1 MiB"};
  }
  if (r.end == BoundedLine::End::kInterrupted) check_interrupt();
  if (r.end == BoundedLine::End::kEndOfInput) return false;
  read += r.length + 1;
  line = r.kept;
  return true;
}

std::string cannot_open(const std::string& path, int err) {
  return "kestrelix: cannot open " + printable(path) + ": " + system_reason(err);
}

}  // namespace

DefaultsFault read_defaults_into(const std::string& path, Design& d, float& fo) {
  using Kind = DefaultsFault::Kind;
  errno = 0;
  std::ifstream file{path};
  if (!file.is_open()) {
    return {Kind::cannot_open, "", cannot_open(path, errno != 0 ? errno : ENOENT)};
  }
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec))
    return {Kind::cannot_open, "", cannot_open(path, EISDIR)};

  const auto fault = [&path](Kind kind, std::string_view label) {
    const std::string what = kind == Kind::entry_missing ? "entry missing for "
                                                         : "fix the entry for ";
    return DefaultsFault{kind, std::string(label),
                         printable(path) + ": " + what + std::string(label)};
  };

  std::streambuf& buf = *file.rdbuf();
  std::size_t read = 0;
  std::size_t number = 1;
  std::string line;
  try {
    // The title line: its content is free and none of it is kept.
    if (!next_line(buf, number, 0, read, line)) return fault(Kind::entry_missing, "1st line.");

    for (const Entry& entry : kEntries) {
      if (!next_line(buf, ++number, kNumberColumns, read, line)) {
        return fault(Kind::entry_missing, entry.label);
      }
      float v = 0.0f;
      if (!read_f13(line, v) || !entry.apply(d, v, fo))
        return fault(Kind::entry_faulty, entry.label);
    }

    if (!next_line(buf, ++number, kNameColumns, read, line))
      return fault(Kind::entry_missing, "FN.");
  } catch (const TooLong& e) {
    return {Kind::not_a_defaults_file, "",
            "kestrelix: " + printable(path) + ": not a defaults file (" + e.message + ")"};
  }
  const std::string name = read_a20(line);
  const std::string_view shown = trimmed_view(name);
  if (shown.empty() || shown == "Kestrelix.DEF" || shown == "Kestrelix.EXE") {
    return fault(Kind::entry_faulty, "FN.");
  }
  d.fn = name;
  return {};
}

Defaults read_defaults(const std::string& path) {
  Defaults r;
  r.fault = read_defaults_into(path, r.design, r.fo);
  return r;
}

}  // namespace kx
