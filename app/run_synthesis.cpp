// Dimensional synthesis: the W and S that realise the coupler impedance Zo
// over a range of coupling levels or of even-mode impedances, from D.C. or
// from dispersive impedances.
#include <string_view>

#include "app/runs.h"
#include "app/section.h"
#include "common/constants.h"
#include "models/selectors.h"
#include "studies/synthesis.h"

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

}  // namespace

void run_synthesis(State& st, Report& rep) {
  Design& d = st.design;
  const bool verification = d.istore == baseline_verification;

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

  study::SynthesisPlan plan;
  plan.substrate = section(d, 0.0f, 0.0f);  // W and S are what the synthesis finds
  plan.zo = d.zodef;
  plan.f = st.fo;
  plan.targets = d.iops == synthesis_zoe_range ? study::Targets::zoe_range
                                               : study::Targets::level_range;
  plan.level_range = {d.cstrong, d.cweak, d.cstep};
  plan.zoe_range = {d.zoemin, d.zoemax, d.zoestep};
  // Baseline verification analyses every synthesised W and S again at Fo,
  // and synthesises the next level for the re-analysed Zo.
  plan.reanalyse = verification;
  plan.f_analysis = st.fo;
  plan.carry_reanalysed_zo = true;
  study::synthesis_sweep(st.line, plan, [&](const study::SynthesisRow& r) {
    const Synthesis& syn = r.synthesis;
    // The report's coupling level is negative dB.
    const float couple = report_db(r.coupling_db);
    if (syn.iflag != 0) {
      // The coupler impedance the report tests: the Zoe sweep's, or the
      // design's for a level.
      const float zo = plan.targets == study::Targets::zoe_range ? r.zo : d.zodef;
      accuracy_report(st, rep, Failure{r.section, st.fo, syn.iflag, couple, zo});
      return false;
    }
    const float wh = (1.0f / d.h) * syn.w;
    const float sh = (1.0f / d.h) * syn.s;
    rep.write(kRow, {syn.w, wh, syn.s, sh, r.zo, r.zoe, r.zoo, couple, syn.eff_e, syn.eff_o});
    if (r.analysis) {
      const Modes& m = *r.analysis;
      rep.console(kAnalysisRow, {syn.w, wh, syn.s, sh, m.zo, m.zoe, m.zoo, report_db(m.coupling_db),
                                 m.eff_e, m.eff_o});
    }
    return true;
  });
}

}  // namespace kx
