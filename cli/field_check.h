// --check: the field solver's verdict on every closed-form row. The row's
// closed-form Zoe, Zoo and coupling against the field model's at the same
// cross-section and frequency (the same dispersion formulas on the solver's
// static values), and the flag closed_form_off where Zoe or Zoo is more than
// kClosedFormOffPct from it.
#pragma once

#include "cli/context.h"

namespace kx::cli {

class FieldCheck {
 public:
  // `model` as resolved (its accuracy is the solver's).
  explicit FieldCheck(const ModelSettings& model);

  // The columns field_dev_zoe_pct, field_dev_zoo_pct and field_dev_coupling_db.
  static void columns(Document& doc);
  // Appends them to `row` for the closed-form modes `closed` of `sec` at f,
  // and raises the row's closed_form_off.
  void add(Row& row, const Modes& closed, const Section& sec, float f);

 private:
  CoupledLine field_;
};

}  // namespace kx::cli
