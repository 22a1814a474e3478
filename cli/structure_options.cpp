// The board cross-section options (cli/structure_options.h): a named
// structure built from its dimensions, a stackup file, or a KiCad board's
// layer with the traces placed on it.
#include "cli/structure_options.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

#include <kestrelix/stackup_file.h>

namespace kx::cli {
namespace {

namespace ks = kx::stack;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr const char* kStructures[] = {"microstrip", "embedded-microstrip",
                                       "stripline",  "offset-stripline",
                                       "gcpw",       "broadside-pair"};

std::string one_line(std::string s) {
  for (char& c : s)
    if (c == '\n' || c == '\r') c = ' ';
  return s;
}

// The values of the options, read once: each given option's number.
class Reader {
 public:
  bool given(const Arg* x) const { return x->given(); }
  double number(const Arg* x) const { return parse_double(x->name, x->text); }
  // A length or number above 0 (`floor` 0, strictly) or at least `floor`.
  double positive(const Arg* x) const {
    const double v = number(x);
    if (!(v > 0.0)) throw UsageError(x->name + ": must be above 0");
    return v;
  }
  double er(const Arg* x) const {
    const double v = number(x);
    if (!(v >= 1.0 && v <= 1e4)) throw UsageError(x->name + ": must be a number from 1 to 1e4");
    return v;
  }
  double at_least_zero(const Arg* x) const {
    const double v = number(x);
    if (!(v >= 0.0)) throw UsageError(x->name + ": must be 0 or above");
    return v;
  }
  // Marks a missing option; they are reported together.
  void need(const Arg* x) {
    if (x->given()) return;
    missing_ += (missing_.empty() ? "" : ", ") + x->name;
    ++count_;
  }
  // `who` needs (or, plural, need) them.
  void check(const std::string& who, bool plural = false) const {
    if (missing_.empty()) return;
    throw UsageError("missing " + missing_ + " (" + who + (plural ? " need " : " needs ") +
                     (count_ > 1 ? "them" : "it") + ")");
  }

