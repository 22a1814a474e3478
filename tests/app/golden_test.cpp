// Whole-session golden tests of the console program: a defaults file and the
// typed answers go in; the screen text, the error stream, the exit status and
// the stored files must come out exactly as written in tests/golden/<name>/.
// The session format is described in tests/golden/README.md.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/driver.h"

namespace fs = std::filesystem;

namespace {

const fs::path kGolden = fs::path(KX_TEST_DATA_DIR) / "golden";
const fs::path kProjectRoot = fs::path(KX_TEST_DATA_DIR).parent_path();
const std::string kDefaultsName = "Kestrelix.DEF";
const std::string kStampMask = "Date:MM/DD/YYYY at HH:MM:SSHours";

// ----------------------------------------------------------------- helpers --

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void spit(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

// Replaces every report stamp "Date:" I2 "/" I2 "/" I4 " at " I2 ":" I2 ":"
// I2 "Hours" by the mask text, whatever the digits.
std::string mask_stamps(std::string s) {
  const std::string head = "Date:";
  // Layout after "Date:": positions of the fixed separators.
  const std::string shape = "../../.... at ..:..:..Hours";
  std::size_t pos = 0;
  while ((pos = s.find(head, pos)) != std::string::npos) {
    const std::size_t body = pos + head.size();
    bool match = body + shape.size() <= s.size();
    for (std::size_t k = 0; match && k < shape.size(); ++k) {
      const char c = s[body + k];
      if (shape[k] == '.') {
        match = c == ' ' || c == '*' || (c >= '0' && c <= '9');
      } else {
        match = c == shape[k];
      }
    }
    if (match) {
      s.replace(pos, head.size() + shape.size(), kStampMask);
      pos += kStampMask.size();
    } else {
      pos = body;
    }
  }
  return s;
}

std::vector<std::string> split_lines(const std::string& s) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < s.size()) {
    const std::size_t nl = s.find('\n', start);
    const std::size_t end = nl == std::string::npos ? s.size() : nl + 1;
    lines.push_back(s.substr(start, end - start));
    start = end;
  }
  return lines;
}

// A line in quotes with its line end (or its absence) visible.
std::string visible(const std::string& line) {
  std::string v = "\"";
  for (const char c : line) {
    if (c == '\n') {
      v += "\\n";
    } else if (c == '\r') {
      v += "\\r";
    } else if (c == '\t') {
      v += "\\t";
    } else if (c == '"' || c == '\\') {
      v += '\\';
      v += c;
    } else {
      v += c;
    }
  }
  return v + "\"";
}

// Empty when equal; otherwise the first differing line, expected and actual.
std::string line_diff(const std::string& expected, const std::string& actual) {
  if (expected == actual) {
    return {};
  }
  const auto e = split_lines(expected);
  const auto a = split_lines(actual);
  std::size_t i = 0;
  while (i < e.size() && i < a.size() && e[i] == a[i]) {
    ++i;
  }
  std::ostringstream msg;
  msg << "first difference at line " << (i + 1) << " (expected " << e.size() << " lines, got "
      << a.size() << ")\n";
  if (i > 0) {
    msg << "  previous: " << visible(e[i - 1]) << "\n";
  }
  msg << "  expected: " << (i < e.size() ? visible(e[i]) : "<end of text>") << "\n";
  msg << "  actual:   " << (i < a.size() ? visible(a[i]) : "<end of text>") << "\n";
  if (i < e.size() && i < a.size()) {
    const auto& el = e[i];
    const auto& al = a[i];
    std::size_t col = 0;
    while (col < el.size() && col < al.size() && el[col] == al[col]) {
      ++col;
    }
    msg << "  first differing column: " << (col + 1) << "\n";
  }
  return msg.str();
}

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "kx_golden_XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
      throw std::runtime_error("cannot create a temporary directory");
    }
    path_ = tmpl;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

