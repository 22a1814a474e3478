// Report writer: every report line goes to the console and, with output
// storage on, to the output file. Prompts go to the console only.
#pragma once

#include <fstream>
#include <initializer_list>
#include <cstddef>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/ftn_format.h"

namespace kx {

// Thrown when a report passes the line limit set for it (see
// Report::set_line_limit); used to keep test and fuzz runs short.
struct ReportLimit : std::runtime_error {
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
  // Console only, the line left open for the answer; flushes the console.
  void prompt(std::string_view tmpl, std::initializer_list<FtnArg> args = {});

  // Storage on or off for the lines that follow (istore = 1 means on).
  void set_storing(bool on) { storing_ = on; }
  bool storing() const { return storing_ && out_.is_open(); }

  // Connects the output file `name` (trailing blanks are not part of it).
  // The same name as the open file continues that file; another name closes
  // the open file and starts the new one from empty. Returns false when the
  // file cannot be opened for writing.
  bool open(const std::string& name);
  const std::string& open_name() const { return name_; }
  // Flushes and closes the output file, if any.
  void close();
  void flush();

  // Console lines allowed before ReportLimit is thrown; 0 means no limit.
  void set_line_limit(std::size_t lines) { line_limit_ = lines; }

 private:
  void to_console(const std::string& text);
  const std::string& format(std::string_view tmpl, std::initializer_list<FtnArg> args,
                            bool prompt = false);

  std::ostream& console_;
  std::ofstream out_;
  std::string name_;
  std::string text_;  // the line being written
  bool storing_ = false;
  std::size_t line_limit_ = 0;
  std::size_t lines_ = 0;
};

}  // namespace kx
