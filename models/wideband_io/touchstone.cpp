// Touchstone files of the line's S-parameters: version 1.0 single-ended,
// version 2.0 mixed-mode.
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "kestrelix/rlgc_io.h"
#include "models/wideband_io/number_text.h"

namespace kx::rlgc {
namespace {

void check(const std::vector<double>& f, const std::vector<CMatrix>& s, double z_ref) {
  if (f.size() != s.size())
    throw std::invalid_argument("a Touchstone file needs one matrix per frequency");
  if (!std::isfinite(z_ref) || z_ref <= 0.0)
    throw std::invalid_argument("the reference impedance must be positive");
  for (std::size_t k = 0; k < f.size(); ++k) {
    if (!std::isfinite(f[k]) || f[k] < 0.0 || (k > 0 && f[k] <= f[k - 1]))
      throw std::invalid_argument("Touchstone frequencies must rise");
    if (s[k].size() != s.front().size() || s[k].size() < 1)
      throw std::invalid_argument("every matrix of a Touchstone file has the same ports");
  }
}

void append_pair(std::string& out, std::complex<double> v) {
  out += ' ';
  append_number(out, v.real());
  out += ' ';
  append_number(out, v.imag());
}

// The data of one frequency: each row of the matrix on its own lines, four
// pairs a line.
void append_rows(std::string& out, double f, const CMatrix& s) {
  append_number(out, f);
  const int n = s.size();
  if (n == 2) {  // 1.0's two-port order
    append_pair(out, s(0, 0));
    append_pair(out, s(1, 0));
    append_pair(out, s(0, 1));
    append_pair(out, s(1, 1));
    out += '\n';
    return;
  }
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      if (j > 0 && j % 4 == 0) out += '\n';
      append_pair(out, s(i, j));
    }
    out += '\n';
  }
}

std::string option_line(double z_ref) {
  std::string out = "# Hz S RI R ";
  append_number(out, z_ref);
  return out + '\n';
}

}  // namespace

std::string touchstone(const std::vector<double>& f, const std::vector<CMatrix>& s, double z_ref,
                       const std::vector<std::string>& comments) {
  check(f, s, z_ref);
  std::string out;
  out.reserve(f.size() * 40 *
              (s.empty() ? 1 : static_cast<std::size_t>(s.front().size() * s.front().size())));
  append_comments(out, "! ", comments);
  out += option_line(z_ref);
  for (std::size_t k = 0; k < f.size(); ++k) append_rows(out, f[k], s[k]);
  return out;
}

std::string touchstone_mixed_mode(const std::vector<double>& f, const std::vector<CMatrix>& smm,
                                  double z_ref, const std::vector<std::string>& comments) {
  check(f, smm, z_ref);
  if (!smm.empty() && smm.front().size() != 4)
    throw std::invalid_argument("the mixed-mode file is a pair's four-port");
  std::string out;
  out.reserve(f.size() * 700 + 400);
  append_comments(out, "! ", comments);
  out += "[Version] 2.0\n";
  out += option_line(z_ref);
  out += "[Number of Ports] 4\n";
  out += "[Number of Frequencies] " + std::to_string(f.size()) + '\n';
  out += "[Mixed-Mode Order] D1,3 D2,4 C1,3 C2,4\n";
  out += "[Network Data]\n";
  for (std::size_t k = 0; k < f.size(); ++k) append_rows(out, f[k], smm[k]);
  out += "[End]\n";
  return out;
}

}  // namespace kx::rlgc
