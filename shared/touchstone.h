// The coupler's Touchstone file (1.0, real/imaginary, one reference
// impedance at every port) as the command line writes it: its comment
// lines and option line, then one point per frequency.
#pragma once

#include <string>
#include <vector>

#include <kestrelix/coupled_line.h>

#include "shared/input_checks.h"
#include "studies/sweeps.h"

namespace kx::touchstone {

// What the header says.
struct Header {
  std::string program;  // "kestrelix 2.0"
  Section section;
  Materials materials;
  ModelSettings model;
  study::Coupler coupler;
  bool radiation = true;
  float reference = 50.0f;  // ohms
  // With the losses from the field: the lines describing their materials
  // (instead of the closed forms' RES, SR and DLTAN line).
  bool field_losses = false;
  std::vector<std::string> loss_lines;
};

// The comment lines (lengths through `length_text`, every digit of a
// computed length) and the option line, each ending with a line end.
std::string header(const Header& h, const checks::LengthText& length_text);
// The point at f GHz: f and the 16 entries row by row, each row on a line.
std::string point(float f, const SMatrix& s);

}  // namespace kx::touchstone
