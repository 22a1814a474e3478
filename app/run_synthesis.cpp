// Dimensional synthesis: the W and S that realise the coupler impedance Zo
// over a range of coupling levels or of even-mode impedances, from D.C. or
// from dispersive impedances.
#include <cmath>
#include <string_view>

#include "app/runs.h"
#include "app/section.h"
#include "common/constants.h"
#include "models/selectors.h"

namespace kx {
namespace {

constexpr std::string_view kHeader =
    R"t(('      Er =',F6.2,'         Strip Width and Spacing Synthesis','      H2 =',F6.3,'"',/,'       T =',F9.6,'"    ===================================',6X,'H =',F7.4,'"',/,'     T/H =',F7.4,19X,'(Option ',I1,'.',I1,')',17X,'H = ',F6.4,' mm'))t";

constexpr std::string_view kTableDc =
    R"t((/,5X,'                              Static(D.C.) Impedances',/,5X,'       Strip Dimensions       -----------------------           Static(D.C.)',/,5X,'------------------------------          Even    Odd    Midband  Effective Er',/,5X,'Strip          Strip          Coupler   Mode    Mode   Coupling ',13(1H-),/,5X,'Width:W        Spacing:S         Zo     Zoe     Zoo       Co     Even    Odd',/,5X,'(Inch)   W/H   (Inch)   S/H    (Ohms)  (Ohms)  (Ohms)    (dB)    Mode    Mode',/,5X,77(1H-)))t";

constexpr std::string_view kTableDispersive =
    R"t((/,5X,'                             Impedances at',F7.3,' GHz',/,5X,'      Strip Dimensions       ------------------------         Effective Er',/,5X,'----------------------------          Even    Odd    Midband  at',F7.3,' GHz',/,5X,'Strip        Strip           Coupler  Mode    Mode   Coupling ',13(1H-),/,5X,'Width:W      Spacing:S         Zo     Zoe     Zoo       Co     Even    Odd',/,5X,'(Inch)  W/H   (Inch)  S/H    (Ohms)  (Ohms)  (Ohms)    (dB)    Mode    Mode',/,5X,75(1H-)))t";

constexpr std::string_view kRow = R"t((3X,2(F8.4,F6.3),2X,F7.3,2(F8.3),F9.3,F7.3,F8.3))t";
constexpr std::string_view kAnalysisRow =
    R"t((3X,2(F8.4,F7.3),2X,F7.3,2(F8.3),F9.3,F7.3,F8.3,' Analysis'))t";

// The sweep's working values: the strips found last, the coupler impedance
// of the sweep and the coupling level of the current row.
struct Sweep {
  float w{}, s{};  // inch
  float zo{};      // coupler impedance the Zoe sweep derives its Zoo from, ohms
  float zof{};     // coupler impedance the coupling sweep converts with, ohms
  float couple{};  // coupling level, dB (negative)
};

// Baseline verification: analyses the synthesised W and S at Fo with the
// impedance-analysis chain and prints the result under the synthesis row.
// The re-analysed Zo stays in zof.
void reanalyse(State& st, Report& rep, Sweep& sw) {
  const Design& d = st.design;
  const Modes m = st.line.at(section(d, sw.w, sw.s), st.fo);
  sw.zof = m.zo;
  const float wh = (1.0f / d.h) * sw.w;
  const float sh = (1.0f / d.h) * sw.s;
  rep.console(kAnalysisRow, {sw.w, wh, sw.s, sh, sw.zof, m.zoe, m.zoo, report_db(m.coupling_db),
                             m.eff_e, m.eff_o});
}

// The accuracy report of a synthesis that left the models' validity limits.
void report_failure(State& st, Report& rep, const Sweep& sw, const Synthesis& r) {
  const Design& d = st.design;
  accuracy_report(st, rep, Failure{section(d, r.w, r.s), st.fo, r.iflag, sw.couple, sw.zo});
}

}  // namespace

void run_synthesis(State& st, Report& rep) {
  Design& d = st.design;
  CoupledLine& line = st.line;
  const bool verification = d.istore == baseline_verification;
  Sweep sw{d.wdef, d.sdef, d.zodef, d.zodef, 0.0f};
  const Section sub = section(d, 0.0f, 0.0f);  // W and S are what the synthesis finds

  const float th = (1.0f / d.h) * d.t;
  const float hmm = d.h * cm_per_inch * 10.0f;  // H in millimetres, as cm times 10
  rep.write(kHeader, {d.er, d.h2, d.t, d.h, th, d.iop, d.iops, hmm});
  if (d.iop == synthesis_dispersive) {
    rep.write(kTableDispersive, {st.fo, st.fo});
  } else {
    rep.console(kTableDc);
    st.fo = static_frequency;  // D.C. synthesis
    if (d.istore == storage_on) rep.file(kTableDc);
  }
  // One row: the strips found, the coupler impedance and pair of the row and
  // the permittivities of the synthesis.
  const auto row = [&](const Synthesis& r, float zo, float zoe, float zoo) {
    sw.w = r.w;
    sw.s = r.s;
    const float wh = (1.0f / d.h) * sw.w;
    const float sh = (1.0f / d.h) * sw.s;
    rep.write(kRow, {sw.w, wh, sw.s, sh, zo, zoe, zoo, sw.couple, r.eff_e, r.eff_o});
  };

  if (d.iops != synthesis_zoe_range) {
    // Coupling levels -Cweak, -Cweak + Cstep, ... up to the first level not
    // stronger than -Cstrong, never at or above 0 dB.
    sw.couple = -d.cweak - d.cstep;
    for (;;) {
      sw.couple = sw.couple + d.cstep;
      if (sw.couple >= 0.0f) break;
      const Synthesis r = line.synthesise(sub, sw.zof, library_db(sw.couple), st.fo);
      if (!r.valid) {
        report_failure(st, rep, sw, r);
        return;
      }
      row(r, sw.zof, r.zoe, r.zoo);
      if (verification) reanalyse(st, rep, sw);
      if (!(std::fabs(sw.couple) > d.cstrong)) break;
      // A step too small to change the level (Cstep 0) would repeat this
      // row for ever: the sweep ends here instead.
      if (sw.couple + d.cstep == sw.couple) break;
    }
  } else {
    // Even-mode impedances ZoeMIN, ZoeMIN + ZoeSTEP, ... not above ZoeMAX.
    float zoe = d.zoemin - d.zoestep;
    for (;;) {
      zoe = zoe + d.zoestep;
      if (zoe > d.zoemax) break;
      const float zoo = sw.zo * sw.zo / zoe;
      const Coupling c = coupling_of(zoe, zoo);
      sw.zo = c.zo;
      sw.couple = report_db(c.coupling_db);
      const Synthesis r = line.synthesise_pair(sub, zoe, zoo, st.fo);
      if (!r.valid) {
        report_failure(st, rep, sw, r);
        return;
      }
      row(r, sw.zo, zoe, zoo);
      if (verification) reanalyse(st, rep, sw);
      if (!(d.zoemax > zoe)) break;
      // A step too small to change Zoe (ZoeSTEP 0) would repeat this row for
      // ever: the sweep ends here instead.
      if (zoe + d.zoestep == zoe) break;
    }
  }
}

}  // namespace kx
