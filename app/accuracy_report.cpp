// The accuracy-violation report: the run that ends here lists every limit of
// the models that its failing point passed (the evaluator's reasons), and in
// a synthesis the coupling and impedance limits of the row. A value that is
// not a number lists its reason too.
#include <string_view>

#include "app/runs.h"
#include "shared/accuracy_lines.h"

namespace kx {
namespace {

std::string_view run_name(const Design& d) {
  if (d.ifunc == function_synthesis) return "Dimensional Synthesis";
  if (d.iop == option_frequency) return "   Frequency Analysis";
  if (d.iop == option_sensitivity) return " Sensitivity Analysis";
  return "   Impedance Analysis";
}

}  // namespace

void accuracy_report(State& st, Report& rep, const Failure& at) {
  Design& d = st.design;
  const bool synthesis = d.ifunc == function_synthesis;
  // The design record's i counts the reasons listed.
  d.i = accuracy_lines(run_name(d), at.sec, at.f, at.iflag, synthesis ? &at.co : nullptr,
                       synthesis ? &at.zo : nullptr,
                       [&rep](std::string_view t, std::initializer_list<FtnArg> a) {
                         rep.write(t, a);
                       });
}

}  // namespace kx
