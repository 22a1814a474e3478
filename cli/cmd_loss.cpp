// loss: the attenuation per length of each of the line's modes over a
// frequency range (a pair's differential and common ones), with its
// conductor and dielectric shares, losses from the field and the wideband
// materials; with --length the insertion loss of that length and its
// Touchstone file, single-ended or mixed-mode.
#include <cmath>
#include <complex>
#include <cstdlib>
#include <memory>

#include <kestrelix/rlgc_io.h>
#include "cli/commands.h"
#include "cli/wideband_line.h"
#include "studies/wideband.h"

namespace kx::cli {
namespace {

struct LossCommandArgs {
  LineArgs line;
  Arg* length{};
  Arg* touchstone{};
  Arg* reference{};
  bool mixed_mode = false;
};

double metres_per_unit(const Context& ctx) {
  const std::string& u = ctx.units();
  if (u == "mil") return 2.54e-5;
  if (u == "mm") return 1e-3;
  if (u == "um") return 1e-6;
  return 0.0254;
}

// The modes' names: a pair's diff and comm, a line's none, else 1, 2, ...
std::vector<std::string> mode_names(int n) {
  if (n == 1) return {""};
  if (n == 2) return {"_diff", "_comm"};
  std::vector<std::string> names;
  for (int k = 1; k <= n; ++k) names.push_back("_" + std::to_string(k));
  return names;
}

double level_db(std::complex<double> s) { return -20.0 * std::log10(std::abs(s)); }

int loss(Context& ctx, const LossCommandArgs& a) {
  const Line line = resolve_line(ctx, a.line);
  const int n = line.statics.conductors;
  const bool with_length = a.length->given();
  for (const Arg* needs : {a.touchstone, a.reference})
    if (needs->given() && !with_length)
      throw UsageError(needs->name + ": the S-parameters are of a length; give --length");
  if (a.mixed_mode && !a.touchstone->given() && ctx.format() != Format::touchstone)
    throw UsageError("--mixed-mode: the form of the Touchstone file; give --touchstone FILE");
  if (a.mixed_mode && n != 2) throw UsageError("--mixed-mode: mixed modes are a pair's");
  if (ctx.format() == Format::touchstone && !with_length)
    throw UsageError("--format touchstone: the S-parameters are of a length; give --length");
  study::SParameterPlan sp;
  sp.line = {line.statics, line.f_hz};
  float length = 0.0f;
  if (with_length) {
    length = ctx.length_to_inch(a.length->name, a.length->text);
    require_above(a.length->name, length, 0.0f);
    // The length as typed, in double precision (not through 32-bit inches).
    sp.length_m = std::strtod(a.length->text.c_str(), nullptr) * metres_per_unit(ctx);
  }
  if (a.reference->given()) {
    sp.z_ref = static_cast<double>(parse_number(a.reference->name, a.reference->text));
    require_above(a.reference->name, static_cast<float>(sp.z_ref), 0.0f);
  }
  const std::unique_ptr<OutputFile> file = a.touchstone->given() ? ctx.output_file(*a.touchstone)
                                                                 : nullptr;

  Document doc = ctx.document("loss");
  line_inputs(ctx, doc, line);
  if (with_length) doc.input("length", Unit::length, ctx.echo(length));
  if (file || ctx.format() == Format::touchstone) {
    doc.input("reference", Unit::impedance, sp.z_ref);
    doc.input("mixed_mode", Unit::none, a.mixed_mode);
  }
  doc.column("f", Unit::frequency, Precision::shortest(), "f");
  const std::vector<std::string> names = mode_names(n);
  std::vector<std::size_t> error_columns;
  for (const std::string& m : names) {
    const std::string head = m.empty() ? "" : " " + m.substr(1);
    doc.column("alpha" + m, Unit::attenuation, Precision::decimals(4), "Alpha" + head);
    doc.column("alpha_c" + m, Unit::attenuation, Precision::decimals(4), "Alpha c" + head);
    doc.column("alpha_d" + m, Unit::attenuation, Precision::decimals(4), "Alpha d" + head);
    const std::string z = n == 1 ? "z0" : m == "_diff" ? "zdiff" : m == "_comm" ? "zcomm" : "z" + m;
    doc.column(z, Unit::impedance, Precision::decimals(3), n == 1 ? "Z0" : "Z" + head);
    doc.column("eff" + m, Unit::none, Precision::decimals(4), "Eff" + head);
    error_columns.push_back(doc.column("alpha_c_error" + m, Unit::attenuation,
                                       Precision::decimals(4), "Alpha c error" + head));
  }
  for (const std::size_t k : error_columns) doc.hide_in_table(k);
  if (with_length) {
    if (n == 2) {
      doc.column("il_diff", Unit::level, Precision::decimals(4), "IL diff");
      doc.column("il_comm", Unit::level, Precision::decimals(4), "IL comm");
    } else {
      for (int k = 1; k <= n; ++k)
        doc.column("il" + (n == 1 ? std::string() : "_" + std::to_string(k)), Unit::level,
                   Precision::decimals(4),
                   "IL" + (n == 1 ? std::string() : " " + std::to_string(k)));
    }
  }

  // The modes at each frequency, then (with a length) the S-parameters.
  const double per_unit = metres_per_unit(ctx);
  std::vector<Row> rows;
  study::loss_study(
      sp.line,
      [&](const study::LossRow& r) {
        Row row;
        row.values.emplace_back(ghz(r.f_hz));
        std::vector<int> order;
        if (n == 2) {
          order = {r.differential, r.common};
        } else {
          for (int k = 0; k < n; ++k) order.push_back(k);
        }
        for (std::size_t k = 0; k < order.size(); ++k) {
          const rlgc::LineMode& m = r.modes[static_cast<std::size_t>(order[k])];
          // A pair's Zdiff = 2 z of its differential mode, Zcomm = z / 2.
          const double scale = n != 2 ? 1.0 : k == 0 ? 2.0 : 0.5;
          row.values.emplace_back(m.alpha * per_unit);
          row.values.emplace_back(m.alpha_c * per_unit);
          row.values.emplace_back(m.alpha_d * per_unit);
          row.values.emplace_back(scale * m.z.real());
          row.values.emplace_back(m.eff);
          row.values.emplace_back(m.alpha_c_error * per_unit);
        }
        rows.push_back(std::move(row));
        return true;
      },
      ctx.limits().stop);

  std::vector<double> f_hz;
  std::vector<rlgc::CMatrix> matrices;
  if (with_length) {
    std::size_t k = 0;
    study::sparameter_study(
        sp,
        [&](const study::SParameterRow& r) {
          Row& row = rows[k++];
          if (n == 2) {
            row.values.emplace_back(level_db(r.mixed(1, 0)));  // sdd21
            row.values.emplace_back(level_db(r.mixed(3, 2)));  // scc21
          } else {
            for (int c = 0; c < n; ++c) row.values.emplace_back(level_db(r.s(2 * c + 1, 2 * c)));
          }
          f_hz.push_back(r.f_hz);
          matrices.push_back(a.mixed_mode ? r.mixed : r.s);
          return true;
        },
        ctx.limits().stop);
  }
  for (Row& row : rows) {
    const double f = std::get<double>(row.values.front().data());
    if (!ctx.add_row(doc, std::move(row), shortest(f) + " GHz")) {
      if (file) ctx.err << "kestrelix loss: " << a.touchstone->text << " not written\n";
      return kExitFailed;
    }
  }

  std::string ts;
  if (file || ctx.format() == Format::touchstone) {
    std::vector<std::string> comments = line_description(ctx, line);
    comments.push_back("length " + ctx.length_text(length, true) + ", every port referred to " +
                       shortest(sp.z_ref) + " ohm");
    comments.push_back(
        a.mixed_mode ? "mixed modes: D1 (ports 1, 3 near), D2 (2, 4 far), C1, C2; the "
                       "differential ports referred to twice, the common ones to half"
                     : "ports: conductor k has port 2k-1 at the near end and 2k at the far end");
    ts = a.mixed_mode ? rlgc::touchstone_mixed_mode(f_hz, matrices, sp.z_ref, comments)
                      : rlgc::touchstone(f_hz, matrices, sp.z_ref, comments);
  }
  ctx.emit(doc, &ts);
  if (file) {
    file->write(ts);
    file->commit();
  }
  return kExitOk;
}

}  // namespace

void register_loss(Context& ctx) {
  auto a = std::make_shared<LossCommandArgs>();
  Command& cmd = ctx.add_command(
      "loss", "Attenuation per length of the line's modes over frequency (field, wideband)",
      [&ctx, a] { return loss(ctx, *a); }, true);
  add_line_options(ctx, cmd, a->line);
  a->length = ctx.add_value(cmd, "--length", "A length of the line: its insertion loss (and S)");
  a->touchstone = ctx.add_value(cmd, "--touchstone",
                                "Write the length's S-parameters to FILE (Touchstone 1.0, or 2.0 "
                                "with --mixed-mode)",
                                "FILE");
  a->reference = ctx.add_value(cmd, "--reference",
                               "Reference impedance of every single-ended port, ohms "
                               "(default 50)");
  ctx.add_flag(cmd, "--mixed-mode", a->mixed_mode,
               "The Touchstone file in mixed modes (sdd, sdc, scd, scc) of the pair");
}

}  // namespace kx::cli
