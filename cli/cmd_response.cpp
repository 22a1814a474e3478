// response: the four-port response of the coupler over a frequency range
// (the frequency analysis run, FORMAT 1 and 2 in one row), and optionally
// its full 4x4 scattering matrix as a Touchstone file.
#include <cmath>
#include <complex>
#include <memory>
#include <ostream>
#include <string>

#include <kestrelix/validity.h>
#include "cli/commands.h"
#include "cli/convention.h"
#include "shared/warnings.h"
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
};

std::string touchstone_row(float f, const SMatrix& s) {
  std::string text = shortest(f);
  for (const auto& row : s) {
    for (const std::complex<float>& c : row) {
      text += " " + shortest(c.real()) + " " + shortest(c.imag());
    }
    text += "\n";
    if (&row != &s.back()) text += " ";
  }
  return text;
}

// One frequency: a row of `doc` and, with `ts`, a point of the Touchstone
// file; false after the report at a point the models refuse.
bool response_row(const Context& ctx, Document& doc, const study::FourPortRow& r,
                  const Section& sec, std::string* ts) {
  if (r.response.modes.iflag != 0) {
    ctx.stop(doc);
    ctx.violation("   Frequency Analysis", sec, r.f, r.response.modes.iflag);
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
  row.values.insert(row.values.end(),
                    {p.vswr, p.phi, p.phase_error, loss_db(p.loss), loss_db(p.total)});
  row.flags = range_flags(sec, r.f);
  if (!ctx.add_row(doc, std::move(row), shortest(r.f) + " GHz")) return false;
  if (ts != nullptr) *ts += touchstone_row(r.f, r.response.s);
  return true;
}

int response(Context& ctx, const ResponseArgs& a) {
  Values v(ctx);
  const Section sec = resolve_section(v, a.sec, true, true);
  const Range fr = v.range(
      *a.f_range, [](const Design& d) { return d.fmindef; },
      [](const Design& d) { return d.fmaxdef; }, [](const Design& d) { return d.fstepdef; }, false);
  const bool by_centre = a.centre->given();
  float l = 0.0f;
  float centre = 0.0f;
  if (by_centre) {
    centre = parse_number(a.centre->name, a.centre->text);
  } else if (a.length->given() || ctx.defaults() != nullptr) {
    l = v.length(*a.length, [](const Design& d) { return d.ldef; });
  } else {
    v.missing("--length or --centre");
  }
  const float rs = v.number(
      *a.rs, [](const Design& d) { return d.rsdef; }, 50.0f);
  const float rl = v.number(
      *a.rl, [](const Design& d) { return d.rldef; }, 50.0f);
  const Materials mat = resolve_materials(v, a.sec, a.tlos);
  const float ref = a.reference->given() ? parse_number(a.reference->name, a.reference->text)
                                         : 50.0f;
  v.check();
  validate_section(a.sec, sec, true, true);
  const ModelSettings model = resolve_model(ctx, a.model);
  check_field_section(model, sec, "the section");
  require_at_least(a.f_range->name, fr.a, 0.0f);
  ctx.sweep_steps(a.f_range->name, fr.b, fr.a, fr.step);
  if (by_centre) {
    require_above(a.centre->name, centre, 0.0f);
  } else {
    require_above(a.length->name, l, 0.0f);
  }
  require_above(a.rs->name, rs, 0.0f);
  require_above(a.rl->name, rl, 0.0f);
  require_above(a.reference->name, ref, 0.0f);
  // Refused names end the run before anything is computed.
  const std::unique_ptr<OutputFile> file = a.touchstone->given() ? ctx.output_file(*a.touchstone)
                                                                 : nullptr;

  check_section(ctx, sec, true, true);
  CoupledLine line(model);
  // The design centre frequency of the length given, or the length of the
  // quarter wave at the centre frequency given.
  const study::Coupler coupler = study::coupler_of(line, sec, {by_centre ? 0.0f : l, centre});
  const float fo = coupler.centre;
  if (!by_centre && too_high(fo, sec.h)) {
    ctx.warn(warnings::kCentreTooHigh, warnings::kCentreTooHighAsk);
  }
  if (too_high(fr.a, sec.h)) ctx.warn(warnings::kTooHigh, warnings::kTooHighAsk);
  if (too_high(fr.b, sec.h)) ctx.warn(warnings::kTooHigh, warnings::kTooHighAsk);
  if (by_centre && too_high(fo, sec.h)) ctx.warn(warnings::kTooHigh, warnings::kTooHighAsk);
  l = coupler.length;
  const study::Baseline base = study::baseline(line, sec, mat, fo);

  Document doc = ctx.document("response");
  ctx.section_inputs(doc, sec);
  ctx.material_inputs(doc, mat);
  if (by_centre) {
    doc.input("centre", Unit::frequency, centre);
  } else {
    doc.input("length", Unit::length, ctx.from_inch(l));
  }
  doc.input("rs", Unit::impedance, rs);
  doc.input("rl", Unit::impedance, rl);
  doc.input("radiation", Unit::none, !a.no_radiation);
  ctx.range_inputs(doc, "f", Unit::frequency, fr);
  ctx.model_inputs(doc, model);
  doc.summary("length", Unit::length, ctx.from_inch(l));
  doc.summary("centre", Unit::frequency, fo);
  // Precisions of the FORMAT 1 and FORMAT 2 reports.
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
  doc.column("phi", Unit::angle, Precision::decimals(2), "Phase 2-4");
  doc.column("phase_error", Unit::angle, Precision::decimals(2), "Phase err");
  doc.column("loss", Unit::level, Precision::decimals(4), "Loss");
  doc.column("total_loss", Unit::level, Precision::decimals(4), "Total loss");

  // The baseline: the cross-section at the design frequency.
  if (base.modes.iflag != 0) {
    ctx.stop(doc);
    ctx.violation("   Frequency Analysis", sec, fo, base.modes.iflag);
    return kExitFailed;
  }
  if (model.model == Model::field)
    doc.summary("field_error", Unit::percent, field_error_pct(base.modes));

  const bool touchstone = file != nullptr || ctx.format() == Format::touchstone;
  std::string ts;
  if (touchstone) {
    doc.input("reference", Unit::impedance, ref);
    ts += "! " + std::string(kVersion) + ": edge-coupled microstrip coupler, 4x4 S-matrix\n";
    const std::string h2 = std::isinf(sec.h2) ? "no cover" : "H2 " + shortest(sec.h2) + " in";
    ts += "! Er " + shortest(sec.er) + ", H " + shortest(sec.h) + " in, " + h2 + ", W " +
          shortest(sec.w) + " in, S " + shortest(sec.s) + " in, T " + shortest(sec.t) + " in\n";
    if (model.model == Model::field) {
      ts += "! field solver's static values (" +
            std::string(model.accuracy == field::Accuracy::fine ? "fine" : "standard") + ")" +
            (model.coating.thickness > 0.0f ? ", coating " + shortest(model.coating.thickness) +
                                                  " in, Er " + shortest(model.coating.er)
                                            : std::string()) +
            "\n";
    }
    ts += "! RES " + shortest(mat.res) + " micro-ohm-cm, SR " + shortest(mat.sr) +
          " micro-inch, DLTAN " + shortest(mat.tlos) +
          (a.no_radiation ? ", radiation loss left out\n" : "\n");
    ts += "! length " + shortest(l) + " in (centre frequency " + shortest(fo) + " GHz)\n";
    ts += "! ports: 1 input, 2 coupled, 3 isolated, 4 thru\n";
    ts += "# GHz S RI R " + shortest(ref) + "\n";
  }

  study::FourPortPlan plan{sec, mat, l, rs, rl, {}, {fr.a, fr.b, fr.step}};
  plan.options.radiation = !a.no_radiation;  // off: the lossless case with lossless materials
  if (touchstone) plan.options.reference = ref;
  bool complete = true;
  study::four_port_sweep(
      line, plan,
      [&](const study::FourPortRow& r) {
        complete = response_row(ctx, doc, r, sec, touchstone ? &ts : nullptr);
        return complete;
      },
      ctx.limits().stop);
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
  ctx.add_model(cmd, a->model, false);
}

}  // namespace kx::cli
