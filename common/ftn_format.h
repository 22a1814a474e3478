// Fortran-style format templates: the one place that knows column rules.
//
// A template is a parenthesised, comma-separated list of items:
//   'text'   quoted text written unchanged ('' inside stands for one quote)
//   nX       n blanks
//   /        ends the current line
//   Fw.d     a real, rounded to d decimals, right-justified in w columns
//   Iw       an integer, right-justified in w columns
//   Aw       a text value in w columns (a bare A: the whole value)
//   nHc      n characters written unchanged (72(1H-) is a rule of 72 hyphens)
//   n(...)   the group repeated n times
// Every template ends its last line, except a prompt, which leaves the line
// open for the answer. A count may also stand on a descriptor or a slash
// (3F7.3, 2/). Blanks between items are not significant; the comma may be
// left out next to a slash or a piece of text ('"' '  Impedances at').
#pragma once

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

namespace kx {

using FtnArg = std::variant<float, int, std::string_view>;

// Thrown for a template that cannot be parsed, or a value whose type does
// not match its edit descriptor.
struct FtnFormatError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// Renders one template with its values. Each '/' becomes '\n'; the text ends
// with '\n' unless `prompt` is set. When the values run out, output stops at
// the next edit descriptor that needs one (the line is still ended). Values
// left over at the closing ')' start a new line and the template again from
// its last top-level group (Fortran format reversion). Runaway templates
// (more than 1 MB of text) throw FtnFormatError.
std::string ftn_format(std::string_view tmpl, std::initializer_list<FtnArg> args,
                       bool prompt = false);

// The same text appended to `out` (a buffer the caller reuses: no allocation
// once it has grown). Each template is parsed once per thread and kept. On
// an error `out` may hold part of the text.
void ftn_format_to(std::string& out, std::string_view tmpl, std::initializer_list<FtnArg> args,
                   bool prompt = false);

// Single edit descriptors, exposed for the report code's own checks and tests.
std::string ftn_f(float value, int w, int d);
std::string ftn_i(int value, int w);
std::string ftn_a(std::string_view value, int w);

}  // namespace kx
