// The accuracy-violation report: the run that ends here lists every limit of
// the models that its failing point passed (the evaluator's reasons), and in
// a synthesis the coupling and impedance limits of the row. A value that is
// not a number lists its reason too.
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
  const Section& sec = at.sec;
  const unsigned why = accuracy_reasons(sec, at.f, at.iflag);
  d.i = 0;
  rep.write(kHeading, {run_name(d)});

  if (why & reason_fh) {
    const float fh = (at.f * sec.h * mm_per_inch) / mm_per_inch;  // GHz-inch
    rep.write(kDispersion, {++d.i, fh});
  }
  if (why & reason_er) rep.write(kEr, {++d.i, sec.er});
  if (why & reason_cover) rep.write(kCover, {++d.i, sec.h2 / sec.h, sec.s / sec.h});
  if (why & reason_wh) rep.write(kWideStrip, {++d.i, sec.w / sec.h});
  if (why & reason_w) rep.write(kNarrowStrip, {++d.i, sec.w});
  if (why & reason_sh) rep.write(kWideGap, {++d.i, sec.s / sec.h});
  if (why & reason_s) rep.write(kNarrowGap, {++d.i, sec.s});
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
