// The accuracy-violation report: the run that ends here lists every limit of
// the models that its failing point passed (kx::accuracy_reasons, in the
// report's arithmetic), and in a synthesis the coupling and impedance limits
// of the row. A value that is not a number lists its reason too.
#include <string_view>

#include <kestrelix/validity.h>

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
  if (d.ifunc == function_synthesis) return "Dimensional Synthesis";
  if (d.iop == option_frequency) return "   Frequency Analysis";
  if (d.iop == option_sensitivity) return " Sensitivity Analysis";
  return "   Impedance Analysis";
}

}  // namespace

void accuracy_report(State& st, Report& rep, const Failure& at) {
  Design& d = st.design;
  const Section& sec = at.sec;
  const unsigned why = accuracy_reasons(sec, at.f, at.iflag);
  // The design record's i counts the reasons listed.
  int& i = d.i;
  i = 0;
  rep.write(kHeading, {run_name(d)});
  if (why & flag_fh) {
    const float fh = (at.f * sec.h * mm_per_inch) / mm_per_inch;  // GHz-inch
    rep.write(kDispersion, {++i, fh});
  }
  if (why & flag_er) rep.write(kEr, {++i, sec.er});
  if (why & flag_cover) rep.write(kCover, {++i, sec.h2 / sec.h, sec.s / sec.h});
  if (why & flag_wh) rep.write(kWideStrip, {++i, sec.w / sec.h});
  if (why & flag_w_narrow) rep.write(kNarrowStrip, {++i, sec.w});
  if (why & flag_sh) rep.write(kWideGap, {++i, sec.s / sec.h});
  if (why & flag_s_narrow) rep.write(kNarrowGap, {++i, sec.s});
  if (d.ifunc != function_synthesis) return;
  if (!(at.co <= limits::tightest_db && at.co >= limits::loosest_db)) {
    rep.write(kCoupling, {++i, at.co});
  }
  if (!(at.zo >= limits::min_zo && at.zo <= limits::max_zo)) rep.write(kImpedance, {++i, at.zo});
}

}  // namespace kx
