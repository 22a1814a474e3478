// Frequency analysis runs: the four-port response (baseline block, FORMAT 1
// and 2, baseline verification, failures) and the dispersion table.
#include <gtest/gtest.h>

#include "common/sweep.h"
#include "network/network.h"
#include "tests/app/runs_fixture.h"

namespace kx::test {
namespace {

State four_port_state() {
  State st = alumina_state();
  st.design.iop = 2;
  st.design.iop2a = 1;
  st.design.iop2b = 1;
  st.fo = 3.0f;
  return st;
}

State dispersion_state(float fmin, float fmax, float fstep) {
  State st = four_port_state();
  st.design.iop2a = 2;
  st.design.fmin = fmin;
  st.design.fmax = fmax;
  st.design.fstep = fstep;
  return st;
}

// The run header of the four-port run for the alumina design at 3 GHz.
std::vector<std::string> four_port_header() {
  return {
      blanks(8) + "DLTAN =.00010" + blanks(12) + "Frequency Analysis" + blanks(9) + "H2 = 0.250\"",
      blanks(10) + "RES = 1.700 u-Ohm-cm" + blanks(2) + std::string(20, '=') + blanks(9) +
          "H = 0.0250\"",
      blanks(11) + "SR =  2.00 u\"" + blanks(12) + "(Option 2.1)" + blanks(13) + "W = 0.0240\"",
      blanks(11) + "Rs = 50.00 Ohms" + blanks(35) + "S = 0.0100\"",
      blanks(11) + "Rl = 50.00 Ohms" + blanks(7) + "Design Frequency:" + blanks(6) +
          "Length = 0.3000\"",
      blanks(11) + "Er =  9.80" + blanks(13) + "Fo =  3.0000 GHz" + blanks(11) + "T = 0.000200\"",
      "",
      blanks(23) + "Baseline Microstrip Coupler Parameters:",
      blanks(7) + blanks(15) + "Effective          Impedances in Ohms",
      blanks(7) + blanks(10) + "Dielectric Constants   ---------------------",
      blanks(7) + blanks(10) + "--------------------   Even    Odd              Loss,dB/Inch",
      blanks(7) + "Frequency  Even   Odd  Coupler   Mode    Mode  Coupler    Even    Odd",
      blanks(7) + "  (GHz)    Mode   Mode Er(eff)   Zoe     Zoo      Zo      Mode    Mode",
      blanks(7) + std::string(70, '-'),
  };
}

const std::string kClosingSentence =
    blanks(6) + "The baseline coupler parameters yield the following frequency response:";

std::string baseline_row(float f0, float a, float b, float c, float d, float e, float g, float x,
                         float y) {
  return blanks(5) + f(f0, 10, 4) + f(a, 7, 3) + f(b, 7, 3) + f(c, 7, 3) + f(d, 9, 3) + f(e, 8, 3) +
         f(g, 8, 3) + f(x, 8, 3) + f(y, 8, 3);
}

// The four-port response at freq for the cross-section, computed here from
// the model chain and the network routine.
Lcfa1 response(const Design& d, float w, float s, float freq) {
  const Eval e = evaluate(d, w, s, freq);
  const auto rad = static_cast<float>(radiation_per_mode(d.h, freq, e.eff_e));
  Records rec;
  rec.lcfa1.fo = freq;
  lcfa(rec, e.ate + rad, e.ato + rad, e.eff_e, e.eff_o, d.l, d.rl, d.rs, e.zoe, e.zoo);
  return rec.lcfa1;
}

std::string scattering_row(float freq, const Lcfa1& r) {
  return blanks(1) + f(freq, 13, 4) + f(r.mag[0], 7, 1) + f(r.ang[0], 8, 1) + f(r.mag[1], 9, 3) +
         f(r.ang[1], 7, 1) + f(r.mag[2], 8, 1) + f(r.ang[2], 8, 1) + f(r.mag[3], 9, 3) +
         f(r.ang[3], 7, 1);
}

std::string quadrature_row(float freq, const Lcfa1& r) {
  return blanks(1) + f(freq, 13, 4) + f(r.vswr, 7, 3) + f(r.mag[1], 9, 3) + f(r.mag[2], 8, 1) +
         f(r.mag[3], 7, 3) + f(r.phi, 8, 2) + f(r.phaserr, 7, 2) + f(r.atot, 9, 4) +
         f(r.loss, 8, 4);
}

TEST(RunFourPort, BaselineBlockThenScatteringParametersPerFrequency) {
  State st = four_port_state();
  Capture cap;
  run_frequency(st, cap.rep);
  const auto ls = lines(cap.text());
  const auto head = four_port_header();
  ASSERT_EQ(ls.size(), head.size() + 2 + 2 + 7 + 3);
  for (std::size_t k = 0; k < head.size(); ++k) EXPECT_EQ(ls[k], head[k]) << "line " << k;

  // D.C. row: static values and the losses at 0.0001 GHz (no radiation).
  const Design& d = st.design;
  const Eval e = evaluate(d, d.wdef, d.sdef, 3.0f);
  Records r0 = e.rec;
  r0.lceff1.effef = e.eff_e;  // the losses read the permittivities at Fo
  r0.lceff1.effof = e.eff_o;
  const Attenuation a0 = line_losses(r0, section(d, d.wdef, d.sdef), materials(d), 0.0001f);
  const float ate0 = a0.e;
  const float ato0 = a0.o;
  float cc = 0.0f, ko = 0.0f, zodc = 0.0f, zoe = e.zoe_dc, zoo = e.zoo_dc;
  sl1zo(cc, ko, sl1zo_coupling_from_pair, zodc, zoe, zoo);
  std::size_t n = head.size();
  EXPECT_EQ(ls[n], baseline_row(0.0f, e.eff_e_dc, e.eff_o_dc, e.eff_c_dc, e.zoe_dc, e.zoo_dc, zodc,
                                -ate0, -ato0));
  const auto rad = static_cast<float>(radiation_per_mode(d.h, 3.0, e.eff_e));
  EXPECT_EQ(ls[n + 1], baseline_row(3.0f, e.eff_e, e.eff_o, e.eff_c, e.zoe, e.zoo, e.zo,
                                    -(e.ate + rad), -(e.ato + rad)));
  EXPECT_EQ(ls[n + 2], "");
  EXPECT_EQ(ls[n + 3], kClosingSentence);

  // Scattering-parameter header.
  n += 4;
  EXPECT_EQ(ls[n], blanks(17) + "Port 1: S11" + blanks(4) + "Port 2: S21" + blanks(6) +
                       "Port 3: S31" + blanks(5) + "Port 4: S41");
  EXPECT_EQ(ls[n + 1], blanks(18) + "Reflected" + blanks(7) + "Coupled" + blanks(8) + " Isolated" +
                           blanks(8) + "Thru Path");
  EXPECT_EQ(ls[n + 2], blanks(16) + std::string(13, '-') + blanks(2) + std::string(14, '-') +
                           blanks(3) + std::string(13, '-') + blanks(3) + std::string(13, '-'));
  EXPECT_EQ(ls[n + 3], blanks(6) +
                           "Analysis   Amp-   Phase    Amp-   Phase    Amp-   Phase    "
                           "Amp-   Phase");
  EXPECT_EQ(ls[n + 4], blanks(6) +
                           "Frequency litude  (Deg-   litude  (Deg-   litude  (Deg-   "
                           "litude  (Deg-");
  EXPECT_EQ(ls[n + 5], blanks(8) +
                           "(GHz)    (dB)   rees)    (dB)   rees)    (dB)   rees)    "
                           "(dB)   rees)");
  EXPECT_EQ(ls[n + 6], blanks(6) + std::string(71, '-'));
  // Fstart 1, Fstop 3, Fstep 1: three rows.
  n += 7;
  for (int k = 0; k < 3; ++k) {
    const float freq = static_cast<float>(k + 1);
    EXPECT_EQ(ls[n + static_cast<std::size_t>(k)],
              scattering_row(freq, response(d, d.wdef, d.sdef, freq)));
  }
  // The response routine's frequency stays at the last sweep point.
  EXPECT_EQ(st.fo, 3.0f);
}

TEST(RunFourPort, Format2PrintsVswrAmplitudesQuadratureAndLosses) {
  State st = four_port_state();
  st.design.iop2b = 2;
  st.design.fmin = 2.0f;
  st.design.fmax = 4.0f;
  st.design.fstep = 2.0f;
  Capture cap;
  run_frequency(st, cap.rep);
  const auto ls = lines(cap.text());
  const std::size_t n = four_port_header().size() + 4;
  ASSERT_EQ(ls.size(), n + 7 + 2);
  EXPECT_EQ(ls[n], "");
  EXPECT_EQ(ls[n + 1], blanks(49) + "Quadrature");
  EXPECT_EQ(ls[n + 2],
            blanks(17) + "Ports 1-4 Output Amplitudes" + blanks(3) + std::string(14, '-'));
  EXPECT_EQ(ls[n + 3], blanks(6) + "Analysis" + blanks(2) + std::string(29, '-') +
                           "   Phase   Error   I*I*R   Total");
  EXPECT_EQ(ls[n + 4], blanks(6) +
                           "Frequency Input  Coupled Isolated  Thru   (Deg-   (Deg-    "
                           "Loss    Loss");
  EXPECT_EQ(ls[n + 5], blanks(8) +
                           "(GHz)    VSWR    (dB)    (dB)    (dB)   rees)   rees)    "
                           "(dB)    (dB)");
  EXPECT_EQ(ls[n + 6], blanks(6) + std::string(71, '-'));
  const Design& d = st.design;
  EXPECT_EQ(ls[n + 7], quadrature_row(2.0f, response(d, d.wdef, d.sdef, 2.0f)));
  EXPECT_EQ(ls[n + 8], quadrature_row(4.0f, response(d, d.wdef, d.sdef, 4.0f)));
}

TEST(RunFourPort, WithStorageTheBaselineBlockFollowsOnTheFileAsAGroup) {
  State st = four_port_state();
  st.design.istore = 1;
  Capture cap("four_port_store.out");
  run_frequency(st, cap.rep);
  // The same lines in the same order on both.
  EXPECT_EQ(cap.stored(), cap.text());
  EXPECT_EQ(lines(cap.stored()).size(), four_port_header().size() + 4 + 7 + 3);
}

TEST(RunFourPort, BaselineFailureReachesTheFileOnlyWithTheReport) {
  // W = 0.5" (W/H = 20) is beyond the dispersive validity at 3 GHz.
  State st = four_port_state();
  st.design.istore = 1;
  st.design.wdef = 0.5f;
  st.fo = 3.0f;
  Capture cap("four_port_fail.out");
  run_frequency(st, cap.rep);
  const auto ls = lines(cap.text());
  const auto head = four_port_header();
  ASSERT_EQ(ls.size(), head.size() + 3);
  // Console: the header as far as the baseline table header, then the report.
  EXPECT_EQ(ls[2], blanks(11) + "SR =  2.00 u\"" + blanks(12) + "(Option 2.1)" + blanks(13) +
                       "W = 0.5000\"");
  EXPECT_EQ(ls[head.size() - 1], head.back());
  const std::string report = blanks(15) + "ERROR DETECTED:    Frequency Analysis terminated.\n" +
                             blanks(20) + "Algorithm accuracy violated by:\n" + blanks(20) +
                             "1. W/H = 20.00\n";
  EXPECT_EQ(cap.text().substr(cap.text().size() - report.size()), report);
  // File: the report alone.
  EXPECT_EQ(cap.stored(), report);
}

TEST(RunFourPort, SweepFailureKeepsTheEarlierRows) {
  // W = 0.4" is valid up to about 4 GHz and not at 6 GHz.
  State st = four_port_state();
  st.design.wdef = 0.4f;
  st.design.fmin = 2.0f;
  st.design.fmax = 8.0f;
  st.design.fstep = 2.0f;
  st.fo = 3.0f;
  Capture cap;
  run_frequency(st, cap.rep);
  const auto ls = lines(cap.text());
  const std::size_t n = four_port_header().size() + 4 + 7;
  ASSERT_EQ(ls.size(), n + 2 + 3);
  const Design& d = st.design;
  EXPECT_EQ(ls[n], scattering_row(2.0f, response(d, 0.4f, d.sdef, 2.0f)));
  EXPECT_EQ(ls[n + 1], scattering_row(4.0f, response(d, 0.4f, d.sdef, 4.0f)));
  EXPECT_EQ(ls[n + 2], blanks(15) + "ERROR DETECTED:    Frequency Analysis terminated.");
  EXPECT_EQ(ls[n + 4], blanks(20) + "1. W/H = 16.00");
}

TEST(RunFourPort, BaselineVerificationSweepsTheStaticValues) {
  // The same wide strip, swept to 10 GHz: without dispersion calls there is
  // no failure, and every row is the response of the static cross-section.
  State st = four_port_state();
  st.design.istore = -473;
  st.design.wdef = 0.4f;
  st.design.fmin = 2.0f;
  st.design.fmax = 10.0f;
  st.design.fstep = 4.0f;
  st.fo = 3.0f;
  Capture cap;
  run_frequency(st, cap.rep);
  const auto ls = lines(cap.text());
  const std::size_t n = four_port_header().size() + 4 + 7;
  ASSERT_EQ(ls.size(), n + 3);
  const Design& d = st.design;
  const Eval e = evaluate(d, 0.4f, d.sdef, 3.0f);
  for (int k = 0; k < 3; ++k) {
    const float freq = sweep_point(k, 4.0f, 2.0f);
    Records rec = e.rec;
    rec.lceff1.effef = e.eff_e_dc;
    rec.lceff1.effof = e.eff_o_dc;
    const Attenuation a = line_losses(rec, section(d, 0.4f, d.sdef), materials(d), freq);
    const float ate = a.e;
    const float ato = a.o;
    const auto rad = static_cast<float>(radiation_per_mode(d.h, freq, e.eff_e_dc));
    rec.lcfa1.fo = freq;
    lcfa(rec, ate + rad, ato + rad, e.eff_e_dc, e.eff_o_dc, d.l, d.rl, d.rs, e.zoe_dc, e.zoo_dc);
    EXPECT_EQ(ls[n + static_cast<std::size_t>(k)], scattering_row(freq, rec.lcfa1));
  }
}

std::vector<std::string> dispersion_header() {
  return {
      blanks(13) + "Er =  9.80" + blanks(10) + "Frequency Analysis" + blanks(7) + "S = 0.0100\"",
      blanks(13) + "H2 = 0.250\"" + blanks(8) + std::string(20, '=') + blanks(6) + "W = 0.0240\"",
      blanks(14) + "H = 0.0250\"" + blanks(11) + "(Option 2.2)" + blanks(10) + "T = 0.000200\"",
      blanks(12) + "RES = 1.700 u-Ohm-cm" + blanks(25) + "SR = 2.000 u\"",
      "",
      blanks(4) + blanks(15) + "Effective          Impedances in Ohms",
      blanks(4) + blanks(10) + "Dielectric Constants   ---------------------",
      blanks(4) + blanks(10) +
          "--------------------   Even    Odd            Coupler   Loss,dB/Inch",
      blanks(4) + "Frequency  Even   Odd  Coupler   Mode    Mode  Coupler  Length,   Even    Odd",
      blanks(4) + "  (GHz)    Mode   Mode Er(eff)   Zoe     Zoo      Zo    Inches    Mode    Mode",
      blanks(4) + std::string(78, '-'),
  };
}

std::string dispersion_row(const Design& d, float freq) {
  const Eval e = evaluate(d, d.wdef, d.sdef, freq);
  const auto rad = static_cast<float>(radiation_per_mode(d.h, freq, e.eff_e));
  const float length = 11.802855f / (std::sqrt(e.eff_c) * (freq * 4.0f));
  return blanks(4) + f(freq, 8, 4) + f(e.eff_e, 7, 3) + f(e.eff_o, 7, 3) + f(e.eff_c, 7, 3) +
         f(e.zoe, 9, 3) + f(e.zoo, 8, 3) + f(e.zo, 8, 3) + f(length, 8, 4) +
         f(-(e.ate + rad), 8, 3) + f(-(e.ato + rad), 8, 3);
}

TEST(RunDispersion, StartAboveZeroPrintsASeparateStaticRow) {
  State st = dispersion_state(1.0f, 3.0f, 1.0f);
  st.design.istore = 1;
  Capture cap("dispersion_store.out");
  run_frequency(st, cap.rep);
  const auto ls = lines(cap.text());
  const auto head = dispersion_header();
  ASSERT_EQ(ls.size(), head.size() + 1 + 3);
  for (std::size_t k = 0; k < head.size(); ++k) EXPECT_EQ(ls[k], head[k]) << "line " << k;
  const Design& d = st.design;
  const Eval e = evaluate(d, d.wdef, d.sdef, 0.0f);
  float cc = 0.0f, ko = 0.0f, zodc = 0.0f, zoe = e.zoe_dc, zoo = e.zoo_dc;
  sl1zo(cc, ko, sl1zo_coupling_from_pair, zodc, zoe, zoo);
  // The D.C. row ends after Zo.
  EXPECT_EQ(ls[head.size()], blanks(4) + "  0.0000" + f(e.eff_e_dc, 7, 3) + f(e.eff_o_dc, 7, 3) +
                                 f(e.eff_c_dc, 7, 3) + f(e.zoe_dc, 9, 3) + f(e.zoo_dc, 8, 3) +
                                 f(zodc, 8, 3));
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(ls[head.size() + 1 + static_cast<std::size_t>(k)],
              dispersion_row(d, static_cast<float>(k + 1)));
  }
  EXPECT_EQ(cap.stored(), cap.text());
}

TEST(RunDispersion, StartAtZeroMakesTheFirstSweepRowTheStaticRowWithInfiniteLength) {
  State st = dispersion_state(0.0f, 2.0f, 1.0f);
  Capture cap;
  run_frequency(st, cap.rep);
  const auto ls = lines(cap.text());
  const std::size_t n = dispersion_header().size();
  ASSERT_EQ(ls.size(), n + 3);
  const Design& d = st.design;
  const Eval e = evaluate(d, d.wdef, d.sdef, 0.0f);
  // At 0 GHz: static values, the quarter-wave length is infinite, no losses.
  EXPECT_EQ(ls[n], blanks(4) + "  0.0000" + f(e.eff_e, 7, 3) + f(e.eff_o, 7, 3) + f(e.eff_c, 7, 3) +
                       f(e.zoe, 9, 3) + f(e.zoo, 8, 3) + f(e.zo, 8, 3) +
                       "Infinity   0.000   0.000");
  EXPECT_EQ(ls[n + 1], dispersion_row(d, 1.0f));
  EXPECT_EQ(ls[n + 2], dispersion_row(d, 2.0f));
}

TEST(RunDispersion, StaticFailureEndsBeforeAnyRowAndStoresOnlyTheReport) {
  // S = 1E-6" is below the model's smallest spacing: the static step fails.
  State st = dispersion_state(1.0f, 3.0f, 1.0f);
  st.design.istore = 1;
  st.design.sdef = 0.000001f;
  Capture cap("dispersion_fail.out");
  run_frequency(st, cap.rep);
  const auto ls = lines(cap.text());
  const std::size_t n = dispersion_header().size();
  ASSERT_GE(ls.size(), n + 2);
  EXPECT_EQ(ls[0], blanks(13) + "Er =  9.80" + blanks(10) + "Frequency Analysis" + blanks(7) +
                       "S = 0.0000\"");
  EXPECT_EQ(ls[n], blanks(15) + "ERROR DETECTED:    Frequency Analysis terminated.");
  EXPECT_EQ(ls.back(), blanks(20) + "1. S =.0000010\"");
  const std::string stored = cap.stored();
  EXPECT_EQ(stored.rfind(blanks(15) + "ERROR DETECTED:", 0), 0u);
  EXPECT_EQ(stored, cap.text().substr(cap.text().find(blanks(15) + "ERROR")));
}

TEST(RunDispersion, SweepFailureKeepsTheEarlierRows) {
  State st = dispersion_state(0.0f, 8.0f, 2.0f);
  st.design.wdef = 0.4f;
  Capture cap;
  run_frequency(st, cap.rep);
  const auto ls = lines(cap.text());
  const std::size_t n = dispersion_header().size();
  // Rows at 0, 2 and 4 GHz; 6 GHz fails.
  ASSERT_EQ(ls.size(), n + 3 + 3);
  EXPECT_EQ(ls[n + 1].substr(0, 12), blanks(4) + "  2.0000");
  EXPECT_EQ(ls[n + 2].substr(0, 12), blanks(4) + "  4.0000");
  EXPECT_EQ(ls[n + 3], blanks(15) + "ERROR DETECTED:    Frequency Analysis terminated.");
  EXPECT_EQ(ls[n + 5], blanks(20) + "1. W/H = 16.00");
}

}  // namespace
}  // namespace kx::test
