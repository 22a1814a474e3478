// The line models keep results and partial terms in Records, keyed by the
// exact inputs. A long sequence of different cross-sections through one
// evaluator must give, bit for bit, what a fresh evaluator gives for each
// point: a wrongly keyed term would show as a changed bit here.
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include <kestrelix/coupled_line.h>

namespace kx {
namespace {

std::uint32_t bits(float x) {
  std::uint32_t b = 0;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

std::vector<float> fields(const Modes& m) {
  return {m.f,        m.wte,         m.wto,    m.eff_c_dc, m.eff_e_dc,
          m.eff_o_dc, m.zoe_dc,      m.zoo_dc, m.zo_dc,    m.coupling_db_dc,
          m.eff_c,    m.eff_e,       m.eff_o,  m.zoe,      m.zoo,
          m.zo,       m.coupling_db, m.cc,     m.loss_e,   m.loss_o};
}

TEST(ModelMemo, ReusedEvaluatorMatchesAFreshOneBitForBit) {
  // Points that share some inputs and differ in one or two: the same W at
  // another S or cover, another Er at the same F*H, the same F*H from another
  // F and H, air, thin and thick strips; each visited twice, out of order.
  const float ers[] = {9.8f, 2.2f, 1.0f};
  const float hs[] = {0.025f, 0.0125f};
  const float h2s[] = {0.25f, 0.06f, 30.0f};
  const float ws[] = {0.02f, 0.005f, 0.06f};
  const float ss[] = {0.005f, 0.02f};
  const float ts[] = {0.0007f, 0.0f};
  const float fs[] = {0.0f, 2.0f, 4.0f, 18.0f};
  std::vector<Section> secs;
  for (float er : ers)
    for (float h : hs)
      for (float h2 : h2s)
        for (float w : ws)
          for (float s : ss)
            for (float t : ts) {
              Section sec;
              sec.er = er;
              sec.h = h;
              sec.h2 = h2;
              sec.w = w;
              sec.s = s;
              sec.t = t;
              secs.push_back(sec);
            }
  Materials mat;
  mat.res = 1.7f;
  mat.sr = 2.5f;
  mat.tlos = 0.0005f;

  CoupledLine reused;
  int compared = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (std::size_t k = 0; k < secs.size(); ++k) {
      // The second pass walks the points in another order.
      const Section& sec = secs[pass == 0 ? k : (k * 7) % secs.size()];
      for (float f : fs) {
        const bool lossy = (k + static_cast<std::size_t>(f)) % 2 == 0;
        CoupledLine fresh;
        const Modes a = lossy ? reused.at(sec, mat, f) : reused.at(sec, f);
        const Modes b = lossy ? fresh.at(sec, mat, f) : fresh.at(sec, f);
        const std::vector<float> fa = fields(a);
        const std::vector<float> fb = fields(b);
        for (std::size_t i = 0; i < fa.size(); ++i)
          ASSERT_EQ(bits(fa[i]), bits(fb[i]))
              << "field " << i << " of Er " << sec.er << " H " << sec.h << " H2 " << sec.h2 << " W "
              << sec.w << " S " << sec.s << " T " << sec.t << " f " << f;
        ASSERT_EQ(a.iflag, b.iflag);
        ++compared;
      }
    }
  }
  EXPECT_EQ(compared, 2 * static_cast<int>(secs.size()) * 4);
}

}  // namespace
}  // namespace kx
