// The input dialogue: where a call starts depends on isel (0 first call,
// 1 new option of the same function, 2 new coupler); then the menus, the
// data prompts of the chosen run and the storage question.
#include "input/dialogue_steps.h"

namespace kx {

void mscupinp(Console& io, Design& d, CoupledLine& line, float& fo) {
  d.iop = option_impedance;
  d.i = 0;
  if (d.isel != select_new_option) {
    d.ifunc = function_analysis;
    if (d.isel != select_new_coupler) {
      if (!dialogue::read_defaults_file(io, d, fo)) {
        d.isel = select_error;
        return;
      }
      dialogue::take_date_stamp(io, d);
    }
    dialogue::print_banner(io, d);
    dialogue::function_menu(io, d);
  }
  const int ilength = dialogue::option_menus(io, d);
  dialogue::dimensional_prompts(io, d);
  dialogue::frequency_prompts(io, d, line, ilength, fo);
  dialogue::storage_question(io, d);
}

}  // namespace kx
