// What every study shares. A study is the work done with the models (a
// sweep, a search, a comparison of two models), written once as a plain
// function from a plan to typed rows: the front door's value types with
// their validity, never text. The program's faces (the console dialogue,
// the scripted subcommands, the web page) only format the rows; a program of
// its own calls the same functions (kestrelix/diff_pair.h,
// kestrelix/check.h).
//
// A study hands each row to a sink as soon as it is formed, so that a long
// sweep needs no memory for its rows and a face can print each at once; the
// sink returns false to end the study there (a face ends a sweep at the
// first row the models refuse). Between its points a study polls the Stop
// (kestrelix/stop.h) and ends with kx::Stopped or kx::Interrupted.
//
// No study throws for a value it is given: a range the sweep rule gives no
// points is a study without rows, a cross-section or a target the models
// cannot take is a row with valid = false and the flags that say why
// (kestrelix/validity.h: flag_refused ...).
#pragma once

#include <functional>

namespace kx {
class Stop;
}  // namespace kx

namespace kx::study {

// A range of one quantity: min, min + step, ... up to max by the program's
// sweep rule: the step count (max - min)/step + 0.0001 formed in extended
// precision, stored as a 32-bit float and truncated; point k is
// k*step + min in extended precision, stored as a 32-bit float. A step too
// small to move a float still counts its points (every one the same value).
struct Range {
  float min{}, max{}, step{};
};

// The number of points of `r` (0 when the rule gives none: a step that is 0
// or not a number, an end that is not finite, max a whole step or more below
// min).
long long points(const Range& r);
// Point k of `r`.
float point(const Range& r, long long k);

// What a study hands its rows to; false ends the study after this row.
template <typename Row>
using Sink = std::function<bool(const Row&)>;

}  // namespace kx::study
