// Dimensional synthesis: the W and S that realise the coupler impedance Zo
// over a range of coupling levels or of even-mode impedances, from D.C. or
// from dispersive impedances.
#include <cmath>
#include <string_view>

#include "app/runs.h"
#include "app/section.h"
#include "common/constants.h"
#include "models/static/static_models.h"
#include "synthesis/synthesis.h"

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
  Records& rec = st.rec;
  const float fo = rec.lcfa1.fo;
  ChainValues c;
  int iflag = 0;
  evaluate_chain(rec, c, section(d, sw.w, sw.s), fo, ModeSet::both, iflag);
  float cc = 0.0f;
  float kof = 0.0f;
  sl1zo(cc, kof, sl1zo_coupling_from_pair, sw.zof, rec.lcdis1.zoef, rec.lcdis1.zoof);
  const float wh = (1.0f / d.h) * sw.w;
  const float sh = (1.0f / d.h) * sw.s;
  rep.console(kAnalysisRow, {sw.w, wh, sw.s, sh, sw.zof, rec.lcdis1.zoef, rec.lcdis1.zoof, kof,
                             rec.lceff1.effef, rec.lceff1.effof});
}

// W and S for the target pair; false (after the accuracy report) when the
// synthesis leaves the model's validity limits.
bool synthesise(State& st, Report& rep, Sweep& sw, float zoed, float zood) {
  const Design& d = st.design;
  const float fo = st.rec.lcfa1.fo;
  int iflag = 0;
  msws(st.rec, d.er, fo, d.h, d.h2, iflag, sw.s, d.t, sw.w, zoed, zood);
  if (iflag != 0) {
    accuracy_report(st, rep, Failure{section(d, sw.w, sw.s), fo, iflag, sw.couple, sw.zo});
    return false;
  }
  return true;
}

}  // namespace

void run_synthesis(State& st, Report& rep) {
  Design& d = st.design;
  Records& rec = st.rec;
  const bool verification = d.istore == baseline_verification;
  Sweep sw{d.wdef, d.sdef, d.zodef, d.zodef, 0.0f};
  float cc = 0.0f;

  const float th = (1.0f / d.h) * d.t;
  const float hmm = d.h * cm_per_inch * 10.0f;  // H in millimetres, as cm times 10
  rep.write(kHeader, {d.er, d.h2, d.t, d.h, th, d.iop, d.iops, hmm});
  if (d.iop == synthesis_dispersive) {
    rep.write(kTableDispersive, {rec.lcfa1.fo, rec.lcfa1.fo});
  } else {
    rep.console(kTableDc);
    rec.lcfa1.fo = static_frequency;  // D.C. synthesis
    if (d.istore == 1) rep.file(kTableDc);
  }
  const auto row = [&](float zo, float zoe, float zoo) {
    const float wh = (1.0f / d.h) * sw.w;
    const float sh = (1.0f / d.h) * sw.s;
    rep.write(kRow,
              {sw.w, wh, sw.s, sh, zo, zoe, zoo, sw.couple, rec.lceff1.effef, rec.lceff1.effof});
  };

  if (d.iops != synthesis_zoe_range) {
    // Coupling levels -Cweak, -Cweak + Cstep, ... up to the first level not
    // stronger than -Cstrong, never at or above 0 dB.
    sw.couple = -d.cweak - d.cstep;
    for (;;) {
      sw.couple = sw.couple + d.cstep;
      if (sw.couple >= 0.0f) break;
      sl1zo(cc, sw.couple, sl1zo_pair_from_coupling, sw.zof, rec.lcdis1.zoef, rec.lcdis1.zoof);
      if (!synthesise(st, rep, sw, rec.lcdis1.zoef, rec.lcdis1.zoof)) return;
      row(sw.zof, rec.lcdis1.zoef, rec.lcdis1.zoof);
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
      float zoo = sw.zo * sw.zo / zoe;
      sl1zo(cc, sw.couple, sl1zo_coupling_from_pair, sw.zo, zoe, zoo);
      if (!synthesise(st, rep, sw, zoe, zoo)) return;
      row(sw.zo, zoe, zoo);
      if (verification) reanalyse(st, rep, sw);
      if (!(d.zoemax > zoe)) break;
      // A step too small to change Zoe (ZoeSTEP 0) would repeat this row for
      // ever: the sweep ends here instead.
      if (zoe + d.zoestep == zoe) break;
    }
  }
}

}  // namespace kx
