// The SPICE W element's RLGC model: its fit to the line, its own R, L, G, C,
// and its RLGC file.
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "kestrelix/rlgc_io.h"
#include "models/wideband_io/number_text.h"

namespace kx::rlgc {
namespace {

constexpr double kPi = 3.14159265358979323846;
// More conductors than any RLGC file this reader should meet.
constexpr int kMaxConductors = 64;

struct Block {
  const char* title;
  Matrix WElementModel::*matrix;
};
const Block kBlocks[] = {{"L0, H/m", &WElementModel::l0},
                         {"C0, F/m", &WElementModel::c0},
                         {"R0, ohm/m", &WElementModel::r0},
                         {"G0, S/m", &WElementModel::g0},
                         {"Rs, ohm/(m sqrt(Hz))", &WElementModel::rs},
                         {"Gd, S/(m Hz)", &WElementModel::gd}};

void check_model(const WElementModel& m) {
  const int n = m.conductors;
  bool ok = n >= 1;
  for (const Block& block : kBlocks) ok = ok && (m.*block.matrix).size() == n;
  if (!ok) throw std::invalid_argument("the W element's matrices are not all N x N");
}

}  // namespace

WElementModel w_element_fit(const LineStatics& st, double f) {
  const Rlgc p = rlgc_at(st, f);
  const int n = st.conductors;
  const double root = std::sqrt(f);
  const double omega = 2.0 * kPi * f;
  WElementModel m;
  m.conductors = n;
  m.r0 = st.r_dc.size() == n ? st.r_dc : Matrix(n);
  m.g0 = Matrix(n);
  m.rs = m.l0 = m.gd = Matrix(n);
  m.c0 = p.c;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      m.rs(i, j) = (p.r(i, j) - m.r0(i, j)) / root;
      m.l0(i, j) = p.l(i, j) - m.rs(i, j) * root / omega;
      m.gd(i, j) = p.g(i, j) / f;
    }
  return m;
}

Rlgc w_element_rlgc(const WElementModel& m, double f) {
  check_model(m);
  if (!std::isfinite(f) || f <= 0.0)
    throw std::invalid_argument(
        "the W element's R, L, G and C are computed at a positive frequency");
  const int n = m.conductors;
  const double root = std::sqrt(f);
  const double omega = 2.0 * kPi * f;
  Rlgc p;
  p.f_hz = f;
  p.r = p.l = p.g = p.c = p.r_error = Matrix(n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      p.r(i, j) = m.r0(i, j) + root * m.rs(i, j);
      p.l(i, j) = m.l0(i, j) + root * m.rs(i, j) / omega;
      p.g(i, j) = m.g0(i, j) + f * m.gd(i, j);
      p.c(i, j) = m.c0(i, j);
    }
  return p;
}

std::string w_element_file(const WElementModel& m, const std::vector<std::string>& comments) {
  check_model(m);
  std::string out;
  append_comments(out, "* ", comments);
  out +=
      "* W element RLGC model, per metre: Z(f) = R0 + sqrt(f) (1 + j) Rs + j 2 pi f L0,\n"
      "* Y(f) = G0 + f Gd + j 2 pi f C0; each matrix by its lower triangle, row by row\n";
  out += std::to_string(m.conductors) + '\n';
  for (const Block& block : kBlocks) {
    out += "* " + std::string(block.title) + '\n';
    const Matrix& a = m.*block.matrix;
    for (int i = 0; i < m.conductors; ++i) {
      for (int j = 0; j <= i; ++j) {
        if (j > 0) out += ' ';
        append_number(out, a(i, j));
      }
      out += '\n';
    }
  }
  return out;
}

WElementModel parse_w_element_file(std::string_view text) {
  struct Token {
    std::string_view text;
    int line;
  };
  std::vector<Token> tokens;
  int line = 0;
  while (!text.empty()) {
    ++line;
    const std::size_t end = text.find('\n');
    std::string_view row = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::size_t first = row.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || row[first] == '*') continue;
    while (!row.empty()) {
      const std::size_t b = row.find_first_not_of(" \t\r");
      if (b == std::string_view::npos) break;
      const std::size_t e = row.find_first_of(" \t\r", b);
      tokens.push_back({row.substr(b, e == std::string_view::npos ? e : e - b), line});
      row = e == std::string_view::npos ? std::string_view() : row.substr(e);
    }
  }
  const auto fail = [](int at, const std::string& why) {
    throw std::invalid_argument("line " + std::to_string(at) + ": " + why);
  };
  if (tokens.empty()) fail(line, "no number of conductors");
  WElementModel m;
  {
    const Token& t = tokens.front();
    const auto r = std::from_chars(t.text.data(), t.text.data() + t.text.size(), m.conductors);
    if (r.ec != std::errc() || r.ptr != t.text.data() + t.text.size() || m.conductors < 1 ||
        m.conductors > kMaxConductors)
      fail(t.line, "the number of conductors must be a whole number from 1 to " +
                       std::to_string(kMaxConductors) + ", not '" + std::string(t.text) + "'");
  }
  const int n = m.conductors;
  const std::size_t per = static_cast<std::size_t>(n) * static_cast<std::size_t>(n + 1) / 2;
  const std::size_t values = tokens.size() - 1;
  if (values % per != 0 || values / per < 2 || values / per > 6)
    fail(tokens.back().line, "expected L0 and C0 and up to four more matrices of " +
                                 std::to_string(per) + " numbers each, found " +
                                 std::to_string(values) + " numbers");
  std::size_t k = 1;
  for (const Block& block : kBlocks) {
    Matrix& a = m.*block.matrix;
    a = Matrix(n);
    if (k >= tokens.size()) continue;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j <= i; ++j, ++k) {
        const Token& t = tokens[k];
        // from_chars takes no leading '+'; SPICE files may carry one.
        const std::string_view digits = t.text.size() > 1 && t.text[0] == '+' ? t.text.substr(1)
                                                                              : t.text;
        double v = 0.0;
        const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
        if (r.ec != std::errc() || r.ptr != digits.data() + digits.size() || !std::isfinite(v))
          fail(t.line, "'" + std::string(t.text) + "' is not a number");
        a(i, j) = a(j, i) = v;
      }
  }
  return m;
}

}  // namespace kx::rlgc
