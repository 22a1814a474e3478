// The result of a subcommand as one document: the inputs it ran with,
// columns (key, unit kind, table precision, heading), rows of values with
// their validity, and a summary. Commands build it; the writers
// (cli/writers.cpp: table, CSV, JSON) only format it, and the web page's
// API returns the JSON of the same document. doc/scripted.md lists the keys.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "common/text.h"

namespace kx::cli {

inline constexpr const char* kProgram = "kestrelix";
inline constexpr const char* kProgramVersion = "2.0";

enum class Format { table, csv, json, touchstone };

// What a value measures: it decides the key's suffix, the unit in the table
// heading and the entry of the document's "units" object.
enum class Unit {
  none,         // dimensionless: no suffix
  length,       // _in, _mil, _mm, _um (--units)
  attenuation,  // _db_per_in ...: dB per length unit
  delay,        // _ps_per_in ...: picoseconds per length unit
  frequency,    // _ghz
  impedance,    // _ohm
  level,        // _db
  angle,        // _deg
  percent,      // _pct
  resistivity,  // _uohm_cm
  roughness,    // _uin
  capacitance,  // _pf_per_in ...: picofarads per length unit
  inductance,   // _nh_per_in ...: nanohenries per length unit
  // Per metre of line, always SI (the wideband line's R L G C).
  resistance_per_m,   // _ohm_per_m
  inductance_per_m,   // _h_per_m
  conductance_per_m,  // _s_per_m
  capacitance_per_m,  // _f_per_m
};

// How the table prints a number (CSV and JSON always give full precision).
struct Precision {
  int digits = -1;           // decimals (or significant digits); -1: shortest text
  bool significant = false;  // digits are significant digits (%g)
  static Precision decimals(int d) { return {d, false}; }
  static Precision sig(int d) { return {d, true}; }
  static Precision shortest() { return {}; }
};

// One value: a 32-bit model result, a double statistic, a count, a text, a
// truth value, a list of numbers or of counts, or nothing (a value that does not exist:
// empty in CSV, null in JSON).
class Value {
 public:
  using Data = std::variant<std::monostate, float, double, long long, unsigned long long,
                            std::string, bool, std::vector<float>, std::vector<long long>>;
  Value() = default;
  Value(float v) : data_(v) {}
  Value(double v) : data_(v) {}
  Value(int v) : data_(static_cast<long long>(v)) {}
  Value(long long v) : data_(v) {}
  Value(unsigned long long v) : data_(v) {}
  Value(std::string v) : data_(std::move(v)) {}
  Value(const char* v) : data_(std::string(v)) {}
  Value(bool v) : data_(v) {}
  Value(std::vector<float> v) : data_(std::move(v)) {}
  Value(std::vector<long long> v) : data_(std::move(v)) {}
  static Value none() { return {}; }

  const Data& data() const { return data_; }
  bool defined() const { return !std::holds_alternative<std::monostate>(data_); }
  // A number that is NaN or infinite (a value that does not exist is none()).
  bool non_finite() const;

 private:
  Data data_;
};

struct Column {
  std::string name;  // the key without its unit suffix ("w", "zoe", "alpha_e")
  Unit unit = Unit::none;
  Precision precision;
  std::string heading;  // the table's short heading ("W", "Zoe"); "" uses the name
  bool in_table = true;
};

// One point: one value per column, and its validity codes (models/validity.h).
struct Row {
  std::vector<Value> values;
  unsigned flags = 0;
  int group = 0;  // the table prints each run of rows of one group as a block of its own
  bool valid() const { return flags == 0; }
};

// A named value of the inputs or the summary.
struct Entry {
  std::string name;
  Unit unit = Unit::none;
  Value value;
  bool detail = false;  // the table leaves it out when it is zero
};

class Document {
 public:
  // `length_unit`: in, mil, mm or um.
  Document(std::string command, std::string length_unit);

  // Adds a column; returns its index.
  std::size_t column(std::string name, Unit unit, Precision precision, std::string heading = "");
  void input(std::string name, Unit unit, Value value);
  void summary(std::string name, Unit unit, Value value, bool detail = false);
  // Names a unit the document uses without a key of that kind (the
  // tolerance statistics carry their unit in a field of the row).
  void uses(Unit unit);
  // Appends a row; false (and nothing appended) when a number in it is not
  // finite.
  bool add(Row row);
  // Marks the run as stopped before its last point.
  void stopped() { complete_ = false; }
  // The line on standard error about flagged rows, when the default ("n of
  // m rows outside the models' validity ranges") does not fit.
  void flag_note(std::string text) { flag_note_ = std::move(text); }
  const std::string& flag_note() const { return flag_note_; }
  // Leaves a column out of the table (it stays in CSV and JSON).
  void hide_in_table(std::size_t index) { columns_.at(index).in_table = false; }

  const std::string& command() const { return command_; }
  const std::string& length_unit() const { return length_unit_; }
  const std::vector<Column>& columns() const { return columns_; }
  const std::vector<Row>& rows() const { return rows_; }
  const std::vector<Entry>& inputs() const { return inputs_; }
  // The subcommand's summary entries followed by rows, flagged, complete.
  std::vector<Entry> summary() const;
  std::size_t flagged() const;
  // Every flag set on some row.
  unsigned all_flags() const;
  // The units used, in Unit order, as (units key, unit text).
  std::vector<std::pair<std::string, std::string>> units() const;

  // The key of a name of the given unit ("w" + length in mm: "w_mm").
  std::string key(const std::string& name, Unit unit) const;
  // The unit text for people ("mm", "dB/mm", "ohm"); "" when dimensionless.
  std::string unit_text(Unit unit) const;

 private:
  std::string command_;
  std::string length_unit_;
  std::vector<Column> columns_;
  std::vector<Row> rows_;
  std::vector<Entry> inputs_;
  std::vector<Entry> summary_;
  std::vector<Unit> used_;
  std::string flag_note_;
  bool complete_ = true;
};

// The writers (cli/writers.cpp). The table is at most 100 columns wide.
void write_table(std::ostream& out, const Document& doc);
void write_csv(std::ostream& out, const Document& doc);
void write_json(std::ostream& out, const Document& doc);
void write(std::ostream& out, const Document& doc, Format format);

}  // namespace kx::cli
