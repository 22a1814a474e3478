// The materials file: named dielectrics (a datasheet pair and its model),
// conductors and surface roughness profiles, in JSON, that every face reads.
// The program ships a few generic entries (builtin_materials(); their text
// is share/kestrelix/materials.json). The layout (doc/wideband.md):
//
//   {"format": "kestrelix-materials", "version": 1,
//    "dielectrics": [{"name": "fr4_like", "dk": 4.3, "df": 0.02, "f_ghz": 1.0,
//                     "model": "djordjevic_sarkar" | "constant",
//                     "f_low_hz": 1e3, "f_high_hz": 1e12,   (optional)
//                     "description": "...", "source": "..."}],     (optional)
//    "conductors": [{"name": "copper", "resistivity_ohm_m": 1.7241e-8}],
//    "roughness": [{"name": "...", "model": "hammerstad_bekkadal" | "groisse",
//                   "rq_um": 1.0},
//                  {"name": "...", "model": "huray", "sphere_radius_um": 0.5,
//                   "spheres": 14, "tile_area_um2": 87.4, "matte_ratio": 1}]}
//
// "conductors" and "roughness" may be left out; names are unique within a
// section; other keys are refused (a misspelt key is an error, not a
// default).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <kestrelix/materials.h>

namespace kx::materials {

struct NamedDielectric {
  std::string name, description, source;
  DielectricData data;
};
struct NamedConductor {
  std::string name, description, source;
  double resistivity = copper_resistivity;  // ohm m
};
struct NamedRoughness {
  std::string name, description, source;
  Roughness roughness;
};

struct MaterialsFile {
  std::vector<NamedDielectric> dielectrics;
  std::vector<NamedConductor> conductors;
  std::vector<NamedRoughness> roughness;
  // The entry of that name, or nullptr.
  const NamedDielectric* dielectric(std::string_view name) const;
  const NamedConductor* conductor(std::string_view name) const;
  const NamedRoughness* roughness_profile(std::string_view name) const;
};

// Reads the JSON text of a materials file. Throws std::invalid_argument with
// one line "ORIGIN: WHERE: WHY" (WHERE like dielectrics[2].df) for text that
// is not such a file, an entry that fails its check, or a repeated name.
MaterialsFile parse_materials(std::string_view json, std::string_view origin = "materials file");

// Reads the file at `path` (at most 1 MiB). Throws std::runtime_error when it
// cannot be read, std::invalid_argument as parse_materials.
MaterialsFile read_materials_file(const std::string& path);

// The generic entries shipped with the program, and their JSON text.
const MaterialsFile& builtin_materials();
std::string_view builtin_materials_text();

}  // namespace kx::materials
