// Report writer: console lines, output-file lines and prompts. The output
// file is written through its own buffer and every write, flush and close is
// checked, so that a failure is never reported as success.
#include "common/report.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ostream>

#include "common/report_testing.h"
#include "common/text.h"

namespace kx {
namespace {

// Output-file text kept before it is written out; the file is also written
// out before every console read and at the end of every run.
constexpr std::size_t kFileBuffer = std::size_t{1} << 16;

}  // namespace

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
                              system_reason(err != 0 ? err : EIO);
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
  throw WriteError("kestrelix: cannot write standard output: " + system_reason(err));
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
  OutputFiles::Refusal why = OutputFiles::Refusal::kNone;
  const int fd = files_.open_in_place(path, why);
  switch (why) {
    case OutputFiles::Refusal::kNone:
      break;
    case OutputFiles::Refusal::kInUse:
      return Open::kInUse;
    case OutputFiles::Refusal::kConsole:
      return Open::kIsConsole;
    case OutputFiles::Refusal::kDefaultsFile:
    case OutputFiles::Refusal::kInput:  // the dialogue reads no other file
      return Open::kIsDefaults;
    case OutputFiles::Refusal::kControlByte:
      return Open::kBadName;
    case OutputFiles::Refusal::kSameRun:
    case OutputFiles::Refusal::kSystem:
      return Open::kFailed;
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
