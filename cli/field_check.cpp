#include "cli/field_check.h"

#include <cmath>

#include <kestrelix/validity.h>

namespace kx::cli {
namespace {

ModelSettings field_model(const ModelSettings& model) {
  ModelSettings f;
  f.model = Model::field;
  f.accuracy = model.accuracy;
  return f;
}

}  // namespace

FieldCheck::FieldCheck(const ModelSettings& model) : field_(field_model(model)) {}

void FieldCheck::columns(Document& doc) {
  doc.column("field_dev_zoe", Unit::percent, Precision::decimals(2), "Zoe dev");
  doc.column("field_dev_zoo", Unit::percent, Precision::decimals(2), "Zoo dev");
  doc.column("field_dev_coupling", Unit::level, Precision::decimals(3), "Coupling dev");
}

void FieldCheck::add(Row& row, const Modes& closed, const Section& sec, float f) {
  const Modes m = field_.at(sec, f);
  const Value zoe = deviation_pct(closed.zoe, m.zoe);
  const Value zoo = deviation_pct(closed.zoo, m.zoo);
  const float dc = closed.coupling_db - m.coupling_db;
  row.values.insert(row.values.end(), {zoe, zoo, std::isfinite(dc) ? Value(dc) : Value::none()});
  const auto off = [](const Value& v) {
    const float* d = std::get_if<float>(&v.data());
    return d != nullptr && std::fabs(*d) > kClosedFormOffPct;
  };
  if (off(zoe) || off(zoo)) row.flags |= flag_closed_form_off;
}

}  // namespace kx::cli
