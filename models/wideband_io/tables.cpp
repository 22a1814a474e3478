// R, L, G, C tables as CSV and JSON.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "kestrelix/rlgc_io.h"
#include "models/wideband_io/number_text.h"

namespace kx::rlgc {
namespace {

struct Quantity {
  const char* name;
  const char* unit;
  const Matrix Rlgc::*matrix;
};
const Quantity kQuantities[] = {{"r", "ohm_per_m", &Rlgc::r},
                                {"l", "h_per_m", &Rlgc::l},
                                {"g", "s_per_m", &Rlgc::g},
                                {"c", "f_per_m", &Rlgc::c}};

}  // namespace

std::string rlgc_csv(const std::vector<Rlgc>& points) {
  const int n = points.empty() ? 0 : points.front().r.size();
  std::string out = "f_hz";
  for (const Quantity& q : kQuantities)
    for (int i = 0; i < n; ++i)
      for (int j = 0; j <= i; ++j)
        out += "," + std::string(q.name) + std::to_string(i + 1) + std::to_string(j + 1) + "_" +
               q.unit;
  out += '\n';
  for (const Rlgc& p : points) {
    append_number(out, p.f_hz);
    for (const Quantity& q : kQuantities)
      for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) {
          out += ',';
          append_number(out, (p.*q.matrix)(i, j));
        }
    out += '\n';
  }
  return out;
}

std::string rlgc_json(const std::vector<Rlgc>& points) {
  const int n = points.empty() ? 0 : points.front().r.size();
  nlohmann::json doc;
  doc["conductors"] = n;
  doc["units"] = {{"f", "Hz"}, {"r", "ohm/m"}, {"l", "H/m"}, {"g", "S/m"}, {"c", "F/m"}};
  nlohmann::json rows = nlohmann::json::array();
  for (const Rlgc& p : points) {
    nlohmann::json row;
    row["f_hz"] = p.f_hz;
    for (const Quantity& q : kQuantities) {
      nlohmann::json m = nlohmann::json::array();
      for (int i = 0; i < n; ++i) {
        nlohmann::json r = nlohmann::json::array();
        for (int j = 0; j < n; ++j) r.push_back((p.*q.matrix)(i, j));
        m.push_back(r);
      }
      row[q.name] = m;
    }
    rows.push_back(row);
  }
  doc["points"] = rows;
  return doc.dump(1) + "\n";
}

}  // namespace kx::rlgc
