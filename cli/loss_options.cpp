#include "cli/loss_options.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <optional>
#include <stdexcept>
#include <vector>

#include <kestrelix/materials_file.h>

namespace kx::cli {
namespace {

constexpr double kMetrePerMicron = 1e-6;
constexpr double kOhmMetrePerMicroOhmCm = 1e-8;
constexpr double kMicroInchPerMicron = 1e6 / 25400.0;

bool given(const Arg* a) { return a != nullptr && a->given(); }

// A 32-bit value of the command line as the decimal number it was typed as
// (4.3, not 4.3000001907).
double decimal(float v) { return std::strtod(shortest(v).c_str(), nullptr); }

double number(const Arg& a) { return decimal(parse_number(a.name, a.text)); }

// The materials file of --materials (read once), else the built-in entries
// only.
struct Library {
  std::optional<materials::MaterialsFile> file;
  const materials::NamedDielectric* dielectric(const std::string& name) const {
    if (file)
      if (const auto* d = file->dielectric(name)) return d;
    return materials::builtin_materials().dielectric(name);
  }
  const materials::NamedConductor* conductor(const std::string& name) const {
    if (file)
      if (const auto* c = file->conductor(name)) return c;
    return materials::builtin_materials().conductor(name);
  }
  const materials::NamedRoughness* roughness(const std::string& name) const {
    if (file)
      if (const auto* r = file->roughness_profile(name)) return r;
    return materials::builtin_materials().roughness_profile(name);
  }
  // The names of one section, for a message.
  template <class Entry>
  static std::string names(const std::vector<Entry>& a, const std::vector<Entry>* b) {
    std::string s;
    for (const auto* list : {&a, b})
      if (list != nullptr)
        for (const Entry& e : *list) s += (s.empty() ? "" : ", ") + e.name;
    return s.empty() ? "none" : s;
  }
};

Library library(Context& ctx, const LossArgs& a) {
  Library lib;
  if (!given(a.materials)) return lib;
  if (!ctx.limits().files) throw UsageError(a.materials->name + ": files are not read here");
  if (a.materials->text.empty()) throw UsageError(a.materials->name + ": the file name is empty");
  ctx.protect(a.materials->text);
  try {
    lib.file = materials::read_materials_file(a.materials->text);
  } catch (const std::exception& e) {
    throw UsageError(a.materials->name + ": " + e.what());
  }
  return lib;
}

// The dielectric `material` names, from the library; a usage error that
// lists the names where there is none.
const materials::NamedDielectric& named_dielectric(const Library& lib, const Arg& material) {
  const materials::NamedDielectric* d = lib.dielectric(material.text);
  if (d == nullptr)
    throw UsageError(material.name + ": no dielectric '" + material.text + "' (the materials: " +
                     Library::names(materials::builtin_materials().dielectrics,
                                    lib.file ? &lib.file->dielectrics : nullptr) +
                     ")");
  return *d;
}

materials::DielectricModel dielectric_model(const Arg& a) {
  if (a.text == "djordjevic-sarkar") return materials::DielectricModel::djordjevic_sarkar;
  if (a.text == "constant") return materials::DielectricModel::constant;
  throw UsageError(a.name + ": djordjevic-sarkar or constant, not '" + a.text + "'");
}

materials::Dielectric fitted(const std::string& named_by, const materials::DielectricData& d) {
  const std::string why = materials::check(d);
  if (!why.empty()) throw UsageError(named_by + ": " + why);
  return materials::Dielectric(d);
}

// ROUGHNESS: a model with its parameters, or a profile of the materials file.
materials::Roughness roughness_spec(const Arg& a, const Library& lib) {
  const std::string& text = a.text;
  const std::size_t colon = text.find(':');
  const std::string model = text.substr(0, colon);
  materials::Roughness r;
  std::map<std::string, double> values;
  if (colon != std::string::npos) {
    std::size_t at = colon + 1;
    while (at <= text.size()) {
      const std::size_t comma = std::min(text.find(',', at), text.size());
      const std::string item = text.substr(at, comma - at);
      const std::size_t eq = item.find('=');
      if (eq == std::string::npos)
        throw UsageError(a.name + ": expected KEY=VALUE after the model, got '" + item + "'");
      const std::string key = item.substr(0, eq);
      if (values.count(key) != 0) throw UsageError(a.name + ": " + key + " given twice");
      values[key] = decimal(parse_number(a.name + " " + key, item.substr(eq + 1)));
      at = comma + 1;
    }
  }
  const auto take = [&](const char* key, bool required, double fallback = 0.0) {
    const auto it = values.find(key);
    if (it == values.end()) {
      if (required) throw UsageError(a.name + ": " + model + " needs " + key + "=");
      return fallback;
    }
    const double v = it->second;
    values.erase(it);
    return v;
  };
  if (model == "smooth") {
    r.model = materials::RoughnessModel::smooth;
  } else if (model == "hammerstad-bekkadal" || model == "groisse") {
    r.model = model == "groisse" ? materials::RoughnessModel::groisse
                                 : materials::RoughnessModel::hammerstad_bekkadal;
    r.rq = take("rq", true) * kMetrePerMicron;
  } else if (model == "huray") {
    r.model = materials::RoughnessModel::huray;
    r.sphere_radius = take("radius", true) * kMetrePerMicron;
    r.spheres = take("spheres", true);
    const bool by_side = values.count("side") != 0;
    if (by_side == (values.count("tile") != 0))
      throw UsageError(a.name + ": huray needs one of tile= (um^2) and side= (um)");
    r.tile_area = by_side ? materials::hexagonal_tile_area(take("side", true) * kMetrePerMicron)
                          : take("tile", true) * kMetrePerMicron * kMetrePerMicron;
    r.matte_ratio = take("matte", false, 1.0);
  } else if (colon == std::string::npos && lib.roughness(text) != nullptr) {
    return lib.roughness(text)->roughness;
  } else {
    const std::vector<materials::NamedRoughness>* own = lib.file ? &lib.file->roughness : nullptr;
    throw UsageError(a.name + ": '" + text +
                     "' is neither smooth, hammerstad-bekkadal:rq=UM, groisse:rq=UM, "
                     "huray:radius=UM,spheres=N,tile=UM2 nor a roughness profile (" +
                     Library::names(materials::builtin_materials().roughness, own) + ")");
  }
  if (!values.empty())
    throw UsageError(a.name + ": " + model + " takes no " + values.begin()->first + "=");
  if (const std::string why = materials::check(r); !why.empty())
    throw UsageError(a.name + ": " + why);
  return r;
}

}  // namespace

bool LossArgs::given() const {
  for (const Arg* a :
       {material, materials, dk, df, f_datasheet, dielectric_model, conductor, resistivity,
        roughness, roughness_top, roughness_bottom, roughness_sides, roughness_ground, coat_tlos})
    if (cli::given(a)) return true;
  return false;
}

const Arg* LossArgs::beyond_closed_forms() const {
  for (const Arg* a :
       {material, materials, dk, df, f_datasheet, dielectric_model, conductor, roughness_top,
        roughness_bottom, roughness_sides, roughness_ground, coat_tlos})
    if (cli::given(a)) return a;
  if (cli::given(roughness) && roughness->text != "smooth" &&
      roughness->text.rfind("hammerstad-bekkadal:", 0) != 0)
    return roughness;
  return nullptr;
}

LossArgs add_loss_options(Context& ctx, Command& cmd, const SectionArgs& sec, bool structures) {
  LossArgs a;
  const std::string also = structures ? " (a structure: every layer)" : "";
  a.material = ctx.add_value(cmd, "--material",
                             "Substrate: a dielectric of the materials file by name (fr4_like, "
                             "ptfe_like, alumina_like, hydrocarbon_ceramic_like, or --materials')" +
                                 also,
                             "NAME");
  a.materials = ctx.add_value(cmd, "--materials",
                              "Materials file (JSON) whose names come before the built-in ones",
                              "FILE");
  a.dk = ctx.add_value(cmd, "--dk", "Substrate: the datasheet's Dk (instead of --er)");
  a.df = ctx.add_value(cmd, "--df", "Substrate: the datasheet's Df (default 0; instead of --tlos)");
  a.f_datasheet =
      ctx.add_value(cmd, "--f-datasheet",
                    structures ? "Where --dk and --df (or --er, --tlos; a structure: each "
                                 "layer's Er and loss tangent, the mask's) hold, GHz "
                                 "(default 1)"
                               : "Where --dk and --df (or --er, --tlos) hold, GHz (default 1)");
  a.dielectric_model = ctx.add_value(
      cmd, "--dielectric-model",
      structures ? "Dielectrics over frequency: djordjevic-sarkar (causal; default with --dk and "
                   "for a structure's layers) or constant (Dk and Df at every frequency; default "
                   "with --er)"
                 : "Substrate over frequency: djordjevic-sarkar (causal; default with --dk) or "
                   "constant (Dk and Df at every frequency; default with --er)",
      "djordjevic-sarkar|constant");
  a.conductor =
      ctx.add_value(cmd, "--conductor", "Metal: a conductor of the materials file", "NAME");
  a.resistivity = ctx.add_value(cmd, "--resistivity",
                                "Metal resistivity, micro-ohm-cm (instead of --res)", "UOHMCM");
  const std::string board = "ROUGHNESS";
  a.roughness = ctx.add_value(
      cmd, "--roughness",
      "Roughness of every metal surface: smooth, hammerstad-bekkadal:rq=UM, groisse:rq=UM, "
      "huray:radius=UM,spheres=N,tile=UM2|side=UM[,matte=X], or a profile's name (instead of --sr)",
      board);
  const std::string traces = structures ? " (a structure: every conductor's on the layers)" : "";
  a.roughness_top =
      ctx.add_value(cmd, "--roughness-top", "Roughness of the strips' tops" + traces, board);
  a.roughness_bottom =
      ctx.add_value(cmd, "--roughness-bottom", "Roughness of the strips' bottoms" + traces, board);
  a.roughness_sides =
      ctx.add_value(cmd, "--roughness-sides", "Roughness of the strips' sides" + traces, board);
  a.roughness_ground =
      ctx.add_value(cmd, "--roughness-ground",
                    structures
                        ? "Roughness of the ground plane and the cover (a structure: its planes)"
                        : "Roughness of the ground plane and the cover",
                    board);
  a.coat_tlos = ctx.add_value(cmd, "--coat-tlos", "Loss tangent of the coating (default 0)");
  ctx.excludes(a.material, a.dk);
  ctx.excludes(a.material, a.df);
  ctx.excludes(a.conductor, a.resistivity);
  ctx.excludes(a.resistivity, sec.res);
  ctx.excludes(a.conductor, sec.res);
  ctx.excludes(a.roughness, sec.sr);
  return a;
}

void substrate_er(Context& ctx, const LossArgs& a, const SectionArgs& sec) {
  const Arg* by = given(a.material) ? a.material : given(a.dk) ? a.dk : nullptr;
  if (by == nullptr) return;
  if (sec.er->given())
    throw UsageError(sec.er->name + ": the substrate is " + by->name +
                     "'s; its datasheet Dk is the Er (give one of them)");
  double dk = 0.0;
  if (by == a.dk) {
    dk = number(*a.dk);
  } else {
    const Library lib = library(ctx, a);
    dk = named_dielectric(lib, *a.material).data.dk;
  }
  sec.er->text = shortest(dk);
  sec.er->set = true;
}

WidebandMaterials resolve_loss(Context& ctx, const LossArgs& a, float er, const Materials& closed,
                               float coat_er) {
  const Library lib = library(ctx, a);
  WidebandMaterials m;

  // The substrate.
  materials::DielectricData d;
  std::string named_by = given(a.dk) ? a.dk->name : "--er";
  if (given(a.material)) {
    const materials::NamedDielectric* named = lib.dielectric(a.material->text);
    if (named == nullptr)
      throw UsageError(a.material->name + ": no dielectric '" + a.material->text + "'");
    d = named->data;
    m.substrate_name = named->name;
    named_by = a.material->name + " " + named->name;
    if (given(a.f_datasheet))
      throw UsageError(a.f_datasheet->name + ": the material gives its own frequency");
  } else {
    d.dk = given(a.dk) ? number(*a.dk) : decimal(er);
    d.df = given(a.df) ? number(*a.df) : given(a.dk) ? 0.0 : decimal(closed.tlos);
    d.model = given(a.dk) ? materials::DielectricModel::djordjevic_sarkar
                          : materials::DielectricModel::constant;
    if (given(a.f_datasheet)) {
      d.f_hz = 1e9 * number(*a.f_datasheet);
      if (!(d.f_hz > 0.0)) throw UsageError(a.f_datasheet->name + ": must be above 0");
    }
  }
  if (given(a.dielectric_model)) d.model = dielectric_model(*a.dielectric_model);
  m.substrate = fitted(named_by, d);

  materials::DielectricData coat;
  coat.dk = decimal(coat_er);
  coat.df = given(a.coat_tlos) ? number(*a.coat_tlos) : 0.0;
  coat.model = materials::DielectricModel::constant;
  m.coating = fitted(a.coat_tlos->name, coat);

  // The metal.
  if (given(a.conductor)) {
    const materials::NamedConductor* c = lib.conductor(a.conductor->text);
    if (c == nullptr)
      throw UsageError(a.conductor->name + ": no conductor '" + a.conductor->text + "'");
    m.resistivity = c->resistivity;
  } else {
    m.resistivity = (given(a.resistivity) ? number(*a.resistivity) : decimal(closed.res)) *
                    kOhmMetrePerMicroOhmCm;
  }
  if (!std::isfinite(m.resistivity) || m.resistivity < 0.0)
    throw UsageError((given(a.resistivity) ? a.resistivity->name : std::string("--res")) +
                     ": must be 0 or more");

  // The surfaces: --roughness for all, then each surface's own.
  materials::Roughness all;
  std::string all_spec;
  if (given(a.roughness)) {
    all = roughness_spec(*a.roughness, lib);
    all_spec = a.roughness->text;
  } else {
    all.model = materials::RoughnessModel::hammerstad_bekkadal;
    all.rq = decimal(closed.sr) / kMicroInchPerMicron * kMetrePerMicron;
    all_spec = "hammerstad-bekkadal:rq=" + shortest(decimal(closed.sr) / kMicroInchPerMicron);
    if (const std::string why = materials::check(all); !why.empty())
      throw UsageError("--sr: " + why);
  }
  const auto surface = [&](const Arg* own, materials::Roughness& r, std::string& text) {
    r = given(own) ? roughness_spec(*own, lib) : all;
    text = given(own) ? own->text : all_spec;
  };
  surface(a.roughness_top, m.top, m.top_spec);
  surface(a.roughness_bottom, m.bottom, m.bottom_spec);
  surface(a.roughness_sides, m.sides, m.sides_spec);
  surface(a.roughness_ground, m.ground, m.ground_spec);
  return m;
}

void closed_form_losses(Context& ctx, const LossArgs& a, const SectionArgs& sec, Materials& mat) {
  (void)ctx;
  (void)sec;
  if (const Arg* beyond = a.beyond_closed_forms())
    throw UsageError(beyond->name +
                     ": the closed forms take one Er and loss tangent (--er, --tlos), one "
                     "resistivity and one Hammerstad-Bekkadal roughness; give --model field for "
                     "the wideband materials");
  if (given(a.resistivity)) mat.res = parse_number(a.resistivity->name, a.resistivity->text);
  if (given(a.roughness)) {
    const materials::Roughness r = roughness_spec(*a.roughness, Library{});
    mat.sr = static_cast<float>(r.rq / kMetrePerMicron * kMicroInchPerMicron);
  }
}

std::vector<std::string> loss_description(const WidebandMaterials& m) {
  const materials::DielectricData& d = m.substrate.data();
  const std::string model = d.model == materials::DielectricModel::constant ? "constant"
                                                                            : "Djordjevic-Sarkar";
  return {m.per_layer
              ? "dielectrics: each layer's Er and loss tangent at " + shortest(d.f_hz / 1e9) +
                    " GHz, " + model
              : "substrate " + (m.substrate_name.empty() ? std::string() : m.substrate_name + " ") +
                    "Dk " + shortest(d.dk) + " Df " + shortest(d.df) + " at " +
                    shortest(d.f_hz / 1e9) + " GHz, " + model,
          "resistivity " + shortest(static_cast<float>(m.resistivity / kOhmMetrePerMicroOhmCm)) +
              " micro-ohm-cm",
          "roughness: top " + m.top_spec + ", bottom " + m.bottom_spec + ", sides " + m.sides_spec +
              ", ground " + m.ground_spec};
}

void loss_inputs(Document& doc, const WidebandMaterials& m) {
  const materials::DielectricData& d = m.substrate.data();
  if (!m.substrate_name.empty()) doc.input("material", Unit::none, m.substrate_name);
  if (!m.per_layer) {
    doc.input("dk", Unit::none, d.dk);
    doc.input("df", Unit::none, d.df);
  }
  doc.input("f_datasheet", Unit::frequency, d.f_hz * 1e-9);
  doc.input("dielectric_model", Unit::none,
            d.model == materials::DielectricModel::constant ? "constant" : "djordjevic-sarkar");
  // In the unit it is typed in, as the float --res holds.
  doc.input("resistivity", Unit::resistivity,
            static_cast<float>(m.resistivity / kOhmMetrePerMicroOhmCm));
  doc.input("roughness_top", Unit::none, m.top_spec);
  doc.input("roughness_bottom", Unit::none, m.bottom_spec);
  doc.input("roughness_sides", Unit::none, m.sides_spec);
  doc.input("roughness_ground", Unit::none, m.ground_spec);
}

Attenuation FieldLosses::at(const Section& sec, float f) const {
  try {
    return losses->at(sec, f);
  } catch (const std::invalid_argument& e) {
    throw UsageError(std::string("the losses from the field: ") + e.what());
  }
}

Attenuation FieldLosses::with_radiation(CoupledLine& line, const Section& sec, float f) const {
  const Attenuation own = at(sec, f);
  const Modes radiation = line.at(sec, Materials{}, f);  // no metal or dielectric loss
  return {own.e + radiation.loss_e, own.o + radiation.loss_o};
}

FieldLosses resolve_field_losses(Context& ctx, const LossArgs& a, const SectionArgs& sec,
                                 const ModelSettings& model, float er, Materials& mat) {
  FieldLosses out;
  if (!a.given()) return out;
  if (model.model != Model::field) {
    closed_form_losses(ctx, a, sec, mat);
    return out;
  }
  out.materials = resolve_loss(ctx, a, er, mat, model.coating.er);
  rlgc::PairOptions options;
  options.field.accuracy = model.accuracy;
  out.losses = std::make_unique<study::PairFieldLosses>(pair_materials(out.materials), options,
                                                        model.coating);
  return out;
}

void structure_er(Context& ctx, const LossArgs& a, const StructureArgs& st) {
  if (!given(a.material)) return;
  for (const Arg* x : {st.er, st.tand, st.er_above, st.tand_above, st.er_between, st.tand_between})
    if (x->given())
      throw UsageError(x->name + ": the layers are " + a.material->name +
                       "'s; its datasheet Dk and Df are every layer's (give one of them)");
  const Library lib = library(ctx, a);
  const materials::NamedDielectric& d = named_dielectric(lib, *a.material);
  // A named structure is built from --er: the material's Dk (a board's
  // layers keep theirs for the build; the statics take the material).
  if (st.structure->given()) {
    st.er->text = shortest(d.data.dk);
    st.er->set = true;
  }
}

rlgc::StackMaterials resolve_structure_loss(Context& ctx, const LossArgs& a, const stack::Stack& s,
                                            const Materials& closed, WidebandMaterials& m) {
  // The metal, the surfaces and (with --material) the dielectric.
  m = resolve_loss(ctx, a, 1.0f, closed);
  const bool material = given(a.material);
  m.per_layer = !material;
  materials::DielectricData own = m.substrate.data();
  own.model = given(a.dielectric_model) ? dielectric_model(*a.dielectric_model)
                                        : materials::DielectricModel::djordjevic_sarkar;
  if (!material) {
    own.dk = 1.0;
    own.df = 0.0;
    m.substrate = materials::Dielectric(own);
  } else {
    own.f_hz = materials::DielectricData{}.f_hz;  // the mask's pair where the datasheets hold
  }
  rlgc::StackMaterials sm = stack_materials(m, s.layers.size());
  // The layers' pairs (with a material only the mask's: the layers are its).
  stack::Stack pairs = s;
  if (material)
    for (stack::Layer& l : pairs.layers) l = {l.thickness, 1.0, 0.0, l.name};
  try {
    study::datasheet_dielectrics(pairs, own.f_hz, own.model, sm);
  } catch (const std::invalid_argument& e) {
    throw UsageError(std::string("the cross-section's dielectrics: ") + e.what());
  }
  if (material) sm.layers.assign(s.layers.size(), m.substrate);
  return sm;
}

rlgc::PairMaterials pair_materials(const WidebandMaterials& m) {
  rlgc::PairMaterials p;
  p.substrate = m.substrate;
  p.coating = m.coating;
  p.strip_resistivity = m.resistivity;
  p.strip_top = m.top;
  p.strip_bottom = m.bottom;
  p.strip_sides = m.sides;
  p.ground = {m.resistivity, m.ground};
  p.cover = {m.resistivity, m.ground};
  return p;
}

rlgc::StackMaterials stack_materials(const WidebandMaterials& m, std::size_t layers) {
  rlgc::StackMaterials s;
  s.layers.assign(layers, m.substrate);
  s.mask_set = true;
  s.mask = m.coating;
  s.resistivity = m.resistivity;
  s.top = m.top;
  s.bottom = m.bottom;
  s.sides = m.sides;
  s.ground = s.top_plane = {m.resistivity, m.ground};
  return s;
}

}  // namespace kx::cli
