// line: the lines of a board cross-section on the general field solver: a
// named structure, a stackup file or a KiCad board's layer
// (cli/structure_options.h). A line's Z0, effective permittivity and delay,
// a pair's Zdiff, Zcomm, Zoe, Zoo and delays, the modes and matrices; the
// width or gap for a target (kestrelix/structure.h); the crosstalk from
// neighbours; the program's closed forms beside the solver where it has
// them; or the spread and yield over the stack's tolerances
// (tolerance/stack_tolerance.h).
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <kestrelix/stackup_file.h>
#include <kestrelix/structure.h>
#include <kestrelix/validity.h>

#include "cli/commands.h"
#include "cli/line_document.h"
#include "cli/structure_options.h"

namespace kx::cli {
namespace {

using study::StructureSolve;

struct LineArgs {
  StructureArgs st;
  Arg* accuracy{};
  Arg* z0{};
  Arg* zdiff{};
  Arg* zcomm{};
  Arg* pitch{};
  Arg* neighbour{};
  bool both_sides = false;
  bool check = false;
  std::array<Arg*, tol::n_stack_params> tol{};
  std::string dist = "normal";
  Arg* samples{};
  Arg* seed{};
  Arg* threads{};
  std::vector<std::string> limits;
};

double target(const Arg& a) {
  const double v = parse_double(a.name, a.text);
  if (!(v > 0.0)) throw UsageError(a.name + ": must be above 0");
  return v;
}

bool is_pair(const LineArgs& a) {
  if (a.st.pair) return true;
  if (!a.st.structure->given()) return false;
  const std::string& n = a.st.structure->text;
  return n.size() > 5 && n.compare(n.size() - 5, 5, "-pair") == 0;
}

// What the options ask the search for, and what it leaves open.
StructureSolve solve_of(const LineArgs& a, StructureNeeds& needs) {
  const bool pair = is_pair(a);
  const StructureArgs& s = a.st;
  const bool file = s.stackup->given();
  const bool broadside = s.structure->given() && s.structure->text == "broadside-pair";
  if (a.z0->given()) {
    if (pair) throw UsageError(a.z0->name + ": a line's target; a pair takes --zdiff");
    needs.w = false;
    return StructureSolve::width_for_z0;
  }
  for (const Arg* x : {a.zdiff, a.zcomm, a.pitch}) {
    if (x->given() && !pair) throw UsageError(x->name + ": a pair's; give --pair");
  }
  if (!a.zdiff->given()) {
    for (const Arg* x : {a.zcomm, a.pitch}) {
      if (x->given()) throw UsageError(x->name + ": give --zdiff as well");
    }
    return StructureSolve::none;
  }
  if (a.zcomm->given()) {
    for (const Arg* x : {a.pitch, s.w, s.s}) {
      if (x->given()) {
        throw UsageError(x->name + ": --zdiff with --zcomm finds W and S; leave it out");
      }
    }
    needs.w = needs.s = false;
    return StructureSolve::width_and_gap_for_zdiff_and_zcomm;
  }
  if (a.pitch->given()) {
    if (file || broadside) {
      throw UsageError(a.pitch->name +
                       ": takes a pair built on one layer (--structure or --kicad)");
    }
    for (const Arg* x : {s.w, s.s}) {
      if (x->given()) {
        throw UsageError(x->name + ": --zdiff with --pitch finds W and S; leave it out");
      }
    }
    needs.pitch = target(*a.pitch);
    return StructureSolve::width_and_gap_at_pitch;
  }
  if (file || broadside) {
    if (broadside && s.w->given()) {
      throw UsageError(s.w->name + ": --zdiff on a broadside pair finds the width; leave it out");
    }
    needs.w = false;
    return StructureSolve::width_for_zdiff;
  }
  if (s.w->given() == s.s->given()) {
    throw UsageError(
        "--zdiff: give --w (to find S) or --s (to find W), --pitch (to find both at that pitch) "
        "or --zcomm as well (to find both)");
  }
  if (s.w->given()) {
    needs.s = false;
    return StructureSolve::gap_for_zdiff;
  }
  needs.w = false;
  return StructureSolve::width_for_zdiff;
}

const char* solve_name(StructureSolve s) {
  switch (s) {
    case StructureSolve::width_for_z0:
    case StructureSolve::width_for_zdiff:
      return "w";
    case StructureSolve::gap_for_zdiff:
      return "s";
    case StructureSolve::width_and_gap_at_pitch:
      return "w_s_at_pitch";
    case StructureSolve::width_and_gap_for_zdiff_and_zcomm:
      return "w_s";
    case StructureSolve::none:
      break;
  }
  return "none";
}

double m_per_unit(const Context& ctx) {
  kx::stack::Unit u = kx::stack::Unit::in;
  kx::stack::parse_unit(ctx.units(), u);
  return kx::stack::mm_per(u) / 1000.0;
}

// A tolerance run: any --tol-* option; its other options without one are a
// usage error (a run that varies nothing).
bool tolerance_asked(const LineArgs& a) {
  for (const Arg* t : a.tol) {
    if (t->given()) return true;
  }
  for (const Arg* x : {a.samples, a.seed, a.threads}) {
    if (x->given()) throw UsageError(x->name + ": a tolerance run's option; give a --tol-* option");
  }
  if (!a.limits.empty())
    throw UsageError("--limit: a tolerance run's option; give a --tol-* option");
  if (a.dist != "normal")
    throw UsageError("--dist: a tolerance run's option; give a --tol-* option");
  return false;
}

// The tolerance study of the options on the solved structure `nominal`.
tol::StackStudy tolerance_study(const Context& ctx, const LineArgs& a,
                                const study::StructurePlan& plan, const kx::stack::Stack& nominal) {
  tol::StackStudy st;
  st.nominal = nominal;
  st.pair = plan.pair;
  st.settings = plan.settings;
  for (int k = 0; k < tol::n_stack_params; ++k) {
    const auto uk = static_cast<std::size_t>(k);
    const Arg& t = *a.tol[uk];
    if (!t.given()) continue;
    const bool pct = !t.text.empty() && t.text.back() == '%';
    if (pct && k == tol::sp_etch) throw UsageError(t.name + ": give the etch offset as a length");
    const double v = parse_double(t.name, pct ? t.text.substr(0, t.text.size() - 1) : t.text);
    if (!(v >= 0.0)) throw UsageError(t.name + ": must be 0 or above");
    st.half[uk] = pct ? v / 100.0 : v;
    st.relative[uk] = pct;
  }
  if (!plan.pair && a.tol[tol::sp_s]->given()) {
    throw UsageError(a.tol[tol::sp_s]->name + ": a line has no gap; give --pair");
  }
  st.dist = a.dist == "uniform" ? tol::Dist::uniform : tol::Dist::normal;
  const RunLimits& lim = ctx.limits();
  st.samples =
      whole<long long>(*a.samples, 1000, 1, std::min(lim.max_samples, tol::max_stack_samples));
  st.seed = whole<std::uint64_t>(*a.seed, 1, 0, UINT64_MAX);
  st.threads = whole<unsigned>(*a.threads, 0, 0, 256);
  if (lim.max_threads != 0) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    st.threads = std::min(st.threads == 0 ? cores : st.threads, lim.max_threads);
  }
  for (const std::string& text : a.limits) {
    try {
      st.limits.push_back(tol::parse_stack_limit(text, plan.pair));
    } catch (const tol::Error& e) {
      throw UsageError("--limit: " + std::string(e.what()));
    }
  }
  st.delay_scale = 1e12 * m_per_unit(ctx);
  st.stop = ctx.limits().stop;
  if (const std::string why = tol::check_stack(st); !why.empty()) throw UsageError(why);
  return st;
}

int line(Context& ctx, const LineArgs& a) {
  StructureNeeds needs;
  const StructureSolve solve = solve_of(a, needs);
  const BoardSection board = resolve_structure(ctx, a.st, needs);

  study::StructurePlan plan;
  plan.stack = board.stack;
  plan.pair = board.pair;
  plan.solve = solve;
  if (a.accuracy->given()) {
    if (a.accuracy->text == "fine") {
      plan.settings.accuracy = kx::stack::Accuracy::fine;
    } else if (a.accuracy->text != "standard") {
      throw UsageError(a.accuracy->name + ": standard or fine, not '" + a.accuracy->text + "'");
    }
  }
  if (a.z0->given()) plan.z0 = target(*a.z0);
  if (a.zdiff->given()) plan.zdiff = target(*a.zdiff);
  if (a.zcomm->given()) {
    plan.zcomm = target(*a.zcomm);
    if (!(2.0 * plan.zcomm > plan.zdiff / 2.0)) {
      throw UsageError(a.zcomm->name + ": must be above a quarter of --zdiff (Zoe above Zoo)");
    }
  }
  const bool tolerance = tolerance_asked(a);
  if (a.neighbour->given()) {
    if (board.from_file && board.stack.signals().size() > (board.pair ? 2u : 1u)) {
      throw UsageError(a.neighbour->name +
                       ": the stackup file's further signals are the aggressors already");
    }
    plan.neighbour_gap = target(*a.neighbour);
    plan.both_sides = a.both_sides;
  } else if (a.both_sides) {
    throw UsageError("--both-sides: give --neighbour GAP");
  }
  if (tolerance) {
    for (const Arg* x : {a.neighbour}) {
      if (x->given()) throw UsageError(x->name + ": a tolerance run takes the line or pair alone");
    }
    if (a.check) throw UsageError("--check: not with a tolerance run");
  }
  plan.closed_forms = a.check;
  plan.inches_per_unit = m_per_unit(ctx) / 0.0254;

  const study::Structure s = study::structure(plan, ctx.limits().stop);
  if (!s.solved) {
    if (a.neighbour->given() && (s.flags & flag_refused) != 0 && s.lines.size() > 0) {
      throw UsageError(a.neighbour->name + ": " + s.reason);
    }
    if ((s.flags & flag_refused) != 0) throw UsageError("the cross-section: " + s.reason);
    std::string what = "the target";
    if (solve == StructureSolve::width_for_z0) what = "Z0 " + shortest(plan.z0) + " ohm";
    if (plan.zdiff > 0.0) what = "Zdiff " + shortest(plan.zdiff) + " ohm";
    if (plan.zcomm > 0.0) what += " with Zcomm " + shortest(plan.zcomm) + " ohm";
    throw RunError(what + " cannot be met: " + s.reason);
  }
  if (a.check && !s.closed.available) throw UsageError("--check: " + s.closed.reason);

  Document doc = ctx.document("line");
  structure_inputs(doc, board);
  doc.input("accuracy", Unit::none,
            plan.settings.accuracy == kx::stack::Accuracy::fine ? "fine" : "standard");
  if (a.z0->given()) doc.input("z0", Unit::impedance, plan.z0);
  if (a.zdiff->given()) doc.input("zdiff", Unit::impedance, plan.zdiff);
  if (a.zcomm->given()) doc.input("zcomm", Unit::impedance, plan.zcomm);
  if (a.pitch->given()) doc.input("pitch", Unit::length, needs.pitch);

  if (tolerance) {
    const tol::StackStudy st = tolerance_study(ctx, a, plan, s.stack);
    tol::StackSummary sum;
    try {
      sum = tol::run_stack(st);
    } catch (const tol::Error& e) {
      throw RunError(e.what());
    }
    for (int k = 0; k < tol::n_stack_params; ++k) {
      const auto uk = static_cast<std::size_t>(k);
      if (st.half[uk] == 0.0) continue;
      const std::string name = std::string("tol_") + tol::stack_param_names[uk];
      const bool length = k != tol::sp_er && k != tol::sp_mask_er;
      if (st.relative[uk]) {
        doc.input(name, Unit::percent, 100.0 * st.half[uk]);
      } else {
        doc.input(name, length ? Unit::length : Unit::none, st.half[uk]);
      }
      if (sum.moved[uk] == 0) {
        ctx.warn(a.tol[uk]->name + ": the cross-section has nothing it varies");
      }
    }
    const bool normal = st.dist == tol::Dist::normal;
    doc.input("distribution", Unit::none, normal ? "normal" : "uniform");
    doc.input("half_width", Unit::none, normal ? "3 sigma" : "bounds");
    doc.input("samples", Unit::none, st.samples);
    doc.input("seed", Unit::none, static_cast<unsigned long long>(st.seed));
    line_tolerance_rows(doc, st, sum);
    doc.summary("solve", Unit::none, solve_name(solve));
    doc.summary("w", Unit::length, s.width);
    if (plan.pair) doc.summary("s", Unit::length, s.gap);
    doc.flag_note(
        "the nominal cross-section's error estimate is above what --accuracy promises "
        "(field_error)");
    ctx.emit(doc);
    return kExitOk;
  }

  if (plan.neighbour_gap > 0.0) {
    doc.input("neighbour", Unit::length, plan.neighbour_gap);
    doc.input("both_sides", Unit::none, plan.both_sides);
  }
  if (a.check) doc.input("check", Unit::none, true);
  LineUnits units;
  units.m_per_unit = m_per_unit(ctx);
  // The width and gap as typed where the search left them.
  const bool found_w = solve != StructureSolve::none && solve != StructureSolve::gap_for_zdiff;
  const bool found_s = solve == StructureSolve::gap_for_zdiff ||
                       solve == StructureSolve::width_and_gap_at_pitch ||
                       solve == StructureSolve::width_and_gap_for_zdiff_and_zcomm;
  const double w = !found_w && std::isfinite(board.w) ? board.w : s.width;
  const double gap = !found_s && std::isfinite(board.s) ? board.s : s.gap;
  line_rows(doc, s, plan.pair, units, w, gap);
  line_summary(doc, s, plan.pair, solve_name(solve), w, gap);
  std::string note;
  if ((s.flags & flag_field_error) != 0) {
    note =
        "the solver's error estimate is above what --accuracy promises (field_error): see "
        "field_error_pct";
  }
  if (a.check) {
    bool off = false;
    for (const Row& r : doc.rows()) off = off || (r.flags & flag_closed_form_off) != 0;
    doc.summary("closed_form_off", Unit::none, off);
    if (off) {
      note += std::string(note.empty() ? "" : "; ") +
              "the closed forms are more than 1 % from the solver in an impedance "
              "(closed_form_off): the solver's values are the answer";
    }
  }
  doc.flag_note(note.empty() ? "rows flagged: see their flags" : note);
  ctx.emit(doc);
  return kExitOk;
}

}  // namespace

