// Report writer: console lines, output-file lines and prompts.
#include "common/report.h"

#include <algorithm>
#include <ostream>

namespace kx {

void Report::to_console(const std::string& text) {
  if (line_limit_ != 0) {
    lines_ += static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    if (lines_ > line_limit_) throw ReportLimit("kestrelix: report line limit reached");
  }
  console_ << text;
}

Report::Report(std::ostream& console) : console_(console) {}

Report::~Report() { close(); }

// Each line is formatted into the one buffer text_, reused from call to call.
const std::string& Report::format(std::string_view tmpl, std::initializer_list<FtnArg> args,
                                  bool prompt) {
  text_.clear();
  ftn_format_to(text_, tmpl, args, prompt);
  return text_;
}

void Report::write(std::string_view tmpl, std::initializer_list<FtnArg> args) {
  const std::string& text = format(tmpl, args);
  to_console(text);
  if (storing()) {
    out_ << text;
    out_.flush();  // nothing is lost if the program ends by an error
  }
}

void Report::console(std::string_view tmpl, std::initializer_list<FtnArg> args) {
  to_console(format(tmpl, args));
}

void Report::file(std::string_view tmpl, std::initializer_list<FtnArg> args) {
  const std::string& text = format(tmpl, args);
  if (storing()) {
    out_ << text;
    out_.flush();
  }
}

void Report::prompt(std::string_view tmpl, std::initializer_list<FtnArg> args) {
  to_console(format(tmpl, args, true));
  console_.flush();
}

bool Report::open(const std::string& name) {
  const std::size_t end = name.find_last_not_of(' ');
  const std::string trimmed = end == std::string::npos ? std::string() : name.substr(0, end + 1);
  if (out_.is_open() && trimmed == name_) return true;  // continue the open file
  close();
  if (trimmed.empty()) return false;
  out_.clear();
  out_.open(trimmed, std::ios::out | std::ios::trunc);
  if (!out_.is_open()) {
    out_.clear();
    return false;
  }
  name_ = trimmed;
  return true;
}

void Report::close() {
  if (out_.is_open()) {
    out_.flush();
    out_.close();
  }
  out_.clear();
  name_.clear();
}

void Report::flush() {
  console_.flush();
  if (out_.is_open()) out_.flush();
}

}  // namespace kx
