// The corners' power laws: the transfer-matrix root against the closed forms
// (a conductor wedge in one dielectric, the zero-thickness strip's edge, a
// right-angled conductor corner on an interface and a right-angled dielectric
// wedge, whose equations the pair solver solves).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "models/field/stack/geometry.h"

namespace kx::stack::detail {
namespace {

constexpr double kPi = 3.14159265358979323846;

// The root of f on (lo, hi) where f changes sign once, by bisection.
template <class F>
double root(F f, double lo, double hi) {
  const bool rising = f(hi) > 0.0;
  for (int i = 0; i < 200; ++i) {
    const double mid = 0.5 * (lo + hi);
    ((f(mid) > 0.0) == rising ? hi : lo) = mid;
  }
  return 0.5 * (lo + hi);
}

TEST(Wedge, ConductorCornersInOneDielectric) {
  for (const double alpha : {0.0, kPi / 4, kPi / 2, 2 * kPi / 3, kPi * 0.9})
    EXPECT_NEAR(wedge_exponent({2 * kPi - alpha}, {3.7}, true), kPi / (2 * kPi - alpha), 1e-9)
        << alpha;
}

TEST(Wedge, ConductorCornerOnAnInterface) {
  // The conductor fills a quadrant above the interface: eps_beside in the
  // quadrant beside it, eps_below in the half-plane below:
  // eps_beside cot(nu pi / 2) + eps_below cot(nu pi) = 0.
  for (const auto& [beside, below] : {std::pair{1.0, 4.4}, {3.8, 4.4}, {1.0, 20.0}, {9.8, 2.2}}) {
    const double nu =
        root([&](double v) { return beside / std::tan(0.5 * v * kPi) + below / std::tan(v * kPi); },
             0.5 + 1e-12, 1.0 - 1e-12);
    EXPECT_NEAR(wedge_exponent({kPi / 2, kPi}, {beside, below}, true), nu, 1e-9);
  }
}

TEST(Wedge, RightAngledDielectricWedge) {
  // eps_in in 90 degrees, eps_out in 270: the wedge solution even about
  // the bisector when the wedge is the denser, odd otherwise.
  for (const auto& [in, out] : {std::pair{4.0, 1.0}, {1.0, 4.0}, {3.3, 1.0}, {5.0, 3.5}}) {
    const auto f = [&](double v) {
      if (in > out) return out * std::tan(0.75 * v * kPi) + in * std::tan(0.25 * v * kPi);
      return -(in / std::tan(0.25 * v * kPi) + out / std::tan(0.75 * v * kPi));
    };
    EXPECT_NEAR(wedge_exponent({kPi / 2, 3 * kPi / 2}, {in, out}, false),
                root(f, 2.0 / 3.0 + 1e-12, 1.0 - 1e-12), 1e-9);
  }
  // One permittivity all round: no power law.
  EXPECT_EQ(wedge_exponent({kPi / 2, 3 * kPi / 2}, {2.0, 2.0}, false), 1.0);
}

}  // namespace
}  // namespace kx::stack::detail
