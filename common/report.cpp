// Report writer: console lines, output-file lines and prompts. The output
// file is written through its own buffer and every write, flush and close is
// checked, so that a failure is never reported as success.
#include "common/report.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "common/report_testing.h"
#include "common/text.h"

namespace kx {
namespace {

// The one piece of program-wide state: a signal handler can reach nothing
// else. It only notes the signal; the report writer acts on it.
volatile std::sig_atomic_t g_signal = 0;

void note_signal(int sig) { g_signal = sig; }

// Output-file text kept before it is written out; the file is also written
// out before every console read and at the end of every run.
constexpr std::size_t kFileBuffer = std::size_t{1} << 16;

std::string signal_name(int sig) {
  if (sig == SIGINT) return "SIGINT";
  if (sig == SIGTERM) return "SIGTERM";
  return "signal " + std::to_string(sig);
}

// True when the open file `st` is the file standard input is read from or
// standard output is written to. Character devices (a terminal, /dev/null)
// are shared harmlessly and do not count.
bool is_console_file(const struct stat& st) {
  if (S_ISCHR(st.st_mode)) return false;
  for (const int fd : {0, 1}) {
    struct stat con {};
    if (::fstat(fd, &con) == 0 && con.st_dev == st.st_dev && con.st_ino == st.st_ino) {
      return true;
    }
  }
  return false;
}

}  // namespace

Interrupted::Interrupted(int sig)
    : std::runtime_error("kestrelix: stopped by " + signal_name(sig)), signal(sig) {}

void install_interrupt_handlers() {
  for (const int sig : {SIGINT, SIGTERM}) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
      continue;  // ignored by the caller (a background job): stays ignored
    }
    struct sigaction act {};
    act.sa_handler = note_signal;
    sigemptyset(&act.sa_mask);
    act.sa_flags = 0;  // no SA_RESTART: a console read returns at the signal
    ::sigaction(sig, &act, nullptr);
  }
}

int pending_interrupt() { return static_cast<int>(g_signal); }

void check_interrupt() {
  const int sig = pending_interrupt();
  if (sig != 0) throw Interrupted(sig);
}

std::string printable(std::string_view name) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 0xf];
    } else {
      out += c;
    }
  }
  return out;
}

Report::Report(std::ostream& console) : console_(console) {}

Report::~Report() {
  try {
    close();  // the file only: the console may be gone already
  } catch (...) {
  }
}

void Report::to_console(const std::string& text) {
  if (line_limit_ != 0) {
    lines_ += static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    if (lines_ > line_limit_) throw ReportLimit("kestrelix: report line limit reached");
  }
  if (console_failed_) return;
  errno = 0;
  console_ << text;
  if (!console_) console_error();
}

void Report::to_file(const std::string& text) {
  buffer_ += text;
  if (buffer_.size() >= kFileBuffer) flush_file();
}

// Each line is formatted into the one buffer text_, reused from call to call.
const std::string& Report::format(std::string_view tmpl, std::initializer_list<FtnArg> args,
                                  bool prompt) {
  text_.clear();
  ftn_format_to(text_, tmpl, args, prompt);
  return text_;
}

void Report::write(std::string_view tmpl, std::initializer_list<FtnArg> args) {
  check_interrupt();  // every row of a run passes here
  const std::string& text = format(tmpl, args);
  to_console(text);
  if (storing()) to_file(text);
}

void Report::console(std::string_view tmpl, std::initializer_list<FtnArg> args) {
  to_console(format(tmpl, args));
}

void Report::file(std::string_view tmpl, std::initializer_list<FtnArg> args) {
  const std::string& text = format(tmpl, args);
  if (storing()) to_file(text);
}

void Report::prompt(std::string_view tmpl, std::initializer_list<FtnArg> args) {
  check_interrupt();
  const std::string& text = format(tmpl, args, true);
  to_console(text);
  const std::size_t nl = text.rfind('\n');
  last_prompt_ = nl == std::string::npos ? text : text.substr(nl + 1);
  flush();  // the program waits for the answer: nothing stays unwritten
}

void Report::ask_again(std::string_view note) {
  to_console(std::string(note) + '\n' + last_prompt_);
  flush();
}

[[noreturn]] void Report::file_failed(int err) {
  const std::string message = "kestrelix: cannot write " + printable(name_) + ": " +
                              std::strerror(err != 0 ? err : EIO);
  buffer_.clear();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  name_.clear();
  throw WriteError(message);
}

void Report::console_error() {
  const int err = errno != 0 ? errno : EIO;
  check_interrupt();  // a write cut short by the signal: the signal is the news
  console_failed_ = true;
  throw WriteError(std::string("kestrelix: cannot write standard output: ") + std::strerror(err));
}

void Report::flush_file() {
  std::size_t done = 0;
  while (done < buffer_.size()) {
    const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR) continue;  // the handler only noted the signal
    if (n <= 0) file_failed(n < 0 ? errno : EIO);
    done += static_cast<std::size_t>(n);
  }
  buffer_.clear();
}

void Report::flush_console() {
  if (console_failed_) return;
  errno = 0;
  console_.flush();
  if (!console_) console_error();
}

void Report::flush() {
  if (fd_ >= 0) flush_file();
  flush_console();
}

bool Report::open(const std::string& name) {
  open_result_ = connect(name);
  return open_result_ == Open::kOpened;
}

Report::Open Report::connect(const std::string& name) {
  const std::string path = trimmed(name);
  if (fd_ >= 0) {
    // The open file continues only while the name still leads to it: a file
    // deleted, renamed or replaced since is not written in the dark.
    struct stat now {};
    struct stat held {};
    if (!path.empty() && ::stat(path.c_str(), &now) == 0 && ::fstat(fd_, &held) == 0 &&
        now.st_dev == held.st_dev && now.st_ino == held.st_ino) {
      name_ = path;
      return Open::kOpened;
    }
    close();
  }
  if (path.empty()) {
    errno = ENOENT;
    return Open::kFailed;
  }
  // Not O_TRUNC: a file refused below must keep its content. O_NONBLOCK only
  // for the open itself, so that a pipe without a reader fails at once.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) return Open::kFailed;
  const auto refuse = [fd](Open why) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return why;
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) return refuse(Open::kFailed);
  if (is_console_file(st)) return refuse(Open::kIsConsole);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return refuse(Open::kFailed);
  if (S_ISREG(st.st_mode)) {
    // One session per file; a file system without locks is written unlocked.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      return refuse(Open::kInUse);
    }
    if (::ftruncate(fd, 0) != 0) return refuse(Open::kFailed);
  }
  fd_ = fd;
  name_ = path;
  return Open::kOpened;
}

void Report::close() {
  if (fd_ >= 0) {
    flush_file();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) file_failed(errno);
  }
  buffer_.clear();
  name_.clear();
}

std::string Report::close_after_error() noexcept {
  std::string message;
  try {
    close();
  } catch (const WriteError& e) {
    message = e.what();
  } catch (...) {
  }
  try {
    flush_console();
  } catch (const WriteError& e) {
    if (message.empty()) message = e.what();
  } catch (...) {
  }
  return message;
}

}  // namespace kx
