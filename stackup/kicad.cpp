// The import of a board's stackup from a KiCad board file: a small
// S-expression reader that keeps only (kicad_pcb ... (setup ... (stackup
// ...))), then the cross-section of one signal layer between its references.
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "kestrelix/stackup_file.h"

namespace kx::stack {
namespace {

// An S-expression: an atom (quoted or not) or a list.
struct Node {
  bool list = false;
  std::string atom;
  std::vector<Node> items;
  std::size_t line = 1;
  const std::string& head() const {
    static const std::string none;
    return !items.empty() && !items.front().list ? items.front().atom : none;
  }
};

// Deeper than this the text is no board file (bounds the work on any input).
constexpr std::size_t kMaxDepth = 200;

[[noreturn]] void fail(const std::string& what) { throw StackupError(what); }

// The (stackup ...) list of (kicad_pcb ... (setup ... (stackup ...))); every
// other list is read past without being kept.
Node find_stackup(const std::string& text) {
  struct Frame {
    std::string head;
    bool headed = false;
    Node* node = nullptr;  // kept: the list being built
  };
  std::vector<Frame> frames;
  Node root;  // the kept stackup
  bool kept = false;
  std::size_t line = 1, i = 0;
  const std::size_t n = text.size();
  const auto token = [&](Node atom) {
    if (frames.empty())
      fail("not a KiCad board file: text outside (kicad_pcb ...) at line " + std::to_string(line));
    Frame& f = frames.back();
    if (!f.headed) {
      f.head = atom.atom;
      f.headed = true;
      if (frames.size() == 1 && f.head != "kicad_pcb")
        fail("not a KiCad board file: it does not start with (kicad_pcb");
      // (stackup ...) right inside (setup ...) right inside (kicad_pcb ...): keep it.
      if (frames.size() == 3 && f.head == "stackup" && frames[0].head == "kicad_pcb" &&
          frames[1].head == "setup" && !kept) {
        root = Node{};
        root.list = true;
        root.line = line;
        f.node = &root;
        kept = true;
      }
    }
    if (f.node) f.node->items.push_back(std::move(atom));
  };
  while (i < n) {
    const char c = text[i];
    if (c == '\n') ++line;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    if (c == '(') {
      if (frames.size() >= kMaxDepth)
        fail("not a KiCad board file: lists nested too deep at line " + std::to_string(line));
      Frame f;
      if (!frames.empty() && frames.back().node) {
        // A child of a kept list: kept too.
        Frame& parent = frames.back();
        parent.headed = true;  // a list that starts with a list has no head
        Node child;
        child.list = true;
        child.line = line;
        parent.node->items.push_back(std::move(child));
        f.node = &parent.node->items.back();
      }
      frames.push_back(f);
      ++i;
      continue;
    }
    if (c == ')') {
      if (frames.empty())
        fail("not a KiCad board file: unbalanced ) at line " + std::to_string(line));
      const bool done = frames.back().node == &root;
      frames.pop_back();
      ++i;
      if (done) return root;
      if (frames.empty()) break;
      continue;
    }
    Node atom;
    atom.line = line;
    if (c == '"') {
      ++i;
      bool closed = false;
      while (i < n) {
        const char d = text[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d == '\n') ++line;
        if (d == '\\' && i < n) {
          const char e = text[i++];
          atom.atom += e == 'n' ? '\n' : e;
          continue;
        }
        atom.atom += d;
      }
      if (!closed)
        fail("not a KiCad board file: a string is not closed (from line " +
             std::to_string(atom.line) + ")");
    } else {
      while (i < n && text[i] != '(' && text[i] != ')' && text[i] != '"' && text[i] != ' ' &&
             text[i] != '\t' && text[i] != '\r' && text[i] != '\n')
        atom.atom += text[i++];
    }
    token(std::move(atom));
  }
  if (!frames.empty()) fail("not a KiCad board file: a list is not closed at the end");
  if (!kept) fail("the board has no stackup: no (stackup ...) in its (setup ...)");
  return root;
}

double number(const Node& item, const std::string& layer, const char* what) {
  if (item.items.size() < 2 || item.items[1].list)
    fail("stackup layer \"" + layer + "\": " + what + " has no value (line " +
         std::to_string(item.line) + ")");
  const std::string& s = item.items[1].atom;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (s.empty() || *end != '\0' || !std::isfinite(v) || v < 0.0)
    fail("stackup layer \"" + layer + "\": " + what + " is not a number >= 0 (\"" + s +
         "\", line " + std::to_string(item.line) + ")");
  return v;
}

}  // namespace

std::vector<KicadLayer> read_kicad_stackup(const std::string& board_text) {
  const Node stackup = find_stackup(board_text);
  std::vector<KicadLayer> out;
  for (const Node& item : stackup.items) {
    if (!item.list || item.head() != "layer") continue;
    if (item.items.size() < 2 || item.items[1].list)
      fail("stackup: a layer without a name (line " + std::to_string(item.line) + ")");
    KicadLayer l;
    l.name = item.items[1].atom;
    std::vector<KicadLayer> subs;  // a dielectric's further sublayers
    KicadLayer* current = &l;
    for (std::size_t k = 2; k < item.items.size(); ++k) {
      const Node& p = item.items[k];
      if (!p.list) {
        if (p.atom == "addsublayer") {
          KicadLayer next = subs.empty() ? l : subs.back();
          next.name = l.name + "/" + std::to_string(subs.size() + 2);
          next.thickness = 0.0;
          subs.push_back(next);
          current = &subs.back();
        }
        continue;
      }
      const std::string& h = p.head();
      if (h == "type") {
        if (p.items.size() < 2 || p.items[1].list)
          fail("stackup layer \"" + l.name + "\": type has no value (line " +
               std::to_string(p.line) + ")");
        current->type = p.items[1].atom;
      } else if (h == "thickness") {
        current->thickness = number(p, current->name, "thickness");
      } else if (h == "epsilon_r") {
        current->er = number(p, current->name, "epsilon_r");
      } else if (h == "loss_tangent") {
        current->loss_tangent = number(p, current->name, "loss_tangent");
      }
    }
    for (KicadLayer& s : subs) s.type = l.type;
    out.push_back(l);
    for (const KicadLayer& s : subs)
      if (s.thickness > 0.0) out.push_back(s);
  }
  if (out.empty()) fail("the board's stackup lists no layer");
  return out;
}

KicadImport import_kicad(const std::vector<KicadLayer>& layers, const std::string& signal,
                         const std::string& above, const std::string& below) {
  const std::size_t n = layers.size();
  const std::size_t none = n;
  std::size_t sig = none;
  std::string coppers;
  for (std::size_t i = 0; i < n; ++i)
    if (layers[i].copper()) {
      coppers += (coppers.empty() ? "" : ", ") + layers[i].name;
      if (layers[i].name == signal) sig = i;
    }
  if (sig == none)
    fail("no copper layer named \"" + signal + "\" in the stackup (its copper layers: " + coppers +
         ")");
  // The references: the nearest copper on each side, a named one, or none.
  const auto reference = [&](const std::string& name, bool up) -> std::size_t {
    if (name == "none") return none;
    for (std::size_t k = 1; k <= n; ++k) {
      if (up ? k > sig : sig + k >= n) break;
      const std::size_t i = up ? sig - k : sig + k;
      if (layers[i].copper() && (name.empty() || layers[i].name == name)) return i;
    }
    if (!name.empty())
      fail("no copper layer named \"" + name + "\" " + (up ? "above" : "below") + " \"" + signal +
           "\" in the stackup (its copper layers: " + coppers + ")");
    return none;
  };
  const std::size_t ref_above = reference(above, true);
  const std::size_t ref_below = reference(below, false);
  if (ref_above == none && ref_below == none)
    fail("the signal layer \"" + signal + "\" has no reference plane on either side");
  // The dielectric next to the signal layer on each side.
  const auto next_dielectric = [&](bool up) -> std::string {
    for (std::size_t k = 1; k <= n; ++k) {
      if (up ? k > sig : sig + k >= n) break;
      const std::size_t i = up ? sig - k : sig + k;
      if (layers[i].dielectric()) return layers[i].type;
    }
    return "";
  };
  KicadImport out;
  out.turned_over = ref_below == none || (ref_above != none && next_dielectric(true) == "core" &&
                                          next_dielectric(false) == "prepreg");
  // Walk from the ground reference through the signal layer to the other
  // reference or the board's surface: up the list's indices when turned
  // over (the list runs from the top down).
  const std::size_t ground = out.turned_over ? ref_above : ref_below;
  const std::size_t far = out.turned_over ? ref_below : ref_above;
  Stack& s = out.stackup.stack;
  s.top_plane = far != none;
  double pending = 0.0;  // copper thickness waiting for the next dielectric
  bool passed = false;
  std::size_t mask = none;
  const auto valid = [&](const KicadLayer& l, bool need_er) {
    if (!(l.thickness > 0.0)) fail("stackup layer \"" + l.name + "\": no thickness");
    if (need_er && !(l.er >= 1.0))
      fail("stackup layer \"" + l.name + "\": no epsilon_r (at least 1)");
  };
  for (std::size_t k = 1; k <= n; ++k) {
    if (out.turned_over ? ground + k >= n : k > ground) break;
    const std::size_t i = out.turned_over ? ground + k : ground - k;
    if (i == far) break;
    const KicadLayer& l = layers[i];
    if (l.dielectric()) {
      valid(l, true);
      s.layers.push_back({l.thickness + pending, l.er, l.loss_tangent, l.name});
      pending = 0.0;
    } else if (l.copper()) {
      valid(l, false);
      if (i == sig) {
        out.interface = s.layers.size();
        out.trace_thickness = l.thickness;
        passed = true;
      }
      pending += l.thickness;
    } else if (l.mask() && far == none && passed &&
               l.type == (out.turned_over ? "Bottom Solder Mask" : "Top Solder Mask")) {
      mask = i;
    }
  }
  if (s.layers.empty() || out.interface == 0)
    fail("no dielectric between \"" + signal + "\" and its reference in the stackup");
  if (far == none && pending > 0.0 && out.interface < s.layers.size())
    s.layers.back().thickness += pending;  // an outer copper that is no reference
  if (mask != none && layers[mask].thickness > 0.0) {
    const KicadLayer& m = layers[mask];
    valid(m, true);
    if (out.interface == s.layers.size()) {
      // On the outer signal layer: conformal over its traces.
      s.mask.over_trace = s.mask.on_substrate = s.mask.between = m.thickness;
      s.mask.er = m.er;
      s.mask.loss_tangent = m.loss_tangent;
    } else {
      s.layers.push_back({m.thickness, m.er, m.loss_tangent, m.name});
    }
  }
  out.stackup.unit = Unit::mm;
  return out;
}

}  // namespace kx::stack
