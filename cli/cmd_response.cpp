// response: the four-port response of the coupler over a frequency range
// (the frequency analysis run, FORMAT 1 and 2 in one row), and optionally
// its full 4x4 scattering matrix as a Touchstone file.
#include <cmath>
#include <complex>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include <kestrelix/validity.h>
#include "cli/commands.h"
#include "cli/convention.h"
#include "cli/loss_options.h"
#include "shared/touchstone.h"
#include "studies/sweeps.h"

namespace kx::cli {
namespace {

struct ResponseArgs {
  SectionArgs sec;
  Arg* f_range{};
  Arg* length{};
  Arg* centre{};
  Arg* rs{};
  Arg* rl{};
  Arg* tlos{};
  Arg* touchstone{};
  Arg* reference{};
  bool no_radiation = false;
  ModelArgs model;
  LossArgs loss;
};

// One frequency: a row of `doc` and, with `ts`, a point of the Touchstone
// file; false after the report at a point the models refuse.
bool response_row(const Context& ctx, Document& doc, const study::FourPortRow& r,
                  const Section& sec, float length, const ModelSettings& model,
                  study::FieldCheck* check, std::string* ts) {
  if (r.response.modes.iflag != 0) {
    ctx.stop(doc);
    ctx.violation(sec, r.f, r.response.modes.iflag);
    return false;
  }
  const Ports& p = r.response.ports;
  Row row;
  row.values.emplace_back(r.f);
  for (std::size_t i = 0; i < 4; ++i) {
    // A port that carries exactly nothing has no level and no phase (the
    // report prints a placeholder there).
    row.values.emplace_back(p.wave[i] ? Value(p.mag[i]) : Value::none());
    row.values.emplace_back(p.wave[i] ? Value(p.ang[i]) : Value::none());
  }
  // Total reflection has no finite VSWR, a port that takes nothing no loss
  // level: none.
  const auto level = [](float v) { return std::isinf(v) ? Value::none() : Value(v); };
  row.values.insert(row.values.end(), {level(p.vswr), p.phi, p.phase_error, level(loss_db(p.loss)),
                                       level(loss_db(p.total)), ctx.from_inch(length)});
  row.flags = range_flags(sec, r.f) | field_flags(model, r.response.modes.flags);
  if (check != nullptr) add_deviations(row, (*check)(r.response.modes, sec, r.f));
  if (!ctx.add_row(doc, std::move(row), shortest(r.f) + " GHz")) return false;
  if (ts != nullptr) *ts += touchstone::point(r.f, r.response.s);
  return true;
}

// The values of one run, resolved and checked.
struct Run {
  Section sec;
  Range fr;
  bool by_centre{};
  float length{}, centre{};  // as given (one of them)
  float rs{}, rl{};
  Materials mat;
  float ref{};
  ModelSettings model;
  FieldLosses field_losses;
};

Run resolve(Context& ctx, const ResponseArgs& a) {
  Values v(ctx);
  Run r;
  substrate_er(ctx, a.loss, a.sec);
  r.sec = resolve_section(v, a.sec, true, true);
  r.fr = v.range(
      *a.f_range, [](const Design& d) { return d.fmindef; },
      [](const Design& d) { return d.fmaxdef; }, [](const Design& d) { return d.fstepdef; }, false);
  r.by_centre = a.centre->given();
  if (r.by_centre) {
    r.centre = parse_number(a.centre->name, a.centre->text);
  } else if (a.length->given() || ctx.defaults() != nullptr) {
    r.length = v.length(*a.length, [](const Design& d) { return d.ldef; });
  } else {
    v.missing("--length or --centre");
  }
  r.rs = v.number(
      *a.rs, [](const Design& d) { return d.rsdef; }, 50.0f);
  r.rl = v.number(
      *a.rl, [](const Design& d) { return d.rldef; }, 50.0f);
  r.mat = resolve_materials(v, a.sec, a.tlos);
  r.ref = a.reference->given() ? parse_number(a.reference->name, a.reference->text) : 50.0f;
  v.check();
  validate_section(a.sec, r.sec, true, true);
  r.model = resolve_model(ctx, a.model, r.sec);
  validate_cover(a.sec, r.sec, r.model);
  check_field_section(r.model, r.sec, "the section");
  r.field_losses = resolve_field_losses(ctx, a.loss, a.sec, r.model, r.sec.er, r.mat);
  require_at_least(a.f_range->name, r.fr.a, 0.0f);
  ctx.sweep_steps(a.f_range->name, r.fr.b, r.fr.a, r.fr.step);
  if (r.by_centre) {
    require_above(a.centre->name, r.centre, 0.0f);
  } else {
    require_above(a.length->name, r.length, 0.0f);
  }
  require_above(a.rs->name, r.rs, 0.0f);
  require_above(a.rl->name, r.rl, 0.0f);
  require_above(a.reference->name, r.ref, 0.0f);
  return r;
}

// The comment lines (lengths in the run's unit) and the option line of the
// Touchstone file.
std::string touchstone_header(const Context& ctx, const Run& r, const study::Coupler& c,
                              bool radiation) {
  touchstone::Header h{
      std::string(kVersion), r.sec, r.mat, r.model, c, radiation, r.ref, false, {}};
  if (r.field_losses) {
    h.field_losses = true;
    h.loss_lines = loss_description(r.field_losses.materials);
  }
  return touchstone::header(h, [&ctx](float inches) { return ctx.length_text(inches, true); });
}

// The document's inputs, summary and columns (the precisions of the FORMAT 1
// and FORMAT 2 reports).
Document response_document(const Context& ctx, const Run& r, const study::Coupler& c,
                           bool radiation) {
  Document doc = ctx.document("response");
  ctx.section_inputs(doc, r.sec);
  ctx.material_inputs(doc, r.mat);
  if (r.field_losses) loss_inputs(doc, r.field_losses.materials);
  if (r.by_centre) {
    doc.input("centre", Unit::frequency, r.centre);
  } else {
    doc.input("length", Unit::length, ctx.echo(r.length));
  }
  doc.input("rs", Unit::impedance, r.rs);
  doc.input("rl", Unit::impedance, r.rl);
  doc.input("radiation", Unit::none, radiation);
  ctx.range_inputs(doc, "f", Unit::frequency, r.fr);
  ctx.model_inputs(doc, r.model);
  doc.summary("length", Unit::length, ctx.from_inch(c.length));
  doc.summary("centre", Unit::frequency, c.centre);
  doc.column("f", Unit::frequency, Precision::decimals(4), "f");
  doc.column("s11", Unit::level, Precision::decimals(1), "S11");
  doc.column("s11", Unit::angle, Precision::decimals(1), "S11");
  doc.column("s21", Unit::level, Precision::decimals(3), "S21");
  doc.column("s21", Unit::angle, Precision::decimals(1), "S21");
  doc.column("s31", Unit::level, Precision::decimals(1), "S31");
  doc.column("s31", Unit::angle, Precision::decimals(1), "S31");
  doc.column("s41", Unit::level, Precision::decimals(3), "S41");
  doc.column("s41", Unit::angle, Precision::decimals(1), "S41");
  doc.column("vswr", Unit::none, Precision::decimals(3), "VSWR");
  doc.column("phi", Unit::angle, Precision::decimals(2), "Phi");
  doc.column("phase_error", Unit::angle, Precision::decimals(2), "Phase error");
  // The power that does not reach the coupled and through ports, and the
  // power the conductors, the dielectric and the radiation take.
  doc.column("total_loss", Unit::level, Precision::decimals(4), "Total loss");
  doc.column("i2r_loss", Unit::level, Precision::decimals(4), "I*I*R loss");
  // The coupler's length on every row of CSV and JSON (the table says it
  // once, in the summary).
  doc.hide_in_table(doc.column("length", Unit::length, Precision::decimals(4), "Length"));
  return doc;
}

int response(Context& ctx, const ResponseArgs& a) {
  const Run r = resolve(ctx, a);
  // Refused names end the run before anything is computed.
  const std::unique_ptr<OutputFile> file = a.touchstone->given() ? ctx.output_file(*a.touchstone)
                                                                 : nullptr;
  const Section& sec = r.sec;
  check_section(ctx, sec, true, true);
  CoupledLine line(r.model);
  // The design centre frequency of the length given, or the length of the
  // quarter wave at the centre frequency given.
  const study::Coupler c = study::coupler_of(line, sec, {r.length, r.centre});
  if (!r.by_centre) check_frequency(ctx, c.centre, sec.h, true);
  check_frequency(ctx, r.fr.a, sec.h);
  check_frequency(ctx, r.fr.b, sec.h);
  if (r.by_centre) check_frequency(ctx, c.centre, sec.h);

  const bool radiation = !a.no_radiation;  // off: the lossless case with lossless materials
  Document doc = response_document(ctx, r, c, radiation);
  // The baseline: the cross-section at the design frequency.
  const study::Baseline base = study::baseline(line, sec, r.mat, c.centre);
  if (base.modes.iflag != 0) {
    ctx.stop(doc);
    ctx.violation(sec, c.centre, base.modes.iflag);
    return kExitFailed;
  }
  if (r.model.model == Model::field)
    doc.summary("field_error", Unit::percent, field_error_pct(base.modes));

  const bool touchstone = file != nullptr || ctx.format() == Format::touchstone;
  std::string ts;
  if (touchstone) {
    doc.input("reference", Unit::impedance, r.ref);
    ts = touchstone_header(ctx, r, c, radiation);
  }
  study::FourPortPlan plan{sec, r.mat, c.length, r.rs, r.rl, {}, {r.fr.a, r.fr.b, r.fr.step}};
  plan.options.radiation = radiation;
  study::LossesAt losses;
  if (r.field_losses) losses = [&](float f) { return r.field_losses.at(sec, f); };
  if (touchstone) plan.options.reference = r.ref;
  std::optional<study::FieldCheck> check;
  if (with_deviations(a.model, r.model)) {
    deviation_columns(doc);
    check.emplace(r.model);
  }
  bool complete = true;
  study::four_port_sweep(
      line, plan,
      [&](const study::FourPortRow& row) {
        return complete = response_row(ctx, doc, row, sec, c.length, r.model,
                                       check ? &*check : nullptr, touchstone ? &ts : nullptr);
      },
      ctx.limits().stop, losses);
  if (!complete) {
    if (a.touchstone->given()) {
      ctx.err << "kestrelix response: " << a.touchstone->text << " not written\n";
    }
    return kExitFailed;
  }
  ctx.emit(doc, &ts);
  if (file != nullptr) {
    file->write(ts);
    file->commit();
  }
  return kExitOk;
}
}  // namespace

void register_response(Context& ctx) {
  auto a = std::make_shared<ResponseArgs>();
  Command& cmd = ctx.add_command(
      "response", "Four-port response of the coupler", [&ctx, a] { return response(ctx, *a); },
      true);
  a->sec = ctx.add_section(cmd, true);
  a->f_range = ctx.add_value(cmd, "--f-range", "Frequencies START:STOP:STEP, GHz");
  a->length = ctx.add_value(cmd, "--length", "Coupler length L");
  a->centre = ctx.add_value(cmd, "--centre",
                            "Design centre frequency, GHz: the length is a quarter wave there", "",
                            "--center");
  ctx.excludes(a->centre, a->length);
  a->rs = ctx.add_value(cmd, "--rs", "Source termination, ohms (default 50)");
  a->rl = ctx.add_value(cmd, "--rl", "Load termination, ohms (default 50)");
  a->tlos = ctx.add_value(cmd, "--tlos", "Dielectric loss tangent (default 0)");
  a->touchstone = ctx.add_value(cmd, "--touchstone", "Write the 4x4 S-matrix to FILE.s4p", "FILE");
  a->reference = ctx.add_value(cmd, "--reference",
                               "Reference impedance of the Touchstone file, ohms (default 50)");
  ctx.add_flag(cmd, "--no-radiation", a->no_radiation,
               "Leave out the radiation loss of the open pair (lossless reference case)");
  ctx.add_model(cmd, a->model, false, true);
  a->loss = add_loss_options(ctx, cmd, a->sec);
}

}  // namespace kx::cli
