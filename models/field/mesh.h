// The boundary-element mesh of the right half (x >= 0) of the cross-section,
// lengths in units of the substrate height H. The left half is its mirror
// image: the even mode repeats the charge there, the odd mode negates it.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

namespace kx::field {

struct Vec2 {
  double x = 0.0, y = 0.0;
};

// A corner's power law on the faces and interfaces that meet there: the
// charge density goes like d^beta at a distance d << scale from it.
struct Taper {
  Vec2 at;
  double beta = 0.0;  // 0: none
  double scale = 1.0;
};

// A straight panel carrying a total (free + bound) surface charge sigma *
// shape(p): uniform, or near a corner following the corner's power law;
// shape is scaled to mean 1 over the panel, so sigma * len is its charge.
struct Panel {
  Vec2 p1, p2;  // ends
  Vec2 mid;
  Vec2 n;  // unit normal: out of a conductor; from eps_neg to eps_pos on an interface
  double len = 0.0;
  bool conductor = false;
  // Relative permittivities on the two sides (-n, +n). A conductor face
  // touches eps_pos only, unless it is a zero-thickness strip (two_sided):
  // then eps_neg is below it and eps_pos above.
  double eps_neg = 1.0, eps_pos = 1.0;
  bool two_sided = false;
  std::array<Taper, 2> tapers{};

  bool tapered() const { return tapers[0].beta != 0.0 || tapers[1].beta != 0.0; }
  // The shape before its scaling to mean 1, at the fraction f along the
  // panel from p1; the distance to a taper at an end is measured along the
  // panel (exact however close).
  double raw_shape_at(double f) const {
    double r = 1.0;
    for (const Taper& t : tapers) {
      if (t.beta == 0.0) continue;
      double d;
      if (t.at.x == p1.x && t.at.y == p1.y) {
        d = f * len;
      } else if (t.at.x == p2.x && t.at.y == p2.y) {
        d = (1.0 - f) * len;
      } else {
        d = std::hypot(p1.x + f * (p2.x - p1.x) - t.at.x, p1.y + f * (p2.y - p1.y) - t.at.y);
      }
      r *= std::pow(d / (d + t.scale), t.beta);
    }
    return r;
  }
  // The derivative of ln(raw_shape) along the direction t at p.
  double log_slope(Vec2 p, Vec2 t) const {
    double g = 0.0;
    for (const Taper& k : tapers) {
      if (k.beta == 0.0) continue;
      const double dx = p.x - k.at.x;
      const double dy = p.y - k.at.y;
      const double d = std::hypot(dx, dy);
      g += k.beta * (1.0 / d - 1.0 / (d + k.scale)) * (dx * t.x + dy * t.y) / d;
    }
    return g;
  }
};

struct Mesh {
  std::vector<Panel> panels;  // the conductor panels first
  std::size_t conductors = 0;
  double plates = 0.0;      // spacing of ground and cover (H + H2); infinity when open
  double quadrature = 1.0;  // care in the panels' integrals (see Green)
};

// The cross-section in units of H.
struct Section {
  double er, w, s, t, h2, coat, er_coat;
};

// How finely to discretise. Panel length h(d) = h0 + grading * d at a
// distance d from a corner, at most max_len near the strips and growing by
// the same grading farther out; the interfaces end at the truncation.
struct MeshSettings {
  double grading = 1.0;
  double first = 0.1;        // h0 as a fraction of the smallest length about the corner
  double max_len = 4.0;      // in H
  double open_reach = 40.0;  // open: interfaces end this many (H + strip span) out
  double cover_reach = 5.0;  // covered: this many plate spacings beyond the strips
  int split = 1;             // then each panel cut into this many equal parts
  double quadrature = 1.0;   // care in the panels' integrals (see Green)
  double thin_strip = 0.0;   // a coated strip thinner than this is meshed as this thick
};

Mesh discretise(const Section& sec, const MeshSettings& set);

}  // namespace kx::field