class WorkingDirectory {
 public:
  explicit WorkingDirectory(const fs::path& dir) : saved_(fs::current_path()) {
    fs::current_path(dir);
  }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;
  ~WorkingDirectory() {
    std::error_code ec;
    fs::current_path(saved_, ec);
  }

 private:
  fs::path saved_;
};

kx::Clock fixed_clock(int year, int month, int day, int hour, int minute, int second) {
  return [=] { return kx::DateTime{year, month, day, hour, minute, second}; };
}

// --------------------------------------------------------------- sessions ---

struct Session {
  fs::path dir;
  std::string answers;
  std::string stdout_text;
  std::string stderr_text;
  bool stderr_is_pattern = false;
  int status = 0;
  bool has_defaults = false;
  std::string defaults;                      // the defaults file, byte for byte
  std::map<std::string, std::string> files;  // expected stored files
};

Session load_session(const std::string& name) {
  Session s;
  s.dir = kGolden / name;
  s.answers = slurp(s.dir / "answers.txt");
  s.stdout_text = slurp(s.dir / "stdout.txt");
  if (fs::exists(s.dir / "stderr.match")) {
    s.stderr_text = slurp(s.dir / "stderr.match");
    if (!s.stderr_text.empty() && s.stderr_text.back() == '\n') {
      s.stderr_text.pop_back();
    }
    s.stderr_is_pattern = true;
  } else if (fs::exists(s.dir / "stderr.txt")) {
    s.stderr_text = slurp(s.dir / "stderr.txt");
  }
  if (fs::exists(s.dir / "status")) {
    s.status = std::stoi(slurp(s.dir / "status"));
  }
  if (fs::exists(s.dir / kDefaultsName)) {
    s.has_defaults = true;
    s.defaults = slurp(s.dir / kDefaultsName);
  } else if (fs::exists(s.dir / "defaults")) {
    std::string ref = slurp(s.dir / "defaults");
    while (!ref.empty() && (ref.back() == '\n' || ref.back() == '\r' || ref.back() == ' ')) {
      ref.pop_back();
    }
    // A bare name is a shared file of tests/golden/defaults; a path is taken
    // from the project root (examples/Kestrelix.DEF).
    const fs::path src = ref.find('/') == std::string::npos ? kGolden / "defaults" / ref
                                                            : kProjectRoot / ref;
    if (!fs::exists(src)) {
      throw std::runtime_error("defaults file not found: " + src.string());
    }
    s.has_defaults = true;
    s.defaults = slurp(src);
  }
  if (fs::is_directory(s.dir / "files")) {
    for (const auto& entry : fs::directory_iterator(s.dir / "files")) {
      s.files[entry.path().filename().string()] = slurp(entry.path());
    }
  }
  return s;
}

