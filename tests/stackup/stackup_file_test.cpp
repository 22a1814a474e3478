// Stackup files: a JSON stackup read, written and read back; every bad entry
// refused with a message naming it; a KiCad board's stackup imported for its
// outer and inner signal layers (six_layer.kicad_pcb, written by hand from
// the board file format's documentation).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "kestrelix/stack_solver.h"
#include "kestrelix/stackup_file.h"

namespace kx::stack {
namespace {

const char* kPair = R"({
  "unit": "mil",
  "layers": [{"name": "core", "thickness": 4, "er": 4.2, "loss_tangent": 0.02},
             {"name": "prepreg", "thickness": 5.4, "er": 3.9}],
  "top_plane": true,
  "conductors": [
    {"name": "P", "interface": 1, "centre": -4, "width": 4, "thickness": 1.4, "etch_factor": 2.8},
    {"name": "N", "interface": 1, "left": 2, "right": 6, "thickness": 1.4, "top_width": 3},
    {"role": "ground", "interface": 1, "left": 12, "right": "unbounded", "thickness": 1.4}
  ]
})";

std::string message_of(const std::string& text) {
  try {
    parse_stackup(text);
  } catch (const StackupError& e) {
    return e.what();
  }
  return "";
}

TEST(StackupFile, ReadsWritesAndReadsBack) {
  const Stackup s = parse_stackup(kPair);
  EXPECT_EQ(s.unit, Unit::mil);
  ASSERT_EQ(s.stack.layers.size(), 2u);
  EXPECT_EQ(s.stack.layers[0].name, "core");
  EXPECT_EQ(s.stack.layers[1].loss_tangent, 0.0);
  ASSERT_EQ(s.stack.conductors.size(), 3u);
  EXPECT_DOUBLE_EQ(s.stack.conductors[0].left, -6.0);
  EXPECT_DOUBLE_EQ(s.stack.conductors[0].inset, 0.5);  // 1.4 / 2.8
  EXPECT_DOUBLE_EQ(s.stack.conductors[1].inset, 0.5);  // (4 - 3) / 2
  EXPECT_EQ(s.stack.conductors[2].role, Role::ground);
  EXPECT_EQ(s.stack.conductors[2].right, kUnbounded);

  const Stackup back = parse_stackup(stackup_json(s));
  EXPECT_EQ(back.unit, s.unit);
  EXPECT_EQ(stackup_json(back), stackup_json(s));
  const Solution a = solve(s.stack), b = solve(back.stack);
  EXPECT_EQ(a.c.v, b.c.v);

  // In mm the same field: the same impedances.
  const Stack in_mm = scaled(s.stack, mm_per(s.unit));
  EXPECT_DOUBLE_EQ(in_mm.layers[0].thickness, 4 * 0.0254);
  EXPECT_NEAR(pair(solve(in_mm)).zdiff, pair(a).zdiff, 1e-9 * pair(a).zdiff);
}

TEST(StackupFile, NamesTheBadEntry) {
  const std::string layers =
      R"("layers": [{"thickness": 4, "er": 4.2}, {"thickness": 5, "er": 3.9}])";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{", "stackup: not JSON"},
      {"[1, 2]", "stackup: must be a JSON object"},
      {"{" + layers + "}", "unit: missing"},
      {R"({"unit": "cm", )" + layers + "}", "unit: must be"},
      {R"({"unit": "mm", "layers": []})", "layers: must be a list"},
      {R"({"unit": "mm", "layers": [{"thickness": 4, "er": 4.2}, {"thickness": 5, "er": 0.5}]})",
       "layers[1].er: must be a number from 1 to 1e4"},
      {R"({"unit": "mm", "layers": [{"thickness": "4", "er": 4.2}]})",
       "layers[0].thickness: must be a number > 0"},
      {R"({"unit": "mm", "layers": [{"thikness": 4, "er": 4.2}]})",
       "layers[0].thikness: unknown entry"},
      {R"({"unit": "mm", "layer": []})", "layer: unknown entry"},
      {R"({"unit": "mm", )" + layers +
           R"(, "conductors": [{"interface": 3, "left": 0, "right": 1}]})",
       "conductors[0].interface: must be a whole number"},
      {R"({"unit": "mm", )" + layers +
           R"(, "conductors": [{"interface": 1, "role": "power", "left": 0, "right": 1}]})",
       "conductors[0].role: must be"},
      {R"({"unit": "mm", )" + layers +
           R"(, "conductors": [{"interface": 1, "left": 0, "right": "far"}]})",
       "conductors[0].right: must be a number or \"unbounded\""},
      {R"({"unit": "mm", )" + layers +
           R"(, "conductors": [{"interface": 1, "left": 0, "right": 2}, {"interface": 1, "left": 1, "right": 3}]})",
       "conductors[1].left: overlaps"},
      {R"({"unit": "mm", )" + layers +
           R"(, "top_plane": true, "mask": {"over_trace": 1, "on_substrate": 1, "between": 1, "er": 3}})",
       "mask.interface:"},
      {R"({"unit": "mm", )" + layers + R"(, "mask": {"over_trace": 1, "between": 1, "er": 3}})",
       "mask.on_substrate: missing"},
  };
  for (const auto& [text, start] : cases) {
    const std::string m = message_of(text);
    EXPECT_EQ(m.rfind(start, 0), 0u) << "got \"" << m << "\" for " << text;
    EXPECT_EQ(m.find('\n'), std::string::npos) << m;
  }
  EXPECT_THROW(read_stackup("/nonexistent/stackup.json"), StackupError);
}

