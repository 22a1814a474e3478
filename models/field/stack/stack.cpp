// The general cross-section: its checks and the named structures' builders
// (see include/kestrelix/stack.h).
#include "kestrelix/stack.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace kx::stack {
namespace {

constexpr double kMaxPermittivity = 1e4;
// The widest ratio of two lengths of a stack the discretisation is trusted with.
constexpr double kMaxRatio = 1e4;

std::string entry(const char* list, std::size_t i, const char* field) {
  std::ostringstream out;
  out << list << "[" << i << "]." << field;
  return out.str();
}

bool finite_positive(double v) { return std::isfinite(v) && v > 0.0; }
bool permittivity_ok(double v) { return std::isfinite(v) && v >= 1.0 && v <= kMaxPermittivity; }

// A conductor's top as an interval (its bottom if thin).
double top_left(const Conductor& c) { return c.left + c.inset; }
double top_right(const Conductor& c) { return c.right - c.inset; }

}  // namespace

double Stack::height(std::size_t interface) const {
  double y = 0.0;
  for (std::size_t i = 0; i < interface && i < layers.size(); ++i) y += layers[i].thickness;
  return y;
}

std::vector<std::size_t> Stack::signals() const {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < conductors.size(); ++i)
    if (conductors[i].role == Role::signal) out.push_back(i);
  return out;
}

