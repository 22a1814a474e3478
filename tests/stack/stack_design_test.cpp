// Synthesis on the general solver: each answer analysed again lies within
// 0.05 ohm of its target in a handful of solutions; the tolerance hooks name
// and set the stack's variables and solve a list of stacks.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "kestrelix/stack_design.h"

namespace kx::stack {
namespace {

const Layer kCore{0.1, 4.2, 0.02, "core"};
const Layer kPrepreg{0.1, 3.9, 0.02, "prepreg"};

Trace etched(double width) {
  Trace t;
  t.width = width;
  t.thickness = 0.035;
  t.top_width = width - 0.02;
  return t;
}

Mask mask() {
  Mask m;
  m.over_trace = 0.015;
  m.on_substrate = 0.02;
  m.between = 0.025;
  m.er = 3.5;
  return m;
}

TEST(StackDesign, EachAnswerAnalysedAgainMeetsItsTarget) {
  const Stack line_proto = gcpw(kCore, etched(0.1), 0.15, kUnbounded, mask());
  const Design z0 = width_for_z0(line_proto, 50.0);
  const Stack z0_stack = with_width_and_gap(line_proto, z0.width, z0.gap);
  EXPECT_NEAR(line(solve(z0_stack)).z0, 50.0, 0.05);
  // The coplanar grounds kept their gap.
  EXPECT_NEAR(z0_stack.conductors[2].left - z0_stack.conductors[0].right, 0.15, 1e-12);
  EXPECT_LE(z0.solves, 8);

  const Stack pair_proto = offset_stripline_pair(kCore, kPrepreg, etched(0.1), 0.15);
  const auto zdiff_of = [&](const Design& d) {
    return pair(solve(with_width_and_gap(pair_proto, d.width, d.gap))).zdiff;
  };
  const Design gap = gap_for_zdiff(pair_proto, 85.0);
  EXPECT_NEAR(zdiff_of(gap), 85.0, 0.05);
  EXPECT_DOUBLE_EQ(gap.width, 0.1);
  const Design width = width_for_zdiff(pair_proto, 100.0);
  EXPECT_NEAR(zdiff_of(width), 100.0, 0.05);
  EXPECT_DOUBLE_EQ(width.gap, 0.15);
  const Design pitch = width_and_gap_for_zdiff_at_pitch(pair_proto, 100.0);
  EXPECT_NEAR(zdiff_of(pitch), 100.0, 0.05);
  EXPECT_NEAR(pitch.width + pitch.gap, 0.25, 1e-12);
  const Design both = width_and_gap_for_zdiff_and_zcomm(pair_proto, 100.0, 30.0);
  const PairFigures p = pair(solve(with_width_and_gap(pair_proto, both.width, both.gap)));
  EXPECT_NEAR(p.zdiff, 100.0, 0.05);
  EXPECT_NEAR(p.zcomm, 30.0, 0.05);
  for (const Design* d : {&gap, &width, &pitch, &both}) EXPECT_LE(d->solves, 12);

  EXPECT_THROW(width_for_z0(microstrip(kCore, etched(0.1)), 500.0), std::invalid_argument);
  EXPECT_THROW(width_for_z0(pair_proto, 50.0), std::invalid_argument);
}

TEST(StackDesign, ToleranceHooksNameSetAndSolveTheVariables) {
  const Stack s = microstrip_pair(kCore, etched(0.1), 0.15, mask());
  const std::vector<Variable> vars = variables(s);
  ASSERT_EQ(vars.size(), 9u);  // thickness, er, width, conductor thickness and inset, 4 of the mask
  EXPECT_EQ(name(vars[1]), "layers[0].er");
  EXPECT_EQ(name(vars.back()), "mask.er");
  const Variable width{Variable::Kind::trace_width, 0};
  EXPECT_DOUBLE_EQ(value(s, width), 0.1);
  const Stack wider = with_values(s, {{width, 0.12}, {vars[1], 4.5}});
  EXPECT_NEAR(wider.conductors[1].left - wider.conductors[0].right, 0.13, 1e-12);  // the gap
  EXPECT_DOUBLE_EQ(wider.layers[0].er, 4.5);
  const Stack thin_layer = with_values(s, {{vars[0], 0.0}});
  const std::vector<Outcome> out = evaluate({s, wider, thin_layer});
  ASSERT_EQ(out.size(), 3u);
  ASSERT_TRUE(out[0].solved && out[1].solved);
  EXPECT_LT(pair(out[1].solution).zdiff, pair(out[0].solution).zdiff);  // wider, denser: lower
  EXPECT_FALSE(out[2].solved);
  EXPECT_EQ(out[2].reason.rfind("layers[0].thickness:", 0), 0u);
}

}  // namespace
}  // namespace kx::stack
