// The evaluation chain against figures of an independent double-precision
// implementation of the same closed forms (tests/models/reference/README.md):
// uncovered (H2 = 1000 H), zero-thickness pairs, static and at f. The chain
// is 32-bit: every figure within 1e-4 relative.
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <kestrelix/coupled_line.h>

namespace kx {
namespace {

constexpr double kRelative = 1e-4;

TEST(PeerRows, ChainMatchesAnIndependentImplementation) {
  std::ifstream in(std::string(KX_TEST_DATA_DIR) + "/models/reference/peer_rows.csv");
  ASSERT_TRUE(in) << "tests/models/reference/peer_rows.csv";
  std::string line;
  std::getline(in, line);
  ASSERT_EQ(line.rfind("er,h_inch,w_inch,s_inch,t_inch,", 0), 0u) << line;
  const char* names[] = {"effe_static", "effo_static", "Zoe_static", "Zoo_static",
                         "effe_at_f",   "effo_at_f",   "Zoe_at_f",   "Zoo_at_f"};
  CoupledLine chain{ModelSettings{Model::closed}};
  int rows = 0;
  while (std::getline(in, line)) {
    std::vector<double> v;
    std::stringstream cells(line);
    for (std::string c; std::getline(cells, c, ',');) v.push_back(std::stod(c));
    ASSERT_EQ(v.size(), 16u) << line;
    Section sec;
    sec.er = static_cast<float>(v[0]);
    sec.h = static_cast<float>(v[1]);
    sec.w = static_cast<float>(v[2]);
    sec.s = static_cast<float>(v[3]);
    sec.t = static_cast<float>(v[4]);
    sec.h2 = 1000.0f * sec.h;
    const Modes m = chain.at(sec, static_cast<float>(v[7]));
    ASSERT_EQ(m.iflag, 0) << line;
    const float got[] = {m.eff_e_dc, m.eff_o_dc, m.zoe_dc, m.zoo_dc,
                         m.eff_e,    m.eff_o,    m.zoe,    m.zoo};
    for (std::size_t k = 0; k < 8; ++k) {
      const double expected = v[8 + k];
      EXPECT_NEAR(static_cast<double>(got[k]), expected, kRelative * expected)
          << names[k] << " of row " << line;
    }
    ++rows;
  }
  EXPECT_EQ(rows, 30);
}

}  // namespace
}  // namespace kx