 private:
  std::string missing_;
  int count_ = 0;
};

// Every dimension option, for the test of which ones a source takes.
std::vector<const Arg*> dimension_args(const StructureArgs& a) {
  return {a.layer,
          a.above,
          a.below,
          a.interface,
          a.h,
          a.er,
          a.tand,
          a.h_above,
          a.er_above,
          a.tand_above,
          a.h_between,
          a.er_between,
          a.tand_between,
          a.w,
          a.s,
          a.t,
          a.etch_factor,
          a.top_w,
          a.offset,
          a.ground_gap,
          a.ground_width,
          a.mask_over_trace,
          a.mask_on_substrate,
          a.mask_between,
          a.mask_er,
          a.mask_tand};
}

// UsageError for a given option that `what` does not take.
void only(const StructureArgs& a, const std::vector<const Arg*>& allowed, const std::string& what) {
  for (const Arg* x : dimension_args(a)) {
    if (!x->given()) continue;
    bool ok = false;
    for (const Arg* y : allowed) ok = ok || x == y;
    if (ok) continue;
    std::string takes;
    for (const Arg* y : allowed) takes += (takes.empty() ? "" : " ") + y->name;
    throw UsageError(x->name + ": not an option of " + what +
                     (takes.empty() ? " (it takes no dimensions)" : " (it takes " + takes + ")"));
  }
}

std::vector<const Arg*> trace_args(const StructureArgs& a, bool pair) {
  std::vector<const Arg*> v{a.w, a.t, a.etch_factor, a.top_w};
  if (pair) v.push_back(a.s);
  return v;
}

void append(std::vector<const Arg*>& v, std::initializer_list<const Arg*> more) {
  v.insert(v.end(), more.begin(), more.end());
}

// The start of a dimension a search finds, or the value given.
struct Dimensions {
  double w = kNaN, s = kNaN;
};

Dimensions dimensions(Reader& r, const StructureArgs& a, const StructureNeeds& needs, bool pair,
                      double height) {
  Dimensions d;
  if (r.given(a.w)) d.w = r.positive(a.w);
  if (pair && r.given(a.s)) d.s = r.positive(a.s);
  if (needs.pitch > 0.0) {
    if (r.given(a.w) && !(d.w < needs.pitch))
      throw UsageError(a.w->name + ": must be below the pitch");
    if (r.given(a.s) && !(d.s < needs.pitch))
      throw UsageError(a.s->name + ": must be below the pitch");
    if (std::isnan(d.w)) d.w = std::isnan(d.s) ? 0.5 * needs.pitch : needs.pitch - d.s;
    if (std::isnan(d.s)) d.s = needs.pitch - d.w;
    return d;
  }
  if (std::isnan(d.w)) {
    if (needs.w) r.need(a.w);
    d.w = height;
  }
  if (pair && std::isnan(d.s)) {
    if (needs.s) r.need(a.s);
    d.s = d.w;
  }
  return d;
}

// The trace of the options (width w, the etch as a top width).
ks::Trace trace_of(const Reader& r, const StructureArgs& a, double w, double t) {
  ks::Trace tr;
  tr.width = w;
  tr.thickness = t;
  if (r.given(a.etch_factor) && r.given(a.top_w))
    throw UsageError(a.top_w->name + ": give --etch-factor or --top-w, not both");
  if (r.given(a.etch_factor)) {
    const double ef = r.positive(a.etch_factor);
    tr.top_width = w - 2.0 * ks::inset_for_etch_factor(t, ef);
    if (!(tr.top_width > 0.0)) {
      throw UsageError(a.etch_factor->name +
                       ": leaves the trace no top (the insets, thickness / etch factor, take the "
                       "whole width)");
    }
  } else if (r.given(a.top_w)) {
    tr.top_width = r.positive(a.top_w);
  }
  return tr;
}

// The mask of the options over `base` (a board's own, or none).
ks::Mask mask_of(Reader& r, const StructureArgs& a, ks::Mask base) {
  const bool any = r.given(a.mask_over_trace) || r.given(a.mask_on_substrate) ||
                   r.given(a.mask_between) || r.given(a.mask_er) || r.given(a.mask_tand);
  if (!any) return base;
  const bool had = base.present();
  if (!had) {
    r.need(a.mask_over_trace);
    r.need(a.mask_er);
  }
  if (r.given(a.mask_over_trace)) base.over_trace = r.positive(a.mask_over_trace);
  if (r.given(a.mask_on_substrate)) {
    base.on_substrate = r.positive(a.mask_on_substrate);
  } else if (!had) {
    base.on_substrate = base.over_trace;
  }
  if (r.given(a.mask_between)) {
    base.between = r.positive(a.mask_between);
  } else if (!had) {
    base.between = base.on_substrate;
  }
  if (r.given(a.mask_er)) base.er = r.er(a.mask_er);
  if (r.given(a.mask_tand)) base.loss_tangent = r.at_least_zero(a.mask_tand);
  return base;
}

// The line or pair (and coplanar grounds) placed on `interface` of a stack
// of layers, centred on x = 0.
void place(ks::Stack& s, std::size_t interface, const ks::Trace& tr, bool pair, double gap,
           double ground_gap, double ground_width) {
  const double inset = std::isnan(tr.top_width) ? 0.0 : 0.5 * (tr.width - tr.top_width);
  ks::Conductor c;
  c.interface = interface;
  c.thickness = tr.thickness;
  c.inset = inset;
  if (pair) {
    c.left = -0.5 * gap - tr.width;
    c.right = -0.5 * gap;
    c.name = "P";
    s.conductors.push_back(c);
    c.left = 0.5 * gap;
    c.right = 0.5 * gap + tr.width;
    c.name = "N";
    s.conductors.push_back(c);
  } else {
    c.left = -0.5 * tr.width;
    c.right = 0.5 * tr.width;
    c.name = "line";
    s.conductors.push_back(c);
  }
  if (!(ground_gap > 0.0)) return;
  const double outer = pair ? 0.5 * gap + tr.width : 0.5 * tr.width;
  ks::Conductor g;
  g.role = ks::Role::ground;
  g.interface = interface;
  g.thickness = tr.thickness;
  g.name = "ground";
  g.left = outer + ground_gap;
  g.right = std::isfinite(ground_width) ? g.left + ground_width : ks::kUnbounded;
  s.conductors.push_back(g);
  g.right = -outer - ground_gap;
  g.left = std::isfinite(ground_width) ? g.right - ground_width : -ks::kUnbounded;
  s.conductors.push_back(g);
}

// The whole file, at most kMaxFile bytes (a device that never ends is refused).
constexpr std::size_t kMaxFile = std::size_t{64} << 20;
std::string read_text(const Arg& a) {
  std::ifstream in(a.text, std::ios::binary);
  if (!in) throw UsageError(a.name + ": cannot read " + one_line(a.text));
  std::string text;
  char buf[65536];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    text.append(buf, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxFile)
      throw UsageError(a.name + ": " + one_line(a.text) + " is above 64 MB");
  }
  if (in.bad()) throw UsageError(a.name + ": cannot read " + one_line(a.text));
  return text;
}

// Unit factors: the run's unit per mm.
double per_mm(const Context& ctx) {
  ks::Unit u = ks::Unit::in;
  ks::parse_unit(ctx.units(), u);
  return 1.0 / ks::mm_per(u);
}

// The trace's and the mask's values as inputs.
void trace_inputs(BoardSection& board, const StructureArgs& a, const ks::Stack& s, double t) {
  const auto input = [&board](const std::string& name, Value v, bool length) {
    board.inputs.push_back({name, std::move(v), length});
  };
  if (a.w->given()) input("w", board.w, true);
  if (a.s->given()) input("s", board.s, true);
  input("t", t, true);
  if (a.etch_factor->given())
    input("etch_factor", parse_double(a.etch_factor->name, a.etch_factor->text), false);
  if (a.top_w->given()) input("top_w", parse_double(a.top_w->name, a.top_w->text), true);
  if (s.mask.present()) {
    input("mask_over_trace", s.mask.over_trace, true);
    input("mask_on_substrate", s.mask.on_substrate, true);
    input("mask_between", s.mask.between, true);
    input("mask_er", s.mask.er, false);
    input("mask_tand", s.mask.loss_tangent, false);
  }
}

}  // namespace

