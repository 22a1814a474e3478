// The line models keep results and partial terms (models/memo.h), keyed by
// the exact inputs. A long sequence of different cross-sections through one
// evaluator must give, bit for bit, what a fresh evaluator gives for each
// point, and the chain with kept terms what the chain without them gives: a
// wrongly keyed term would show as a changed bit here.
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include <kestrelix/coupled_line.h>

#include "models/chain.h"
#include "tests/support/targets.h"

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

void expect_same_bits(const std::vector<float>& a, const std::vector<float>& b, const Section& sec,
                      float f) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i)
    ASSERT_EQ(bits(a[i]), bits(b[i]))
        << "field " << i << " of Er " << sec.er << " H " << sec.h << " H2 " << sec.h2 << " W "
        << sec.w << " S " << sec.s << " T " << sec.t << " f " << f;
}

Section section(float er, float h, float h2, float w, float s, float t) {
  Section sec;
  sec.er = er;
  sec.h = h;
  sec.h2 = h2;
  sec.w = w;
  sec.s = s;
  sec.t = t;
  return sec;
}

// Cross-sections that share some inputs and differ in one or two.
std::vector<Section> neighbours() {
  std::vector<Section> secs;
  for (float er : {9.8f, 2.2f})
    for (float h2 : {0.25f, 0.06f, 3.0f})
      for (float w : {0.02f, 0.06f})
        for (float s : {0.005f, 0.02f})
          for (float t : {0.0007f, 0.0f}) secs.push_back(section(er, 0.025f, h2, w, s, t));
  return secs;
}

TEST(ModelMemo, SensitivitiesOfOneModeMatchAFreshEvaluator) {
  // The perturbed evaluations of one mode read the other mode as the last
  // evaluation left it, and perturb one input at a time: the kept terms of
  // every perturbed input and of the unperturbed ones meet here.
  const std::vector<Section> secs = neighbours();
  CoupledLine reused{ModelSettings{Model::closed}};
  for (int pass = 0; pass < 2; ++pass) {
    for (std::size_t k = 0; k < secs.size(); ++k) {
      const Section& sec = secs[pass == 0 ? k : (k * 5) % secs.size()];
      for (float f : {0.0f, 3.0f, 12.0f}) {
        for (Impedance of : {Impedance::zoe, Impedance::zoo}) {
          CoupledLine fresh{ModelSettings{Model::closed}};
          const Sensitivity a = reused.sensitivity(sec, f, of);
          const Sensitivity b = fresh.sensitivity(sec, f, of);
          const auto fields = [](const Sensitivity& x) {
            return std::vector<float>{x.zoe,   x.zoo,  x.to.er, x.to.h,
                                      x.to.h2, x.to.s, x.to.t,  x.to.w};
          };
          expect_same_bits(fields(a), fields(b), sec, f);
          ASSERT_EQ(a.iflag, b.iflag);
        }
      }
    }
  }
}

TEST(ModelMemo, SynthesesMatchAFreshEvaluator) {
  // Every search step evaluates a new S or W on the same substrate; the
  // levels and frequencies alternate so that the kept terms change hands.
  CoupledLine reused{ModelSettings{Model::closed}};
  int found = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (float er : {9.8f, 3.66f}) {
      const Section sub = section(er, 0.025f, 0.25f, 0.0f, 0.0f, 0.0007f);
      for (float level : {6.0f, 10.0f, 20.0f}) {
        for (float f : {0.0f, 4.0f}) {
          CoupledLine fresh{ModelSettings{Model::closed}};
          const Synthesis a =
              pass == 0 ? reused.synthesise(sub, test::coupler_target(50.0f, level, f))
                        : reused.synthesise_pair(sub, test::pair_target(90.0f, 2500.0f / 90.0f, f));
          const Synthesis b =
              pass == 0 ? fresh.synthesise(sub, test::coupler_target(50.0f, level, f))
                        : fresh.synthesise_pair(sub, test::pair_target(90.0f, 2500.0f / 90.0f, f));
          expect_same_bits({a.w, a.s, a.zoe, a.zoo, a.eff_e, a.eff_o},
                           {b.w, b.s, b.zoe, b.zoo, b.eff_e, b.eff_o}, sub, f);
          ASSERT_EQ(a.iflag, b.iflag);
          found += a.iflag == 0 ? 1 : 0;  // converged (valid also asks the fitted ranges)
        }
      }
    }
  }
  EXPECT_GE(found, 16);  // most of the 24 syntheses converge
}

TEST(ModelMemo, ChainWithKeptTermsMatchesTheChainWithout) {
  // The same sequence of evaluations and losses on one chain context
  // (kept terms) and each on new records (every term formed afresh; the
  // records carry over only what the chain reads from the last evaluation).
  Materials mat;
  mat.res = 1.7f;
  mat.sr = 2.5f;
  mat.tlos = 0.0005f;
  ChainContext kept;
  Records last;
  for (const Section& sec : neighbours()) {
    for (float f : {0.0f, 2.0f, 18.0f}) {
      for (ModeSet modes : {ModeSet::both, ModeSet::odd, ModeSet::even}) {
        Records bare = last;  // a copy keeps no terms
        ChainValues ck;
        ChainValues cb;
        int fk = 0;
        int fb = 0;
        evaluate_chain(kept.rec, ck, sec, f, modes, fk);
        evaluate_chain(bare, cb, sec, f, modes, fb);
        const Attenuation ak = total_losses(kept.rec, sec, mat, f);
        const Attenuation ab = total_losses(bare, sec, mat, f);
        const auto fields = [](const Records& r, const ChainValues& c, const Attenuation& a) {
          return std::vector<float>{c.wte,
                                    c.wto,
                                    c.effc,
                                    c.effe,
                                    c.effo,
                                    c.zoe,
                                    c.zoo,
                                    r.lceff1.effcf,
                                    r.lceff1.effef,
                                    r.lceff1.effof,
                                    r.lcdis1.zoef,
                                    r.lcdis1.zoof,
                                    r.ms1pv.effoi,
                                    r.msimp1.ef,
                                    r.msimp1.zo,
                                    a.e,
                                    a.o};
        };
        expect_same_bits(fields(kept.rec, ck, ak), fields(bare, cb, ab), sec, f);
        ASSERT_EQ(fk, fb);
        last = bare;
      }
    }
  }
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

  CoupledLine reused{ModelSettings{Model::closed}};
  int compared = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (std::size_t k = 0; k < secs.size(); ++k) {
      // The second pass walks the points in another order.
      const Section& sec = secs[pass == 0 ? k : (k * 7) % secs.size()];
      for (float f : fs) {
        const bool lossy = (k + static_cast<std::size_t>(f)) % 2 == 0;
        CoupledLine fresh{ModelSettings{Model::closed}};
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
