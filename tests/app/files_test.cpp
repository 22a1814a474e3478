// Files and streams that misbehave: an output file deleted or respelt between
// passes, locked by another session, named with a control byte; a defaults
// file that never ends; a console on a full disk; a signal during a long
// sweep; a user at a terminal who types something that is not a number.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "app/driver.h"

namespace fs = std::filesystem;

namespace {

const fs::path kGolden = fs::path(KX_TEST_DATA_DIR) / "golden";
const fs::path kProjectRoot = fs::path(KX_TEST_DATA_DIR).parent_path();
const std::string kNote = "      Output data stored in User filename: ";

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void spit(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// A fresh working directory, left at the end.
class Workdir {
 public:
  explicit Workdir(const std::string& defaults = "synth0.DEF") {
    std::string tmpl = (fs::temp_directory_path() / "kx_files_XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = tmpl;
    saved_ = fs::current_path();
    if (!defaults.empty()) {
      fs::copy_file(kGolden / "defaults" / defaults, path_ / "Kestrelix.DEF");
    }
    fs::current_path(path_);
  }
  Workdir(const Workdir&) = delete;
  Workdir& operator=(const Workdir&) = delete;
  ~Workdir() {
    std::error_code ec;
    fs::current_path(saved_, ec);
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_, saved_;
};

// Answers given one line at a time; an action can run just before a line is
// handed out (the user doing something between two answers).
class ScriptedAnswers : public std::streambuf {
 public:
  ScriptedAnswers(std::vector<std::string> lines,
                  std::map<std::size_t, std::function<void()>> before)
      : lines_(std::move(lines)), before_(std::move(before)) {}

 protected:
  int_type underflow() override {
    if (next_ >= lines_.size()) return traits_type::eof();
    const auto it = before_.find(next_);
    if (it != before_.end()) it->second();
    current_ = lines_[next_++] + "\n";
    setg(current_.data(), current_.data(), current_.data() + current_.size());
    return traits_type::to_int_type(*gptr());
  }

 private:
  std::vector<std::string> lines_;
  std::map<std::size_t, std::function<void()>> before_;
  std::size_t next_ = 0;
  std::string current_;
};

struct Outcome {
  int status = -1;
  std::string out, err;
};

Outcome run_session(const std::vector<std::string>& answers,
                    std::map<std::size_t, std::function<void()>> before = {}) {
  ScriptedAnswers script(answers, std::move(before));
  std::istream in(&script);
  std::ostringstream out, err;
  Outcome o;
  o.status = kx::run_program(in, out, err, [] { return kx::DateTime{2026, 12, 7, 9, 5, 3}; });
  o.out = out.str();
  o.err = err.str();
  return o;
}

// Two stored D.C. synthesis passes (OPTION 1, then a dispersive one after
// OPERATION 0.5): the session of the golden folder loop_new_option_same_file.
const std::string kTwice = "loop_new_option_same_file";
constexpr std::size_t kFirstName = 14;   // the file name answer of pass 1
constexpr std::size_t kOperation = 15;   // the OPERATION answer after pass 1
constexpr std::size_t kSecondName = 30;  // the file name answer of pass 2 (blank)

std::vector<std::string> twice_answers() {
  auto a = lines_of(slurp(kGolden / kTwice / "answers.txt"));
  EXPECT_EQ(a.at(kFirstName), "twice.txt");
  EXPECT_EQ(a.at(kOperation), "0.5");
  EXPECT_EQ(a.at(kSecondName), "");
  return a;
}

// The expected file of the golden session, its pass-1 report (up to and
// with the first stored-file note) and its pass-2 report. Stamps are
// compared with the session's fixed moment.
std::string golden_twice() {
  std::string s = slurp(kGolden / kTwice / "files" / "twice.txt");
  const std::string mask = "Date:MM/DD/YYYY at HH:MM:SSHours";
  for (std::size_t p = s.find(mask); p != std::string::npos; p = s.find(mask, p)) {
    s.replace(p, mask.size(), "Date:12/ 7/2026 at  9: 5: 3Hours");
  }
  return s;
}
std::size_t end_of_pass1(const std::string& s) { return s.find('\n', s.find(kNote)) + 1; }

// Every stamp set to the fixed moment of the sessions (a child process uses
// the real clock).
std::string fixed_stamps(std::string s) {
  const std::string fixed = "Date:12/ 7/2026 at  9: 5: 3Hours";
  for (std::size_t p = s.find("Date:"); p != std::string::npos; p = s.find("Date:", p + 1)) {
    s.replace(p, fixed.size(), fixed);
  }
  return s;
}

TEST(OutputFile, DeletedBetweenPassesIsStartedAgainUnderItsName) {
  Workdir dir;
  const std::string golden = golden_twice();
  const Outcome o = run_session(twice_answers(), {{kOperation, [] { fs::remove("twice.txt"); }}});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(slurp("twice.txt"), golden.substr(end_of_pass1(golden)));
}

TEST(OutputFile, AnotherSpellingOfTheOpenFileContinuesIt) {
  Workdir dir;
  fs::create_directory("sub");
  auto answers = twice_answers();
  answers[kFirstName] = "sub/twice.txt";
  answers[kSecondName] = "./sub//twice.txt";
  const Outcome o = run_session(answers);
  EXPECT_EQ(o.status, 0) << o.err;
  const std::string golden = golden_twice();
  const std::string file = slurp("sub/twice.txt");
  const std::string pass2_note = kNote + "./sub//twice.txt    \n";
  ASSERT_EQ(count(file, kNote), 2u) << file;
  // Both reports, the first one untouched, the second one after it.
  EXPECT_EQ(file.substr(0, end_of_pass1(golden)),
            golden.substr(0, end_of_pass1(golden))
                .replace(golden.find(kNote) + kNote.size(), 20, "sub/twice.txt       "));
  EXPECT_EQ(file.substr(end_of_pass1(golden)),
            golden.substr(end_of_pass1(golden), golden.rfind(kNote) - end_of_pass1(golden)) +
                pass2_note);
}

TEST(OutputFile, LockedByAnotherSessionIsRefusedAndKept) {
  Workdir dir;
  spit("twice.txt", "another session's report\n");
  const int held = ::open("twice.txt", O_RDWR);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  const Outcome o = run_session(twice_answers());
  ::close(held);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err,
            "kestrelix: output file twice.txt is in use by another session; it is not "
            "written\n");
  EXPECT_EQ(slurp("twice.txt"), "another session's report\n");
}

TEST(OutputFile, NameWithAControlByteIsRefusedAndShownEscaped) {
  Workdir dir;
  auto answers = twice_answers();
  answers[kFirstName] = std::string("out\0.txt", 8);
  const Outcome o = run_session(answers);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err,
            "kestrelix: output file name \"out\\x00.txt\" contains a control character; "
            "it is not used\n");
  EXPECT_FALSE(fs::exists("out"));
  EXPECT_EQ(o.out.find(kNote), std::string::npos);
}

#ifdef KX_PROGRAM

// The real program as a child process in `dir`, its standard streams on the
// given files (an empty name: the stream is closed).
pid_t start_program(const fs::path& dir, const std::string& in, const std::string& out,
                    const std::string& err, rlim_t address_space = 0) {
  const std::string d = dir.string();
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  // Child: only calls that are safe after fork.
  if (::chdir(d.c_str()) != 0) ::_exit(126);
  const std::string* names[] = {&in, &out, &err};
  for (int fd = 0; fd < 3; ++fd) {
    ::close(fd);
    if (names[fd]->empty()) continue;
    const int got =
        ::open(names[fd]->c_str(), fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (got != fd) ::_exit(126);
  }
  if (address_space != 0) {
    const struct rlimit lim { address_space, address_space };
    ::setrlimit(RLIMIT_AS, &lim);
  }
  ::execl(KX_PROGRAM, "kestrelix", static_cast<char*>(nullptr));
  ::_exit(127);
}

int exit_status(pid_t pid) {
  int raw = 0;
  if (::waitpid(pid, &raw, 0) != pid) return -1;
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + WTERMSIG(raw);
}

TEST(ProgramStreams, ConsoleOnAFullDiskEndsWithStatusOne) {
  Workdir dir;
  spit("answers", slurp(kGolden / "store_named" / "answers.txt"));
  const pid_t pid = start_program(dir.path(), "answers", "/dev/full", "err");
  EXPECT_EQ(exit_status(pid), 1);
  EXPECT_EQ(slurp("err"), "kestrelix: cannot write standard output: No space left on device\n");
}

TEST(ProgramStreams, StandardErrorClosedKeepsMessagesOutOfTheOutputFile) {
  Workdir dir;
  // Pass 1 stored, then an answer that is not a number.
  auto answers = twice_answers();
  answers[kOperation] = "x";
  std::string text;
  for (const auto& a : answers) text += a + "\n";
  spit("answers", text);
  const pid_t pid = start_program(dir.path(), "answers", "out", "");
  EXPECT_EQ(exit_status(pid), 1);
  const std::string golden = golden_twice();
  EXPECT_EQ(fixed_stamps(slurp("twice.txt")), golden.substr(0, end_of_pass1(golden)));
}

TEST(ProgramStreams, AnswersFileIsNotTheOutputFile) {
  Workdir dir;
  auto answers = twice_answers();
  answers[kFirstName] = "answers";
  std::string text;
  for (const auto& a : answers) text += a + "\n";
  spit("answers", text);
  const pid_t pid = start_program(dir.path(), "answers", "out", "err");
  EXPECT_EQ(exit_status(pid), 1);
  EXPECT_EQ(slurp("err"),
            "kestrelix: output file answers is the console input or output; it is "
            "not overwritten\n");
  EXPECT_EQ(slurp("answers"), text);
}

TEST(DefaultsFile, ADeviceWithoutLineEndsIsNotADefaultsFile) {
  Workdir dir("");
  fs::create_symlink("/dev/zero", "Kestrelix.DEF");
  // Bounded memory: a few hundred MB of address space are plenty (not under
  // AddressSanitizer, whose shadow memory needs far more).
#if defined(__SANITIZE_ADDRESS__)
  const rlim_t limit = 0;
#else
  const rlim_t limit = rlim_t{300} << 20;
#endif
  spit("answers", "");
  const pid_t pid = start_program(dir.path(), "answers", "out", "err", limit);
  EXPECT_EQ(exit_status(pid), 1);
  EXPECT_EQ(slurp("err"),
            "kestrelix: Kestrelix.DEF: not a defaults file (line 1 longer than 1 MiB)\n");
  EXPECT_EQ(slurp("out"), "");
}

TEST(Signals, TerminatedSweepKeepsItsCompleteRows) {
  Workdir dir("");
  fs::copy_file(kProjectRoot / "examples" / "Kestrelix.DEF", "Kestrelix.DEF");
  // Impedance analysis over W from 0.01 to 0.04 inch in steps of 1E-7 inch:
  // 300 001 rows, stored.
  spit("answers", "1\n1\n1\n\n\n0.01\n0.04\n0.0000001\n\n\n\n\n\n\n1\nsweep.txt\n");
  const pid_t pid = start_program(dir.path(), "answers", "/dev/null", "err");
  // Wait for the first rows to reach the file (the wait is bounded only so
  // that a broken program cannot stall the suite).
  for (int i = 0; i < 6000 && (!fs::exists("sweep.txt") || fs::file_size("sweep.txt") == 0); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGTERM);
  EXPECT_EQ(exit_status(pid), 143);
  EXPECT_EQ(slurp("err"), "kestrelix: stopped by SIGTERM\n");
  const std::string file = slurp("sweep.txt");
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(file.back(), '\n');
  // Every line after the table header is a whole row of the same layout.
  const auto lines = lines_of(file);
  const std::string rule = "     " + std::string(77, '-');
  std::size_t first_row = 0;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    if (lines[k] == rule) first_row = k + 1;
  }
  ASSERT_GT(first_row, 0u);
  ASSERT_GT(lines.size(), first_row + 1);
  for (std::size_t k = first_row; k < lines.size(); ++k) {
    ASSERT_EQ(lines[k].size(), lines[first_row].size()) << "line " << k + 1 << ": " << lines[k];
  }
  EXPECT_EQ(count(file, kNote), 0u);
}

TEST(Terminal, AnswerThatIsNotANumberIsAskedAgain) {
  Workdir dir;
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string terminal = ::ptsname(master);
  const std::string d = dir.path().string();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    const int fd = ::open(terminal.c_str(), O_RDWR);  // the controlling terminal
    if (fd < 0 || ::chdir(d.c_str()) != 0) ::_exit(126);
    for (int k = 0; k < 3; ++k) ::dup2(fd, k);
    if (fd > 2) ::close(fd);
    ::close(master);
    ::execl(KX_PROGRAM, "kestrelix", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::string seen;  // what the terminal shows, typed answers echoed
  const auto wait_for = [&](const std::string& what) {
    while (seen.find(what) == std::string::npos) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 30000) <= 0) return false;
      char buf[4096];
      const ssize_t n = ::read(master, buf, sizeof buf);
      if (n <= 0) return false;
      seen.append(buf, static_cast<std::size_t>(n));
    }
    return true;
  };
  const auto type = [master](const std::string& text) {
    return ::write(master, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  };
  const std::string prompt = "      Program FUNCTION selected = ";
  ASSERT_TRUE(wait_for(prompt)) << seen;
  ASSERT_TRUE(type("abc\n"));
  EXPECT_TRUE(wait_for(prompt + "abc\r\n" +
                       "kestrelix: \"abc\" is not a number; please enter a number\r\n" + prompt))
      << seen;
  ASSERT_TRUE(type("1\n"));  // the dialogue goes on with the answer given again
  EXPECT_TRUE(wait_for("      Analysis OPTION selected = ")) << seen;
  ASSERT_TRUE(type("\x04"));  // end of input: Ctrl-D at the start of a line
  const bool ended = wait_for("kestrelix: end of input");
  EXPECT_TRUE(ended) << seen;
  if (!ended) ::kill(pid, SIGKILL);
  EXPECT_EQ(exit_status(pid), 1);  // before the terminal closes (it would hang up)
  ::close(master);
}

#endif  // KX_PROGRAM

}  // namespace