double parse_double(const std::string& name, const std::string& text) {
  const bool plain = !text.empty() &&
                     text.find_first_not_of("0123456789.+-eE") == std::string::npos;
  char* end = nullptr;
  const double v = plain ? std::strtod(text.c_str(), &end) : 0.0;
  if (!plain || end != text.c_str() + text.size()) {
    throw UsageError(name + ": not a number: '" + one_line(text) + "'");
  }
  if (!std::isfinite(v)) throw UsageError(name + ": number out of range: " + text);
  return v;
}

bool structure_given(const StructureArgs& a) {
  return a.structure->given() || a.stackup->given() || a.kicad->given();
}

std::vector<const Arg*> structure_only_args(const StructureArgs& a) {
  return {a.layer,
          a.above,
          a.below,
          a.interface,
          a.tand,
          a.h_above,
          a.er_above,
          a.tand_above,
          a.h_between,
          a.er_between,
          a.tand_between,
          a.etch_factor,
          a.top_w,
          a.offset,
          a.ground_gap,
          a.ground_width,
          a.mask_over_trace,
          a.mask_on_substrate,
          a.mask_between,
          a.mask_er,
          a.mask_tand};
}

void declare_structure(Context& ctx, Command& cmd, StructureArgs& a, const SectionArgs* shared) {
  a.structure =
      ctx.add_value(cmd, "--structure",
                    std::string(shared != nullptr ? "A board cross-section instead: " : "") +
                        "microstrip, embedded-microstrip, stripline, offset-stripline, "
                        "gcpw (each NAME-pair or with --pair: a pair), broadside-pair",
                    "NAME");
  a.stackup = ctx.add_value(cmd, "--stackup", "Stackup file (JSON, doc/stackup.md)", "FILE");
  a.kicad = ctx.add_value(cmd, "--kicad", "KiCad board file: its stackup, with --layer", "FILE");
  a.layer = ctx.add_value(cmd, "--layer", "KiCad: the signal layer (F.Cu, In2.Cu ...)", "NAME");
  a.above = ctx.add_value(cmd, "--above",
                          "KiCad: the reference above the layer (default the nearest copper; none)",
                          "NAME");
  a.below = ctx.add_value(cmd, "--below",
                          "KiCad: the reference below the layer (default the nearest copper; none)",
                          "NAME");
  a.interface = ctx.add_value(cmd, "--interface",
                              "Stackup file without conductors: the interface of the traces "
                              "(1: the top of the first layer)",
                              "N");
  ctx.add_flag(cmd, "--pair", a.pair, "Two traces: a differential pair (gap --s)");
  if (shared != nullptr) {
    a.h = shared->h;
    a.er = shared->er;
  } else {
    a.h = ctx.add_value(cmd, "--h", "Dielectric below the trace (stripline: each side of it)");
    a.er = ctx.add_value(cmd, "--er", "Its relative dielectric constant");
  }
  a.tand = ctx.add_value(cmd, "--tand",
                         shared != nullptr
                             ? "A structure: the loss tangent of the dielectric below the trace "
                               "(default 0)"
                             : "Its loss tangent (default 0)");
  a.h_above = ctx.add_value(cmd, "--h-above",
                            "Embedded microstrip, offset stripline, broadside: dielectric above "
                            "the (upper) trace, from its top");
  a.er_above = ctx.add_value(cmd, "--er-above", "Its relative dielectric constant (default --er)");
  a.tand_above = ctx.add_value(cmd, "--tand-above", "Its loss tangent (default --tand)");
  a.h_between = ctx.add_value(cmd, "--h-between",
                              "Broadside pair: dielectric between the traces (lower top to upper "
                              "bottom)");
  a.er_between =
      ctx.add_value(cmd, "--er-between", "Its relative dielectric constant (default --er)");
  a.tand_between = ctx.add_value(cmd, "--tand-between", "Its loss tangent (default --tand)");
  if (shared != nullptr) {
    a.w = shared->w;
    a.s = shared->s;
    a.t = shared->t;
  } else {
    a.w = ctx.add_value(cmd, "--w", "Trace width (at its bottom)");
    a.s = ctx.add_value(cmd, "--s", "Gap between the pair's traces");
    a.t = ctx.add_value(cmd, "--t", "Trace thickness (KiCad: default the layer's copper)");
  }
  a.etch_factor =
      ctx.add_value(cmd, "--etch-factor", "Etch factor: thickness / inset of a top corner");
  a.top_w = ctx.add_value(cmd, "--top-w", "Trace width at its top (instead of --etch-factor)");
  a.offset =
      ctx.add_value(cmd, "--offset", "Broadside pair: lateral offset of the traces (default 0)");
  a.ground_gap = ctx.add_value(cmd, "--ground-gap", "Coplanar grounds this far beside the traces");
  a.ground_width =
      ctx.add_value(cmd, "--ground-width", "Width of the coplanar grounds (default unbounded)");
  a.mask_over_trace = ctx.add_value(cmd, "--mask-over-trace", "Solder mask over the traces");
  a.mask_on_substrate = ctx.add_value(
      cmd, "--mask-on-substrate", "Solder mask on the bare dielectric (default --mask-over-trace)");
  a.mask_between = ctx.add_value(
      cmd, "--mask-between", "Solder mask between the pair's traces (default --mask-on-substrate)");
  a.mask_er = ctx.add_value(cmd, "--mask-er", "Solder mask relative dielectric constant");
  a.mask_tand = ctx.add_value(cmd, "--mask-tand", "Solder mask loss tangent (default 0)");
}

