// One path for every file the program writes where the user named it: the
// dialogue's report, the Touchstone file, the samples CSV. Each refuses the
// same names, takes the same lock and fails with one line that names the
// file (control bytes escaped) and the reason.
//
// Refused: a name with a control byte; the defaults file (the one the run
// read, and ./Kestrelix.DEF) and the run's other inputs (compared by device
// and inode whatever the spelling); the file standard input, output or error is (a terminal or
// /dev/null, shared harmlessly, does not count); another output of the same
// run; a file locked by another session; a folder.
//
// A subcommand's file (OutputFile) is written whole: into a temporary file
// beside it that commit() renames over NAME. The temporary file is made
// afresh and exclusively under a random name (".NAME.XXXXXX.part", NAME
// shortened to fit the folder's name limit), owned by the caller, with the
// mode of the file it replaces (else a new file's); no file that was there
// before is opened or removed. Until the rename NAME keeps its old content;
// a run that fails, is refused or is stopped removes the temporary file and
// leaves the old file or none. The file replaced is locked while the new one
// is written: a second run on it is refused. A name that was free at the
// start is taken only if it still is. A folder that cannot be written is
// named in the message: the file is not written in place. A device or a
// pipe (/dev/full, a FIFO) is written directly.
//
//   kx::OutputFiles files;                 // one per run
//   files.protect(defaults_path);          // an input no output may replace
//   kx::OutputFile out(files, "c.s4p");    // throws kx::FileError
//   out.write(text);                       // buffered, every write checked
//   out.commit();                          // whole: renamed into place
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct stat;

namespace kx {

// A file that cannot or may not be written: "cannot write NAME: REASON".
struct FileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Control bytes of a name written as \xNN, so that a message never carries
// them raw.
std::string printable(std::string_view name);
// The system's text for an error number (thread-safe).
std::string system_reason(int err);

// The files one run writes, and the files they may not be.
class OutputFiles {
 public:
  // Why a name is refused.
  enum class Refusal {
    kNone,
    kControlByte,   // a byte below 0x20, or 0x7f, in the name
    kDefaultsFile,  // the defaults file
    kInput,         // another protected input (a materials, stackup or board file)
    kConsole,       // the file standard input, output or error is
    kSameRun,       // another output of this run
    kInUse,         // locked by another session
    kSystem,        // the system refused (errno tells why)
  };

  // A file that no output of the run may replace (an input it reads;
  // `defaults_file`: the defaults file, which the refusal names so).
  // ./Kestrelix.DEF is always protected.
  void protect(const std::string& path, bool defaults_file = false);

  // Opens `name` for writing in place, as the dialogue's report is written
  // (it grows pass by pass): created when missing, locked exclusively and
  // emptied only once accepted. Returns the descriptor, or -1 with `why`
  // set (kSystem: errno tells why).
  int open_in_place(const std::string& name, Refusal& why) const;

  // "cannot write NAME: REASON" (`err`: the errno of kSystem).
  static std::string message(const std::string& name, Refusal why, int err = 0);

 private:
  friend class OutputFile;
  struct Id {
    std::uint64_t dev, ino;
  };
  Refusal check(const struct stat& st) const;

  std::vector<std::string> protected_{"Kestrelix.DEF"};
  std::vector<bool> defaults_{true};       // protected_[k] is a defaults file
  std::vector<Id> written_;                // outputs of this run, by identity
  std::vector<std::string> written_path_;  // and by folder and name
};

// One file of a subcommand, written whole (see above).
class OutputFile {
 public:
  // Checks and locks `name`; throws FileError.
  OutputFile(OutputFiles& files, const std::string& name);
  // Without commit(): the temporary file is removed, NAME is left as it was.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Buffered; throws FileError when a write fails.
  void write(std::string_view text);
  // Writes out the rest and renames the file into place; throws FileError.
  void commit();
  const std::string& name() const { return name_; }

 private:
  void flush();
  [[noreturn]] void fail(const std::string& message);
  void discard() noexcept;
  // Whether temp_ still names the file this run made.
  bool temporary_is_ours() const noexcept;
  // "cannot write NAME: DOING its temporary file TEMP AFTER: REASON".
  std::string about_temporary(const char* doing, int err, const char* after = "") const;

  std::string name_;                           // as given
  std::string target_;                         // the file replaced (links resolved)
  std::string temp_;                           // "" when written directly (a device or a pipe)
  std::uint64_t temp_dev_ = 0, temp_ino_ = 0;  // the temporary file this run made
  bool replaces_ = false;                      // NAME existed at the start
  int fd_ = -1;
  int target_fd_ = -1;  // the file replaced, held locked while written
  std::string buffer_;
  std::string failed_;  // the message of a failed write
  bool committed_ = false;
};

}  // namespace kx
