// Impedance analysis: Zo, Zoe, Zoo, coupling, effective permittivities and
// losses of the coupled pair at the spot frequency, over a range of W at a
// fixed S or a range of S at a fixed W.
#include <string_view>

#include "app/runs.h"
#include "app/section.h"
#include "studies/sweeps.h"

namespace kx {
namespace {

constexpr std::string_view kHeader =
    R"t((9X,' Er =',F6.2,13X,'Impedance Analysis',11X,'H  =',F7.4,'"',/,9X,'  T =',F9.6,'"',8X,20(1H=),10X,'H2 =',F6.3,'"',/,9X,'RES =',F6.3,' u-Ohm-cm',7X,'(Option ',I1,'.',I1,')',14X,'SR =',F6.3,' u"'))t";

// Range of W at a fixed S.
constexpr std::string_view kTableW =
    R"t((/,5X,'S = ',F7.4,'"' '  Impedances at',F7.3,' GHz',/,5X,'S/H = ',F6.4,'  ------------------------          Effective Er',/,5X,'                        Even    Odd    Midband  at',F7.3,' GHz',/,5X,'Strip          Coupler  Mode    Mode   Coupling -------------   Loss,dB/Inch',/,5X,'Width:W          Zo     Zoe     Zoo       Co     Even   Odd     Even    Odd',/,5X,'(Inch)   W/H   (Ohms)  (Ohms)  (Ohms)    (dB)    Mode   Mode    Mode    Mode',/,5X,77(1H-)))t";

// Range of S at a fixed W.
constexpr std::string_view kTableS =
    R"t((/,5X,'W = ',F7.4,'"' '  Impedances at',F7.3,' GHz',/,5X,'W/H = ',F6.4,'  ------------------------          Effective Er',/,5X,'                        Even    Odd    Midband  at',F7.3,' GHz',/,5X,'Strip          Coupler  Mode    Mode   Coupling -------------   Loss,dB/Inch',/,5X,'Spacing:S        Zo     Zoe     Zoo       Co     Even   Odd     Even    Odd',/,5X,'(Inch)   S/H   (Ohms)  (Ohms)  (Ohms)    (dB)    Mode   Mode    Mode    Mode',/,5X,77(1H-)))t";

constexpr std::string_view kRow = R"t((3X,F8.4,F7.3,F8.3,2(F8.3),F9.3,F7.3,F7.3,F8.3,F8.3))t";

}  // namespace

void run_impedance(State& st, Report& rep) {
  const Design& d = st.design;
  const bool range_of_s = d.iop1 == impedance_s_range;
  const float fo = st.fo;

  rep.write(kHeader, {d.er, d.h, d.t, d.h2, d.res1, d.iop, d.iop1, d.sr1});
  if (range_of_s) {
    rep.write(kTableS, {d.wdef, fo, d.wdef / d.h, fo});
  } else {
    rep.write(kTableW, {d.sdef, fo, d.sdef / d.h, fo});
  }
  study::ImpedancePlan plan;
  plan.section = section(d, d.wdef, d.sdef);
  plan.materials = materials(d);
  plan.f = fo;
  plan.swept = range_of_s ? study::Swept::s : study::Swept::w;
  plan.range = range_of_s ? study::Range{d.smin, d.smax, d.sstep}
                          : study::Range{d.wmin, d.wmax, d.wstep};
  study::impedance_sweep(st.line, plan, [&](const study::ImpedanceRow& r) {
    const Modes& m = r.modes;
    if (m.iflag != 0) {
      accuracy_report(st, rep, Failure{r.section, fo, m.iflag});
      return false;
    }
    const float x = range_of_s ? r.section.s : r.section.w;
    const float xh = (1.0f / d.h) * x;
    rep.write(kRow, {x, xh, m.zo, m.zoe, m.zoo, report_db(m.coupling_db), m.eff_e, m.eff_o,
                     -m.loss_e, -m.loss_o});
    return true;
  });
}

}  // namespace kx
