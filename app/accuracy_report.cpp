// The accuracy-violation report: the run that ends here lists every limit of
// the models that its failing point passed. A value that is not a number
// lists its reason too, so every test is written as "not inside the limit".
#include <string_view>

#include "app/runs.h"
#include "common/constants.h"
#include "models/limits.h"

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

std::string_view run_name(const Design& d) {
  if (d.ifunc == 2) return "Dimensional Synthesis";
  if (d.iop == 2) return "   Frequency Analysis";
  if (d.iop == 3) return " Sensitivity Analysis";
  return "   Impedance Analysis";
}

}  // namespace

void accuracy_report(State& st, Report& rep, const Failure& at) {
  Design& d = st.design;
  const float fnorm = at.f * d.h * mm_per_inch;
  const float g = at.sec.s / d.h;
  const float r = d.h2 / d.h;
  const float u = at.sec.w / d.h;
  d.i = 0;
  rep.write(kHeading, {run_name(d)});

  if (!(fnorm <= limits::max_fh)) {
    const float fh = fnorm / mm_per_inch;  // GHz-inch
    rep.write(kDispersion, {++d.i, fh});
  }
  if (!(d.er <= limits::max_er)) rep.write(kEr, {++d.i, d.er});
  if (at.iflag == 2) rep.write(kCover, {++d.i, r, g});
  if (!(u <= limits::max_wh)) rep.write(kWideStrip, {++d.i, u});
  if (!(at.sec.w > limits::min_w)) rep.write(kNarrowStrip, {++d.i, at.sec.w});
  if (!(g <= limits::max_sh)) rep.write(kWideGap, {++d.i, g});
  if (!(at.sec.s > limits::min_s)) rep.write(kNarrowGap, {++d.i, at.sec.s});
  if (d.ifunc == 2) {
    // The coupling of the failing row, in negative dB, and its impedance.
    if (!(at.co <= limits::tightest_db && at.co >= limits::loosest_db)) {
      rep.write(kCoupling, {++d.i, at.co});
    }
    if (!(at.zo >= limits::min_zo && at.zo <= limits::max_zo)) {
      rep.write(kImpedance, {++d.i, at.zo});
    }
  }
}

}  // namespace kx