std::string check(const Stack& s) {
  if (s.layers.empty()) return "layers: the stack needs at least one layer";
  double smallest = kUnbounded, largest = 0.0;
  const auto length = [&](double v) {
    smallest = std::min(smallest, v);
    largest = std::max(largest, v);
  };
  for (std::size_t i = 0; i < s.layers.size(); ++i) {
    const Layer& l = s.layers[i];
    if (!finite_positive(l.thickness))
      return entry("layers", i, "thickness") + ": must be a positive number";
    if (!permittivity_ok(l.er))
      return entry("layers", i, "er") + ": must be a number from 1 to 1e4";
    if (!std::isfinite(l.loss_tangent) || l.loss_tangent < 0.0)
      return entry("layers", i, "loss_tangent") + ": must be a number >= 0";
    length(l.thickness);
  }
  const std::size_t top = s.layers.size();
  if (s.conductors.empty()) return "conductors: the stack needs at least one signal conductor";
  if (s.signals().empty()) return "conductors: none of them is a signal";
  for (std::size_t i = 0; i < s.conductors.size(); ++i) {
    const Conductor& c = s.conductors[i];
    if (c.interface < 1 || c.interface > top)
      return entry("conductors", i, "interface") + ": must lie from 1 to the number of layers";
    if (c.interface == top && s.top_plane)
      return entry("conductors", i, "interface") +
             ": a conductor cannot lie on the top plane (its layer is the top one)";
    if (std::isnan(c.left) || std::isnan(c.right) || c.left == kUnbounded || c.right == -kUnbounded)
      return entry("conductors", i, "left") + ": the bottom face must run from left to right";
    const bool open_left = c.left == -kUnbounded, open_right = c.right == kUnbounded;
    if (open_left && open_right)
      return entry("conductors", i, "left") + ": a conductor cannot extend without limit both ways";
    if ((open_left || open_right) && c.role != Role::ground)
      return entry("conductors", i, "right") + ": only a ground may extend without limit";
    if (!(c.right > c.left)) return entry("conductors", i, "right") + ": must exceed left";
    if (!std::isfinite(c.thickness) || c.thickness < 0.0)
      return entry("conductors", i, "thickness") + ": must be a number >= 0";
    if (c.interface < top && !(c.thickness < s.layers[c.interface].thickness))
      return entry("conductors", i, "thickness") +
             ": must be less than the thickness of the layer above its interface";
    if (!std::isfinite(c.inset)) return entry("conductors", i, "inset") + ": must be a number";
    if (c.thickness > 0.0 && !open_left && !open_right && !(c.top_width() > 0.0))
      return entry("conductors", i, "inset") + ": leaves no top face (top width must be > 0)";
    if (!open_left && !open_right) length(c.bottom_width());
    if (c.thickness > 0.0) {
      length(c.thickness);
      if (!open_left && !open_right) length(c.top_width());
      if (c.inset != 0.0) length(std::abs(c.inset));
    }
  }
  // Conductors on one interface apart, bottoms and tops.
  for (std::size_t i = 0; i < s.conductors.size(); ++i)
    for (std::size_t j = 0; j < s.conductors.size(); ++j) {
      if (i == j) continue;
      const Conductor& a = s.conductors[i];
      const Conductor& b = s.conductors[j];
      if (a.interface != b.interface || !(a.left <= b.left)) continue;
      const double gap = b.left - a.right;
      const double top_gap = b.thickness > 0.0 || a.thickness > 0.0
                                 ? (b.thickness > 0.0 ? top_left(b) : b.left) -
                                       (a.thickness > 0.0 ? top_right(a) : a.right)
                                 : gap;
      if (!(gap > 0.0) || !(top_gap > 0.0))
        return entry("conductors", j, "left") + ": overlaps or touches conductors[" +
               std::to_string(i) + "] on the same interface";
      length(gap);
    }
  const Mask& m = s.mask;
  if (m.present() || m.er != 1.0) {
    const std::size_t mi = s.mask_interface();
    if (mi < 1 || mi > top) return "mask.interface: must lie from 1 to the number of layers";
    if (mi == top && s.top_plane)
      return "mask.interface: a stack with a top plane has no mask on its top surface";
    if (!finite_positive(m.over_trace)) return "mask.over_trace: must be a positive number";
    if (!finite_positive(m.on_substrate)) return "mask.on_substrate: must be a positive number";
    if (!finite_positive(m.between)) return "mask.between: must be a positive number";
    if (!permittivity_ok(m.er)) return "mask.er: must be a number from 1 to 1e4";
    if (!std::isfinite(m.loss_tangent) || m.loss_tangent < 0.0)
      return "mask.loss_tangent: must be a number >= 0";
    length(m.over_trace);
    length(m.on_substrate);
    length(m.between);
    if (mi < top) {
      // Its surface below the top of the layer it lies in.
      double highest = std::max(m.on_substrate, m.between);
      for (const Conductor& c : s.conductors)
        if (c.interface == mi) highest = std::max(highest, c.thickness + m.over_trace);
      if (!(highest < s.layers[mi].thickness))
        return "mask.over_trace: the mask must stay below the top of the layer it lies in";
    }
  }
  if (largest / smallest > kMaxRatio) {
    std::ostringstream out;
    out << "stack: its lengths lie too far apart (the largest over the smallest is "
        << largest / smallest << "; at most 1e4)";
    return out.str();
  }
  return "";
}

// ---------------------------------------------------------------------------
// Builders.

namespace {

Conductor trace_at(std::size_t interface, double centre, const Trace& t) {
  Conductor c;
  c.interface = interface;
  c.left = centre - 0.5 * t.width;
  c.right = centre + 0.5 * t.width;
  c.thickness = t.thickness;
  c.inset = std::isnan(t.top_width) ? 0.0 : 0.5 * (t.width - t.top_width);
  return c;
}

// Two traces `gap` apart about x = 0.
void add_pair(Stack& s, std::size_t interface, const Trace& t, double gap) {
  s.conductors.push_back(trace_at(interface, -0.5 * (gap + t.width), t));
  s.conductors.push_back(trace_at(interface, 0.5 * (gap + t.width), t));
}

Layer thicker(Layer l, double by) {
  l.thickness += by;
  return l;
}

void add_grounds(Stack& s, const Trace& t, double ground_gap, double ground_width) {
  double lo = kUnbounded, hi = -kUnbounded;
  for (const Conductor& c : s.conductors) {
    lo = std::min(lo, c.left);
    hi = std::max(hi, c.right);
  }
  Conductor g;
  g.role = Role::ground;
  g.interface = s.conductors.front().interface;
  g.thickness = t.thickness;
  // The ground's edge faces the trace's with the trace's profile.
  g.inset = s.conductors.front().inset;
  const bool bounded = std::isfinite(ground_width);
  g.right = lo - ground_gap;
  g.left = bounded ? g.right - ground_width : -kUnbounded;
  s.conductors.push_back(g);
  g.left = hi + ground_gap;
  g.right = bounded ? g.left + ground_width : kUnbounded;
  s.conductors.push_back(g);
}

}  // namespace

