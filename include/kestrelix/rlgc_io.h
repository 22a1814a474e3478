// Text formats of the wideband line: R, L, G, C tables (CSV, JSON), the
// SPICE W element's RLGC file, and Touchstone files of the line's
// S-parameters (single-ended and mixed-mode). Every function returns the
// text; the faces write it through common/output_file.h. Numbers are written
// in the shortest form that reads back to the same double.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <kestrelix/rlgc.h>

namespace kx::rlgc {

// ------------------------------------------------------------------- tables

// One row per frequency: f_hz, then each matrix's lower triangle by rows
// (r11, r21, r22, r31, ...), R in ohm/m, L in H/m, G in S/m, C in F/m:
//   f_hz,r11_ohm_per_m,r21_ohm_per_m,r22_ohm_per_m,l11_h_per_m,...,c22_f_per_m
std::string rlgc_csv(const std::vector<Rlgc>& points);

// {"conductors": N, "units": {...}, "points": [{"f_hz": f, "r": [[...], ...],
//  "l": ..., "g": ..., "c": ...}, ...]} with full N x N matrices.
std::string rlgc_json(const std::vector<Rlgc>& points);

// ------------------------------------------------------- the SPICE W element

// The W element's RLGC model (its "RLGC file", SI units per metre):
//   Z(f) = R0 + sqrt(f) (1 + j) Rs + j 2 pi f L0,
//   Y(f) = G0 + f Gd + j 2 pi f C0,
// L0 H/m, C0 F/m, R0 ohm/m, G0 S/m, Rs ohm/(m sqrt(Hz)), Gd S/(m Hz).
struct WElementModel {
  int conductors = 0;
  Matrix l0, c0, r0, g0, rs, gd;
};

// The W element fitted to the line at f_fit_hz: R0 the strips' D.C.
// resistance (0 for zero-thickness strips), G0 0, and Rs, L0, Gd, C0 such
// that the model's R, L, G and C equal the line's at f_fit_hz exactly.
// Away from f_fit_hz it has the W element's frequency laws (sqrt(f) skin
// effect, loss tangent and permittivity constant), not the line's.
WElementModel w_element_fit(const LineStatics& st, double f_fit_hz);

// The model's R, L, G, C at f_hz (L = L0 + Rs sqrt(f) / (2 pi f)).
Rlgc w_element_rlgc(const WElementModel& m, double f_hz);

// The RLGC file: '*' comment lines (`comments`, then the units), the number
// of conductors, then L0, C0, R0, G0, Rs, Gd, each by its lower triangle
// row by row, one row per line.
std::string w_element_file(const WElementModel& m, const std::vector<std::string>& comments = {});

// Reads an RLGC file: '*' comment lines, N, then L0 and C0 and optionally
// R0, G0, Rs, Gd (missing ones are 0), lower triangles. Throws
// std::invalid_argument "line L: WHY" for anything else.
WElementModel parse_w_element_file(std::string_view text);

// --------------------------------------------------------------- Touchstone

// A Touchstone 1.0 file of the 2N-port S-matrices `s` (one per frequency,
// in increasing order), frequencies in Hz, real and imaginary parts, every
// port referred to z_ref. Each matrix row starts a line (at most four pairs
// a line); a two-port takes the 1.0 order S11 S21 S12 S22 on one line.
// `comments` become '!' lines at the top.
std::string touchstone(const std::vector<double>& f_hz, const std::vector<CMatrix>& s, double z_ref,
                       const std::vector<std::string>& comments = {});

// A Touchstone 2.0 file of a pair's mixed-mode matrices (mixed_mode(): ports
// D1, D2, C1, C2 of the single-ended ports 1..4 in line numbering):
// [Mixed-Mode Order] D1,3 D2,4 C1,3 C2,4, single-ended reference z_ref.
std::string touchstone_mixed_mode(const std::vector<double>& f_hz, const std::vector<CMatrix>& smm,
                                  double z_ref, const std::vector<std::string>& comments = {});

}  // namespace kx::rlgc
