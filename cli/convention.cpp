#include "cli/convention.h"

#include <cmath>

namespace kx::cli {
Value coupling_db(float library_db) {
  if (std::isnan(library_db)) return Value::none();  // Zoo at or above Zoe: no coupling
  return library_db;
}

float library_coupling(float coupling_db) { return coupling_db; }

float attenuation_e(const Modes& m) { return m.loss_e; }
float attenuation_o(const Modes& m) { return m.loss_o; }

float loss_db(float level_db) { return -level_db; }

}  // namespace kx::cli
