// Report writer: every report line goes to the console and, with output
// storage on, to the output file. Prompts go to the console only.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/ftn_format.h"
#include "common/output_file.h"
#include "common/stop.h"

namespace kx {

// A write to the output file or to the console failed (full disk, closed
// descriptor). The message is one line fit for standard error and names the
// file and the system's reason.
struct WriteError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class Report {
 public:
  explicit Report(std::ostream& console);
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;
  ~Report();

  // Console, then the output file when storage is on.
  void write(std::string_view tmpl, std::initializer_list<FtnArg> args = {});
  // Console only (complete lines).
  void console(std::string_view tmpl, std::initializer_list<FtnArg> args = {});
  // Output file only, when storage is on (a block copied to the file as a group).
  void file(std::string_view tmpl, std::initializer_list<FtnArg> args = {});
  // Console only, the line left open for the answer. The output file and the
  // console are flushed: a console read follows.
  void prompt(std::string_view tmpl, std::initializer_list<FtnArg> args = {});
  // After an answer that was refused: the note on a line of its own, then
  // the last line of the last prompt again.
  void ask_again(std::string_view note);

  // Storage on or off for the lines that follow (istore = 1 means on).
  void set_storing(bool on) { storing_ = on; }
  bool storing() const { return storing_ && fd_ >= 0; }

  // What came of connecting an output file.
  enum class Open {
    kOpened,      // connected (or the open file continues)
    kFailed,      // the system refused the open; errno tells why
    kInUse,       // another session holds the file
    kIsConsole,   // the file the answers are read from or the console is written to
    kIsDefaults,  // the defaults file
    kBadName,     // a name with a control byte
  };
  // Connects the output file `name` (trailing blanks are not part of it).
  // A name that still leads to the open file (by device and inode, whatever
  // its spelling) continues that file; any other name closes the open file
  // and starts the new one from empty, under an exclusive lock. False when
  // the file is not connected; open_result() tells why.
  bool open(const std::string& name);
  Open open_result() const { return open_result_; }
  const std::string& open_name() const { return name_; }

  // Writes out the output file buffer and the console; throws WriteError
  // when either fails.
  void flush();
  // Flushes and closes the output file, if any; throws WriteError when the
  // last writes fail (the file is closed all the same).
  void close();
  // The end by error: writes out what can still be written and closes the
  // file, never throwing. Returns the message of a write failure not yet
  // reported (empty when none).
  std::string close_after_error() noexcept;

 private:
  friend class ReportTesting;

  Open connect(const std::string& name);
  void to_console(const std::string& text);
  void to_file(const std::string& text);
  void flush_file();
  void flush_console();
  [[noreturn]] void file_failed(int err);
  [[noreturn]] void console_error();
  const std::string& format(std::string_view tmpl, std::initializer_list<FtnArg> args,
                            bool prompt = false);

  std::ostream& console_;
  OutputFiles files_;  // what the output file may not be
  int fd_ = -1;
  std::string buffer_;  // output-file text not yet written
  std::string name_;
  std::string last_prompt_;
  Open open_result_ = Open::kFailed;
  std::string text_;  // the line being written
  bool storing_ = false;
  bool console_failed_ = false;  // reported once; the console is not written again
  std::size_t line_limit_ = 0;
  std::size_t lines_ = 0;
};

}  // namespace kx
