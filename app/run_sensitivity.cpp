// Sensitivity analysis: normalised sensitivities of the dispersive Zoe and
// Zoo to Er, H, H2, S, W and T, versus frequency or over a range of W or S.
#include <string_view>

#include "app/runs.h"
#include "app/section.h"
#include "models/selectors.h"
#include "studies/sweeps.h"

namespace kx {
namespace {

constexpr std::string_view kHeaderFrequency =
    R"t((10X,'Er =',F6.2,12X,'Sensitivity ','Analysis',9X,'S =',F7.4,'"',/,10X,'H2 =',F6.3,'"',10X,22(1H=),8X,'W =',F7.4,'"',/,11X,'H =',F7.4,'"',14X,'(Option ',I1,'.',I1,')',13X,'T =',F9.6,'"'))t";
constexpr std::string_view kHeaderWidth =
    R"t((10X,'Er =',F6.2,12X,'Sensitivity Analysis',9X,'H2 =',F6.3,'"',/,11X,'T =',F9.6,'"',7X,22(1H=),9X,'H =',F7.4,'"',/,11X,'F =',F8.4,' GHz',10X,'(Option ',I1,'.',I1,')',14X,'S =',F7.4,'"'))t";
constexpr std::string_view kHeaderSpacing =
    R"t((10X,'Er =',F6.2,12X,'Sensitivity Analysis',9X,'H2 =',F6.3,'"',/,11X,'T =',F9.6,'"',7X,22(1H=),9X,'H =',F7.4,'"',/,11X,'F =',F8.4,' GHz',10X,'(Option ',I1,'.',I1,')',14X,'W =',F7.4,'"'))t";

constexpr std::string_view kTitleZoe =
    R"t((/,17X,' Dispersive',/,17X,' Impedances',7X,'Frequency Dependent Sensitivity of ','Zoe to:'))t";
constexpr std::string_view kTitleZoo =
    R"t((/,17X,' Dispersive',/,17X,' Impedances',7X,'Frequency Dependent Sensitivity of ','Zoo to:'))t";

constexpr std::string_view kTableFrequency =
    R"t((16X,13(1H-),3X,45(1H-),/,17X,'Even',3X,'Odd',5X,'Dielec',3X,'Sub-',4X,'Top',20X,'Strip',/,6X,'Analysis',3X,'Mode',3X,'Mode',5X,'-tric',2X,'strate',2X,'Cover',3X,'Strip',3X,'Strip',3X,'Thick',/,6X,'Frequency',2X,'Zoe',4X,'Zoo',5X,'Const.',2X,'Thick.',2X,'Height',1X,'Spacing',2X,'Width',3X,'-ness',/,8X,'(GHz)',3X,'(Ohms)',1X,'(Ohms)',5X,'Er',6X,'H',7X,'H2',6X,'S',7X,'W',7X,'T',/,6X,71(1H-)))t";
constexpr std::string_view kTableWidth =
    R"t((17X,13(1H-),3X,45(1H-),/,17X,' Even',3X,'Odd',5X,'Dielec',3X,'Sub-',4X,'Top',20X,'Strip',/,9X,'Strip',3X,' Mode',3X,'Mode',5X,'-tric',2X,'strate',2X,'Cover',3X,'Strip',3X,'Strip',3X,'Thick',/,9X,'Width',3X,' Zoe',4X,'Zoo',5X,'Const.',2X,'Thick.',2X,'Height',1X,'Spacing',2X,'Width',3X,'-ness',/,11X,'W',4X,' (Ohms)',1X,'(Ohms)',5X,'Er',6X,'H',7X,'H2',6X,'S',7X,'W',7X,'T',/,9X,69(1H-)))t";
constexpr std::string_view kTableSpacing =
    R"t((17X,13(1H-),3X,45(1H-),/,17X,' Even',3X,'Odd',5X,'Dielec',3X,'Sub-',4X,'Top',20X,'Strip',/,9X,'Strip',3X,' Mode',3X,'Mode',5X,'-tric',2X,'strate',2X,'Cover',3X,'Strip',3X,'Strip',3X,'Thick',/,8X,'Spacing',2X,' Zoe',4X,'Zoo',5X,'Const.',2X,'Thick.',2X,'Height',1X,'Spacing',2X,'Width',3X,'-ness',/,11X,'S',4X,' (Ohms)',1X,'(Ohms)',5X,'Er',6X,'H',7X,'H2',6X,'S',7X,'W',7X,'T',/,9X,69(1H-)))t";

constexpr std::string_view kRowFrequency = R"t((1X,F13.4,F8.2,F7.2,6(F8.3)))t";
constexpr std::string_view kRowDimension = R"t((1X,F14.4,1X,2(F7.3),6(F8.3)))t";

}  // namespace

void run_sensitivity(State& st, Report& rep) {
  Design& d = st.design;
  const int sweep = d.iop3;  // 1 frequency, 2 width, 3 spacing
  if (sweep == 1) {
    rep.write(kHeaderFrequency, {d.er, d.sdef, d.h2, d.wdef, d.h, d.iop, d.iop3, d.t});
  } else if (sweep == 2) {
    rep.write(kHeaderWidth, {d.er, d.h2, d.t, d.h, st.fo, d.iop, d.iop3, d.sdef});
  } else {
    rep.write(kHeaderSpacing, {d.er, d.h2, d.t, d.h, st.fo, d.iop, d.iop3, d.wdef});
  }
  const std::string_view table = sweep == 1   ? kTableFrequency
                                 : sweep == 2 ? kTableWidth
                                              : kTableSpacing;
  const std::string_view row = sweep == 1 ? kRowFrequency : kRowDimension;
  study::SensitivityPlan plan;
  plan.section = section(d, d.wdef, d.sdef);
  plan.f = st.fo;
  plan.swept = sweep == 1   ? study::SensitivitySwept::f
               : sweep == 2 ? study::SensitivitySwept::w
                            : study::SensitivitySwept::s;
  plan.range = sweep == 1   ? study::Range{d.fmin, d.fmax, d.fstep}
               : sweep == 2 ? study::Range{d.wmin, d.wmax, d.wstep}
                            : study::Range{d.smin, d.smax, d.sstep};

  // One table per mode: Zoe or Zoo, or Zoe then Zoo for both modes.
  for (bool second = false;; second = true) {
    const bool zoo = d.ieoro == ieoro_odd;
    rep.write(zoo ? kTitleZoo : kTitleZoe);
    rep.write(table);
    plan.zoe = !zoo;
    plan.zoo = zoo;
    bool failed = false;
    study::sensitivity_sweep(st.line, plan, [&](const study::SensitivityRow& p) {
      if (p.iflag() != 0) {
        accuracy_report(st, rep, Failure{p.section, p.f, p.iflag()});
        failed = true;
        return false;
      }
      const Sensitivity& r = zoo ? *p.zoo : *p.zoe;
      const Sensitivities& z = r.to;
      rep.write(row, {p.x, r.zoe, r.zoo, z.er, z.h, z.h2, z.s, z.w, z.t});
      return true;
    });
    if (failed || second || d.ieoro == ieoro_even || d.ieoro == ieoro_odd) break;
    // Both modes: the same sweep again for Zoo.
    d.ieoro = ieoro_odd;
  }
}

}  // namespace kx
