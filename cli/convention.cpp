#include "cli/convention.h"

namespace kx::cli {
Value coupling_db(float library_db) {
  if (library_db == no_coupling_db) return Value::none();
  return library_db;
}

float library_coupling(float coupling_db) { return coupling_db; }

float attenuation_e(const Modes& m) { return m.loss_e; }
float attenuation_o(const Modes& m) { return m.loss_o; }

float loss_db(float level_db) { return -level_db; }

}  // namespace kx::cli
