// The sections of the input dialogue `mscupinp`, one family per source file.
// Internal to the input library.
#pragma once

#include <string>
#include <string_view>

#include "input/dialogue.h"

namespace kx::dialogue {

// Reads Kestrelix.DEF from the working directory into the design record
// (the F. value also into `fo`). Returns false after printing the message of
// a faulty or missing entry; throws FatalError when the file cannot be
// opened.
bool read_defaults_file(Console& io, Design& d, float& fo);

// The date stamp: the clock's local time into the datetime group.
void take_date_stamp(Console& io, Design& d);

// Banner with the stamp of the first dialogue.
void print_banner(Console& io, const Design& d);

// Program description, FUNCTION menu and the FUNCTION answer: sets ifunc and
// the SUBOPTION defaults.
void function_menu(Console& io, Design& d);

// OPTION and SUBOPTION menus of the current ifunc. Returns ilength (1 to
// enter the coupler length, 2 to compute it), meaningful only for the
// four-port response.
int option_menus(Console& io, Design& d);

// H, H2, W, T, S, RES, SR, Er and DLTAN as the menus ask them.
void dimensional_prompts(Console& io, Design& d);

// Frequencies, length, terminations, print format and synthesis ranges.
// The design centre frequency (ilength 1) or the coupler length (ilength 2)
// is computed by `line`.
void frequency_prompts(Console& io, Design& d, CoupledLine& line, int ilength, float& fo);

// The output storage question and the file name.
void storage_question(Console& io, Design& d);

// Shared by the prompt sections.
//
// Asks a re-enter question; true when the nearest integer of the answer is 1.
bool reenter(Console& io, std::string_view question);
// Prompts and reads one number.
float ask(Console& io, std::string_view prompt);
// The four-port response is the only run that asks DLTAN, L and terminations.
inline bool four_port(const Design& d) {
  return d.ifunc == function_analysis && d.iop == option_frequency &&
         d.iop2a == frequency_four_port;
}

}  // namespace kx::dialogue
