// The output-file path: name checks, identity checks, locks, and the
// temporary file renamed into place.
#include "common/output_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace kx {
namespace {

using Refusal = OutputFiles::Refusal;

constexpr std::size_t kBuffer = std::size_t{1} << 16;
constexpr int kNameTries = 100;  // temporary names taken already (by chance or by design)
constexpr std::size_t kRandomLetters = 6;
constexpr std::string_view kTemporarySuffix = ".part";

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

// A fresh name for the temporary file of `base` in `folder`:
// ".BASE.XXXXXX.part" with six random letters, BASE shortened (at a
// character boundary) so that the name fits the folder's limit.
std::string temporary_name(const std::string& folder, const std::string& base) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[kRandomLetters] = {};
  if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    // No entropy yet: the clock and the process; O_EXCL keeps this safe.
    auto mix =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (static_cast<std::uint64_t>(::getpid()) << 32);
    for (unsigned char& b : bytes) {
      mix = mix * 6364136223846793005ULL + 1442695040888963407ULL;
      b = static_cast<unsigned char>(mix >> 56);
    }
  }
  std::string random;
  for (const unsigned char b : bytes) random += kLetters[b % (sizeof kLetters - 1)];
  const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  const std::size_t name_max = limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX;
  const std::size_t extra = 2 + kRandomLetters + kTemporarySuffix.size();  // ".", "."
  std::size_t keep = std::min(base.size(), name_max > extra ? name_max - extra : 0);
  // Not in the middle of a UTF-8 character.
  while (keep > 0 && keep < base.size() && (static_cast<unsigned char>(base[keep]) & 0xc0) == 0x80)
    --keep;
  return folder + (folder == "/" ? "." : "/.") + base.substr(0, keep) + "." + random +
         std::string(kTemporarySuffix);
}

// Renames `from` to `to` only when `to` does not exist (EEXIST else); the
// plain rename where the file system cannot promise that.
bool rename_to_new(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
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

void OutputFiles::protect(const std::string& path, bool defaults_file) {
  if (path.empty()) return;
  const auto at = std::find(protected_.begin(), protected_.end(), path);
  if (at == protected_.end()) {
    protected_.push_back(path);
    defaults_.push_back(defaults_file);
  } else if (defaults_file) {
    defaults_[static_cast<std::size_t>(at - protected_.begin())] = true;
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
    case Refusal::kInput:
      reason = "it is an input of this run; it is not overwritten";
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
  // The defaults file first: a file protected twice is named as that.
  for (const bool defaults : {true, false}) {
    for (std::size_t k = 0; k < protected_.size(); ++k) {
      struct stat in {};
      if (defaults_[k] == defaults && ::stat(protected_[k].c_str(), &in) == 0 && same(in, st))
        return defaults ? Refusal::kDefaultsFile : Refusal::kInput;
    }
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

  // The temporary file is made afresh under a name no one else chose: never
  // a file that was there before (a leftover of a killed run, a link, a file
  // planted by another user), which is left alone. It belongs to the caller
  // and gets the mode of the file it replaces, or a new file's.
  const mode_t mode = exists ? (st.st_mode & 0777) : 0666;
  for (int attempt = 0;; ++attempt) {
    std::string temp = temporary_name(folder, base);
    fd_ =
        ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, mode);
    if (fd_ >= 0) {
      temp_ = std::move(temp);
      break;
    }
    const int err = errno;
    if (err == EEXIST && attempt < kNameTries) continue;
    discard();
    const bool closed = err == EACCES || err == EPERM || err == EROFS;
    throw FileError("cannot write " + printable(name_) + ": " +
                    (closed ? "its folder " + printable(folder) +
                                  " is not writable (the file is written there under a "
                                  "temporary name first)"
                            : "cannot make a temporary file in " + printable(folder)) +
                    ": " + system_reason(err));
  }
  struct stat made {};
  if (::fstat(fd_, &made) != 0) {
    const int err = errno;
    ::unlink(temp_.c_str());  // just made, not yet known by its identity
    fail(about_temporary("making", err));
  }
  temp_dev_ = static_cast<std::uint64_t>(made.st_dev);
  temp_ino_ = static_cast<std::uint64_t>(made.st_ino);
  // The mode of the file replaced, whatever the umask took from it.
  if (exists && ::fchmod(fd_, mode) != 0) fail(about_temporary("making", errno));
  replaces_ = exists;
  if (exists) {
    files.written_.push_back(
        {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)});
  }
  files.written_path_.push_back(where);
}

OutputFile::~OutputFile() {
  if (!committed_) discard();
}

bool OutputFile::temporary_is_ours() const noexcept {
  struct stat now {};
  return !temp_.empty() && ::lstat(temp_.c_str(), &now) == 0 &&
         static_cast<std::uint64_t>(now.st_dev) == temp_dev_ &&
         static_cast<std::uint64_t>(now.st_ino) == temp_ino_;
}

std::string OutputFile::about_temporary(const char* doing, int err, const char* after) const {
  return "cannot write " + printable(name_) + ": " + doing + " its temporary file " +
         printable(temp_) + after + ": " + system_reason(err != 0 ? err : EIO);
}

void OutputFile::discard() noexcept {
  // Only the file this run made goes: not one put under its name since.
  if (temporary_is_ours()) ::unlink(temp_.c_str());
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
  if (!write_all(fd_, buffer_)) {
    const int err = errno;
    fail(temp_.empty() ? OutputFiles::message(name_, Refusal::kSystem, err)
                       : about_temporary("writing", err));
  }
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
    if (::fsync(fd_) != 0 && errno != EINVAL) fail(about_temporary("writing", errno));
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) fail(about_temporary("writing", errno));
    if (!temporary_is_ours()) {
      fail("cannot write " + printable(name_) + ": its temporary file " + printable(temp_) +
           " was replaced by another file");
    }
    // A name that was free at the start is taken only while it still is:
    // a file another session made there meanwhile was never checked.
    if (!(replaces_ ? ::rename(temp_.c_str(), target_.c_str()) == 0
                    : rename_to_new(temp_, target_))) {
      if (errno == EEXIST) {
        fail("cannot write " + printable(name_) +
             ": another session made it while this run wrote it");
      }
      fail(about_temporary("renaming", errno, " into place"));
    }
    committed_ = true;
    if (target_fd_ >= 0) ::close(target_fd_);
    target_fd_ = -1;
    return;
  }
  committed_ = true;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) {
    const std::string message = OutputFiles::message(name_, Refusal::kSystem, errno);
    failed_ = message;
    throw FileError(message);
  }
}

}  // namespace kx
