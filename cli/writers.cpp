// The writers of a Document: an aligned table for people, CSV and JSON. They
// format what the document holds and compute nothing.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <kestrelix/validity.h>
#include "cli/document.h"

namespace kx::cli {
namespace {

constexpr std::size_t kTableWidth = 100;
constexpr std::size_t kGap = 2;  // blanks between table columns

// ------------------------------------------------------------------ numbers

// Shortest text without a negative zero.
template <typename T>
std::string plain(T v) {
  return v == 0 ? std::string("0") : shortest(v);
}

// Decimals for the table: a precision given for inches, moved with the
// length unit so that a length or a value per length keeps about the same
// resolution (W to 4 decimals in inches is 2 in mil, 4 in mm, 1 in um).
int table_decimals(const Column& c, const std::string& unit) {
  const int d = c.precision.digits;
  if (d < 0 || c.precision.significant) return d;
  int down = 0;  // floor(log10(units per inch))
  int up = 0;    // ceil(log10(units per inch))
  if (unit == "mil") {
    down = up = 3;
  } else if (unit == "mm") {
    down = 1;
    up = 2;
  } else if (unit == "um") {
    down = 4;
    up = 5;
  }
  if (c.unit == Unit::length) return std::max(0, d - down + (unit == "in" ? 0 : 1));
  if (c.unit == Unit::attenuation || c.unit == Unit::delay || c.unit == Unit::capacitance ||
      c.unit == Unit::inductance)
    return d + up;
  return d;
}

std::string fixed(double v, Precision p) {
  if (p.digits < 0) return plain(v);
  char buf[512];
  if (p.significant) {
    std::snprintf(buf, sizeof buf, "%.*g", p.digits, v);
  } else {
    std::snprintf(buf, sizeof buf, "%.*f", p.digits, v);
  }
  std::string s(buf);
  // A value that rounds to zero prints without its sign.
  if (s.front() == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

std::string list_text(const std::vector<float>& list, const char* sep) {
  std::string s;
  for (std::size_t k = 0; k < list.size(); ++k) s += (k ? sep : "") + plain(list[k]);
  return s;
}

std::string list_text(const std::vector<long long>& list, const char* sep) {
  std::string s;
  for (std::size_t k = 0; k < list.size(); ++k) s += (k ? sep : "") + std::to_string(list[k]);
  return s;
}

// A value for people: numbers to the column's precision.
std::string table_text(const Value& v, Precision p) {
  const Value::Data& d = v.data();
  if (const float* f = std::get_if<float>(&d)) {
    return p.digits < 0 ? plain(*f) : fixed(static_cast<double>(*f), p);
  }
  if (const double* x = std::get_if<double>(&d)) return fixed(*x, p);
  if (const long long* n = std::get_if<long long>(&d)) return std::to_string(*n);
  if (const auto* u = std::get_if<unsigned long long>(&d)) return std::to_string(*u);
  if (const std::string* s = std::get_if<std::string>(&d)) return *s;
  if (const bool* b = std::get_if<bool>(&d)) return *b ? "yes" : "no";
  if (const auto* list = std::get_if<std::vector<float>>(&d)) return list_text(*list, ", ");
  if (const auto* list = std::get_if<std::vector<long long>>(&d)) return list_text(*list, ", ");
  return "-";
}

// ------------------------------------------------------------------ table

bool zero(const Value& v) {
  const Value::Data& d = v.data();
  if (const long long* n = std::get_if<long long>(&d)) return *n == 0;
  return false;
}

// "name value unit, name value unit, ..." wrapped at the table width between
// entries (within an entry only when it is longer than a line); a detail
// entry that is zero is left out.
void entry_lines(std::ostream& out, const Document& doc, const std::string& lead,
                 const std::vector<Entry>& entries) {
  std::string line = lead;
  bool first = true;
  const auto wrap = [&] {
    out << line << '\n';
    line = " ";
  };
  for (const Entry& e : entries) {
    if (e.detail && zero(e.value)) continue;
    std::string item = e.name + " " + table_text(e.value, Precision::shortest());
    const std::string u = doc.unit_text(e.unit);
    if (!u.empty() && e.value.defined()) item += " " + u;  // a missing value has no unit
    // The comma stays with the entry before it: a line never starts with one;
    // one column is kept free for the comma that may follow the entry.
    if (!first) line += ",";
    first = false;
    if (line.size() + 1 + item.size() + 1 > kTableWidth && line.size() > 2) wrap();
    for (std::size_t b = 0; b < item.size();) {
      std::size_t e2 = item.find(' ', b + 1);
      if (e2 == std::string::npos) e2 = item.size();
      const std::string word = item.substr(b, e2 - b);
      if (line.size() + 1 + word.size() + 1 > kTableWidth && line.size() > 2) wrap();
      line += (word.front() == ' ' ? "" : " ") + word;
      b = e2;
    }
  }
  out << line << '\n';
}

struct TableColumn {
  std::size_t index;
  std::string head, unit;
  std::vector<std::string> cells;  // one per row of the block
  std::size_t width;
  bool left;  // text: aligned left
};

// One group of rows: its columns, in blocks of at most the table width, each
// block starting with the group's first column.
void table_group(std::ostream& out, const Document& doc, std::size_t begin, std::size_t end,
                 bool& first_block) {
  const auto& rows = doc.rows();
  std::vector<TableColumn> cols;
  for (std::size_t c = 0; c < doc.columns().size(); ++c) {
    const Column& col = doc.columns()[c];
    if (!col.in_table) continue;
    bool any = false;
    for (std::size_t r = begin; r < end; ++r) any = any || rows[r].values[c].defined();
    if (!any) continue;
    Precision p = col.precision;
    p.digits = table_decimals(col, doc.length_unit());
    const bool text = std::holds_alternative<std::string>(rows[begin].values[c].data());
    TableColumn t{c, col.heading.empty() ? col.name : col.heading, "", {}, 0, text};
    const std::string u = doc.unit_text(col.unit);
    if (!u.empty()) t.unit = "(" + u + ")";
    for (std::size_t r = begin; r < end; ++r) t.cells.push_back(table_text(rows[r].values[c], p));
    t.width = std::max(t.head.size(), t.unit.size());
    for (const std::string& s : t.cells) t.width = std::max(t.width, s.size());
    cols.push_back(std::move(t));
  }
  if (cols.empty()) return;
  std::vector<std::string> marks;
  std::size_t mark_width = 0;
  for (std::size_t r = begin; r < end; ++r) {
    const std::string m = rows[r].valid() ? "" : "  * " + validity_codes(rows[r].flags);
    mark_width = std::max(mark_width, m.size());
    marks.push_back(m);
  }

  // Blocks: the first column, then as many as fit.
  std::size_t next = 1;
  do {
    std::vector<std::size_t> block{0};
    std::size_t width = cols[0].width + mark_width;
    while (next < cols.size() &&
           (block.size() == 1 || width + kGap + cols[next].width <= kTableWidth)) {
      width += kGap + cols[next].width;
      block.push_back(next++);
    }
    if (!first_block) out << '\n';
    first_block = false;
    const auto line = [&](auto cell) {
      std::string text;
      for (std::size_t k = 0; k < block.size(); ++k) {
        const std::string s = cell(cols[block[k]]);
        const std::size_t pad = cols[block[k]].width - s.size();
        if (k) text.append(kGap, ' ');
        if (!cols[block[k]].left) text.append(pad, ' ');
        text += s;
        if (cols[block[k]].left) text.append(pad, ' ');
      }
      return text;
    };
    const auto trimmed = [](std::string text) {
      while (!text.empty() && text.back() == ' ') text.pop_back();
      return text;
    };
    out << trimmed(line([](const TableColumn& t) { return t.head; })) << '\n';
    const std::string units = trimmed(line([](const TableColumn& t) { return t.unit; }));
    if (!units.empty()) out << units << '\n';
    std::size_t rule = 0;
    for (std::size_t k = 0; k < block.size(); ++k) rule += (k ? kGap : 0) + cols[block[k]].width;
    out << std::string(rule, '-') << '\n';
    for (std::size_t r = 0; r < end - begin; ++r) {
      out << line([r](const TableColumn& t) { return t.cells[r]; }) << marks[r] << '\n';
    }
  } while (next < cols.size());
}

// ------------------------------------------------------------------ CSV

std::string csv_text(const Value& v) {
  const Value::Data& d = v.data();
  if (const float* f = std::get_if<float>(&d)) return std::isfinite(*f) ? plain(*f) : "";
  if (const double* x = std::get_if<double>(&d)) return std::isfinite(*x) ? plain(*x) : "";
  if (const long long* n = std::get_if<long long>(&d)) return std::to_string(*n);
  if (const auto* u = std::get_if<unsigned long long>(&d)) return std::to_string(*u);
  if (const bool* b = std::get_if<bool>(&d)) return *b ? "true" : "false";
  if (const auto* list = std::get_if<std::vector<float>>(&d)) return list_text(*list, " ");
  if (const auto* list = std::get_if<std::vector<long long>>(&d)) return list_text(*list, " ");
  if (const std::string* s = std::get_if<std::string>(&d)) {
    if (s->find_first_of(",\"\n\r") == std::string::npos) return *s;
    std::string q = "\"";
    for (const char ch : *s) q += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    return q + "\"";
  }
  return "";
}

// ------------------------------------------------------------------ JSON

using json = nlohmann::ordered_json;

// A float as the double nearest its shortest decimal text (which prints as
// that text); null when it is not finite; never a negative zero.
json json_value(const Value& v) {
  const Value::Data& d = v.data();
  if (const float* f = std::get_if<float>(&d)) {
    if (!std::isfinite(*f)) return nullptr;
    return std::strtod(plain(*f).c_str(), nullptr);
  }
  if (const double* x = std::get_if<double>(&d)) {
    if (!std::isfinite(*x)) return nullptr;
    return *x == 0.0 ? 0.0 : *x;
  }
  if (const long long* n = std::get_if<long long>(&d)) return *n;
  if (const auto* u = std::get_if<unsigned long long>(&d)) return *u;
  if (const std::string* s = std::get_if<std::string>(&d)) return *s;
  if (const bool* b = std::get_if<bool>(&d)) return *b;
  if (const auto* list = std::get_if<std::vector<float>>(&d)) {
    json a = json::array();
    for (const float x : *list) a.push_back(json_value(Value(x)));
    return a;
  }
  if (const auto* list = std::get_if<std::vector<long long>>(&d)) return json(*list);
  return nullptr;
}

json flags_array(unsigned flags) {
  json a = json::array();
  for (int k = 0; k < n_validity_codes; ++k) {
    if ((flags & (1u << k)) != 0) a.push_back(validity_code(1u << k));
  }
  return a;
}

}  // namespace

void write_table(std::ostream& out, const Document& doc) {
  if (!doc.inputs().empty()) {
    entry_lines(out, doc, doc.command() + ":", doc.inputs());
    out << '\n';
  }
  const auto& rows = doc.rows();
  bool first_block = true;
  for (std::size_t b = 0; b < rows.size();) {
    std::size_t e = b + 1;
    while (e < rows.size() && rows[e].group == rows[b].group) ++e;
    table_group(out, doc, b, e, first_block);
    b = e;
  }
  if (rows.empty()) out << "(no rows)\n";
  std::vector<Entry> own = doc.summary();
  own.resize(own.size() - 3);  // rows, flagged and complete: the table shows them
  if (!own.empty()) {
    out << '\n';
    entry_lines(out, doc, "summary:", own);
  }
}

void write_csv(std::ostream& out, const Document& doc) {
  std::string line;
  for (const Column& c : doc.columns()) line += doc.key(c.name, c.unit) + ",";
  out << line << "valid,flags\n";
  for (const Row& r : doc.rows()) {
    line.clear();
    for (const Value& v : r.values) line += csv_text(v) + ",";
    out << line << (r.valid() ? "true," : "false,") << validity_codes(r.flags) << '\n';
  }
}

void write_json(std::ostream& out, const Document& doc) {
  json d = json::object();
  d["program"] = kProgram;
  d["version"] = kProgramVersion;
  json units = json::object();
  for (const auto& [kind, text] : doc.units()) units[kind] = text;
  d["units"] = std::move(units);
  json inputs = json::object();
  inputs["command"] = doc.command();
  for (const Entry& e : doc.inputs()) inputs[doc.key(e.name, e.unit)] = json_value(e.value);
  d["inputs"] = std::move(inputs);
  json rows = json::array();
  for (const Row& r : doc.rows()) {
    json o = json::object();
    for (std::size_t k = 0; k < doc.columns().size(); ++k) {
      const Column& c = doc.columns()[k];
      o[doc.key(c.name, c.unit)] = json_value(r.values[k]);
    }
    o["valid"] = r.valid();
    o["flags"] = flags_array(r.flags);
    rows.push_back(std::move(o));
  }
  d["rows"] = std::move(rows);
  json summary = json::object();
  for (const Entry& e : doc.summary()) summary[doc.key(e.name, e.unit)] = json_value(e.value);
  d["summary"] = std::move(summary);
  out << d.dump(2) << '\n';
}

void write(std::ostream& out, const Document& doc, Format format) {
  switch (format) {
    case Format::csv:
      write_csv(out, doc);
      break;
    case Format::json:
      write_json(out, doc);
      break;
    case Format::table:
    case Format::touchstone:
      write_table(out, doc);
      break;
  }
}

}  // namespace kx::cli
