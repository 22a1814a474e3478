// Frequency analysis of one cross-section: the four-port response of a
// coupler of length L between Rs and Rl, or the dispersion of the pair.
#include <array>
#include <cmath>
#include <string_view>

#include "app/runs.h"
#include "app/section.h"
#include "models/selectors.h"
#include "studies/sweeps.h"

namespace kx {
namespace {

// Four-port response.
constexpr std::string_view kFourPortHeader =
    R"t((8X,'DLTAN =',F6.5,12X,'Frequency Analysis',9X,'H2 =',F6.3,'"',/,10X,'RES =',F6.3,' u-Ohm-cm',2X,20(1H=),9X,'H =',F7.4,'"',/,11X,'SR =',F6.2,' u"',12X,'(Option ',I1,'.',I1,')',13X,'W =',F7.4,'"',/,11X,'Rs =',F6.2,' Ohms',35X,'S =',F7.4,'"',/,11X,'Rl =',F6.2,' Ohms',7X,'Design Frequency:',6X,'Length =',F7.4,'"',/,11X,'Er =',F6.2,13X,'Fo =',F8.4,' GHz',11X,'T =',F9.6,'"'))t";
constexpr std::string_view kBaselineTitle =
    R"t((/,23X,'Baseline Microstrip Coupler Parameters:'))t";
constexpr std::string_view kBaselineTable =
    R"t((7X,'               Effective          Impedances in Ohms',/,7X,'          Dielectric Constants   ---------------------',/,7X,'          --------------------   Even    Odd              Loss,dB/Inch',/,7X,'Frequency  Even   Odd  Coupler   Mode    Mode  Coupler    Even    Odd',/,7X,'  (GHz)    Mode   Mode Er(eff)   Zoe     Zoo      Zo      Mode    Mode',/,7X,70(1H-)))t";
constexpr std::string_view kBaselineRow = R"t((5X,F10.4,3(F7.3),F9.3,4(F8.3)))t";
constexpr std::string_view kBaselineClose =
    R"t((/,6X,'The baseline coupler parameters yield the following frequency response:'))t";
constexpr std::string_view kScatteringTable =
    R"t((17X,'Port 1: S11',4X,'Port 2: S21',6X,'Port 3: S31',5X,'Port',' 4: S41',/,18X,'Reflected',7X,'Coupled',8X,' Isolated',8X,'Thru',' Path',/,16X,13(1H-),2X,14(1H-),2(3X,13(1H-)),/,6X,'Analysis',3X,'Amp-',3X,'Phase',3(4X,'Amp-',3X,'Phase'),/,6X,'Frequency ','litude  (Deg-',3(3X,'litude',2X,'(Deg-'),/,8X,'(GHz)',4(4X,'(dB)',3X,'rees)'),/,6X,71(1H-)))t";
constexpr std::string_view kScatteringRow =
    R"t((1X,F13.4,F7.1,F8.1,F9.3,F7.1,F8.1,F8.1,F9.3,F7.1))t";
constexpr std::string_view kQuadratureTable =
    R"t((/,49X,'Quadrature',/,17X,'Ports 1-4 Output Amplitudes',3X,14(1H-),/,6X,'Analysis',2X,29(1H-),3X,'Phase',3X,'Error',3X,'I*I*R',3X,'Total',/,6X,'Frequency Input  Coupled Isolated  ','Thru',2(3X,'(Deg-'),4X,'Loss',4X,'Loss',/,8X,'(GHz)',4X,'VSWR',3(4X,'(dB)'),2(3X,'rees)'),2(4X,'(dB)'),/,6X,71(1H-)))t";
constexpr std::string_view kQuadratureRow =
    R"t((1X,F13.4,F7.3,F9.3,F8.1,F7.3,F8.2,F7.2,F9.4,F8.4))t";

// Dispersion of the cross-section.
constexpr std::string_view kDispersionHeader =
    R"t((13X,'Er =',F6.2,10X,'Frequency Analysis',7X,'S =',F7.4,'"',/,13X,'H2 =',F6.3,'"',8X,20(1H=),6X,'W =',F7.4,'"',/,14X,'H =',F7.4,'"',11X,'(Option ',I1,'.',I1,')',10X,'T =',F9.6,'"',/,12X,'RES =',F6.3,' u-Ohm-cm',25X,'SR =',F6.3,' u"',/))t";
constexpr std::string_view kDispersionTable =
    R"t((4X,'               Effective          Impedances in Ohms',/,4X,'          Dielectric Constants   ---------------------',/,4X,'          --------------------   Even    Odd            Coupler   Loss,dB/Inch',/,4X,'Frequency  Even   Odd  Coupler   Mode    Mode  Coupler  Length,   Even    Odd',/,4X,'  (GHz)    Mode   Mode Er(eff)   Zoe     Zoo      Zo    Inches    Mode    Mode',/,4X,78(1H-)))t";
constexpr std::string_view kDispersionDcRow = R"t((4X,F8.4,3(F7.3),F9.3,3(F8.3)))t";
constexpr std::string_view kDispersionRow = R"t((4X,F8.4,3(F7.3),F9.3,2(F8.3),F8.4,2(F8.3)))t";

// Writers for a block that goes to the console at once and to the file
// only later, as a group.
struct ToConsole {
  Report& rep;
  void operator()(std::string_view t, std::initializer_list<FtnArg> a) const { rep.console(t, a); }
};
struct ToFile {
  Report& rep;
  void operator()(std::string_view t, std::initializer_list<FtnArg> a) const { rep.file(t, a); }
};

// The figures as the report's columns hold them: a port without a wave at
// the narrowest value its column prints (its phase 0), the VSWR at most
// 99.999, the losses at least -99.9999.
Ports as_printed(Ports p) {
  constexpr std::array<float, 4> kNoWave = {-999.9f, -999.999f, -999.9f, -99.999f};
  constexpr float kLossFloor = -99.9999f;
  constexpr float kVswrCeiling = 99.999f;
  for (std::size_t i = 0; i < 4; ++i) {
    if (p.wave[i]) continue;
    p.mag[i] = kNoWave[i];
    if (std::isnan(p.ang[i])) p.ang[i] = 0.0f;
  }
  if (p.vswr > kVswrCeiling) p.vswr = kVswrCeiling;
  if (p.loss < kLossFloor) p.loss = kLossFloor;
  if (p.total < kLossFloor) p.total = kLossFloor;
  return p;
}

void run_four_port(State& st, Report& rep) {
  const Design& d = st.design;
  const float fo = st.fo;
  const Section sec = section(d, d.wdef, d.sdef);
  const Materials mat = materials(d);
  // The baseline at the design frequency.
  const study::Baseline base = study::baseline(st.line, sec, mat, fo);
  const Modes& m = base.modes;
  const bool storing = d.istore == storage_on;

  // The baseline block goes to the console now and to the file as a group
  // once the baseline has passed the validity tests.
  const auto header = [&](auto&& put) {
    put(kFourPortHeader, {d.tlos, d.h2, d.res1, d.h, d.sr1, d.iop, d.iop2a, sec.w, d.rs, sec.s,
                          d.rl, d.l, d.er, fo, d.t});
    put(kBaselineTitle, {});
    put(kBaselineTable, {});
  };
  const ToConsole to_console{rep};
  const ToFile to_file{rep};
  header(to_console);
  if (m.iflag != 0) {
    accuracy_report(st, rep, Failure{sec, fo, m.iflag});
    return;
  }
  // The static row's losses, near D.C., read the permittivities at fo.
  const auto rows = [&](auto&& put) {
    put(kBaselineRow, {static_frequency, m.eff_e_dc, m.eff_o_dc, m.eff_c_dc, m.zoe_dc, m.zoo_dc,
                       m.zo_dc, -base.near_dc.e, -base.near_dc.o});
    put(kBaselineRow, {fo, m.eff_e, m.eff_o, m.eff_c, m.zoe, m.zoo, m.zo, -m.loss_e, -m.loss_o});
    put(kBaselineClose, {});
  };
  rows(to_console);
  if (storing) {
    header(to_file);
    rows(to_file);
  }

  // Baseline verification sweeps the static values: no dispersion below,
  // and no end at a point the models refuse.
  const bool verification = d.istore == baseline_verification;
  const bool quadrature = d.iop2b == format_quadrature;
  rep.write(quadrature ? kQuadratureTable : kScatteringTable);
  study::FourPortPlan plan{sec, mat, d.l, d.rs, d.rl, {}, {d.fmin, d.fmax, d.fstep}};
  plan.options.dispersion = !verification;
  study::four_port_sweep(st.line, plan, [&](const study::FourPortRow& r) {
    st.fo = r.f;  // the response's frequency, which the dialogue's Fo shares
    if (!verification && r.response.modes.iflag != 0) {
      accuracy_report(st, rep, Failure{sec, r.f, r.response.modes.iflag});
      return false;
    }
    const Ports p = as_printed(r.response.ports);
    if (quadrature) {
      rep.write(kQuadratureRow,
                {r.f, p.vswr, p.mag[1], p.mag[2], p.mag[3], p.phi, p.phase_error, p.total, p.loss});
    } else {
      rep.write(kScatteringRow, {r.f, p.mag[0], p.ang[0], p.mag[1], p.ang[1], p.mag[2], p.ang[2],
                                 p.mag[3], p.ang[3]});
    }
    return true;
  });
}

void run_dispersion(State& st, Report& rep) {
  const Design& d = st.design;
  const Section sec = section(d, d.wdef, d.sdef);
  const auto header = [&](auto&& put) {
    put(kDispersionHeader, {d.er, sec.s, d.h2, sec.w, d.h, d.iop, d.iop2a, d.t, d.res1, d.sr1});
    put(kDispersionTable, {});
  };
  const ToConsole to_console{rep};
  const ToFile to_file{rep};
  header(to_console);
  const bool storing = d.istore == storage_on;
  study::dispersion_sweep(st.line, {sec, materials(d), {d.fmin, d.fmax, d.fstep}},
                          [&](const study::DispersionRow& r) {
                            const Modes& m = r.modes;
                            if (m.iflag != 0) {
                              accuracy_report(st, rep, Failure{sec, r.f, m.iflag});
                              return false;
                            }
                            if (r.statics) {
                              // With Fstart = 0 the first sweep point is the D.C. row.
                              const auto dc_row = [&](auto&& put) {
                                put(kDispersionDcRow, {static_frequency, m.eff_e_dc, m.eff_o_dc,
                                                       m.eff_c_dc, m.zoe_dc, m.zoo_dc, m.zo_dc});
                              };
                              const bool separate_dc = d.fmin != 0.0f;
                              if (separate_dc) dc_row(to_console);
                              if (storing) {
                                header(to_file);
                                if (separate_dc) dc_row(to_file);
                              }
                              return true;
                            }
                            rep.write(kDispersionRow, {r.f, m.eff_e, m.eff_o, m.eff_c, m.zoe, m.zoo,
                                                       m.zo, r.quarter_wave, -m.loss_e, -m.loss_o});
                            return true;
                          });
}

}  // namespace

void run_frequency(State& st, Report& rep) {
  if (st.design.iop2a == frequency_dispersion) {
    run_dispersion(st, rep);
  } else {
    run_four_port(st, rep);
  }
}

}  // namespace kx