void register_line(Context& ctx) {
  auto a = std::make_shared<LineArgs>();
  Command& cmd = ctx.add_command(
      "line",
      "Board cross-sections on the field solver: Z0, Zdiff, delays, crosstalk; width or gap for a "
      "target; tolerance",
      [&ctx, a] { return line(ctx, *a); });
  declare_structure(ctx, cmd, a->st);
  a->accuracy =
      ctx.add_value(cmd, "--accuracy", "Field solver: standard (default) or fine", "standard|fine");
  a->z0 = ctx.add_value(cmd, "--z0", "Target Z0 of a line, ohms: finds the width");
  a->zdiff = ctx.add_value(cmd, "--zdiff",
                           "Target differential impedance, ohms: finds S (with --w), W (with --s), "
                           "both (with --pitch or --zcomm)");
  a->zcomm = ctx.add_value(cmd, "--zcomm", "Target common-mode impedance, ohms (with --zdiff)");
  a->pitch = ctx.add_value(cmd, "--pitch", "With --zdiff: W and S at this pitch W + S");
  a->neighbour = ctx.add_value(cmd, "--neighbour",
                               "Crosstalk: an aggressor trace this far (edge to edge) beside the "
                               "line or pair",
                               "", "--neighbor");
  ctx.add_flag(cmd, "--both-sides", a->both_sides, "Crosstalk: an aggressor on each side");
  ctx.add_flag(cmd, "--check", a->check,
               "The program's closed forms beside the solver (open microstrip, single or pair)");
  for (int k = 0; k < tol::n_stack_params; ++k) {
    std::string p = tol::stack_param_names[static_cast<std::size_t>(k)];
    std::replace(p.begin(), p.end(), '_', '-');
    a->tol[static_cast<std::size_t>(k)] =
        ctx.add_value(cmd, "--tol-" + p,
                      "Tolerance of " + p + ", half-width (" +
                          (k == tol::sp_etch ? std::string("a length: W - 2x, S + 2x")
                                             : std::string("or a percentage: 5%")) +
                          "); a tolerance run",
                      k == tol::sp_etch ? "" : "NUMBER|PCT%");
  }
  ctx.add_choice(cmd, "--dist", a->dist, {"normal", "uniform"},
                 "Tolerance run: normal (half-width = 3 sigma, default) or uniform");
  a->samples = ctx.add_value(cmd, "--samples", "Tolerance run: samples (default 1000)");
  a->seed = ctx.add_value(cmd, "--seed", "Tolerance run: random seed (default 1)");
  a->threads = ctx.add_value(cmd, "--threads", "Tolerance run: threads (default: one per core)");
  ctx.add_list(cmd, "--limit", a->limits,
               "Tolerance run: NAME=MIN:MAX, NAME=+-X (about the nominal) or NAME=C:+-X[%]; "
               "repeatable",
               "NAME=MIN:MAX|NAME=+-X|NAME=C:+-X");
}

}  // namespace kx::cli
