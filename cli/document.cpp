#include "cli/document.h"

#include <algorithm>
#include <cmath>

namespace kx::cli {
namespace {

bool finite_number(const Value::Data& d) {
  if (const float* f = std::get_if<float>(&d)) return std::isfinite(*f);
  if (const double* x = std::get_if<double>(&d)) return std::isfinite(*x);
  if (const auto* list = std::get_if<std::vector<float>>(&d)) {
    return std::all_of(list->begin(), list->end(), [](float v) { return std::isfinite(v); });
  }
  return true;
}

constexpr Unit kUnits[] = {Unit::length,
                           Unit::attenuation,
                           Unit::delay,
                           Unit::frequency,
                           Unit::impedance,
                           Unit::level,
                           Unit::angle,
                           Unit::percent,
                           Unit::resistivity,
                           Unit::roughness,
                           Unit::capacitance,
                           Unit::inductance,
                           Unit::resistance_per_m,
                           Unit::inductance_per_m,
                           Unit::conductance_per_m,
                           Unit::capacitance_per_m};

const char* units_key(Unit u) {
  switch (u) {
    case Unit::length:
      return "length";
    case Unit::attenuation:
      return "attenuation";
    case Unit::delay:
      return "delay";
    case Unit::frequency:
      return "frequency";
    case Unit::impedance:
      return "impedance";
    case Unit::level:
      return "level";
    case Unit::angle:
      return "angle";
    case Unit::percent:
      return "percent";
    case Unit::resistivity:
      return "resistivity";
    case Unit::roughness:
      return "roughness";
    case Unit::capacitance:
      return "capacitance";
    case Unit::inductance:
      return "inductance";
    case Unit::resistance_per_m:
      return "resistance";
    case Unit::inductance_per_m:
      return "inductance";
    case Unit::conductance_per_m:
      return "conductance";
    case Unit::capacitance_per_m:
      return "capacitance";
    case Unit::none:
      break;
  }
  return "";
}

}  // namespace

bool Value::non_finite() const { return !finite_number(data_); }

Document::Document(std::string command, std::string length_unit)
    : command_(std::move(command)), length_unit_(std::move(length_unit)) {}

std::size_t Document::column(std::string name, Unit unit, Precision precision,
                             std::string heading) {
  columns_.push_back(Column{std::move(name), unit, precision, std::move(heading), true});
  return columns_.size() - 1;
}

void Document::input(std::string name, Unit unit, Value value) {
  inputs_.push_back(Entry{std::move(name), unit, std::move(value)});
}

void Document::summary(std::string name, Unit unit, Value value, bool detail) {
  summary_.push_back(Entry{std::move(name), unit, std::move(value), detail});
}

void Document::uses(Unit unit) { used_.push_back(unit); }

bool Document::add(Row row) {
  row.values.resize(columns_.size());
  for (const Value& v : row.values) {
    if (v.non_finite()) return false;
  }
  rows_.push_back(std::move(row));
  return true;
}

std::vector<Entry> Document::summary() const {
  std::vector<Entry> all = summary_;
  all.push_back({"rows", Unit::none, static_cast<long long>(rows_.size()), false});
  all.push_back({"flagged", Unit::none, static_cast<long long>(flagged()), false});
  all.push_back({"complete", Unit::none, complete_, false});
  return all;
}

std::size_t Document::flagged() const {
  return static_cast<std::size_t>(
      std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return !r.valid(); }));
}

unsigned Document::all_flags() const {
  unsigned f = 0;
  for (const Row& r : rows_) f |= r.flags;
  return f;
}

std::vector<std::pair<std::string, std::string>> Document::units() const {
  std::vector<Unit> used = used_;
  for (const Column& c : columns_) used.push_back(c.unit);
  for (const Entry& e : inputs_) used.push_back(e.unit);
  for (const Entry& e : summary_) used.push_back(e.unit);
  std::vector<std::pair<std::string, std::string>> out;
  for (const Unit u : kUnits) {
    if (std::find(used.begin(), used.end(), u) != used.end()) {
      out.emplace_back(units_key(u), unit_text(u));
    }
  }
  return out;
}

std::string Document::key(const std::string& name, Unit unit) const {
  switch (unit) {
    case Unit::none:
      return name;
    case Unit::length:
      return name + "_" + length_unit_;
    case Unit::attenuation:
      return name + "_db_per_" + length_unit_;
    case Unit::delay:
      return name + "_ps_per_" + length_unit_;
    case Unit::frequency:
      return name + "_ghz";
    case Unit::impedance:
      return name + "_ohm";
    case Unit::level:
      return name + "_db";
    case Unit::angle:
      return name + "_deg";
    case Unit::percent:
      return name + "_pct";
    case Unit::resistivity:
      return name + "_uohm_cm";
    case Unit::roughness:
      return name + "_uin";
    case Unit::capacitance:
      return name + "_pf_per_" + length_unit_;
    case Unit::inductance:
      return name + "_nh_per_" + length_unit_;
    case Unit::resistance_per_m:
      return name + "_ohm_per_m";
    case Unit::inductance_per_m:
      return name + "_h_per_m";
    case Unit::conductance_per_m:
      return name + "_s_per_m";
    case Unit::capacitance_per_m:
      return name + "_f_per_m";
  }
  return name;
}

std::string Document::unit_text(Unit unit) const {
  switch (unit) {
    case Unit::none:
      return "";
    case Unit::length:
      return length_unit_;
    case Unit::attenuation:
      return "dB/" + length_unit_;
    case Unit::delay:
      return "ps/" + length_unit_;
    case Unit::frequency:
      return "GHz";
    case Unit::impedance:
      return "ohm";
    case Unit::level:
      return "dB";
    case Unit::angle:
      return "deg";
    case Unit::percent:
      return "%";
    case Unit::resistivity:
      return "micro-ohm-cm";
    case Unit::roughness:
      return "micro-inch";
    case Unit::capacitance:
      return "pF/" + length_unit_;
    case Unit::inductance:
      return "nH/" + length_unit_;
    case Unit::resistance_per_m:
      return "ohm/m";
    case Unit::inductance_per_m:
      return "H/m";
    case Unit::conductance_per_m:
      return "S/m";
    case Unit::capacitance_per_m:
      return "F/m";
  }
  return "";
}

}  // namespace kx::cli
