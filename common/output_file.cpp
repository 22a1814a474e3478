// The output-file path: name checks, identity checks, locks, and the
// temporary file renamed into place.
#include "common/output_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace kx {
namespace {

using Refusal = OutputFiles::Refusal;

constexpr std::size_t kBuffer = std::size_t{1} << 16;
constexpr int kOpenTries = 8;  // a temporary file renamed away under us is opened again

bool has_control_byte(std::string_view name) {
  return std::any_of(name.begin(), name.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
  });
}

bool same(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// strerror_r comes in two forms: GNU returns the text, XSI fills the buffer.
[[maybe_unused]] const char* reason_text(const char* text, const char*) { return text; }
[[maybe_unused]] const char* reason_text(int failed, const char* buf) {
  return failed == 0 ? buf : "Unknown error";
}

// Closes `fd` keeping errno.
void close_keeping_errno(int fd) {
  const int err = errno;
  ::close(fd);
  errno = err;
}

// Writes all of `text`; false with errno set when the system refuses.
bool write_all(int fd, std::string_view text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;  // the handler only noted the signal
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The real folder of `path` and its last component; false (errno set) when
// the folder cannot be resolved.
bool real_folder(const std::string& path, std::string& folder, std::string& base) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : path.substr(0, slash);
  base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty() || base == "." || base == "..") {
    errno = EISDIR;
    return false;
  }
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(dir.c_str(), nullptr),
                                                         &std::free);
  if (!real) return false;
  folder = real.get();
  return true;
}

}  // namespace

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

std::string system_reason(int err) {
  char buf[256] = {};
  return reason_text(::strerror_r(err, buf, sizeof buf), buf);
}

// ------------------------------------------------------------- OutputFiles --

void OutputFiles::protect(const std::string& path) {
  if (!path.empty() && std::find(protected_.begin(), protected_.end(), path) == protected_.end()) {
    protected_.push_back(path);
  }
}

std::string OutputFiles::message(const std::string& name, Refusal why, int err) {
  std::string reason;
  switch (why) {
    case Refusal::kNone:
      reason = "no reason";
      break;
    case Refusal::kControlByte:
      reason = "the name contains a control character";
      break;
    case Refusal::kDefaultsFile:
      reason = "it is the defaults file; it is not overwritten";
      break;
    case Refusal::kConsole:
      reason = "it is the console input or output; it is not overwritten";
      break;
    case Refusal::kSameRun:
      reason = "it is another output of this run";
      break;
    case Refusal::kInUse:
      reason = "it is in use by another session";
      break;
    case Refusal::kSystem:
      reason = system_reason(err != 0 ? err : EIO);
      break;
  }
  return "cannot write " + printable(name) + ": " + reason;
}

// The refusals an existing file can meet, by its identity.
Refusal OutputFiles::check(const struct stat& st) const {
  for (const std::string& p : protected_) {
    struct stat in {};
    if (::stat(p.c_str(), &in) == 0 && same(in, st)) return Refusal::kDefaultsFile;
  }
  // Character devices (a terminal, /dev/null) are shared harmlessly.
  if (!S_ISCHR(st.st_mode)) {
    for (const int fd : {0, 1, 2}) {
      struct stat con {};
      if (::fstat(fd, &con) == 0 && same(con, st)) return Refusal::kConsole;
    }
  }
  for (const Id& id : written_) {
    if (id.dev == static_cast<std::uint64_t>(st.st_dev) &&
        id.ino == static_cast<std::uint64_t>(st.st_ino)) {
      return Refusal::kSameRun;
    }
  }
  return Refusal::kNone;
}

int OutputFiles::open_in_place(const std::string& name, Refusal& why) const {
  why = Refusal::kNone;
  if (has_control_byte(name)) {
    why = Refusal::kControlByte;
    return -1;
  }
  // Not O_TRUNC: a file refused below must keep its content. O_NONBLOCK only
  // for the open itself, so that a pipe without a reader fails at once.
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) {
    why = Refusal::kSystem;
    return -1;
  }
  const auto refuse = [fd, &why](Refusal r) {
    close_keeping_errno(fd);
    why = r;
    return -1;
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) return refuse(Refusal::kSystem);
  if (const Refusal r = check(st); r != Refusal::kNone) return refuse(r);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return refuse(Refusal::kSystem);
  if (S_ISREG(st.st_mode)) {
    // One session per file; a file system without locks is written unlocked.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return refuse(Refusal::kInUse);
    if (::ftruncate(fd, 0) != 0) return refuse(Refusal::kSystem);
  }
  return fd;
}

// -------------------------------------------------------------- OutputFile --

