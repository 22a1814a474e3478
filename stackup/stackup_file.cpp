// The stackup file: JSON (doc/stackup.md), read with a check of every entry.
#include <cmath>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "kestrelix/stackup_file.h"

namespace kx::stack {
namespace {

using nlohmann::json;

[[noreturn]] void fail(const std::string& entry, const std::string& what) {
  throw StackupError(entry + ": " + what);
}

std::string at(const std::string& list, std::size_t i) {
  return list + "[" + std::to_string(i) + "]";
}

// Only the named keys.
void known(const json& obj, const std::string& entry, const std::set<std::string>& keys) {
  for (auto it = obj.begin(); it != obj.end(); ++it)
    if (!keys.count(it.key()))
      fail(entry.empty() ? it.key() : entry + "." + it.key(), "unknown entry");
}

const json& object(const json& parent, const char* key, const std::string& entry) {
  if (!parent.contains(key)) fail(entry, "missing");
  const json& v = parent.at(key);
  if (!v.is_object()) fail(entry, "must be an object");
  return v;
}

// A number with its range (lo <= v, v <= hi, strict where asked).
double number(const json& obj, const char* key, const std::string& entry, const char* range,
              bool (*ok)(double)) {
  if (!obj.contains(key)) fail(entry, std::string("missing: must be ") + range);
  const json& v = obj.at(key);
  if (!v.is_number() || !ok(v.get<double>())) fail(entry, std::string("must be ") + range);
  return v.get<double>();
}
double optional_number(const json& obj, const char* key, const std::string& entry,
                       const char* range, bool (*ok)(double), double otherwise) {
  return obj.contains(key) ? number(obj, key, entry, range, ok) : otherwise;
}

bool positive(double v) { return std::isfinite(v) && v > 0.0; }
bool non_negative(double v) { return std::isfinite(v) && v >= 0.0; }
bool permittivity(double v) { return std::isfinite(v) && v >= 1.0 && v <= 1e4; }
bool any_finite(double v) { return std::isfinite(v); }

std::string text(const json& obj, const char* key, const std::string& entry) {
  if (!obj.contains(key)) return "";
  if (!obj.at(key).is_string()) fail(entry, "must be a string");
  return obj.at(key).get<std::string>();
}

// A conductor's edge: a number, or "unbounded" (a ground extending that way).
double edge(const json& obj, const char* key, const std::string& entry, double unbounded) {
  if (!obj.contains(key)) fail(entry, "missing: must be a number or \"unbounded\"");
  const json& v = obj.at(key);
  if (v.is_string() && v.get<std::string>() == "unbounded") return unbounded;
  if (!v.is_number() || !std::isfinite(v.get<double>()))
    fail(entry, "must be a number or \"unbounded\"");
  return v.get<double>();
}

std::size_t index(const json& obj, const char* key, const std::string& entry, std::size_t top) {
  if (!obj.contains(key))
    fail(entry, "missing: must be a whole number from 1 to the layers' count");
  const json& v = obj.at(key);
  if (!v.is_number() || v.get<double>() != std::floor(v.get<double>()) || v.get<double>() < 1.0 ||
      v.get<double>() > static_cast<double>(top))
    fail(entry, "must be a whole number from 1 to the layers' count (" + std::to_string(top) + ")");
  return static_cast<std::size_t>(v.get<double>());
}

Layer layer_of(const json& j, const std::string& entry) {
  if (!j.is_object()) fail(entry, "must be an object");
  known(j, entry, {"name", "thickness", "er", "loss_tangent"});
  Layer l;
  l.name = text(j, "name", entry + ".name");
  l.thickness = number(j, "thickness", entry + ".thickness", "a number > 0", positive);
  l.er = number(j, "er", entry + ".er", "a number from 1 to 1e4", permittivity);
  l.loss_tangent = optional_number(j, "loss_tangent", entry + ".loss_tangent", "a number >= 0",
                                   non_negative, 0.0);
  return l;
}

Conductor conductor_of(const json& j, const std::string& entry, std::size_t layers) {
  if (!j.is_object()) fail(entry, "must be an object");
  known(j, entry,
        {"name", "role", "interface", "left", "right", "centre", "center", "width", "thickness",
         "top_width", "inset", "etch_factor"});
  Conductor c;
  c.name = text(j, "name", entry + ".name");
  const std::string role = j.contains("role") ? text(j, "role", entry + ".role") : "signal";
  if (role == "signal") {
    c.role = Role::signal;
  } else if (role == "ground") {
    c.role = Role::ground;
  } else if (role == "floating") {
    c.role = Role::floating;
  } else {
    fail(entry + ".role", "must be \"signal\", \"ground\" or \"floating\"");
  }
  c.interface = index(j, "interface", entry + ".interface", layers);
  const bool by_centre = j.contains("centre") || j.contains("center") || j.contains("width");
  if (by_centre) {
    if (j.contains("left") || j.contains("right"))
      fail(entry, "give either left and right or centre and width");
    const char* key = j.contains("center") ? "center" : "centre";
    const double centre = number(j, key, entry + "." + key, "a number", any_finite);
    const double width = number(j, "width", entry + ".width", "a number > 0", positive);
    c.left = centre - 0.5 * width;
    c.right = centre + 0.5 * width;
  } else {
    c.left = edge(j, "left", entry + ".left", -kUnbounded);
    c.right = edge(j, "right", entry + ".right", kUnbounded);
  }
  c.thickness =
      optional_number(j, "thickness", entry + ".thickness", "a number >= 0", non_negative, 0.0);
  const int profiles = static_cast<int>(j.contains("top_width")) +
                       static_cast<int>(j.contains("inset")) +
                       static_cast<int>(j.contains("etch_factor"));
  if (profiles > 1) fail(entry, "give at most one of top_width, inset and etch_factor");
  if (j.contains("top_width")) {
    const double top = number(j, "top_width", entry + ".top_width", "a number > 0", positive);
    c.inset = 0.5 * (c.bottom_width() - top);
  } else if (j.contains("inset")) {
    c.inset = number(j, "inset", entry + ".inset", "a number", any_finite);
  } else if (j.contains("etch_factor")) {
    const double ef = number(j, "etch_factor", entry + ".etch_factor", "a number > 0", positive);
    c.inset = inset_for_etch_factor(c.thickness, ef);
  }
  return c;
}

}  // namespace

double mm_per(Unit u) {
  switch (u) {
    case Unit::mm:
      return 1.0;
    case Unit::mil:
      return 0.0254;
    case Unit::um:
      return 0.001;
    case Unit::in:
      return 25.4;
  }
  return 1.0;
}

const char* unit_name(Unit u) {
  switch (u) {
    case Unit::mm:
      return "mm";
    case Unit::mil:
      return "mil";
    case Unit::um:
      return "um";
    case Unit::in:
      return "in";
  }
  return "mm";
}

bool parse_unit(const std::string& name, Unit& u) {
  for (const Unit v : {Unit::mm, Unit::mil, Unit::um, Unit::in})
    if (name == unit_name(v)) {
      u = v;
      return true;
    }
  return false;
}

Stack scaled(const Stack& s, double factor) {
  Stack out = s;
  for (Layer& l : out.layers) l.thickness *= factor;
  for (Conductor& c : out.conductors) {
    c.left *= factor;
    c.right *= factor;
    c.thickness *= factor;
    c.inset *= factor;
  }
  out.mask.over_trace *= factor;
  out.mask.on_substrate *= factor;
  out.mask.between *= factor;
  return out;
}

Stackup parse_stackup(const std::string& json_text) {
  json root;
  try {
    root = json::parse(json_text);
  } catch (const json::parse_error& e) {
    std::string what = e.what();
    what = what.substr(0, what.find('\n'));
    throw StackupError("stackup: not JSON (" + what + ")");
  }
  if (!root.is_object()) fail("stackup", "must be a JSON object");
  known(root, "", {"unit", "layers", "top_plane", "mask", "conductors", "name", "comment"});
  Stackup out;
  if (!root.contains("unit")) fail("unit", "missing: must be \"mm\", \"mil\", \"um\" or \"in\"");
  if (!root.at("unit").is_string() || !parse_unit(root.at("unit").get<std::string>(), out.unit))
    fail("unit", "must be \"mm\", \"mil\", \"um\" or \"in\"");
  if (!root.contains("layers") || !root.at("layers").is_array() || root.at("layers").empty())
    fail("layers", "must be a list of at least one layer");
  Stack& s = out.stack;
  const json& layers = root.at("layers");
  for (std::size_t i = 0; i < layers.size(); ++i)
    s.layers.push_back(layer_of(layers[i], at("layers", i)));
  if (root.contains("top_plane")) {
    if (!root.at("top_plane").is_boolean()) fail("top_plane", "must be true or false");
    s.top_plane = root.at("top_plane").get<bool>();
  }
  const std::size_t n = s.layers.size();
  if (root.contains("mask")) {
    const json& m = object(root, "mask", "mask");
    known(m, "mask", {"interface", "over_trace", "on_substrate", "between", "er", "loss_tangent"});
    if (m.contains("interface")) s.mask.interface = index(m, "interface", "mask.interface", n);
    s.mask.over_trace = number(m, "over_trace", "mask.over_trace", "a number > 0", positive);
    s.mask.on_substrate = number(m, "on_substrate", "mask.on_substrate", "a number > 0", positive);
    s.mask.between = number(m, "between", "mask.between", "a number > 0", positive);
    s.mask.er = number(m, "er", "mask.er", "a number from 1 to 1e4", permittivity);
    s.mask.loss_tangent =
        optional_number(m, "loss_tangent", "mask.loss_tangent", "a number >= 0", non_negative, 0.0);
    if (s.top_plane && s.mask_interface() == n)
      fail("mask.interface", "a stack with a top plane has no mask on its top surface");
  }
  if (root.contains("conductors")) {
    const json& cs = root.at("conductors");
    if (!cs.is_array()) fail("conductors", "must be a list");
    for (std::size_t i = 0; i < cs.size(); ++i)
      s.conductors.push_back(conductor_of(cs[i], at("conductors", i), n));
    if (const std::string why = check(s); !why.empty()) throw StackupError(why);
  }
  return out;
}

Stackup read_stackup(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw StackupError("cannot read " + path);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw StackupError("cannot read " + path);
  return parse_stackup(text);
}

std::string stackup_json(const Stackup& su) {
  const Stack& s = su.stack;
  json root;
  root["unit"] = unit_name(su.unit);
  root["layers"] = json::array();
  for (const Layer& l : s.layers) {
    json j;
    if (!l.name.empty()) j["name"] = l.name;
    j["thickness"] = l.thickness;
    j["er"] = l.er;
    j["loss_tangent"] = l.loss_tangent;
    root["layers"].push_back(j);
  }
  root["top_plane"] = s.top_plane;
  if (s.mask.present()) {
    json m;
    if (s.mask.interface != 0) m["interface"] = s.mask.interface;
    m["over_trace"] = s.mask.over_trace;
    m["on_substrate"] = s.mask.on_substrate;
    m["between"] = s.mask.between;
    m["er"] = s.mask.er;
    m["loss_tangent"] = s.mask.loss_tangent;
    root["mask"] = m;
  }
  if (!s.conductors.empty()) {
    root["conductors"] = json::array();
    for (const Conductor& c : s.conductors) {
      json j;
      if (!c.name.empty()) j["name"] = c.name;
      j["role"] = c.role == Role::signal   ? "signal"
                  : c.role == Role::ground ? "ground"
                                           : "floating";
      j["interface"] = c.interface;
      j["left"] = std::isinf(c.left) ? json("unbounded") : json(c.left);
      j["right"] = std::isinf(c.right) ? json("unbounded") : json(c.right);
      j["thickness"] = c.thickness;
      j["inset"] = c.inset;
      root["conductors"].push_back(j);
    }
  }
  return root.dump(2) + "\n";
}

}  // namespace kx::stack