std::vector<std::string> session_names() {
  std::vector<std::string> names;
  if (!fs::is_directory(kGolden)) {
    return names;
  }
  for (const auto& entry : fs::directory_iterator(kGolden)) {
    if (entry.is_directory() && entry.path().filename() != "defaults" &&
        fs::exists(entry.path() / "answers.txt")) {
      names.push_back(entry.path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct Outcome {
  int status = -1;
  std::string out, err;
  std::map<std::string, std::string> files;  // every entry left in the directory
};

// Runs the program in-process in a fresh directory holding only the
// session's defaults file.
Outcome run_in_process(const Session& s, const kx::Clock& clock) {
  TempDir tmp;
  if (s.has_defaults) {
    spit(tmp.path() / kDefaultsName, s.defaults);
  }
  Outcome o;
  std::istringstream in(s.answers);
  std::ostringstream out;
  std::ostringstream err;
  {
    WorkingDirectory cwd(tmp.path());
    try {
      o.status = kx::run_program(in, out, err, clock);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "run_program let an exception escape: " << e.what();
    }
  }
  o.out = out.str();
  o.err = err.str();
  for (const auto& entry : fs::directory_iterator(tmp.path())) {
    const std::string name = entry.path().filename().string();
    o.files[entry.is_directory() ? name + "/" : name] =
        entry.is_regular_file() ? slurp(entry.path()) : std::string();
  }
  return o;
}

void expect_matches(const Session& s, const Outcome& o) {
  EXPECT_EQ(o.status, s.status) << "exit status";

  const std::string out_diff = line_diff(s.stdout_text, mask_stamps(o.out));
  EXPECT_TRUE(out_diff.empty()) << "standard output differs from stdout.txt: " << out_diff;

  if (s.stderr_is_pattern) {
    EXPECT_TRUE(std::regex_search(o.err, std::regex(s.stderr_text)))
        << "standard error " << visible(o.err) << " does not match " << s.stderr_text;
  } else {
    const std::string err_diff = line_diff(s.stderr_text, o.err);
    EXPECT_TRUE(err_diff.empty()) << "standard error differs: " << err_diff;
  }

  std::set<std::string> expected_names;
  for (const auto& [name, text] : s.files) {
    expected_names.insert(name);
  }
  if (s.has_defaults) {
    expected_names.insert(kDefaultsName);
    const auto it = o.files.find(kDefaultsName);
    ASSERT_NE(it, o.files.end()) << "the defaults file is gone";
    EXPECT_TRUE(it->second == s.defaults) << "the defaults file was changed";
  }
  for (const auto& [name, text] : o.files) {
    EXPECT_TRUE(expected_names.count(name) != 0) << "unexpected file created: " << name;
  }
  for (const auto& [name, text] : s.files) {
    const auto it = o.files.find(name);
    if (it == o.files.end()) {
      ADD_FAILURE() << "stored file missing: " << name;
      continue;
    }
    const std::string diff = line_diff(text, mask_stamps(it->second));
    EXPECT_TRUE(diff.empty()) << "stored file " << name << " differs: " << diff;
  }
}

// The fixed moment of every golden session (its stamp is masked anyway).
const kx::Clock kSessionClock = fixed_clock(2026, 12, 7, 9, 5, 3);

class GoldenSession : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenSession, ScreenFilesAndStatusAsExpected) {
  const Session s = load_session(GetParam());
  expect_matches(s, run_in_process(s, kSessionClock));
}

INSTANTIATE_TEST_SUITE_P(Golden, GoldenSession, ::testing::ValuesIn(session_names()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                           std::string n = param.param;
                           for (char& c : n) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) {
                               c = '_';
                             }
                           }
                           return n;
                         });

TEST(Golden, SessionFoldersAreFound) {
  // Guards against a moved folder silently running no session at all.
  EXPECT_GE(session_names().size(), 40u);
}

// ----------------------------------------------------- the date stamp itself --

std::vector<std::string> stamps_in(const std::string& text) {
  std::vector<std::string> found;
  std::size_t pos = 0;
  while ((pos = text.find("Date:", pos)) != std::string::npos) {
    found.push_back(text.substr(pos, 32));
    pos += 5;
  }
  return found;
}

TEST(GoldenStamp, OneDigitFieldsArePaddedWithBlanks) {
  const Session s = load_session("store_named");
  const Outcome o = run_in_process(s, fixed_clock(2026, 3, 4, 5, 6, 7));
  const std::string stamp = "Date: 3/ 4/2026 at  5: 6: 7Hours";
  EXPECT_NE(o.out.find("           Program: Kestrelix (v. 1.3)     " + stamp + "\n"),
            std::string::npos)
      << "banner line not found in:\n"
      << o.out;
  const std::string report_line = "      Kestrelix (v. 1.3)                      " + stamp + "\n";
  EXPECT_NE(o.out.find(report_line), std::string::npos) << "report stamp not found on screen";
  EXPECT_NE(o.files.at("run1.txt").find(report_line), std::string::npos)
      << "report stamp not found in the stored file";
  // Apart from the stamp the session is the golden one.
  expect_matches(s, o);
}

TEST(GoldenStamp, TwoDigitFieldsFillTheirColumns) {
  const Session s = load_session("store_none");
  const Outcome o = run_in_process(s, fixed_clock(2026, 12, 31, 23, 59, 58));
  const auto stamps = stamps_in(o.out);
  ASSERT_EQ(stamps.size(), 2u);  // banner and report stamp
  for (const auto& st : stamps) {
    EXPECT_EQ(st, "Date:12/31/2026 at 23:59:58Hours");
  }
}

TEST(GoldenStamp, TakenOnceAndShownByEveryBannerAndReport) {
  const Session s = load_session("loop_new_coupler_two_files");
  int calls = 0;
  const kx::Clock ticking = [&calls] {
    ++calls;
    return kx::DateTime{2027, 1, 2, 3, 4, calls % 60};
  };
  const Outcome o = run_in_process(s, ticking);
  std::vector<std::string> all = stamps_in(o.out);
  for (const auto& [name, text] : o.files) {
    const auto more = stamps_in(text);
    all.insert(all.end(), more.begin(), more.end());
  }
  ASSERT_EQ(all.size(), 6u);  // two banners, two report stamps, one in each stored file
  for (const auto& st : all) {
    EXPECT_EQ(st, all.front());
  }
  EXPECT_GE(calls, 1);
}

// ------------------------------------------------------ the real program ---

#ifdef KX_PROGRAM

struct ProcessResult {
  int status = -1;
  std::string out, err;
  std::map<std::string, std::string> files;
};

ProcessResult run_process(const Session* s, const std::string& answers) {
  TempDir tmp;
  if (s != nullptr && s->has_defaults) {
    spit(tmp.path() / kDefaultsName, s->defaults);
  }
  TempDir io;
  spit(io.path() / "in", answers);
  const std::string cmd = "cd '" + tmp.path().string() + "' && '" + std::string(KX_PROGRAM) +
                          "' < '" + (io.path() / "in").string() + "' > '" +
                          (io.path() / "out").string() + "' 2> '" + (io.path() / "err").string() +
                          "'";
  const int raw = std::system(cmd.c_str());
  ProcessResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = slurp(io.path() / "out");
  r.err = slurp(io.path() / "err");
  for (const auto& entry : fs::directory_iterator(tmp.path())) {
    r.files[entry.path().filename().string()] = slurp(entry.path());
  }
  return r;
}

TEST(GoldenProcess, MissingDefaultsFileEndsWithOneErrorLine) {
  const ProcessResult r = run_process(nullptr, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(std::regex_search(r.err, std::regex("^kestrelix: [^\\n]*Kestrelix\\.DEF[^\\n]*\\n$")))
      << visible(r.err);
  EXPECT_TRUE(r.files.empty());
}

TEST(GoldenProcess, EndOfInputAtTheFirstPromptEndsWithStatusOne) {
  const Session s = load_session("invalid_number_first_prompt");
  const ProcessResult r = run_process(&s, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kestrelix: end of input\n");
  const std::string diff = line_diff(s.stdout_text, mask_stamps(r.out));
  EXPECT_TRUE(diff.empty()) << diff;
}

TEST(GoldenProcess, StoredSessionThroughTheProgram) {
  const Session s = load_session("store_named");
  const ProcessResult r = run_process(&s, s.answers);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::string diff = line_diff(s.stdout_text, mask_stamps(r.out));
  EXPECT_TRUE(diff.empty()) << diff;
  ASSERT_EQ(r.files.count("run1.txt"), 1u);
  const std::string file_diff =
      line_diff(s.files.at("run1.txt"), mask_stamps(r.files.at("run1.txt")));
  EXPECT_TRUE(file_diff.empty()) << file_diff;
  EXPECT_TRUE(r.files.at(kDefaultsName) == s.defaults);
}

#endif  // KX_PROGRAM

}  // namespace
