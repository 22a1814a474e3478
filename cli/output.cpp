#include "cli/output.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ostream>

#include <nlohmann/json.hpp>

namespace kx::cli {
namespace {

// A float as a JSON number (the double nearest its shortest decimal text,
// which prints as that text), or null when it is not finite.
nlohmann::ordered_json json_number(float v) {
  if (!std::isfinite(v)) return nullptr;
  return std::strtod(shortest(v).c_str(), nullptr);
}

}  // namespace

std::string shortest(float v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// ------------------------------------------------------------------ Output --

Output::Output(std::string command, std::vector<std::string> columns)
    : command_(std::move(command)), columns_(std::move(columns)) {}

void Output::input(const std::string& key, float value) { inputs_.emplace_back(key, value); }

void Output::input(const std::string& key, const std::string& value) {
  inputs_.emplace_back(key, value);
}

void Output::row(std::vector<float> values) { rows_.push_back(std::move(values)); }

void Output::write(std::ostream& out, Format format) const {
  if (format == Format::json) {
    write_json(out);
    return;
  }
  std::vector<std::vector<std::string>> cells;
  cells.push_back(columns_);
  for (const auto& r : rows_) {
    std::vector<std::string> line;
    for (const float v : r) line.push_back(shortest(v));
    cells.push_back(std::move(line));
  }
  if (format == Format::csv) {
    for (const auto& line : cells) {
      for (std::size_t k = 0; k < line.size(); ++k) out << (k ? "," : "") << line[k];
      out << '\n';
    }
    return;
  }
  std::vector<std::size_t> width(columns_.size(), 0);
  for (const auto& line : cells) {
    for (std::size_t k = 0; k < line.size() && k < width.size(); ++k) {
      width[k] = std::max(width[k], line[k].size());
    }
  }
  for (const auto& line : cells) {
    for (std::size_t k = 0; k < line.size() && k < width.size(); ++k) {
      out << (k ? "  " : "") << std::string(width[k] - line[k].size(), ' ') << line[k];
    }
    out << '\n';
  }
}

void Output::write_json(std::ostream& out) const {
  nlohmann::ordered_json doc = nlohmann::ordered_json::object();
  doc["command"] = command_;
  nlohmann::ordered_json inputs = nlohmann::ordered_json::object();
  for (const auto& [key, value] : inputs_) {
    if (const float* v = std::get_if<float>(&value)) {
      inputs[key] = json_number(*v);
    } else {
      inputs[key] = std::get<std::string>(value);
    }
  }
  doc["inputs"] = std::move(inputs);
  doc["rows"] = nlohmann::ordered_json::array();
  for (const auto& r : rows_) {
    nlohmann::ordered_json o = nlohmann::ordered_json::object();
    for (std::size_t k = 0; k < columns_.size() && k < r.size(); ++k) {
      o[columns_[k]] = json_number(r[k]);
    }
    doc["rows"].push_back(std::move(o));
  }
  out << doc.dump(2) << '\n';
}

}  // namespace kx::cli
