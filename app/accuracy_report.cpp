// The accuracy-violation report: the run that ends here lists every limit of
// the models that its failing point passed. A value that is not a number
// lists its reason too, so every test is written as "not inside the limit".
#include <string_view>

#include "app/runs.h"
#include "common/constants.h"

namespace kx {
namespace {

constexpr std::string_view kHeading =
    R"t((15X,'ERROR DETECTED: ',A21,' terminated.',/,20X,'Algorithm accuracy violated by:'))t";
constexpr std::string_view kDispersion =
    R"t((20X,I1,'. F X H =',F7.2,' GHz-In. (Strong Dispersion)'))t";
constexpr std::string_view kEr = R"t((20X,I1,'. Er =',F7.3))t";
constexpr std::string_view kCover = R"t((20X,I1,'. H2/H =',F6.3,' combined with S/H =',F6.2))t";
constexpr std::string_view kWideStrip = R"t((20X,I1,'. W/H =',F6.2))t";
constexpr std::string_view kNarrowStrip = R"t((20X,I1,'. W =',F7.6,'"'))t";
constexpr std::string_view kWideGap = R"t((20X,I1,'. S/H =',F6.2))t";
constexpr std::string_view kNarrowGap = R"t((20X,I1,'. S =',F8.7,'"'))t";
constexpr std::string_view kCoupling = R"t((20X,I1,'. Co =',F7.2,' dB'))t";
constexpr std::string_view kImpedance = R"t((20X,I1,'. Zo =',F7.2,' Ohms'))t";

// Limits of the line models.
constexpr float kMaxFH = 25.0f;         // F*H, GHz-mm: strong dispersion above
constexpr float kMaxEr = 20.0f;
constexpr float kMaxWidthRatio = 10.0f; // W/H
constexpr float kMinWidth = 0.0001f;    // inch
constexpr float kMaxGapRatio = 8.0f;    // S/H
constexpr float kMinGap = 0.00001f;     // inch
constexpr float kLoosest = -20.0f;      // coupling, dB
constexpr float kTightest = -6.0f;
constexpr float kMinZo = 20.0f;         // ohms
constexpr float kMaxZo = 100.0f;

std::string_view run_name(const Design& d) {
  if (d.ifunc == 2) return "Dimensional Synthesis";
  if (d.iop == 2) return "   Frequency Analysis";
  if (d.iop == 3) return " Sensitivity Analysis";
  return "   Impedance Analysis";
}

}  // namespace

void accuracy_report(State& st, Report& rep) {
  Design& d = st.design;
  Working& w = st.work;
  w.fnorm = w.f * d.h * mm_per_inch;
  w.g = w.s / d.h;
  w.r = d.h2 / d.h;
  w.u = w.w / d.h;
  d.i = 0;
  w.ename = std::string(run_name(d));
  rep.write(kHeading, {std::string_view(w.ename)});

  if (!(w.fnorm <= kMaxFH)) {
    w.temp = w.fnorm / mm_per_inch;
    rep.write(kDispersion, {++d.i, w.temp});
  }
  if (!(d.er <= kMaxEr)) rep.write(kEr, {++d.i, d.er});
  if (w.iflag == 2) rep.write(kCover, {++d.i, w.r, w.g});
  if (!(w.u <= kMaxWidthRatio)) rep.write(kWideStrip, {++d.i, w.u});
  if (!(w.w > kMinWidth)) rep.write(kNarrowStrip, {++d.i, w.w});
  if (!(w.g <= kMaxGapRatio)) rep.write(kWideGap, {++d.i, w.g});
  if (!(w.s > kMinGap)) rep.write(kNarrowGap, {++d.i, w.s});
  if (d.ifunc != 1) {
    // The coupling of the failing point, in negative dB: in a synthesis run
    // the sweep's level, otherwise the static coupling.
    const float co = d.ifunc == 2 ? w.couple : w.ko;
    if (!(co <= kTightest && co >= kLoosest)) rep.write(kCoupling, {++d.i, co});
    if (!(w.zo >= kMinZo && w.zo <= kMaxZo)) rep.write(kImpedance, {++d.i, w.zo});
  }
}

}  // namespace kx
