#include "cli/wideband_line.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <variant>

#include <kestrelix/stackup_file.h>

#include "studies/wideband.h"

namespace kx::cli {
namespace {

constexpr double kMetrePerInch = 0.0254;

// A GHz range START:STOP:STEP in double precision.
struct GhzRange {
  double start, stop, step;
};
GhzRange ghz_range(const Arg& a) {
  double v[3];
  std::size_t at = 0;
  for (int k = 0; k < 3; ++k) {
    const std::size_t colon = k < 2 ? a.text.find(':', at) : a.text.size();
    if (colon == std::string::npos || (k == 2 && a.text.find(':', at) != std::string::npos))
      throw UsageError(a.name + ": expected three numbers START:STOP:STEP, got '" + a.text + "'");
    v[k] = static_cast<double>(parse_number(a.name, a.text.substr(at, colon - at)));
    at = colon + 1;
  }
  return {v[0], v[1], v[2]};
}

// The frequencies of --f-range into `line`.
void read_frequencies(const Context& ctx, const Arg& a, Line& line) {
  const GhzRange r = ghz_range(a);
  if (!(r.start > 0.0)) throw UsageError(a.name + ": the start must be above 0 GHz");
  if (!(r.step > 0.0)) throw UsageError(a.name + ": the step must be above 0");
  if (r.stop < r.start)
    throw UsageError(a.name + ": the start is above the end; a range runs from low to high");
  const long long most = std::min<long long>(kMaxSteps, ctx.limits().max_points);
  line.f_hz = study::frequencies(1e9 * r.start, 1e9 * r.stop, 1e9 * r.step, most);
  if (line.f_hz.empty())
    throw UsageError(a.name + ": too many points (at most " + std::to_string(most) + ")");
  line.f_start = r.start;
  line.f_stop = r.stop;
  line.f_step = r.step;
}

double metres_per_unit(const Context& ctx) {
  stack::Unit u = stack::Unit::in;
  stack::parse_unit(ctx.units(), u);
  return stack::mm_per(u) / 1000.0;
}

// A board cross-section on the general solver.
Line resolve_structure_line(Context& ctx, const LineArgs& a) {
  Line line;
  line.structure = true;
  const struct {
    const Arg* arg;
    const char* instead;
  } pair_only[] = {
      {a.sec.h2,
       "a structure's planes are its own (stripline, offset-stripline, a stackup file's "
       "top_plane)"},
      {a.tlos, "give the layer's --tand"},
      {a.loss.dk,
       "a structure's layers are their own datasheet pairs (--er and --tand, or the "
       "stackup file's), or --material's"},
      {a.loss.df,
       "a structure's layers are their own datasheet pairs (--er and --tand, or the "
       "stackup file's), or --material's"},
      {a.loss.coat_tlos, "give the solder mask's --mask-tand"},
      {a.model.coat_thickness, "give the solder mask (--mask-over-trace, --mask-er)"},
      {a.model.coat_er, "give the solder mask (--mask-over-trace, --mask-er)"},
  };
  for (const auto& p : pair_only)
    if (p.arg->given())
      throw UsageError(p.arg->name + ": the edge-coupled pair's option; " + p.instead);
  structure_er(ctx, a.loss, a.st);
  line.board = resolve_structure(ctx, a.st);
  if (a.model.accuracy->given()) {
    if (a.model.accuracy->text == "fine") {
      line.accuracy = stack::Accuracy::fine;
    } else if (a.model.accuracy->text != "standard") {
      throw UsageError(a.model.accuracy->name + ": standard or fine, not '" +
                       a.model.accuracy->text + "'");
    }
  }
  Values v(ctx);
  const Materials closed = resolve_materials(v, a.sec, nullptr);
  if (!a.f_range->given()) v.missing(a.f_range->name);
  v.check();
  read_frequencies(ctx, *a.f_range, line);

  const rlgc::StackMaterials m =
      resolve_structure_loss(ctx, a.loss, line.board.stack, closed, line.materials);
  rlgc::StackOptions options;
  options.unit_m = metres_per_unit(ctx);
  options.field.accuracy = line.accuracy;
  try {
    line.statics = rlgc::stack_statics(line.board.stack, m, options);
  } catch (const std::invalid_argument& e) {
    throw UsageError(std::string("the cross-section: ") + e.what());
  }
  return line;
}

// An input's value as text.
std::string text_of(const Value& v) {
  struct Visit {
    std::string operator()(std::monostate) const { return "none"; }
    std::string operator()(float x) const { return shortest(x); }
    std::string operator()(double x) const { return shortest(x); }
    std::string operator()(long long x) const { return std::to_string(x); }
    std::string operator()(unsigned long long x) const { return std::to_string(x); }
    std::string operator()(const std::string& x) const { return x; }
    std::string operator()(bool x) const { return x ? "yes" : "no"; }
    std::string operator()(const std::vector<float>&) const { return "..."; }
    std::string operator()(const std::vector<long long>&) const { return "..."; }
  };
  return std::visit(Visit{}, v.data());
}

// The structure's inputs as shown: with a material the layers' Er and
// loss tangent are its (dk, df), not the structure's.
std::vector<BoardSection::Input> shown_inputs(const Line& line) {
  std::vector<BoardSection::Input> in = line.board.inputs;
  if (line.materials.substrate_name.empty()) return in;
  const auto layer_pair = [](const BoardSection::Input& x) {
    for (const char* n : {"er", "tand", "er_above", "tand_above", "er_between", "tand_between"})
      if (x.name == n) return true;
    return false;
  };
  in.erase(std::remove_if(in.begin(), in.end(), layer_pair), in.end());
  return in;
}

}  // namespace

void add_line_options(Context& ctx, Command& cmd, LineArgs& a) {
  // The pair's section; a structure takes --er --h --w --s --t as its own.
  a.sec.er = ctx.add_value(cmd, "--er",
                           "Substrate relative dielectric constant Er (a structure: of the "
                           "dielectric below the trace)");
  a.sec.h = ctx.add_value(cmd, "--h",
                          "Substrate thickness H (a structure: the dielectric below the trace; "
                          "stripline: each side of it)");
  a.sec.h2 = ctx.add_value(cmd, "--h2",
                           "Top cover height above the substrate H2 (inf: none; above the "
                           "strips, T + any coating)");
  a.sec.w = ctx.add_value(cmd, "--w", "Strip width W (a structure: at its bottom)");
  a.sec.s = ctx.add_value(cmd, "--s", "Gap between the strips S");
  a.sec.t =
      ctx.add_value(cmd, "--t", "Strip thickness T (a KiCad layer: default the layer's copper)");
  a.sec.res =
      ctx.add_value(cmd, "--res", "Conductor resistivity, micro-ohm-cm (default 1.7, copper)");
  a.sec.sr = ctx.add_value(cmd, "--sr", "RMS surface roughness, micro-inch (default 2.5)");
  a.tlos = ctx.add_value(cmd, "--tlos", "Dielectric loss tangent (default 0)");
  a.model.field_only = true;
  ctx.add_model(cmd, a.model, false);
  a.loss = add_loss_options(ctx, cmd, a.sec, true);
  a.f_range = ctx.add_value(cmd, "--f-range", "Frequencies START:STOP:STEP, GHz (above 0)");
  declare_structure(ctx, cmd, a.st, &a.sec);
}

Line resolve_line(Context& ctx, const LineArgs& a) {
  if (structure_given(a.st)) return resolve_structure_line(ctx, a);
  for (const Arg* x : structure_only_args(a.st))
    if (x->given())
      throw UsageError(x->name +
                       ": a board cross-section's option; give --structure, --stackup or --kicad");
  if (a.st.pair)
    throw UsageError(
        "--pair: a board cross-section's option; give --structure, --stackup or --kicad");
  Line line;
  substrate_er(ctx, a.loss, a.sec);
  Values v(ctx);
  line.sec = resolve_section(v, a.sec, true, true);
  const Materials closed = resolve_materials(v, a.sec, a.tlos);
  if (!a.f_range->given()) v.missing(a.f_range->name);
  v.check();
  validate_section(a.sec, line.sec, true, true);
  line.model = resolve_model(ctx, a.model, line.sec);
  check_field_section(line.model, line.sec, "the section");
  read_frequencies(ctx, *a.f_range, line);

  line.materials = resolve_loss(ctx, a.loss, line.sec.er, closed, line.model.coating.er);
  field::Geometry g = field_geometry(line.sec, line.model.coating);
  for (double* x : {&g.h, &g.w, &g.s, &g.t, &g.h2, &g.coat}) *x *= kMetrePerInch;
  rlgc::PairOptions options;
  options.field.accuracy = line.model.accuracy;
  try {
    line.statics = rlgc::pair_statics(g, pair_materials(line.materials), options);
  } catch (const std::invalid_argument& e) {
    throw UsageError(std::string("the section: ") + e.what());
  }
  return line;
}

std::vector<std::string> line_description(const Context& ctx, const Line& line) {
  std::vector<std::string> out;
  if (line.structure) {
    const BoardSection& board = line.board;
    out.push_back(std::string(kVersion) + ": " + board.structure + (board.pair ? " pair" : "") +
                  " on the general field solver, " + std::to_string(line.statics.conductors) +
                  " conductor" + (line.statics.conductors == 1 ? "" : "s") +
                  ", losses from the field");
    std::string dims;
    for (const BoardSection::Input& in : shown_inputs(line)) {
      if (in.name == "structure" || in.name == "pair") continue;
      dims += (dims.empty() ? "" : ", ") + in.name + " " + text_of(in.value) +
              (in.length && in.value.defined() ? " " + ctx.units() : "");
    }
    out.push_back(dims);
    for (std::string& s : loss_description(line.materials)) out.push_back(std::move(s));
    return out;
  }
  const Section& sec = line.sec;
  const auto len = [&ctx](float inches) { return ctx.length_text(inches, true); };
  out.push_back(std::string(kVersion) + ": edge-coupled pair, losses from the field");
  out.push_back("H " + len(sec.h) + ", " +
                (std::isinf(sec.h2) ? std::string("no cover") : "H2 " + len(sec.h2)) + ", W " +
                len(sec.w) + ", S " + len(sec.s) + ", T " + len(sec.t) +
                (line.model.coating.thickness > 0.0f
                     ? ", coating " + len(line.model.coating.thickness) + " Er " +
                           shortest(line.model.coating.er)
                     : std::string()));
  for (std::string& s : loss_description(line.materials)) out.push_back(std::move(s));
  return out;
}

void line_inputs(const Context& ctx, Document& doc, const Line& line) {
  if (line.structure) {
    BoardSection board = line.board;
    board.inputs = shown_inputs(line);
    structure_inputs(doc, board);
    loss_inputs(doc, line.materials);
    doc.input("accuracy", Unit::none, line.accuracy == stack::Accuracy::fine ? "fine" : "standard");
  } else {
    ctx.section_inputs(doc, line.sec);
    loss_inputs(doc, line.materials);
    ctx.model_inputs(doc, line.model);
  }
  doc.input("f_start", Unit::frequency, line.f_start);
  doc.input("f_stop", Unit::frequency, line.f_stop);
  doc.input("f_step", Unit::frequency, line.f_step);
  doc.summary("field_error", Unit::percent,
              100.0 * std::max(line.statics.error_c, line.statics.error_l));
}

}  // namespace kx::cli
