// Text formats: the W element's RLGC file round trip, Touchstone layout, the
// R L G C tables, the materials file.
#include <cmath>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <kestrelix/line_network.h>
#include <kestrelix/materials_file.h>
#include <kestrelix/rlgc_io.h>

namespace kx::rlgc {
namespace {

double max_difference(const CMatrix& a, const CMatrix& b) {
  double d = 0.0;
  for (int i = 0; i < a.size(); ++i)
    for (int j = 0; j < a.size(); ++j) d = std::max(d, std::abs(a(i, j) - b(i, j)));
  return d;
}

const LineStatics& pair() {
  static const LineStatics st = [] {
    PairMaterials m;
    m.substrate =
        materials::Dielectric(materials::builtin_materials().dielectric("fr4_like")->data);
    field::Geometry g;
    g.h = 0.1e-3;
    g.w = 0.12e-3;
    g.s = 0.15e-3;
    g.t = 35e-6;
    return pair_statics(g, m);
  }();
  return st;
}

TEST(WElement, RlgcFileRoundTripsTheLinesSParameters) {
  const double f_fit = 10e9, len = 0.1, z = 50.0;
  const WElementModel model = w_element_fit(pair(), f_fit);
  const std::string text = w_element_file(model, {"FR-4-like pair, 100 mm"});
  const WElementModel back = parse_w_element_file(text);
  ASSERT_EQ(back.conductors, 2);
  // At the fit frequency the file's line is the program's own.
  EXPECT_LT(max_difference(line_sparameters(w_element_rlgc(back, f_fit), len, z),
                           line_sparameters(rlgc_at(pair(), f_fit), len, z)),
            1e-9);
  // Everywhere, the file reads back to the model that was written.
  for (const double f : {1e6, 1e9, 40e9})
    EXPECT_LT(max_difference(line_sparameters(w_element_rlgc(back, f), len, z),
                             line_sparameters(w_element_rlgc(model, f), len, z)),
              1e-15);
  // The lower triangle, one row per line: "L0" then its two rows.
  EXPECT_NE(text.find("* L0, H/m\n"), std::string::npos);
  EXPECT_EQ(text.find("\n2\n* L0"), text.find("\n2\n"));
}

TEST(WElement, ParserSaysWhereAFileGoesWrong) {
  const auto message = [](const std::string& text) {
    try {
      parse_w_element_file(text);
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(message("* nothing\n"), "line 1: no number of conductors");
  EXPECT_EQ(message("0\n1\n1\n"),
            "line 1: the number of conductors must be a whole number from 1 "
            "to 64, not '0'");
  EXPECT_EQ(message("2\n* L0\n1e-7\n1e-8 1e-7\n* C0\n1e-10\n-1e-11 1e-10\n5\n"),
            "line 8: expected L0 and C0 and up to four more matrices of 3 numbers each, found 7 "
            "numbers");
  EXPECT_EQ(message("1\n1e-7\n1x\n"), "line 3: '1x' is not a number");
  const WElementModel m = parse_w_element_file("1\n+3e-7\n1e-10\n");  // R0, G0, Rs, Gd left out
  EXPECT_EQ(m.l0(0, 0), 3e-7);
  EXPECT_EQ(m.gd(0, 0), 0.0);
}

TEST(Touchstone, FourPortAndMixedModeFiles) {
  const std::vector<double> f = {1e9, 2e9};
  std::vector<CMatrix> s, mm;
  for (const double x : f) {
    s.push_back(pair_sparameters(rlgc_at(pair(), x), 0.1, 50.0));
    mm.push_back(mixed_mode(s.back()));
  }
  const std::string v1 = touchstone(f, s, 50.0, {"ports: 1, 2 strip 1;\n3, 4 strip 2"});
  std::istringstream in(v1);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "! ports: 1, 2 strip 1; 3, 4 strip 2");  // the line break is a blank
  std::getline(in, line);
  EXPECT_EQ(line, "# Hz S RI R 50");
  // Frequency and row 1, then rows 2 to 4, four pairs each; numbers read back.
  double freq = 0.0, re = 0.0, im = 0.0;
  in >> freq >> re >> im;
  EXPECT_EQ(freq, 1e9);
  EXPECT_EQ(std::complex<double>(re, im), s[0](0, 0));
  int lines = 0;
  for (std::istringstream all(v1); std::getline(all, line);) ++lines;
  EXPECT_EQ(lines, 2 + 2 * 4);

  const std::string v2 = touchstone_mixed_mode(f, mm, 50.0);
  EXPECT_NE(v2.find("[Version] 2.0\n# Hz S RI R 50\n[Number of Ports] 4\n"
                    "[Number of Frequencies] 2\n[Mixed-Mode Order] D1,3 D2,4 C1,3 C2,4\n"
                    "[Network Data]\n"),
            std::string::npos);
  EXPECT_EQ(v2.substr(v2.size() - 6), "[End]\n");
  EXPECT_THROW(touchstone({2e9, 1e9}, s, 50.0), std::invalid_argument);
}

TEST(RlgcTables, CsvAndJsonCarryEveryElement) {
  const std::vector<Rlgc> points = rlgc_sweep(pair(), {1e9, 10e9});
  const std::string csv = rlgc_csv(points);
  EXPECT_EQ(csv.substr(0, csv.find('\n')),
            "f_hz,r11_ohm_per_m,r21_ohm_per_m,r22_ohm_per_m,l11_h_per_m,l21_h_per_m,l22_h_per_m,"
            "g11_s_per_m,g21_s_per_m,g22_s_per_m,c11_f_per_m,c21_f_per_m,c22_f_per_m");
  const nlohmann::json j = nlohmann::json::parse(rlgc_json(points));
  EXPECT_EQ(j.at("conductors"), 2);
  EXPECT_EQ(j.at("points").size(), 2u);
  EXPECT_EQ(j.at("points")[1].at("f_hz").get<double>(), 10e9);
  EXPECT_EQ(j.at("points")[1].at("g")[0][1].get<double>(), points[1].g(0, 1));
  EXPECT_EQ(j.at("points")[0].at("c")[1][1].get<double>(), points[0].c(1, 1));
}

}  // namespace
}  // namespace kx::rlgc

namespace kx::materials {
namespace {

std::string parse_message(const std::string& text) {
  try {
    parse_materials(text, "m.json");
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "accepted";
}

TEST(MaterialsFile, BuiltInEntriesAndClearRefusals) {
  const MaterialsFile& b = builtin_materials();
  for (const char* name : {"fr4_like", "ptfe_like", "alumina_like", "hydrocarbon_ceramic_like"}) {
    const NamedDielectric* d = b.dielectric(name);
    ASSERT_NE(d, nullptr) << name;
    EXPECT_EQ(check(d->data), "") << name;
    EXPECT_FALSE(d->source.empty()) << name;
  }
  EXPECT_EQ(b.dielectric("fr4_like")->data.f_hz, 1e9);
  EXPECT_EQ(b.conductor("copper")->resistivity, copper_resistivity);
  EXPECT_EQ(b.dielectric("FR4"), nullptr);

  const std::string head = R"({"format": "kestrelix-materials", "version": 1, "dielectrics": [)";
  const std::string good =
      R"({"name": "a", "dk": 3.0, "df": 0.01, "f_ghz": 1, "model": "constant"})";
  EXPECT_EQ(parse_message(head + good + "]}"), "accepted");
  EXPECT_EQ(parse_message(head + good + "," + good + "]}"),
            "m.json: dielectrics[1].name: \"a\" appears twice");
  EXPECT_EQ(parse_message(head + R"({"name": "a", "dk": 3.0, "df": 0.01, "f_gHz": 1,
                                     "model": "constant"}]})"),
            "m.json: dielectrics[0]: unknown key \"f_gHz\"");
  EXPECT_EQ(parse_message(head + R"({"name": "a", "dk": 3.0, "df": 0.9, "f_ghz": 1,
                                     "model": "djordjevic_sarkar"}]})")
                .rfind("m.json: dielectrics[0]: Df is too large", 0),
            0u);
  EXPECT_EQ(parse_message(head + "]," + R"("roughness": [{"name": "r", "model": "huray",
            "rq_um": 1}]})"),
            "m.json: roughness[0]: \"rq_um\" does not belong to model \"huray\"");
  EXPECT_EQ(parse_message("{\"format\": "), "m.json: not valid JSON");
  const MaterialsFile r = parse_materials(head + "]," + R"("roughness": [{"name": "r",
      "model": "huray", "sphere_radius_um": 0.5, "spheres": 14, "tile_area_um2": 87.4}]})");
  EXPECT_EQ(r.roughness_profile("r")->roughness.sphere_radius, 0.5e-6);
  EXPECT_EQ(r.roughness_profile("r")->roughness.tile_area, 87.4e-12);
}

}  // namespace
}  // namespace kx::materials
