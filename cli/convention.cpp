#include "cli/convention.h"

namespace kx::cli {
namespace {
constexpr float kNoCoupling = -999.999f;  // sl1zo's level when Zoo >= Zoe
}  // namespace

Value coupling_db(float library_db) {
  if (library_db == kNoCoupling) return Value::none();
  return -library_db;
}

float library_coupling(float coupling_db) { return -coupling_db; }

float attenuation_e(const Modes& m) { return m.loss_e; }
float attenuation_o(const Modes& m) { return m.loss_o; }

float loss_db(float level_db) { return -level_db; }

}  // namespace kx::cli