BoardSection resolve_structure(Context& ctx, const StructureArgs& a, const StructureNeeds& needs) {
  const int sources = int(a.structure->given()) + int(a.stackup->given()) + int(a.kicad->given());
  if (sources == 0) {
    throw UsageError(
        "give the cross-section: --structure NAME, --stackup FILE or --kicad FILE "
        "--layer NAME");
  }
  if (sources > 1) {
    const Arg* second = a.kicad->given() ? a.kicad : a.stackup;
    throw UsageError(second->name + ": give one of --structure, --stackup and --kicad");
  }
  Reader r;
  BoardSection board;
  board.pair = a.pair;
  const auto input = [&board](const std::string& name, Value v, bool length = false) {
    board.inputs.push_back({name, std::move(v), length});
  };

  // --------------------------------------------------------- named structures
  if (a.structure->given()) {
    std::string name = a.structure->text;
    const std::string suffix = "-pair";
    if (name != "broadside-pair" && name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      name.erase(name.size() - suffix.size());
      board.pair = true;
    }
    bool known = false;
    for (const char* n : kStructures) known = known || name == n;
    if (!known) {
      std::string names;
      for (const char* n : kStructures) names += (names.empty() ? "" : ", ") + std::string(n);
      throw UsageError(a.structure->name + ": '" + one_line(a.structure->text) +
                       "' is not a structure (" + names + "; NAME-pair: a pair)");
    }
    if (name == "broadside-pair") board.pair = true;
    board.structure = name;
    const bool pair = board.pair;
    std::vector<const Arg*> allowed{a.h, a.er, a.tand};
    const auto takes = trace_args(a, pair && name != "broadside-pair");
    allowed.insert(allowed.end(), takes.begin(), takes.end());
    const bool above = name == "embedded-microstrip" || name == "offset-stripline" ||
                       name == "broadside-pair";
    if (above) append(allowed, {a.h_above, a.er_above, a.tand_above});
    if (name == "broadside-pair")
      append(allowed, {a.h_between, a.er_between, a.tand_between, a.offset});
    if (name == "gcpw") append(allowed, {a.ground_gap, a.ground_width});
    if (name == "microstrip" || name == "gcpw") {
      append(allowed,
             {a.mask_over_trace, a.mask_on_substrate, a.mask_between, a.mask_er, a.mask_tand});
    }
    if (a.s->given() && !pair) throw UsageError(a.s->name + ": the gap of a pair; give --pair");
    only(a, allowed, "the " + name);
    r.need(a.h);
    r.need(a.er);
    r.need(a.t);
    if (above) r.need(a.h_above);
    if (name == "broadside-pair") r.need(a.h_between);
    if (name == "gcpw") r.need(a.ground_gap);
    const double h = r.given(a.h) ? r.positive(a.h) : kNaN;
    const Dimensions d = dimensions(r, a, needs, pair && name != "broadside-pair", h);
    ks::Mask mask;
    if (name == "microstrip" || name == "gcpw") mask = mask_of(r, a, mask);
    r.check("the " + name);

    const double er = r.er(a.er);
    const double tand = r.given(a.tand) ? r.at_least_zero(a.tand) : 0.0;
    const double t = r.at_least_zero(a.t);
    const ks::Trace tr = trace_of(r, a, d.w, t);
    const ks::Layer below{h, er, tand, "below"};
    ks::Layer top{};
    if (above) {
      top = {r.positive(a.h_above), r.given(a.er_above) ? r.er(a.er_above) : er,
             r.given(a.tand_above) ? r.at_least_zero(a.tand_above) : tand, "above"};
    }
    input("structure", name);
    input("pair", pair);
    input("h", h, true);
    input("er", er);
    input("tand", tand);
    if (above) {
      input("h_above", top.thickness, true);
      input("er_above", top.er);
      input("tand_above", top.loss_tangent);
    }
    if (name == "stripline") {
      board.stack = pair ? ks::stripline_pair(2.0 * h + t, er, tr, d.s, tand)
                         : ks::stripline(2.0 * h + t, er, tr, tand);
    } else if (name == "microstrip") {
      board.stack = pair ? ks::microstrip_pair(below, tr, d.s, mask)
                         : ks::microstrip(below, tr, mask);
    } else if (name == "embedded-microstrip") {
      board.stack = pair ? ks::embedded_microstrip_pair(below, top, tr, d.s)
                         : ks::embedded_microstrip(below, top, tr);
    } else if (name == "offset-stripline") {
      board.stack = pair ? ks::offset_stripline_pair(below, top, tr, d.s)
                         : ks::offset_stripline(below, top, tr);
    } else if (name == "gcpw") {
      const double gg = r.positive(a.ground_gap);
      const double gw = r.given(a.ground_width) ? r.positive(a.ground_width) : ks::kUnbounded;
      board.stack = pair ? ks::gcpw_pair(below, tr, d.s, gg, gw, mask)
                         : ks::gcpw(below, tr, gg, gw, mask);
      input("ground_gap", gg, true);
      input("ground_width", std::isfinite(gw) ? Value(gw) : Value::none(), true);
    } else {
      const ks::Layer between{r.positive(a.h_between),
                              r.given(a.er_between) ? r.er(a.er_between) : er,
                              r.given(a.tand_between) ? r.at_least_zero(a.tand_between) : tand,
                              "between"};
      const double offset = r.given(a.offset) ? r.number(a.offset) : 0.0;
      board.stack = ks::broadside_pair(below, between, top, tr, offset);
      input("h_between", between.thickness, true);
      input("er_between", between.er);
      input("tand_between", between.loss_tangent);
      input("offset", offset, true);
    }
    board.w = d.w;
    board.s = pair && name != "broadside-pair" ? d.s : kNaN;
    board.t = t;
    trace_inputs(board, a, board.stack, t);
  } else {
    // ------------------------------------------------------ a board's layers
    const Arg& file = a.stackup->given() ? *a.stackup : *a.kicad;
    if (!ctx.limits().files) throw UsageError(file.name + ": files are not read here");
    ctx.protect(file.text);  // an input: no output of the run replaces it
    ks::Stack layers;
    std::size_t interface = 0;
    double copper = kNaN;
    if (a.stackup->given()) {
      board.structure = "stackup";
      input("stackup", a.stackup->text);
      ks::Stackup st;
      try {
        st = ks::parse_stackup(read_text(*a.stackup));
      } catch (const ks::StackupError& e) {
        throw UsageError(a.stackup->name + " " + one_line(a.stackup->text) + ": " + e.what());
      }
      layers = ks::scaled(st.stack, ks::mm_per(st.unit) * per_mm(ctx));
      input("stackup_unit", ks::unit_name(st.unit));
      if (!layers.conductors.empty()) {
        board.from_file = true;
        only(a, {}, "a stackup file with conductors");
        board.stack = layers;
        board.w = board.s = board.t = kNaN;
        const std::size_t n = layers.signals().size();
        if (n < (board.pair ? 2u : 1u)) {
          throw UsageError(a.stackup->name + ": the file has " + std::to_string(n) +
                           " signal conductor" + (n == 1 ? "" : "s") +
                           (board.pair ? "; a pair needs two" : ""));
        }
        input("pair", board.pair);
        return board;
      }
      std::vector<const Arg*> allowed = trace_args(a, board.pair);
      append(allowed, {a.interface, a.ground_gap, a.ground_width, a.mask_over_trace,
                       a.mask_on_substrate, a.mask_between, a.mask_er, a.mask_tand});
      if (a.s->given() && !board.pair)
        throw UsageError(a.s->name + ": the gap of a pair; give --pair");
      only(a, allowed, "a stackup file of layers");
      r.need(a.interface);
      r.need(a.t);
    } else {
      board.structure = "kicad";
      input("kicad", a.kicad->text);
      std::vector<const Arg*> allowed = trace_args(a, board.pair);
      append(allowed, {a.layer, a.above, a.below, a.ground_gap, a.ground_width, a.mask_over_trace,
                       a.mask_on_substrate, a.mask_between, a.mask_er, a.mask_tand});
      if (a.s->given() && !board.pair)
        throw UsageError(a.s->name + ": the gap of a pair; give --pair");
      only(a, allowed, "a KiCad board");
      if (!a.layer->given()) throw UsageError("--kicad: give the signal layer, --layer NAME");
      ks::KicadImport imp;
      try {
        const std::vector<ks::KicadLayer> kicad_layers =
            ks::read_kicad_stackup(read_text(*a.kicad));
        imp = ks::import_kicad(kicad_layers, a.layer->text, a.above->given() ? a.above->text : "",
                               a.below->given() ? a.below->text : "");
      } catch (const ks::StackupError& e) {
        throw UsageError(a.kicad->name + " " + one_line(a.kicad->text) + ": " + e.what());
      }
      layers = ks::scaled(imp.stackup.stack, per_mm(ctx));
      interface = imp.interface;
      copper = imp.trace_thickness * per_mm(ctx);
      input("layer", a.layer->text);
      if (a.above->given()) input("above", a.above->text);
      if (a.below->given()) input("below", a.below->text);
      input("turned_over", imp.turned_over);
    }
    // The traces on the layers.
    if (a.interface->given()) {
      const double n = parse_double(a.interface->name, a.interface->text);
      if (!(n >= 1.0 && n <= static_cast<double>(layers.layers.size())) || n != std::floor(n)) {
        throw UsageError(a.interface->name + ": a whole number from 1 to " +
                         std::to_string(layers.layers.size()) + " (the file's layers)");
      }
      interface = static_cast<std::size_t>(n);
    }
    // The height of the traces above the stack's plane.
    const double height = interface > 0 ? layers.height(interface) : kNaN;
    const Dimensions d = dimensions(r, a, needs, board.pair, height);
    layers.mask = mask_of(r, a, layers.mask);
    r.check(board.structure == "kicad" ? "the traces on a KiCad layer"
                                       : "the traces on a stackup file's layers",
            true);
    const double t = r.given(a.t) ? r.at_least_zero(a.t) : copper;
    const ks::Trace tr = trace_of(r, a, d.w, t);
    const double gg = r.given(a.ground_gap) ? r.positive(a.ground_gap) : 0.0;
    const double gw = r.given(a.ground_width) ? r.positive(a.ground_width) : ks::kUnbounded;
    if (r.given(a.ground_width) && !r.given(a.ground_gap))
      throw UsageError(a.ground_width->name + ": coplanar grounds need --ground-gap");
    place(layers, interface, tr, board.pair, d.s, gg, gw);
    board.stack = layers;
    board.w = d.w;
    board.s = board.pair ? d.s : kNaN;
    board.t = t;
    input("pair", board.pair);
    input("interface", static_cast<long long>(interface));
    trace_inputs(board, a, board.stack, t);
    if (gg > 0.0) {
      input("ground_gap", gg, true);
      input("ground_width", std::isfinite(gw) ? Value(gw) : Value::none(), true);
    }
  }
  if (const std::string why = ks::check(board.stack); !why.empty()) {
    throw UsageError("the cross-section: the solver cannot take it: " + why);
  }
  return board;
}

void structure_inputs(Document& doc, const BoardSection& board) {
  for (const BoardSection::Input& in : board.inputs) {
    doc.input(in.name, in.length ? Unit::length : Unit::none, in.value);
  }
}

}  // namespace kx::cli