Stack microstrip(const Layer& substrate, const Trace& trace, const Mask& mask) {
  Stack s;
  s.layers = {substrate};
  s.conductors = {trace_at(1, 0.0, trace)};
  s.mask = mask;
  return s;
}

Stack microstrip_pair(const Layer& substrate, const Trace& trace, double gap, const Mask& mask) {
  Stack s;
  s.layers = {substrate};
  add_pair(s, 1, trace, gap);
  s.mask = mask;
  return s;
}

Stack embedded_microstrip(const Layer& substrate, const Layer& above, const Trace& trace) {
  Stack s;
  s.layers = {substrate, thicker(above, trace.thickness)};
  s.conductors = {trace_at(1, 0.0, trace)};
  return s;
}

Stack embedded_microstrip_pair(const Layer& substrate, const Layer& above, const Trace& trace,
                               double gap) {
  Stack s;
  s.layers = {substrate, thicker(above, trace.thickness)};
  add_pair(s, 1, trace, gap);
  return s;
}

Stack stripline(double b, double er, const Trace& trace, double loss_tangent) {
  const double h = 0.5 * (b - trace.thickness);
  return offset_stripline({h, er, loss_tangent, ""}, {h, er, loss_tangent, ""}, trace);
}

Stack stripline_pair(double b, double er, const Trace& trace, double gap, double loss_tangent) {
  const double h = 0.5 * (b - trace.thickness);
  return offset_stripline_pair({h, er, loss_tangent, ""}, {h, er, loss_tangent, ""}, trace, gap);
}

Stack offset_stripline(const Layer& below, const Layer& above, const Trace& trace) {
  Stack s;
  s.layers = {below, thicker(above, trace.thickness)};
  s.top_plane = true;
  s.conductors = {trace_at(1, 0.0, trace)};
  return s;
}

Stack offset_stripline_pair(const Layer& below, const Layer& above, const Trace& trace,
                            double gap) {
  Stack s;
  s.layers = {below, thicker(above, trace.thickness)};
  s.top_plane = true;
  add_pair(s, 1, trace, gap);
  return s;
}

Stack gcpw(const Layer& substrate, const Trace& trace, double ground_gap, double ground_width,
           const Mask& mask) {
  Stack s = microstrip(substrate, trace, mask);
  add_grounds(s, trace, ground_gap, ground_width);
  return s;
}

Stack gcpw_pair(const Layer& substrate, const Trace& trace, double gap, double ground_gap,
                double ground_width, const Mask& mask) {
  Stack s = microstrip_pair(substrate, trace, gap, mask);
  add_grounds(s, trace, ground_gap, ground_width);
  return s;
}

Stack broadside_pair(const Layer& below, const Layer& between, const Layer& above,
                     const Trace& trace, double offset) {
  Stack s;
  s.layers = {below, thicker(between, trace.thickness), thicker(above, trace.thickness)};
  s.top_plane = true;
  s.conductors = {trace_at(1, -0.5 * offset, trace), trace_at(2, 0.5 * offset, trace)};
  return s;
}

double inset_for_etch_factor(double thickness, double etch_factor) {
  return thickness / etch_factor;
}

}  // namespace kx::stack