OutputFile::OutputFile(OutputFiles& files, const std::string& name) : name_(name) {
  const auto refuse = [this](Refusal r, int err = 0) {
    discard();
    throw FileError(OutputFiles::message(name_, r, err));
  };
  if (name.empty()) refuse(Refusal::kSystem, ENOENT);
  if (has_control_byte(name)) refuse(Refusal::kControlByte);

  struct stat st {};
  const bool exists = ::stat(name.c_str(), &st) == 0;
  if (!exists) {
    const int err = errno;
    struct stat link {};
    if (err != ENOENT) refuse(Refusal::kSystem, err);
    if (::lstat(name.c_str(), &link) == 0) {
      // A link to a file that is missing: the file is not made behind it.
      throw FileError("cannot write " + printable(name) + ": it is a link to a missing file");
    }
  } else {
    if (S_ISDIR(st.st_mode)) refuse(Refusal::kSystem, EISDIR);
    if (const Refusal r = files.check(st); r != Refusal::kNone) refuse(r);
  }

  if (exists && !S_ISREG(st.st_mode)) {
    // A device or a pipe: written directly, nothing to rename. O_NONBLOCK
    // only for the open, so that a pipe without a reader fails at once.
    fd_ = ::open(name.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) refuse(Refusal::kSystem, errno);
    struct stat now {};
    if (::fstat(fd_, &now) != 0) refuse(Refusal::kSystem, errno);
    if (const Refusal r = files.check(now); r != Refusal::kNone) refuse(r);
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
      refuse(Refusal::kSystem, errno);
    }
    if (!S_ISCHR(now.st_mode)) {  // a device such as /dev/null may take two outputs
      files.written_.push_back(
          {static_cast<std::uint64_t>(now.st_dev), static_cast<std::uint64_t>(now.st_ino)});
    }
    return;
  }

  // A regular file, or a new one: the real file behind the name (a link is
  // followed, so the rename replaces the file, not the link).
  target_ = name;
  if (exists) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(name.c_str(), nullptr),
                                                           &std::free);
    if (!real) refuse(Refusal::kSystem, errno);
    target_ = real.get();
  }
  std::string folder;
  std::string base;
  if (!real_folder(target_, folder, base)) refuse(Refusal::kSystem, errno);
  const std::string where = folder + (folder == "/" ? "" : "/") + base;
  if (std::find(files.written_path_.begin(), files.written_path_.end(), where) !=
      files.written_path_.end()) {
    refuse(Refusal::kSameRun);
  }

  if (exists) {
    // The file replaced stays locked while the new one is written, so that a
    // session writing it in place and this run exclude each other.
    target_fd_ = ::open(target_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (target_fd_ < 0) target_fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (target_fd_ >= 0 && ::flock(target_fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      refuse(Refusal::kInUse);
    }
  }

  // The temporary file has a fixed name, so that its lock keeps a second run
  // on the same name out; it is opened again when it was renamed into place
  // between our open and our lock.
  const std::string temp = folder + (folder == "/" ? "." : "/.") + base + ".part";
  for (int attempt = 0; fd_ < 0; ++attempt) {
    if (attempt == kOpenTries) refuse(Refusal::kInUse);
    const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, 0666);
    if (fd < 0) refuse(Refusal::kSystem, errno);
    struct stat held {};
    struct stat now {};
    if (::fstat(fd, &held) != 0) {
      close_keeping_errno(fd);
      refuse(Refusal::kSystem, errno);
    }
    if (!S_ISREG(held.st_mode)) {  // not ours to use or remove
      ::close(fd);
      refuse(Refusal::kSystem, EEXIST);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      ::close(fd);
      refuse(Refusal::kInUse);
    }
    if (::stat(temp.c_str(), &now) == 0 && same(now, held)) {
      fd_ = fd;
    } else {
      ::close(fd);
    }
  }
  temp_ = temp;
  if (::ftruncate(fd_, 0) != 0) refuse(Refusal::kSystem, errno);
  // The new file keeps the permissions of the one it replaces.
  if (exists) ::fchmod(fd_, st.st_mode & 07777);
  if (exists) {
    files.written_.push_back(
        {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)});
  }
  files.written_path_.push_back(where);
}

OutputFile::~OutputFile() {
  if (!committed_) discard();
}

void OutputFile::discard() noexcept {
  // The temporary file is ours while we hold its lock: removed before the
  // lock goes.
  if (fd_ >= 0 && !temp_.empty()) ::unlink(temp_.c_str());
  if (fd_ >= 0) ::close(fd_);
  if (target_fd_ >= 0) ::close(target_fd_);
  fd_ = -1;
  target_fd_ = -1;
  buffer_.clear();
}

void OutputFile::fail(const std::string& message) {
  discard();
  failed_ = message;
  throw FileError(message);
}

void OutputFile::flush() {
  if (!failed_.empty()) throw FileError(failed_);
  if (!write_all(fd_, buffer_)) fail(OutputFiles::message(name_, Refusal::kSystem, errno));
  buffer_.clear();
}

void OutputFile::write(std::string_view text) {
  if (!failed_.empty()) throw FileError(failed_);
  buffer_ += text;
  if (buffer_.size() >= kBuffer) flush();
}

void OutputFile::commit() {
  if (committed_) return;
  flush();
  if (!temp_.empty()) {
    // On the disk before it replaces the old file: a crash leaves one or the other.
    if (::fsync(fd_) != 0 && errno != EINVAL) {
      fail(OutputFiles::message(name_, Refusal::kSystem, errno));
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
      fail(OutputFiles::message(name_, Refusal::kSystem, errno));
    }
  }
  committed_ = true;
  const int fd = fd_;
  fd_ = -1;
  if (target_fd_ >= 0) ::close(target_fd_);
  target_fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) {
    const std::string message = OutputFiles::message(name_, Refusal::kSystem, errno);
    failed_ = message;
    throw FileError(message);
  }
}

}  // namespace kx
