// The materials file (JSON): named dielectrics, conductors and roughness
// profiles, checked entry by entry.
#include <cmath>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "kestrelix/materials_file.h"
#include "models/wideband_io/builtin_materials.h"

namespace kx::materials {
namespace {

using Json = nlohmann::json;
constexpr std::size_t kMaxFileBytes = 1u << 20;

// Throws "ORIGIN: WHERE: WHY".
class Reader {
 public:
  explicit Reader(std::string_view origin) : origin_(origin) {}

  [[noreturn]] void fail(const std::string& where, const std::string& why) const {
    throw std::invalid_argument(origin_ + ": " + (where.empty() ? "" : where + ": ") + why);
  }

  void only_keys(const Json& j, const std::string& where,
                 std::initializer_list<const char*> keys) const {
    if (!j.is_object()) fail(where, "must be an object");
    for (const auto& item : j.items()) {
      bool known = false;
      for (const char* k : keys) known = known || item.key() == k;
      if (!known) fail(where, "unknown key \"" + item.key() + "\"");
    }
  }

  std::string text(const Json& j, const std::string& where, const char* key, bool required) const {
    if (!j.contains(key)) {
      if (required) fail(where, std::string("\"") + key + "\" is missing");
      return "";
    }
    if (!j.at(key).is_string()) fail(where + "." + key, "must be a string");
    return j.at(key).get<std::string>();
  }

  double number(const Json& j, const std::string& where, const char* key, bool required,
                double fallback = 0.0) const {
    if (!j.contains(key)) {
      if (required) fail(where, std::string("\"") + key + "\" is missing");
      return fallback;
    }
    if (!j.at(key).is_number()) fail(where + "." + key, "must be a number");
    return j.at(key).get<double>();
  }

  const Json& list(const Json& doc, const char* key, bool required) const {
    static const Json empty = Json::array();
    if (!doc.contains(key)) {
      if (required) fail("", std::string("\"") + key + "\" is missing");
      return empty;
    }
    if (!doc.at(key).is_array()) fail(key, "must be a list");
    return doc.at(key);
  }

  std::string name(const Json& j, const std::string& where, std::set<std::string>& seen) const {
    const std::string n = text(j, where, "name", true);
    if (n.empty()) fail(where + ".name", "must not be empty");
    if (!seen.insert(n).second) fail(where + ".name", "\"" + n + "\" appears twice");
    return n;
  }

