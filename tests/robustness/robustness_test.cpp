// Nothing lost, nothing hung: the real program against files it may not
// write, a file another run holds, an endless input, signals during a long
// run and too little memory; and run_cli as a server calls it (a Stop,
// limits, several threads at once). Every child process is bounded by a
// timeout, so that a regression fails instead of hanging the suite.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "common/output_file.h"
#include "common/stop.h"
#include "tests/support/cli_run.h"

namespace fs = std::filesystem;

namespace {

const fs::path kDefaults = fs::path(KX_TEST_DATA_DIR).parent_path() / "examples" / "Kestrelix.DEF";

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void spit(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

// A fresh folder with the example defaults file, removed at the end.
struct Workdir {
  Workdir() {
    std::string tmpl = (fs::temp_directory_path() / "kx_robust_XXXXXX").string();
    path = ::mkdtemp(tmpl.data());
    fs::copy_file(kDefaults, path / "Kestrelix.DEF");
  }
  ~Workdir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::vector<std::string> names() const {
    std::vector<std::string> n;
    for (const auto& e : fs::directory_iterator(path)) n.push_back(e.path().filename().string());
    std::sort(n.begin(), n.end());
    return n;
  }
  fs::path path;
};

struct Child {
  pid_t pid = -1;
  fs::path dir;
  int status = -1;  // exit status; 1000 + signal; -1 still running at the timeout
  std::string err() const { return slurp(dir / "err"); }
};

// What a child runs under besides its folder and streams.
struct Setting {
  rlim_t address_space = 0;    // RLIMIT_AS, 0: none
  rlim_t file_size = 0;        // RLIMIT_FSIZE, 0: none (a longer write fails with EFBIG)
  bool as_other_user = false;  // run as kOtherUser when this process is root
};

// Another user for the tests of shared folders (nobody).
constexpr uid_t kOtherUser = 65534;

// The program in `dir` with `args`; standard input from `in`, output to
// `out` (a path, relative to dir), error to dir/err.
Child spawn(const fs::path& dir, const std::vector<std::string>& args,
            const std::string& in = "/dev/null", const std::string& out = "/dev/null",
            const Setting& setting = {}) {
  std::vector<const char*> argv{"kestrelix"};
  for (const auto& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  const std::string d = dir.string();
  const bool other = setting.as_other_user && ::geteuid() == 0;
  Child c;
  c.dir = dir;
  c.pid = ::fork();
  if (c.pid != 0) return c;
  // Child: only calls that are safe after fork.
  if (::chdir(d.c_str()) != 0) ::_exit(126);
  const int fds[] = {::open(in.c_str(), O_RDONLY),
                     ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
                     ::open("err", O_WRONLY | O_CREAT | O_TRUNC, 0644)};
  for (int k = 0; k < 3; ++k) {
    if (fds[k] < 0 || ::dup2(fds[k], k) != k) ::_exit(126);
  }
  ::signal(SIGINT, SIG_DFL);  // whatever the test runner ignores
  ::signal(SIGTERM, SIG_DFL);
  if (setting.address_space != 0) {
    const struct rlimit lim { setting.address_space, setting.address_space };
    ::setrlimit(RLIMIT_AS, &lim);
  }
  if (setting.file_size != 0) {
    ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead of killing
    const struct rlimit lim { setting.file_size, setting.file_size };
    ::setrlimit(RLIMIT_FSIZE, &lim);
  }
  // The program is opened before the user changes: its path need not be
  // open to the other user.
  const int program = ::open(KX_PROGRAM, O_RDONLY | O_CLOEXEC);
  if (other &&
      (::setgroups(0, nullptr) != 0 || ::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0)) {
    ::_exit(126);
  }
  ::fexecve(program, const_cast<char* const*>(argv.data()), environ);
  ::_exit(127);
}

// Waits at most `seconds` for the child; kills it after that.
void finish(Child& c, int seconds = 60) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int raw = 0;
  while (::waitpid(c.pid, &raw, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      ::kill(c.pid, SIGKILL);
      ::waitpid(c.pid, &raw, 0);
      c.status = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  c.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + WTERMSIG(raw);
}

Child run(const fs::path& dir, const std::vector<std::string>& args,
          const std::string& out = "/dev/null") {
  Child c = spawn(dir, args, "/dev/null", out);
  finish(c);
  return c;
}

const std::vector<std::string> kResponse{"response", "--defaults", "Kestrelix.DEF", "--touchstone"};
std::vector<std::string> response_to(const std::string& file) {
  auto a = kResponse;
  a.push_back(file);
  return a;
}
// A cross-section tolerance run of `samples` from the example defaults.
std::vector<std::string> tolerance(const std::string& samples) {
  return {"tolerance", "--defaults", "Kestrelix.DEF", "--tol-s", "0.0005", "--samples", samples};
}

TEST(OutputFiles, RefusedNamesEndTheRunAndLeaveEveryFileAsItWas) {
  Workdir w;
  const std::string defaults = slurp(w.path / "Kestrelix.DEF");
  spit(w.path / "held.s4p", "held\n");
  const int held = ::open((w.path / "held.s4p").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);  // another session's lock
  struct Case {
    std::vector<std::string> args;
    std::string out, err;
  };
  const std::string samples_out = "kestrelix tolerance: --samples-out: cannot write ";
  const std::string touchstone = "kestrelix response: --touchstone: cannot write ";
  const std::vector<Case> cases{
      {response_to("Kestrelix.DEF"), "/dev/null",
       touchstone + "Kestrelix.DEF: it is the defaults file; it is not overwritten\n"},
      {[] {
         auto a = tolerance("10");
         a.insert(a.end(), {"--samples-out", "./Kestrelix.DEF"});
         return a;
       }(),
       "/dev/null",
       samples_out + "./Kestrelix.DEF: it is the defaults file; it is not overwritten\n"},
      {response_to("table.txt"), "table.txt",
       touchstone + "table.txt: it is the console input or output; it is not overwritten\n"},
      {response_to("a\nb\x1b[2J"), "/dev/null",
       touchstone + "a\\x0ab\\x1b[2J: the name contains a control character\n"},
      {response_to("held.s4p"), "/dev/null",
       touchstone + "held.s4p: it is in use by another session\n"},
      {response_to("/dev/full"), "/dev/null",
       "kestrelix response: cannot write /dev/full: No space left on device\n"},
  };
  for (const Case& c : cases) {
    const Child r = run(w.path, c.args, c.out);
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.err(), c.err);
  }
  ::close(held);
  EXPECT_EQ(slurp(w.path / "Kestrelix.DEF"), defaults);
  EXPECT_EQ(slurp(w.path / "held.s4p"), "held\n");
  EXPECT_EQ(w.names(), (std::vector<std::string>{"Kestrelix.DEF", "err", "held.s4p", "table.txt"}));
}

TEST(OutputFiles, ASecondRunOnAFileBeingWrittenIsRefusedAndTheFirstWritesItWhole) {
  Workdir w;
  spit(w.path / "c.s4p", "old\n");
  {
    // This process writes c.s4p through the same path a run takes.
    kx::OutputFiles files;
    kx::OutputFile first(files, (w.path / "c.s4p").string());
    first.write("first\n");
    const Child second = run(w.path, response_to("c.s4p"));
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err(),
              "kestrelix response: --touchstone: cannot write c.s4p: it is in use "
              "by another session\n");
    EXPECT_EQ(slurp(w.path / "c.s4p"), "old\n");  // not yet committed
    first.commit();
  }
  EXPECT_EQ(slurp(w.path / "c.s4p"), "first\n");
  const Child third = run(w.path, response_to("c.s4p"));
  EXPECT_EQ(third.status, 0) << third.err();
  EXPECT_EQ(slurp(w.path / "c.s4p").rfind("! kestrelix", 0), 0u);

  // A name that was free: the first to finish places its file; the other,
  // refused at the start or at the end, does not replace what it never checked.
  {
    const std::string n = (w.path / "n.s4p").string();
    kx::OutputFiles files_a;
    kx::OutputFiles files_b;
    kx::OutputFile a(files_a, n);
    a.write("a\n");
    try {
      kx::OutputFile b(files_b, n);
      b.write("b\n");
      a.commit();
      b.commit();
      ADD_FAILURE() << "the second file replaced the first";
    } catch (const kx::FileError& e) {
      EXPECT_NE(std::string(e.what()).find("another session"), std::string::npos) << e.what();
    }
    a.commit();
  }
  EXPECT_EQ(slurp(w.path / "n.s4p"), "a\n");
  EXPECT_EQ(w.names(), (std::vector<std::string>{"Kestrelix.DEF", "c.s4p", "err", "n.s4p"}));
}

struct stat status_of(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
  return st;
}

bool starts_with_touchstone(const fs::path& p) { return slurp(p).rfind("! kestrelix", 0) == 0; }

// A file under the name a temporary file once had (a run killed outright
// left it, or someone linked it there) is not written through.
TEST(OutputFiles, AFileUnderATemporaryNameIsNeverWrittenThrough) {
  Workdir w;
  const std::string defaults = slurp(w.path / "Kestrelix.DEF");
  ASSERT_EQ(::link((w.path / "Kestrelix.DEF").c_str(), (w.path / ".out.s4p.part").c_str()), 0);
  spit(w.path / "keep.txt", "keep\n");
  ASSERT_EQ(::link((w.path / "keep.txt").c_str(), (w.path / ".s.csv.part").c_str()), 0);
  Child r = run(w.path, response_to("out.s4p"));
  EXPECT_EQ(r.status, 0) << r.err();
  EXPECT_TRUE(slurp(w.path / "Kestrelix.DEF") == defaults) << "the defaults file was written";
  EXPECT_TRUE(starts_with_touchstone(w.path / "out.s4p"));
  auto args = tolerance("10");
  args.insert(args.end(), {"--samples-out", "s.csv"});
  r = run(w.path, args);
  EXPECT_EQ(r.status, 0) << r.err();
  EXPECT_EQ(slurp(w.path / "keep.txt"), "keep\n");
  EXPECT_EQ(slurp(w.path / "s.csv").rfind("index,", 0), 0u);
}

// A file planted there by another user of a shared folder (owned by nobody
// when the test runs as root), writable by all, is not taken over: beside a
// new name and beside a file of mode 0604 the result is a new file of the
// caller's with the mode a new file gets or the old file had.
TEST(OutputFiles, ATemporaryFilePlantedByAnotherUserIsNotTakenOver) {
  Workdir w;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  spit(w.path / "kept.s4p", "old\n");
  ASSERT_EQ(::chmod((w.path / "kept.s4p").c_str(), 0604), 0);
  for (const std::string name : {"new.s4p", "kept.s4p"}) {
    const fs::path planted = w.path / ("." + name + ".part");
    spit(planted, "planted\n");
    ASSERT_EQ(::chmod(planted.c_str(), 0666), 0);
    if (::geteuid() == 0) {
      ASSERT_EQ(::chown(planted.c_str(), kOtherUser, kOtherUser), 0);
    }
    const Child r = run(w.path, response_to(name));
    EXPECT_EQ(r.status, 0) << r.err();
    const struct stat result = status_of(w.path / name);
    EXPECT_NE(result.st_ino, status_of(planted).st_ino) << name;
    EXPECT_EQ(result.st_uid, ::geteuid()) << name;
    EXPECT_EQ(result.st_mode & 07777, name == "new.s4p" ? 0666 & ~mask : 0604) << name;
    EXPECT_EQ(result.st_nlink, 1u) << name;
    EXPECT_EQ(slurp(planted), "planted\n");
    EXPECT_TRUE(starts_with_touchstone(w.path / name)) << name;
  }
}

// The longest names the system allows are written too: the temporary file
// beside them takes a shorter name.
TEST(OutputFiles, NamesUpToTheSystemsLimitAreWritten) {
  Workdir w;
  for (const std::size_t length : {250u, 255u}) {
    const std::string name = std::string(length - 4, 'n') + ".s4p";
    const Child r = run(w.path, response_to(name));
    EXPECT_EQ(r.status, 0) << r.err();
    EXPECT_TRUE(starts_with_touchstone(w.path / name)) << length;
  }
  EXPECT_EQ(w.names().size(), 4u);  // Kestrelix.DEF, err and the two files
}

// A writable file in a folder the user may not write into: the file is
// written whole through a temporary file beside it, so the message says that
// the folder is not writable (as root the run is made as another user).
TEST(OutputFiles, AFolderThatCannotBeWrittenIsNamedAndTheFileKept) {
  Workdir w;
  const fs::path sub = w.path / "sub";
  fs::create_directory(sub);
  spit(sub / "out.s4p", "old\n");
  ASSERT_EQ(::chmod((sub / "out.s4p").c_str(), 0666), 0);
  ASSERT_EQ(::chmod(sub.c_str(), 0555), 0);
  ASSERT_EQ(::chmod(w.path.c_str(), 0755), 0);  // the other user's way in
  Setting other;
  other.as_other_user = true;
  Child c = spawn(w.path, response_to("sub/out.s4p"), "/dev/null", "/dev/null", other);
  finish(c);
  ::chmod(sub.c_str(), 0755);
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.err(), "kestrelix response: --touchstone: cannot write sub/out.s4p: its folder " +
                         fs::canonical(sub).string() +
                         " is not writable (the file is written there under a temporary "
                         "name first): Permission denied\n");
  EXPECT_EQ(slurp(sub / "out.s4p"), "old\n");
}

// A failed write names the temporary file it failed on, and leaves the old
// file and nothing else.
TEST(OutputFiles, AFailedWriteNamesTheTemporaryFile) {
  Workdir w;
  spit(w.path / "out.s4p", "old\n");
  Setting small;
  small.file_size = 1024;  // the Touchstone file holds about 5 kB
  Child c = spawn(w.path, response_to("out.s4p"), "/dev/null", "/dev/null", small);
  finish(c);
  EXPECT_EQ(c.status, 1);
  const std::string err = c.err();
  const std::string head = "kestrelix response: cannot write out.s4p: writing its temporary file " +
                           fs::canonical(w.path).string() + "/.out.s4p.";
  EXPECT_EQ(err.rfind(head, 0), 0u) << err;
  const std::string tail = ".part: File too large\n";
  EXPECT_TRUE(err.size() == head.size() + 6 + tail.size() &&
              err.compare(head.size() + 6, tail.size(), tail) == 0)
      << err;
  EXPECT_EQ(slurp(w.path / "out.s4p"), "old\n");
  EXPECT_EQ(w.names(), (std::vector<std::string>{"Kestrelix.DEF", "err", "out.s4p"}));
}

TEST(Signals, LongToleranceRunStopsAtSigintAndKeepsTheOldSamplesFile) {
  Workdir w;
  spit(w.path / "s.csv", "old\n");
  auto args = tolerance("20000000");
  args.insert(args.end(), {"--samples-out", "s.csv"});
  Child c = spawn(w.path, args);
  // Sampling has begun once the temporary file beside s.csv holds its first rows.
  const auto begun = [&w] {
    for (const auto& e : fs::directory_iterator(w.path)) {
      if (e.path().filename().string().rfind(".s.csv.", 0) == 0 && e.file_size() > 0) return true;
    }
    return false;
  };
  for (int i = 0; i < 3000 && !begun(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(c.pid, SIGINT);
  finish(c, 20);  // 20 million samples would take minutes
  EXPECT_EQ(c.status, 130);
  EXPECT_EQ(c.err(), "kestrelix tolerance: stopped by SIGINT\n");
  EXPECT_EQ(slurp(w.path / "s.csv"), "old\n");
  EXPECT_EQ(w.names(), (std::vector<std::string>{"Kestrelix.DEF", "err", "s.csv"}));
}

TEST(Input, EndlessInputEndsTheRunAndNamesItself) {
  Workdir w;
  Child c = spawn(w.path, {}, "/dev/zero", "out");
  finish(c, 20);
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.err(), "kestrelix: answer line longer than 1 MiB\n");
  c = run(w.path, {"analyse", "--defaults", "/dev/zero"});
  EXPECT_EQ(c.status, 2);
  EXPECT_EQ(c.err(),
            "kestrelix analyse: --defaults: /dev/zero: not a defaults file (line 1 longer than 1 "
            "MiB)\n");
}

#if !defined(__SANITIZE_ADDRESS__)  // its shadow memory needs far more address space
TEST(Memory, ToleranceRunThatCannotFitIsRefusedUpFront) {
  Workdir w;
  Setting small;
  small.address_space = rlim_t{1} << 30;
  Child c = spawn(w.path, tolerance("100000000"), "/dev/null", "/dev/null", small);
  finish(c, 20);
  EXPECT_EQ(c.status, 1);
  const std::string err = c.err();
  EXPECT_EQ(err.rfind("kestrelix tolerance: 100000000 samples need about 2.4 GB of memory and ", 0),
            0u)
      << err;
  EXPECT_NE(err.find(" are available: at most "), std::string::npos) << err;
}

TEST(Memory, FieldToleranceCountsTheSolversWorkPerThread) {
  // Wide strips under a low cover: near the solver's 2500 panels, some
  // 200 MB a solution; eight threads of them do not fit in 1 GiB.
  Workdir w;
  Setting small;
  small.address_space = rlim_t{1} << 30;
  Child c = spawn(w.path,
                  {"tolerance", "--er",    "4",   "--h",       "1",    "--h2",      "2", "--w",
                   "1780",      "--s",     "0.5", "--t",       "0.01", "--f",       "1", "--model",
                   "field",     "--tol-w", "1",   "--samples", "100",  "--threads", "8"},
                  "/dev/null", "/dev/null", small);
  finish(c, 20);
  EXPECT_EQ(c.status, 1);
  const std::string err = c.err();
  EXPECT_NE(err.find("kestrelix tolerance: 8 threads need about "), std::string::npos) << err;
  EXPECT_NE(err.find(" threads fit"), std::string::npos) << err;
}
#endif

// ------------------------------------------------------------ in-process --

using Result = kx::test::CliRun;
Result cli(std::vector<std::string> args, const kx::cli::RunLimits& limits = {}) {
  return kx::test::run_cli(std::move(args), limits);
}

TEST(RunCli, StopAndLimitsOfAnInProcessCaller) {
  const std::string defaults = kDefaults.string();
  auto args = tolerance("20000000");
  args[2] = defaults;
  kx::Stop stop;
  kx::cli::RunLimits limits;
  limits.stop = &stop;
  std::thread canceller([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop.cancel();
  });
  Result r = cli(args, limits);
  canceller.join();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kestrelix tolerance: stopped: cancelled\n");

  kx::Stop late;
  late.set_deadline(std::chrono::steady_clock::now());
  limits.stop = &late;
  r = cli({"analyse", "--defaults", defaults}, limits);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kestrelix analyse: stopped: time limit reached\n");

  limits = {};
  limits.files = false;
  r = cli({"response", "--defaults", defaults, "--touchstone", "c.s4p"}, limits);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "kestrelix response: --touchstone: files are not written here\n");
  limits = {};
  limits.max_points = 10;
  r = cli({"dispersion", "--defaults", defaults, "--f-range", "1:2:0.1"}, limits);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "kestrelix dispersion: --f-range: too many points (at most 10)\n");
}

TEST(RunCli, RunsInSeveralThreadsAtOnceGiveTheirOwnResults) {
  const std::string defaults = kDefaults.string();
  const std::vector<std::vector<std::string>> lines{
      {"analyse", "--defaults", defaults, "--format", "json"},
      {"response", "--defaults", defaults, "--format", "csv"},
      {"synthesise", "--defaults", defaults},
      {"tolerance", "--defaults", defaults, "--tol-w", "0.001", "--samples", "3000"}};
  std::vector<Result> alone;
  for (const auto& l : lines) alone.push_back(cli(l));
  std::vector<Result> together(lines.size() * 2);
  std::vector<std::thread> threads;
  for (std::size_t k = 0; k < together.size(); ++k) {
    threads.emplace_back([&, k] { together[k] = cli(lines[k % lines.size()]); });
  }
  for (auto& t : threads) t.join();
  for (std::size_t k = 0; k < together.size(); ++k) {
    const Result& a = alone[k % lines.size()];
    EXPECT_EQ(together[k].status, a.status);
    EXPECT_EQ(together[k].out, a.out) << lines[k % lines.size()][0];
    EXPECT_EQ(together[k].err, a.err);
  }
}

}  // namespace
