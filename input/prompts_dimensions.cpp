// Dimensional and material data: H, H2, W (one value or a range), T, S (one
// value or a range), conductor resistivity, surface roughness, Er and the
// loss tangent. The geometry is held against the limits within which the
// coupled-line models stay accurate; a warning lets the user go back.
#include <array>
#include <cstddef>
#include <string_view>

#include "common/constants.h"
#include "common/sweep.h"
#include "input/dialogue_steps.h"
#include "models/limits.h"
#include "shared/warnings.h"

namespace kx::dialogue {
namespace {

constexpr std::string_view kHeader = R"t((/,6X,'Please enter the following DIMENSIONAL data:'))t";

constexpr std::string_view kPromptH =
    R"t((11X,'-Thickness of Dielectric Substrate: H , Inches = '))t";
constexpr std::string_view kPromptH2 =
    R"t((11X,'-Top Cover Height above Substrate : H2, Inches = '))t";
constexpr std::string_view kCoverTooLow = warnings::kCoverTooLow;

constexpr std::string_view kPromptW =
    R"t((11X,'-Strip Width of Coupled Strips    : W , Inches = '))t";
constexpr std::string_view kPromptWmin = R"t((11X,'-Minimum Strip Width  : Wmin , Inches = '))t";
constexpr std::string_view kPromptWmax = R"t((11X,'-Maximum Strip Width  : Wmax , Inches = '))t";
constexpr std::string_view kPromptWstep = R"t((11X,'-Strip Width Step Size: Wstep, Inches = '))t";
constexpr std::string_view kWideStrip = warnings::kWideStrip;
constexpr std::string_view kWideStripAsk = warnings::kWideStripAsk;

constexpr std::string_view kPromptT =
    R"t((11X,'-Thickness of Center Conductor    : T , Inches = '))t";

constexpr std::string_view kPromptS =
    R"t((11X,'-Spacing/Gap between Coupled Strips: S, Inches = '))t";
constexpr std::string_view kPromptSmin = R"t((11X,'-Minimum Strip Spacing: Smin ,  Inches = '))t";
constexpr std::string_view kPromptSmax = R"t((11X,'-Maximum Strip Spacing: Smax ,  Inches = '))t";
constexpr std::string_view kPromptSstep = R"t((11X,'-Strip Spacing Step Size: Sstep,Inches = '))t";
constexpr std::string_view kNarrowGap = warnings::kNarrowGap;
constexpr std::string_view kNarrowGapAsk = warnings::kNarrowGapAsk;
constexpr std::string_view kWideGap = warnings::kWideGap;
constexpr std::string_view kWideGapAsk = warnings::kWideGapAsk;

constexpr std::string_view kResMenu =
    R"t((11X,'-Conductor Resistivity: RES, Micro-Ohm-cm:',/,14X,' 1: Silver-plated; RES = 1.6.',/,14X,'*2: Copper       ; RES = 1.7 (Default).',/,14X,' 3: Gold-plated  ; RES = 2.5.',/,14X,' 4: 6061 Aluminum; RES = 4.0.',/,14X,' 5: Brass        ; RES = 7.0.',/,14X,' 6: Steel        ; RES = 11.8.',/,12X,'Conductor Resistivity selected = '))t";
constexpr std::string_view kSrMenu =
    R"t((11X,'-RMS Surface Roughness: SR:',/,14X,' 1:10.0 micro-inch.',/,14X,' 2: 5.0 micro-inch.',/,14X,'*3: 2.5 micro-inch (Default).',/,14X,' 4: 1.0 micro-inch.',/,14X,' 5: 0.0 micro-inch = Perfect.',/,12X,'RMS Surface Roughness selected = '))t";

constexpr std::string_view kPromptEr =
    R"t((11X,'-Substrate`s Relative Dielectric Constant: Er  = '))t";
constexpr std::string_view kHighEr = warnings::kHighEr;
constexpr std::string_view kHighErAsk = warnings::kHighErAsk;

constexpr std::string_view kPromptTlos =
    R"t((11X,'-Substrate`s Dielectric Loss Tangent: DLTAN    = '))t";

// Conductor resistivity, micro-ohm-cm: silver-plated, copper (default),
// gold-plated, 6061 aluminium, brass, steel.
constexpr std::array<float, 6> ro{1.6f, 1.7f, 2.5f, 4.0f, 7.0f, 11.8f};
// RMS surface roughness, micro-inch; 2.5 is the default, 0 perfectly smooth.
constexpr std::array<float, 5> rough{10.0f, 5.0f, 2.5f, 1.0f, 0.0f};

constexpr float kMinSize = 0.0001f;  // smallest W or S answer taken, inch

// The default rule: the file default, replaced by an answer above `floor`.
float value(Console& io, std::string_view prompt, float file_default, float floor = 0.0f) {
  const float x = ask(io, prompt);
  return x > floor ? x : file_default;
}

// W/H test; true when the user goes back to H.
bool wide_strip(Console& io, float w, float h) {
  if (warnings::strip_too_wide(w, h)) {
    io.out.console(kWideStrip);
    return reenter(io, kWideStripAsk);
  }
  return false;
}

// S/H test, the ratio compared as formed (Smin, one S); true to go back to H.
bool wide_gap(Console& io, float s, float h) {
  if (warnings::gap_too_wide(s, h)) {
    io.out.console(kWideGap);
    return reenter(io, kWideGapAsk);
  }
  return false;
}

// S/H test on Smax: its ratio is stored as a 32-bit value first.
bool wide_gap_stored(Console& io, float s, float h) {
  if (warnings::gap_too_wide_stored(s, h)) {
    io.out.console(kWideGap);
    return reenter(io, kWideGapAsk);
  }
  return false;
}

// S/T test; true when the user goes back to T.
bool narrow_gap(Console& io, float s, float t) {
  if (warnings::gap_too_narrow(s, t)) {
    io.out.console(kNarrowGap);
    return reenter(io, kNarrowGapAsk);
  }
  return false;
}

enum class Next { kOn, kBackToH, kBackToT };

bool w_range(const Design& d) {
  return (d.iop == option_impedance && d.iop1 == impedance_w_range) ||
         (d.iop == option_sensitivity && d.iop3 == sensitivity_w_range);
}
bool s_range(const Design& d) {
  return (d.iop == option_impedance && d.iop1 == impedance_s_range) ||
         (d.iop == option_sensitivity && d.iop3 == sensitivity_s_range);
}

// W, one value or a range. false when the user goes back to H.
bool ask_w(Console& io, Design& d) {
  if (!w_range(d)) {
    d.wdef = value(io, kPromptW, d.wdefdef, kMinSize);
    return !wide_strip(io, d.wdef, d.h);
  }
  d.wmin = value(io, kPromptWmin, d.wmindef, kMinSize);
  if (wide_strip(io, d.wmin, d.h)) return false;
  d.wmax = value(io, kPromptWmax, d.wmaxdef);
  if (d.wmin > d.wmax) d.wmax = d.wmin;
  if (wide_strip(io, d.wmax, d.h)) return false;
  d.wstep = value(io, kPromptWstep, d.wstepdef);
  d.i = step_count(d.wmax, d.wmin, d.wstep);
  return true;
}

// S, one value or a range, with the S/T and S/H tests.
Next ask_s(Console& io, Design& d) {
  if (!s_range(d)) {
    d.sdef = value(io, kPromptS, d.sdefdef, kMinSize);
    if (narrow_gap(io, d.sdef, d.t)) return Next::kBackToT;
    return wide_gap(io, d.sdef, d.h) ? Next::kBackToH : Next::kOn;
  }
  d.smin = value(io, kPromptSmin, d.smindef, kMinSize);
  if (narrow_gap(io, d.smin, d.t)) return Next::kBackToT;
  if (wide_gap(io, d.smin, d.h)) return Next::kBackToH;
  d.smax = value(io, kPromptSmax, d.smaxdef);
  if (d.smin > d.smax) d.smax = d.smin;
  if (wide_gap_stored(io, d.smax, d.h)) return Next::kBackToH;
  d.sstep = value(io, kPromptSstep, d.sstepdef);
  d.i = step_count(d.smax, d.smin, d.sstep);
  return Next::kOn;
}

// H to S in order; a go-back to H starts the whole block again.
void geometry(Console& io, Design& d) {
  const bool synthesis = d.ifunc == function_synthesis;
  for (;;) {
    d.h = value(io, kPromptH, d.hdef);
    d.h2 = value(io, kPromptH2, d.h2def);
    if (d.h2 < limits::min_h2h * d.h) {
      io.out.console(kCoverTooLow);
      continue;
    }
    if (!synthesis && !ask_w(io, d)) continue;
    Next next = Next::kBackToT;
    while (next == Next::kBackToT) {
      d.t = value(io, kPromptT, d.tdef);
      next = synthesis ? Next::kOn : ask_s(io, d);
    }
    if (next == Next::kOn) return;
  }
}

}  // namespace

void dimensional_prompts(Console& io, Design& d) {
  io.out.console(kHeader);
  geometry(io, d);

  if (d.ifunc != function_synthesis) {
    const int kres = trunc_int(ask(io, kResMenu));
    d.res1 = ro[1];
    if (kres >= 1 && kres <= 6) d.res1 = ro[static_cast<std::size_t>(kres - 1)];
    d.res = d.res1 * 1e-6f / cm_per_inch;  // micro-ohm-cm to ohm-inch

    const int ksr = trunc_int(ask(io, kSrMenu));
    d.sr1 = rough[2];
    if (ksr >= 1 && ksr <= 5) d.sr1 = rough[static_cast<std::size_t>(ksr - 1)];
    d.sr = d.sr1 * 1e-6f;  // micro-inch to inch
  }

  for (;;) {
    const float x = ask(io, kPromptEr);
    d.er = x >= 1.0f ? x : d.erdef;
    if (!(d.er > limits::max_er)) break;
    io.out.console(kHighEr);
    if (!reenter(io, kHighErAsk)) break;
  }

  if (four_port(d)) d.tlos = value(io, kPromptTlos, d.tlosdef);
}

}  // namespace kx::dialogue
