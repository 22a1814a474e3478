#include "shared/accuracy_lines.h"

#include <kestrelix/validity.h>

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

}  // namespace

int accuracy_lines(std::string_view run_name, const Section& sec, float f, int iflag,
                   const float* co, const float* zo, const LinePut& put) {
  const unsigned why = accuracy_reasons(sec, f, iflag);
  int i = 0;
  put(kHeading, {run_name});
  if (why & flag_fh) {
    const float fh = (f * sec.h * mm_per_inch) / mm_per_inch;  // GHz-inch
    put(kDispersion, {++i, fh});
  }
  if (why & flag_er) put(kEr, {++i, sec.er});
  if (why & flag_cover) put(kCover, {++i, sec.h2 / sec.h, sec.s / sec.h});
  if (why & flag_wh) put(kWideStrip, {++i, sec.w / sec.h});
  if (why & flag_w_narrow) put(kNarrowStrip, {++i, sec.w});
  if (why & flag_sh) put(kWideGap, {++i, sec.s / sec.h});
  if (why & flag_s_narrow) put(kNarrowGap, {++i, sec.s});
  if (co != nullptr && !(*co <= limits::tightest_db && *co >= limits::loosest_db)) {
    put(kCoupling, {++i, *co});
  }
  if (zo != nullptr && !(*zo >= limits::min_zo && *zo <= limits::max_zo)) {
    put(kImpedance, {++i, *zo});
  }
  return i;
}

}  // namespace kx
