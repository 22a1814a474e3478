// Shared set-up of the dialogue tests: a fresh working directory holding a
// defaults file, and one dialogue call on string streams.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/report.h"
#include "input/answers.h"
#include "input/dialogue.h"
#include "shared/design.h"

namespace kx::test {

// A fresh temporary directory made the working directory for the lifetime
// of the object.
class TempWorkDir {
 public:
  TempWorkDir() : old_(std::filesystem::current_path()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kx_dlg_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    std::filesystem::current_path(dir_);
  }
  ~TempWorkDir() {
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  TempWorkDir(const TempWorkDir&) = delete;
  TempWorkDir& operator=(const TempWorkDir&) = delete;
  const std::filesystem::path& path() const { return dir_; }

 private:
  std::filesystem::path old_;
  std::filesystem::path dir_;
};

// Index of each entry's line in the defaults file (line 0 is the title).
enum Line {
  kTitle,
  kER,
  kF,
  kFMAX,
  kFMIN,
  kFSTEP,
  kH,
  kH2,
  kCo,
  kCstrong,
  kCweak,
  kCstep,
  kL,
  kRES,
  kRL,
  kRS,
  kS,
  kSMAX,
  kSMIN,
  kSR,
  kSSTEP,
  kT,
  kTLOS,
  kW,
  kWMAX,
  kWMIN,
  kWSTEP,
  kZO,
  kZOE,
  kZOEmax,
  kZOEmin,
  kZOEstep,
  kZOO,
  kFN,
  kLineCount
};

// A 10 dB coupler on 25 mil alumina; every value inside its entry's rule.
inline std::vector<std::string> default_lines() {
  return {
      "Kestrelix defaults for the dialogue tests",
      "9.8          ER.      relative dielectric constant",
      "3.0          F.       spot frequency, GHz",
      "6.0          FMAX.",
      "1.0          FMIN.",
      "0.5          FSTEP.",
      "0.025        H.",
      "0.25         H2.",
      "-10          Co.",
      "6            Cstrong.",
      "20           Cweak.",
      "2            Cstep.",
      "0.4          L.",
      "1.7          RES.",
      "50           RL.",
      "50           RS.",
      "0.005        S.",
      "0.02         SMAX.",
      "0.002        SMIN.",
      "2.5          SR.",
      "0.002        SSTEP.",
      "0.0002       T.",
      "0.0001       TLOS.",
      "0.02         W.",
      "0.04         WMAX.",
      "0.01         WMIN.",
      "0.005        WSTEP.",
      "50           ZO.",
      "69.5         ZOE.",
      "90           ZOEmax.",
      "60           ZOEmin.",
      "5            ZOEstep.",
      "36           ZOO.",
      "test.xls",
  };
}

inline void write_defaults(const std::vector<std::string>& lines, const char* eol = "\n") {
  std::ofstream f("Kestrelix.DEF", std::ios::binary);
  for (const auto& l : lines) f << l << eol;
}

inline DateTime first_moment() { return {2024, 3, 7, 9, 5, 1}; }

// One dialogue call on string streams.
struct Dialogue {
  std::istringstream in;
  std::ostringstream out;
  Answers answers{in};
  Report rep{out};
  Console io{answers, rep, first_moment};
  Design d;
  CoupledLine line{ModelSettings{Model::closed}};
  float fo{};
  bool ended_by_input = false;

  // Runs mscupinp on the answers (one per line). The end of the answers
  // ends the call with InputError, which is recorded, not rethrown.
  std::string run(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    in.clear();
    in.str(text);
    out.str("");
    ended_by_input = false;
    try {
      mscupinp(io, d, line, fo);
    } catch (const InputError&) {
      ended_by_input = true;
    }
    return out.str();
  }
};

// Answer lists: n empty answers, and lists joined in order.
inline std::vector<std::string> blanks(std::size_t n) { return std::vector<std::string>(n); }
inline std::vector<std::string> cat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Whether `text` ends with `tail`.
inline bool ends_with(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The prompts of `tags` (tag, distinctive text) in the order they appear.
inline std::string prompt_order(
    std::string_view text,
    std::initializer_list<std::pair<std::string_view, std::string_view>> tags) {
  std::vector<std::pair<std::size_t, std::string_view>> seen;
  for (const auto& [tag, what] : tags) {
    for (auto p = text.find(what); p != std::string_view::npos; p = text.find(what, p + 1)) {
      seen.emplace_back(p, tag);
    }
  }
  std::sort(seen.begin(), seen.end());
  std::string order;
  for (const auto& s : seen) order += std::string(s.second) + " ";
  return order;
}

inline int count(std::string_view text, std::string_view what) {
  int n = 0;
  for (auto p = text.find(what); p != std::string_view::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

}  // namespace kx::test