 private:
  std::string origin_;
};

template <class T>
const T* find(const std::vector<T>& list, std::string_view name) {
  for (const T& t : list)
    if (t.name == name) return &t;
  return nullptr;
}

}  // namespace

const NamedDielectric* MaterialsFile::dielectric(std::string_view name) const {
  return find(dielectrics, name);
}
const NamedConductor* MaterialsFile::conductor(std::string_view name) const {
  return find(conductors, name);
}
const NamedRoughness* MaterialsFile::roughness_profile(std::string_view name) const {
  return find(roughness, name);
}

MaterialsFile parse_materials(std::string_view json, std::string_view origin) {
  const Reader rd(origin);
  const Json doc = Json::parse(json.begin(), json.end(), nullptr, false);
  if (doc.is_discarded()) rd.fail("", "not valid JSON");
  rd.only_keys(doc, "", {"format", "version", "dielectrics", "conductors", "roughness"});
  if (rd.text(doc, "", "format", true) != "kestrelix-materials")
    rd.fail("format", "must be \"kestrelix-materials\"");
  if (rd.number(doc, "", "version", true) != 1.0) rd.fail("version", "only version 1 is known");

  MaterialsFile out;
  std::set<std::string> seen;
  const Json& dielectrics = rd.list(doc, "dielectrics", true);
  for (std::size_t i = 0; i < dielectrics.size(); ++i) {
    const std::string where = "dielectrics[" + std::to_string(i) + "]";
    const Json& j = dielectrics[i];
    rd.only_keys(j, where,
                 {"name", "description", "source", "dk", "df", "f_ghz", "model", "f_low_hz",
                  "f_high_hz"});
    NamedDielectric d;
    d.name = rd.name(j, where, seen);
    d.description = rd.text(j, where, "description", false);
    d.source = rd.text(j, where, "source", false);
    d.data.dk = rd.number(j, where, "dk", true);
    d.data.df = rd.number(j, where, "df", true);
    d.data.f_hz = rd.number(j, where, "f_ghz", true) * 1e9;
    const std::string model = rd.text(j, where, "model", true);
    if (model == "djordjevic_sarkar")
      d.data.model = DielectricModel::djordjevic_sarkar;
    else if (model == "constant")
      d.data.model = DielectricModel::constant;
    else
      rd.fail(where + ".model", "must be \"djordjevic_sarkar\" or \"constant\"");
    d.data.f_low_hz = rd.number(j, where, "f_low_hz", false, d.data.f_low_hz);
    d.data.f_high_hz = rd.number(j, where, "f_high_hz", false, d.data.f_high_hz);
    const std::string why = check(d.data);
    if (!why.empty()) rd.fail(where, why);
    out.dielectrics.push_back(d);
  }

  seen.clear();
  const Json& conductors = rd.list(doc, "conductors", false);
  for (std::size_t i = 0; i < conductors.size(); ++i) {
    const std::string where = "conductors[" + std::to_string(i) + "]";
    const Json& j = conductors[i];
    rd.only_keys(j, where, {"name", "description", "source", "resistivity_ohm_m"});
    NamedConductor c;
    c.name = rd.name(j, where, seen);
    c.description = rd.text(j, where, "description", false);
    c.source = rd.text(j, where, "source", false);
    c.resistivity = rd.number(j, where, "resistivity_ohm_m", true);
    if (!std::isfinite(c.resistivity) || c.resistivity <= 0.0)
      rd.fail(where + ".resistivity_ohm_m", "must be positive");
    out.conductors.push_back(c);
  }

  seen.clear();
  const Json& profiles = rd.list(doc, "roughness", false);
  for (std::size_t i = 0; i < profiles.size(); ++i) {
    const std::string where = "roughness[" + std::to_string(i) + "]";
    const Json& j = profiles[i];
    rd.only_keys(j, where,
                 {"name", "description", "source", "model", "rq_um", "sphere_radius_um", "spheres",
                  "tile_area_um2", "matte_ratio"});
    NamedRoughness r;
    r.name = rd.name(j, where, seen);
    r.description = rd.text(j, where, "description", false);
    r.source = rd.text(j, where, "source", false);
    const std::string model = rd.text(j, where, "model", true);
    const bool huray = model == "huray";
    if (model == "hammerstad_bekkadal")
      r.roughness.model = RoughnessModel::hammerstad_bekkadal;
    else if (model == "groisse")
      r.roughness.model = RoughnessModel::groisse;
    else if (huray)
      r.roughness.model = RoughnessModel::huray;
    else
      rd.fail(where + ".model", "must be \"hammerstad_bekkadal\", \"groisse\" or \"huray\"");
    const auto only = [&](const char* key, bool allowed) {
      if (!allowed && j.contains(key))
        rd.fail(where, std::string("\"") + key + "\" does not belong to model \"" + model + "\"");
    };
    for (const char* k : {"sphere_radius_um", "spheres", "tile_area_um2", "matte_ratio"})
      only(k, huray);
    only("rq_um", !huray);
    if (huray) {
      r.roughness.sphere_radius = rd.number(j, where, "sphere_radius_um", true) * 1e-6;
      r.roughness.spheres = rd.number(j, where, "spheres", true);
      r.roughness.tile_area = rd.number(j, where, "tile_area_um2", true) * 1e-12;
      r.roughness.matte_ratio = rd.number(j, where, "matte_ratio", false, 1.0);
    } else {
      r.roughness.rq = rd.number(j, where, "rq_um", true) * 1e-6;
    }
    const std::string why = check(r.roughness);
    if (!why.empty()) rd.fail(where, why);
    out.roughness.push_back(r);
  }
  return out;
}

MaterialsFile read_materials_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::string text;
  char buf[4096];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    text.append(buf, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxFileBytes)
      throw std::runtime_error("cannot read " + path + ": larger than 1 MiB");
  }
  if (in.bad()) throw std::runtime_error("cannot read " + path);
  return parse_materials(text, path);
}

std::string_view builtin_materials_text() { return kBuiltinMaterials; }

const MaterialsFile& builtin_materials() {
  static const MaterialsFile file = parse_materials(kBuiltinMaterials, "built-in materials");
  return file;
}

}  // namespace kx::materials