std::string board() {
  std::ifstream in(std::string(KX_TEST_DATA_DIR) + "/stackup/six_layer.kicad_pcb");
  EXPECT_TRUE(in);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(StackupFile, ImportsAKicadBoardsSignalLayers) {
  const std::vector<KicadLayer> layers = read_kicad_stackup(board());
  ASSERT_EQ(layers.size(), 18u);  // with dielectric 3's second sublayer
  // The outer layer: microstrip on the prepreg under the board's mask.
  KicadImport top = import_kicad(layers, "F.Cu");
  ASSERT_EQ(top.stackup.stack.layers.size(), 1u);
  EXPECT_FALSE(top.stackup.stack.top_plane);
  EXPECT_EQ(top.interface, 1u);
  EXPECT_DOUBLE_EQ(top.trace_thickness, 0.035);
  EXPECT_DOUBLE_EQ(top.stackup.stack.layers[0].er, 4.1);
  EXPECT_DOUBLE_EQ(top.stackup.stack.mask.over_trace, 0.02);
  EXPECT_DOUBLE_EQ(top.stackup.stack.mask.er, 3.5);
  // The bottom layer: the same, turned over.
  const KicadImport bottom = import_kicad(layers, "B.Cu");
  EXPECT_TRUE(bottom.turned_over);
  EXPECT_DOUBLE_EQ(bottom.stackup.stack.layers[0].thickness, 0.1);
  EXPECT_DOUBLE_EQ(bottom.stackup.stack.mask.er, 3.5);
  // Inner layers: on their core, the prepreg (two sublayers) filling round
  // the traces: In2.Cu hangs from the core above it, In3.Cu sits on the core below.
  for (const char* name : {"In2.Cu", "In3.Cu"}) {
    const KicadImport in = import_kicad(layers, name);
    SCOPED_TRACE(name);
    EXPECT_EQ(in.turned_over, std::string(name) == "In2.Cu");
    const Stack& s = in.stackup.stack;
    ASSERT_EQ(s.layers.size(), 3u);
    EXPECT_TRUE(s.top_plane);
    EXPECT_EQ(in.interface, 1u);
    EXPECT_DOUBLE_EQ(s.layers[0].thickness, 0.2);
    EXPECT_DOUBLE_EQ(s.layers[1].thickness, 0.1 + 0.018);  // counted from the trace's top
    EXPECT_DOUBLE_EQ(s.layers[0].er, 4.4);
    EXPECT_DOUBLE_EQ(s.layers[1].er, std::string(name) == "In2.Cu" ? 4.0 : 4.2);
    // A trace there solves.
    Stack with_trace = s;
    Conductor c;
    c.interface = in.interface;
    c.left = -0.05;
    c.right = 0.05;
    c.thickness = in.trace_thickness;
    with_trace.conductors.push_back(c);
    const double z0 = line(solve(with_trace)).z0;
    EXPECT_GT(z0, 20.0);
    EXPECT_LT(z0, 80.0);
  }
  // A sublayer that gives only its thickness takes the layer's material.
  std::string text = board();
  text.replace(text.find("(epsilon_r 4.2) (loss_tangent 0.019)"), 36, "");
  const KicadImport inherit = import_kicad(read_kicad_stackup(text), "In3.Cu");
  EXPECT_DOUBLE_EQ(inherit.stackup.stack.layers[1].er, 4.0);
  EXPECT_DOUBLE_EQ(inherit.stackup.stack.layers[1].loss_tangent, 0.018);
  // A named reference further away: the copper between counts as dielectric.
  top = import_kicad(layers, "F.Cu", "", "In2.Cu");
  ASSERT_EQ(top.stackup.stack.layers.size(), 2u);
  EXPECT_DOUBLE_EQ(top.stackup.stack.layers[1].thickness, 0.1 + 0.035);
  EXPECT_EQ(top.interface, 2u);
}

TEST(StackupFile, KicadErrorsNameTheEntry) {
  const auto message = [](const std::function<void()>& f) -> std::string {
    try {
      f();
    } catch (const StackupError& e) {
      return e.what();
    }
    return "";
  };
  std::string b = board();
  const std::vector<KicadLayer> layers = read_kicad_stackup(b);
  EXPECT_EQ(
      message([&] { import_kicad(layers, "In9.Cu"); })
          .rfind("no copper layer named \"In9.Cu\" in the stackup (its copper layers: F.Cu, In1.Cu",
                 0),
      0u);
  EXPECT_NE(message([&] { import_kicad(layers, "F.Cu", "", "B.Mask"); }).find("B.Mask"),
            std::string::npos);
  std::string no_er = b;
  no_er.replace(no_er.find("(epsilon_r 4.1)"), 15, "");
  EXPECT_EQ(message([&] { import_kicad(read_kicad_stackup(no_er), "F.Cu"); }),
            "stackup layer \"dielectric 1\": no epsilon_r (at least 1)");
  std::string bad_number = b;
  bad_number.replace(bad_number.find("(thickness 0.2 locked)"), 22, "(thickness 0,2)");
  EXPECT_EQ(message([&] {
              read_kicad_stackup(bad_number);
            }).rfind("stackup layer \"dielectric 2\": thickness is not a number", 0),
            0u);
  EXPECT_EQ(message([] { read_kicad_stackup("(kicad_sch (version 1))"); }),
            "not a KiCad board file: it does not start with (kicad_pcb");
  EXPECT_EQ(message([] { read_kicad_stackup("(kicad_pcb (setup (pad_to_mask_clearance 0)))"); }),
            "the board has no stackup: no (stackup ...) in its (setup ...)");
  EXPECT_NE(message([&] { read_kicad_stackup(b.substr(0, b.size() / 2)); }), "");
  EXPECT_NE(message([] { read_kicad_stackup(std::string(100000, '(')); }), "");
}

}  // namespace
}  // namespace kx::stack
