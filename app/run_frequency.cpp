// Frequency analysis of one cross-section: the four-port response of a
// coupler of length L between Rs and Rl, or the dispersion of the pair.
#include <string_view>

#include "app/runs.h"
#include "app/section.h"
#include "common/sweep.h"
#include "models/static/static_models.h"
#include "network/network.h"

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

// Near-D.C. frequency of the baseline's static loss column, GHz.
constexpr float kNearDc = 0.0001f;

void run_four_port(State& st, Report& rep) {
  const Design& d = st.design;
  Records& rec = st.rec;
  const float fo = rec.lcfa1.fo;
  const Section sec = section(d, d.wdef, d.sdef);
  ChainValues dc;  // the baseline's static values
  int iflag = 0;
  evaluate_chain(rec, dc, sec, fo, ModeSet::both, iflag);
  const bool storing = d.istore == 1;
  const Materials mat = materials(d);

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
  if (iflag != 0) {
    accuracy_report(st, rep, Failure{sec, fo, iflag});
    return;
  }

  // The near-D.C. loss column, like the one at fo, takes the permittivities
  // at fo as lceff left them.
  const Attenuation at0 = line_losses(rec, sec, mat, kNearDc);
  const Attenuation atfo = total_losses(rec, sec, mat, fo);
  float cc = 0.0f;
  float ko = 0.0f;
  float kof = 0.0f;
  float zodc = 0.0f;
  float zof = 0.0f;
  sl1zo(cc, ko, sl1zo_coupling_from_pair, zodc, dc.zoe, dc.zoo);
  sl1zo(cc, kof, sl1zo_coupling_from_pair, zof, rec.lcdis1.zoef, rec.lcdis1.zoof);

  const auto rows = [&](auto&& put) {
    put(kBaselineRow,
        {static_frequency, dc.effe, dc.effo, dc.effc, dc.zoe, dc.zoo, zodc, -at0.e, -at0.o});
    put(kBaselineRow, {fo, rec.lceff1.effef, rec.lceff1.effof, rec.lceff1.effcf, rec.lcdis1.zoef,
                       rec.lcdis1.zoof, zof, -atfo.e, -atfo.o});
    put(kBaselineClose, {});
  };
  rows(to_console);
  if (storing) {
    header(to_file);
    rows(to_file);
  }

  const bool verification = d.istore == baseline_verification;
  if (verification) {
    // Sweep the static values: no dispersion calls below.
    rec.lceff1.effef = dc.effe;
    rec.lceff1.effof = dc.effo;
    rec.lcdis1.zoef = dc.zoe;
    rec.lcdis1.zoof = dc.zoo;
  }
  const bool quadrature = d.iop2b == 2;
  rep.write(quadrature ? kQuadratureTable : kScatteringTable);

  const int istep = step_count(d.fmax, d.fmin, d.fstep);
  // A wider counter: a saturated step count ends without integer overflow.
  for (long long k = 0; k <= istep; ++k) {
    const float freq = sweep_point(static_cast<int>(k), d.fstep, d.fmin);
    if (!verification) {
      evaluate_chain(rec, dc, sec, freq, ModeSet::both, iflag);
      if (iflag != 0) {
        accuracy_report(st, rep, Failure{sec, freq, iflag});
        return;
      }
    }
    const Attenuation at = total_losses(rec, sec, mat, freq);
    rec.lcfa1.fo = freq;  // lcfa evaluates at lcfa1.fo
    lcfa(rec, at.e, at.o, rec.lceff1.effef, rec.lceff1.effof, d.l, d.rl, d.rs, rec.lcdis1.zoef,
         rec.lcdis1.zoof);
    const Lcfa1& r = rec.lcfa1;
    if (quadrature) {
      rep.write(kQuadratureRow,
                {freq, r.vswr, r.mag[1], r.mag[2], r.mag[3], r.phi, r.phaserr, r.atot, r.loss});
    } else {
      rep.write(kScatteringRow, {freq, r.mag[0], r.ang[0], r.mag[1], r.ang[1], r.mag[2], r.ang[2],
                                 r.mag[3], r.ang[3]});
    }
  }
}

void run_dispersion(State& st, Report& rep) {
  const Design& d = st.design;
  Records& rec = st.rec;
  const Section sec = section(d, d.wdef, d.sdef);
  ChainValues dc;
  int iflag = 0;
  evaluate_chain(rec, dc, sec, static_frequency, ModeSet::both, iflag);
  float cc = 0.0f;
  float ko = 0.0f;
  float zodc = 0.0f;
  sl1zo(cc, ko, sl1zo_coupling_from_pair, zodc, dc.zoe, dc.zoo);

  const auto header = [&](auto&& put) {
    put(kDispersionHeader, {d.er, sec.s, d.h2, sec.w, d.h, d.iop, d.iop2a, d.t, d.res1, d.sr1});
    put(kDispersionTable, {});
  };
  const auto dc_row = [&](auto&& put) {
    put(kDispersionDcRow, {static_frequency, dc.effe, dc.effo, dc.effc, dc.zoe, dc.zoo, zodc});
  };
  const ToConsole to_console{rep};
  const ToFile to_file{rep};
  header(to_console);
  if (iflag != 0) {
    accuracy_report(st, rep, Failure{sec, static_frequency, iflag});
    return;
  }
  // With Fstart = 0 the first sweep point is the D.C. row.
  const bool storing = d.istore == 1;
  const bool separate_dc = d.fmin != 0.0f;
  if (separate_dc) dc_row(to_console);
  if (storing) {
    header(to_file);
    if (separate_dc) dc_row(to_file);
  }

  const int istep = step_count(d.fmax, d.fmin, d.fstep);
  // A wider counter: a saturated step count ends without integer overflow.
  for (long long k = 0; k <= istep; ++k) {
    const float freq = sweep_point(static_cast<int>(k), d.fstep, d.fmin);
    ChainValues c;
    evaluate_chain(rec, c, sec, freq, ModeSet::both, iflag);
    if (iflag != 0) {
      accuracy_report(st, rep, Failure{sec, freq, iflag});
      return;
    }
    const float length = quarter_wave(rec.lceff1.effcf, freq);
    float zof = 0.0f;
    sl1zo(cc, ko, sl1zo_coupling_from_pair, zof, rec.lcdis1.zoef, rec.lcdis1.zoof);
    const Attenuation at = total_losses(rec, sec, materials(d), freq);
    rep.write(kDispersionRow, {freq, rec.lceff1.effef, rec.lceff1.effof, rec.lceff1.effcf,
                               rec.lcdis1.zoef, rec.lcdis1.zoof, zof, length, -at.e, -at.o});
  }
}

}  // namespace

void run_frequency(State& st, Report& rep) {
  if (st.design.iop2a == 2) {
    run_dispersion(st, rep);
  } else {
    run_four_port(st, rep);
  }
}

}  // namespace kx
