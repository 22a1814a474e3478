// The result of a subcommand: named columns, one row per point, and the
// inputs it ran with; written as an aligned table, CSV or JSON.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace kx::cli {

enum class Format { table, csv, json, touchstone };

class Output {
 public:
  Output(std::string command, std::vector<std::string> columns);
  void input(const std::string& key, float value);
  void input(const std::string& key, const std::string& value);
  void row(std::vector<float> values);
  std::size_t rows() const { return rows_.size(); }
  // Writes everything in the chosen format.
  void write(std::ostream& out, Format format) const;

 private:
  void write_json(std::ostream& out) const;

  std::string command_;
  std::vector<std::string> columns_;
  std::vector<std::vector<float>> rows_;
  std::vector<std::pair<std::string, std::variant<float, std::string>>> inputs_;
};

// The shortest decimal text that reads back as the same float.
std::string shortest(float v);

}  // namespace kx::cli
