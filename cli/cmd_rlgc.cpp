// rlgc: the per-unit-length R, L, G and C matrices of the line over a
// frequency range (losses from the field, wideband materials), and the SPICE
// W element's RLGC file fitted to them.
#include <cmath>
#include <memory>

#include <kestrelix/rlgc_io.h>
#include "cli/commands.h"
#include "cli/wideband_line.h"
#include "studies/wideband.h"

namespace kx::cli {
namespace {

struct RlgcArgs {
  LineArgs line;
  Arg* w_element{};
  Arg* w_fit{};
};

// Each matrix's lower triangle by rows: r11, r21, r22, r31, ...
void columns(Document& doc, int n) {
  const struct {
    const char* name;
    Unit unit;
  } kinds[] = {{"r", Unit::resistance_per_m},
               {"l", Unit::inductance_per_m},
               {"g", Unit::conductance_per_m},
               {"c", Unit::capacitance_per_m}};
  doc.column("f", Unit::frequency, Precision::shortest(), "f");
  for (const auto& k : kinds)
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= i; ++j) {
        const std::string name = k.name + std::to_string(i) + std::to_string(j);
        std::string head = name;
        head[0] = static_cast<char>(head[0] - 'a' + 'A');
        doc.column(name, k.unit, Precision::sig(6), head);
      }
}

int rlgc(Context& ctx, const RlgcArgs& a) {
  const Line line = resolve_line(ctx, a.line);
  double w_fit = std::sqrt(line.f_start * line.f_stop);  // GHz: the band's middle in log
  if (a.w_fit->given()) {
    if (!a.w_element->given())
      throw UsageError(a.w_fit->name + ": the W element's fit frequency goes with --w-element");
    w_fit = static_cast<double>(parse_number(a.w_fit->name, a.w_fit->text));
    if (!(w_fit > 0.0)) throw UsageError(a.w_fit->name + ": must be above 0");
  }
  const std::unique_ptr<OutputFile> file = a.w_element->given() ? ctx.output_file(*a.w_element)
                                                                : nullptr;

  Document doc = ctx.document("rlgc");
  line_inputs(ctx, doc, line);
  const int n = line.statics.conductors;
  doc.summary("conductors", Unit::none, n);
  if (file) doc.summary("w_fit", Unit::frequency, w_fit);
  columns(doc, n);

  bool complete = true;
  study::rlgc_study(
      {line.statics, line.f_hz},
      [&](const rlgc::Rlgc& p) {
        Row row;
        row.values.emplace_back(ghz(p.f_hz));
        for (const rlgc::Matrix* m : {&p.r, &p.l, &p.g, &p.c})
          for (int i = 0; i < n; ++i)
            for (int j = 0; j <= i; ++j) row.values.emplace_back((*m)(i, j));
        return complete = ctx.add_row(doc, std::move(row), shortest(ghz(p.f_hz)) + " GHz");
      },
      ctx.limits().stop);
  if (!complete) {
    if (file) ctx.err << "kestrelix rlgc: " << a.w_element->text << " not written\n";
    return kExitFailed;
  }
  ctx.emit(doc);
  if (file) {
    std::vector<std::string> comments = line_description(ctx, line);
    comments.push_back("W element RLGC model fitted at " + shortest(w_fit) + " GHz");
    file->write(rlgc::w_element_file(rlgc::w_element_fit(line.statics, 1e9 * w_fit), comments));
    file->commit();
  }
  return kExitOk;
}

}  // namespace

void register_rlgc(Context& ctx) {
  auto a = std::make_shared<RlgcArgs>();
  Command& cmd = ctx.add_command("rlgc",
                                 "R, L, G, C matrices of the line over frequency (field, wideband)",
                                 [&ctx, a] { return rlgc(ctx, *a); });
  add_line_options(ctx, cmd, a->line);
  a->w_element = ctx.add_value(cmd, "--w-element",
                               "Write the SPICE W element's RLGC file (SI units) to FILE", "FILE");
  a->w_fit = ctx.add_value(cmd, "--w-fit",
                           "Where the W element equals the line, GHz (default: the geometric "
                           "middle of --f-range)");
}

}  // namespace kx::cli
