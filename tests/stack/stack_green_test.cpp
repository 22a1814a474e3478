// The panel integrals a column at a time (the far pairs in one pass over the
// targets) against the same integrals pair by pair: open and between plates,
// with and without the mirror, thin strips, the plates' cached exponentials
// out of range, the fine setting's care.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "kestrelix/stack.h"
#include "models/field/stack/geometry.h"
#include "models/field/stack/stack_green.h"
#include "models/field/stack/stack_mesh.h"

namespace kx::stack::detail {
namespace {

Trace trace(double width, double thickness) {
  Trace t;
  t.width = width;
  t.thickness = thickness;
  t.top_width = thickness > 0.0 ? width - 0.4 * thickness : width;
  return t;
}

TEST(StackGreen, ColumnsAgreeWithThePairByPairIntegrals) {
  Mask mask;
  mask.over_trace = 0.15;
  mask.on_substrate = 0.2;
  mask.between = 0.25;
  mask.er = 3.5;
  const Layer core{1.0, 4.2, 0.0, ""};
  Stack moved = microstrip_pair(core, trace(1.5, 0.35), 1.5, mask);
  moved.conductors[1].left += 0.3;
  moved.conductors[1].right += 0.3;
  const Layer prepreg{1.0, 3.9, 0.0, ""};
  Stack offset = offset_stripline_pair(core, prepreg, trace(1.0, 0.35), 1.5);
  offset.conductors[1].left += 0.5;
  offset.conductors[1].right += 0.5;
  struct Case {
    std::string name;
    Stack stack;
    double care;
  };
  const std::vector<Case> cases = {
      {"open, mirror", gcpw_pair(core, trace(1.5, 0.35), 1.5, 1.5, kUnbounded, mask), 1.0},
      {"open", moved, 2.0},
      {"plates, mirror, thin strips",
       offset_stripline_pair(core, {0.6, 3.9, 0.0, ""}, trace(1.0, 0.0), 0.5), 1.0},
      {"plates", offset, 2.0},
      {"plates, far apart", offset_stripline_pair(core, prepreg, trace(1.0, 0.1), 200.0), 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Geometry g = build(c.stack, {});
    StackMeshSettings set;
    set.split = 2;
    set.quadrature = c.care;
    const StackMesh mesh = discretise(g, set);
    const StackGreen green(mesh);
    const std::size_t n = mesh.panels.size(), nc = mesh.conductor_panels;
    std::vector<double> pd(nc), pm(nc), fd(n - nc), fm(n - nc);
    double worst = 0.0;
    for (std::size_t j = 0; j < n; ++j) {
      green.column(j, nc, pd.data(), pm.data(), fd.data(), fm.data());
      std::vector<Influence> want;
      for (std::size_t i = 0; i < n; ++i)
        want.push_back(i < nc ? green.potential(i, j) : green.field(i, j));
      double size = 0.0;
      for (const Influence& v : want)
        size = std::max({size, std::abs(v.direct), std::abs(v.mirror)});
      for (std::size_t i = 0; i < n; ++i) {
        const double d = i < nc ? pd[i] : fd[i - nc];
        worst = std::max(worst, std::abs(d - want[i].direct) / size);
        if (mesh.mirror) {
          const double m = i < nc ? pm[i] : fm[i - nc];
          worst = std::max(worst, std::abs(m - want[i].mirror) / size);
        }
      }
    }
    EXPECT_LT(worst, 1e-13);
  }
}

}  // namespace
}  // namespace kx::stack::detail
