// Dimensional synthesis: the W and S that realise the coupler impedance Zo
// over a range of coupling levels or of even-mode impedances, from D.C. or
// from dispersive impedances.
#include <cmath>
#include <string_view>

#include "app/runs.h"
#include "app/section.h"
#include "models/static/static_models.h"
#include "synthesis/synthesis.h"

namespace kx {
namespace {

constexpr int kBaselineVerification = -473;

constexpr std::string_view kHeader =
    R"t(('      Er =',F6.2,'         Strip Width and Spacing Synthesis','      H2 =',F6.3,'"',/,'       T =',F9.6,'"    ===================================',6X,'H =',F7.4,'"',/,'     T/H =',F7.4,19X,'(Option ',I1,'.',I1,')',17X,'H = ',F6.4,' mm'))t";

constexpr std::string_view kTableDc =
    R"t((/,5X,'                              Static(D.C.) Impedances',/,5X,'       Strip Dimensions       -----------------------           Static(D.C.)',/,5X,'------------------------------          Even    Odd    Midband  Effective Er',/,5X,'Strip          Strip          Coupler   Mode    Mode   Coupling ',13(1H-),/,5X,'Width:W        Spacing:S         Zo     Zoe     Zoo       Co     Even    Odd',/,5X,'(Inch)   W/H   (Inch)   S/H    (Ohms)  (Ohms)  (Ohms)    (dB)    Mode    Mode',/,5X,77(1H-)))t";

constexpr std::string_view kTableDispersive =
    R"t((/,5X,'                             Impedances at',F7.3,' GHz',/,5X,'      Strip Dimensions       ------------------------         Effective Er',/,5X,'----------------------------          Even    Odd    Midband  at',F7.3,' GHz',/,5X,'Strip        Strip           Coupler  Mode    Mode   Coupling ',13(1H-),/,5X,'Width:W      Spacing:S         Zo     Zoe     Zoo       Co     Even    Odd',/,5X,'(Inch)  W/H   (Inch)  S/H    (Ohms)  (Ohms)  (Ohms)    (dB)    Mode    Mode',/,5X,75(1H-)))t";

constexpr std::string_view kRow =
    R"t((3X,2(F8.4,F6.3),2X,F7.3,2(F8.3),F9.3,F7.3,F8.3))t";
constexpr std::string_view kAnalysisRow =
    R"t((3X,2(F8.4,F7.3),2X,F7.3,2(F8.3),F9.3,F7.3,F8.3,' Analysis'))t";

// Baseline verification: analyses the synthesised W and S at Fo with the
// impedance-analysis chain and prints the result under the synthesis row.
// The re-analysed Zo stays in zof.
void reanalyse(State& st, Report& rep) {
  const Design& d = st.design;
  Records& rec = st.rec;
  Working& wk = st.work;
  const float fo = rec.lcfa1.fo;
  static_section(st);
  dispersive_section(st, fo);
  sl1zo(wk.cc, wk.kof, 2, wk.zof, rec.lcdis1.zoef, rec.lcdis1.zoof);
  wk.wh = (1.0f / d.h) * wk.w;
  wk.sh = (1.0f / d.h) * wk.s;
  rep.console(kAnalysisRow, {wk.w, wk.wh, wk.s, wk.sh, wk.zof, rec.lcdis1.zoef, rec.lcdis1.zoof,
                             wk.kof, rec.lceff1.effef, rec.lceff1.effof});
}

// W and S for the target pair; false (after the accuracy report) when the
// synthesis leaves the model's validity limits.
bool synthesise(State& st, Report& rep, float zoed, float zood) {
  const Design& d = st.design;
  Working& wk = st.work;
  const float fo = st.rec.lcfa1.fo;
  msws(st.rec, d.er, fo, d.h, d.h2, wk.iflag, wk.s, d.t, wk.w, zoed, zood);
  if (wk.iflag != 0) {
    wk.f = fo;
    accuracy_report(st, rep);
    return false;
  }
  wk.wh = (1.0f / d.h) * wk.w;
  wk.sh = (1.0f / d.h) * wk.s;
  return true;
}

}  // namespace

void run_synthesis(State& st, Report& rep) {
  Design& d = st.design;
  Records& rec = st.rec;
  Working& wk = st.work;
  const bool verification = d.istore == kBaselineVerification;

  wk.th = (1.0f / d.h) * d.t;
  wk.hmm = d.h * 2.54f * 10.0f;
  rep.write(kHeader, {d.er, d.h2, d.t, d.h, wk.th, d.iop, d.iops, wk.hmm});
  if (d.iop == 2) {
    rep.write(kTableDispersive, {rec.lcfa1.fo, rec.lcfa1.fo});
  } else {
    rep.console(kTableDc);
    rec.lcfa1.fo = 0.0f;  // D.C. synthesis
    if (d.istore == 1) rep.file(kTableDc);
  }

  if (d.iops != 2) {
    // Coupling levels -Cweak, -Cweak + Cstep, ... up to the first level not
    // stronger than -Cstrong, never at or above 0 dB.
    wk.couple = -d.cweak - d.cstep;
    for (;;) {
      wk.couple = wk.couple + d.cstep;
      if (wk.couple >= 0.0f) break;
      sl1zo(wk.cc, wk.couple, d.iops, wk.zof, rec.lcdis1.zoef, rec.lcdis1.zoof);
      if (!synthesise(st, rep, rec.lcdis1.zoef, rec.lcdis1.zoof)) return;
      rep.write(kRow, {wk.w, wk.wh, wk.s, wk.sh, wk.zof, rec.lcdis1.zoef, rec.lcdis1.zoof,
                       wk.couple, rec.lceff1.effef, rec.lceff1.effof});
      if (verification) reanalyse(st, rep);
      if (!(std::fabs(wk.couple) > d.cstrong)) break;
      // A step too small to change the level (Cstep 0) would repeat this
      // row for ever: the sweep ends here instead.
      if (wk.couple + d.cstep == wk.couple) break;
    }
  } else {
    // Even-mode impedances ZoeMIN, ZoeMIN + ZoeSTEP, ... not above ZoeMAX.
    wk.zoe = d.zoemin - d.zoestep;
    for (;;) {
      wk.zoe = wk.zoe + d.zoestep;
      if (wk.zoe > d.zoemax) break;
      wk.zoo = wk.zo * wk.zo / wk.zoe;
      sl1zo(wk.cc, wk.couple, d.iops, wk.zo, wk.zoe, wk.zoo);
      if (!synthesise(st, rep, wk.zoe, wk.zoo)) return;
      rep.write(kRow, {wk.w, wk.wh, wk.s, wk.sh, wk.zo, wk.zoe, wk.zoo, wk.couple,
                       rec.lceff1.effef, rec.lceff1.effof});
      if (verification) reanalyse(st, rep);
      if (!(d.zoemax > wk.zoe)) break;
      // A step too small to change Zoe (ZoeSTEP 0) would repeat this row for
      // ever: the sweep ends here instead.
      if (wk.zoe + d.zoestep == wk.zoe) break;
    }
  }
}

}  // namespace kx
