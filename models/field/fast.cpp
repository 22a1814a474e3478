// The fast path (see fast.h).
#include "models/field/fast.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "models/field/spline.h"

namespace kx::field {

// The table file's bytes, embedded at build time (fast_table_data.cpp).
const unsigned char* fast_table_bytes();
std::size_t fast_table_size();

namespace {

constexpr int kMaxAxes = 8;
constexpr int kMaxComponents = 4;
// How many runs ahead the coated sum asks for their cache lines.
constexpr std::size_t kAhead = 32;
// Inputs this far (relative) beyond an end of the range still count as
// inside (single-precision sections converted to ratios of doubles).
constexpr double kEdge = 1e-6;

bool within(double v, double lo, double hi) {
  return v >= lo * (1.0 - kEdge) && v <= hi * (1.0 + kEdge);
}

// The weighted sum of the coefficients about a point: 4 per axis.
void accumulate(const float* c, const Span* span, const std::size_t* stride, int axis, int axes,
                int components, double weight, double* out) {
  const Span& s = span[axis];
  if (axis == axes - 1) {
    for (int j = 0; j < 4; ++j) {
      const double w = weight * s.weights[static_cast<std::size_t>(j)];
      const float* p = c + static_cast<std::size_t>(s.first + j) * stride[axis];
      for (int q = 0; q < components; ++q) out[q] += w * static_cast<double>(p[q]);
    }
    return;
  }
  for (int j = 0; j < 4; ++j)
    accumulate(c + static_cast<std::size_t>(s.first + j) * stride[axis], span, stride, axis + 1,
               axes, components, weight * s.weights[static_cast<std::size_t>(j)], out);
}

#if defined(__x86_64__) && defined(__GNUC__)
// Runs of 8 codes (two components) weighted into 8 sums (see
// accumulate_codes): the same products and sums, lane by lane and in the
// same order, as the SSE2 and scalar loops there, so every machine gives
// the same bits.
__attribute__((target("avx2"), always_inline)) inline __m256 run(const std::int16_t* p) {
  return _mm256_cvtepi32_ps(
      _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}
__attribute__((target("avx2"))) void sum_runs_avx2(const std::int16_t* base, const std::size_t* at,
                                                   const float* weight, std::size_t m,
                                                   const float* wa, std::size_t step_a,
                                                   float* acc) {
  const __m256 w0 = _mm256_set1_ps(wa[0]), w1 = _mm256_set1_ps(wa[1]), w2 = _mm256_set1_ps(wa[2]),
               w3 = _mm256_set1_ps(wa[3]);
  __m256 sum[2] = {_mm256_setzero_ps(), _mm256_setzero_ps()};
  for (std::size_t i = 0; i < m; ++i) {
    const std::int16_t* p = base + at[i];
    if (i + kAhead < m) {  // the runs lie all over the table: their lines asked for ahead
      _mm_prefetch(reinterpret_cast<const char*>(base + at[i + kAhead]), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(base + at[i + kAhead] + 3 * step_a + 7),
                   _MM_HINT_T0);
    }
    const __m256 inner =
        _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(w0, run(p)), _mm256_mul_ps(w1, run(p + step_a))),
                      _mm256_add_ps(_mm256_mul_ps(w2, run(p + 2 * step_a)),
                                    _mm256_mul_ps(w3, run(p + 3 * step_a))));
    sum[i % 2] = _mm256_add_ps(sum[i % 2], _mm256_mul_ps(_mm256_set1_ps(weight[i]), inner));
  }
  _mm256_storeu_ps(acc, _mm256_add_ps(sum[0], sum[1]));
}
#endif

// The weighted sum of a knots_int16 table's codes about a point (4 per
// axis, at least two axes): the outer axes' weights and offsets expanded,
// then runs of 4 x components consecutive codes (the last axis) along the
// last but one, summed in single precision (the codes are integers below
// 2^15 and the weights a partition of unity: the sum's rounding stays below
// about one code step, a few 1e-5 in r, even in the worst case).
void accumulate_codes(const Table& t, const Span* span, double* out) {
  const int axes = static_cast<int>(t.axes.size());
  const std::size_t comps = static_cast<std::size_t>(t.components);
  std::array<std::size_t, kMaxAxes> stride{};
  std::size_t s = comps;
  for (int k = axes - 1; k >= 0; --k) {
    stride[static_cast<std::size_t>(k)] = s;
    s *= static_cast<std::size_t>(t.axes[static_cast<std::size_t>(k)].nodes);
  }
  constexpr std::size_t kOuter = std::size_t{1} << (2 * (kMaxAxes - 2));
  std::array<float, kOuter> weight;
  std::array<std::size_t, kOuter> at;
  std::size_t m = 1;
  weight[0] = 1.0f;
  at[0] = 0;
  for (int k = 0; k + 2 < axes; ++k) {
    const Span& sp = span[k];
    const std::size_t uk = static_cast<std::size_t>(k);
    for (std::size_t i = m; i-- > 0;)
      for (std::size_t j = 4; j-- > 0;) {
        weight[4 * i + j] = weight[i] * static_cast<float>(sp.weights[j]);
        at[4 * i + j] = at[i] + (static_cast<std::size_t>(sp.first) + j) * stride[uk];
      }
    m *= 4;
  }
  const Span& sa = span[axes - 2];
  const Span& sb = span[axes - 1];
  const std::size_t step_a = stride[static_cast<std::size_t>(axes - 2)];
  const std::int16_t* base = t.codes.data() + static_cast<std::size_t>(sa.first) * step_a +
                             static_cast<std::size_t>(sb.first) * comps;
  std::array<float, 4> wa{};
  for (std::size_t j = 0; j < 4; ++j) wa[j] = static_cast<float>(sa.weights[j]);
  std::array<float, 4 * kMaxComponents> acc{};
#if defined(__x86_64__) && defined(__GNUC__)
  if (comps == 2 && __builtin_cpu_supports("avx2")) {
    sum_runs_avx2(base, at.data(), weight.data(), m, wa.data(), step_a, acc.data());
  } else
#endif
#if defined(__SSE2__)
      if (comps == 2) {
    const auto run = [](const std::int16_t* p, bool high) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i half = high ? _mm_unpackhi_epi16(v, v) : _mm_unpacklo_epi16(v, v);
      return _mm_cvtepi32_ps(_mm_srai_epi32(half, 16));
    };
    const __m128 w0 = _mm_set1_ps(wa[0]), w1 = _mm_set1_ps(wa[1]), w2 = _mm_set1_ps(wa[2]),
                 w3 = _mm_set1_ps(wa[3]);
    for (int h = 0; h < 2; ++h) {  // lanes 0-3, then 4-7
      const bool high = h == 1;
      __m128 sum[2] = {_mm_setzero_ps(), _mm_setzero_ps()};
      for (std::size_t i = 0; i < m; ++i) {
        const std::int16_t* p = base + at[i];
        if (h == 0 && i + kAhead < m) {
          _mm_prefetch(reinterpret_cast<const char*>(base + at[i + kAhead]), _MM_HINT_T0);
          _mm_prefetch(reinterpret_cast<const char*>(base + at[i + kAhead] + 3 * step_a + 7),
                       _MM_HINT_T0);
        }
        const __m128 inner = _mm_add_ps(_mm_add_ps(_mm_mul_ps(w0, run(p, high)),
                                                   _mm_mul_ps(w1, run(p + step_a, high))),
                                        _mm_add_ps(_mm_mul_ps(w2, run(p + 2 * step_a, high)),
                                                   _mm_mul_ps(w3, run(p + 3 * step_a, high))));
        sum[i % 2] = _mm_add_ps(sum[i % 2], _mm_mul_ps(_mm_set1_ps(weight[i]), inner));
      }
      _mm_storeu_ps(acc.data() + 4 * h, _mm_add_ps(sum[0], sum[1]));
    }
  } else
#endif
  {
    const std::size_t run = 4 * comps;
    std::array<float, 4 * kMaxComponents> odd{};
    for (std::size_t i = 0; i < m; ++i) {
      const std::int16_t* p = base + at[i];
      float* sum = i % 2 == 0 ? acc.data() : odd.data();
      for (std::size_t e = 0; e < run; ++e) {
        const float inner =
            (wa[0] * static_cast<float>(p[e]) + wa[1] * static_cast<float>(p[e + step_a])) +
            (wa[2] * static_cast<float>(p[e + 2 * step_a]) +
             wa[3] * static_cast<float>(p[e + 3 * step_a]));
        sum[e] += weight[i] * inner;
      }
    }
    for (std::size_t e = 0; e < run; ++e) acc[e] += odd[e];
  }
  for (std::size_t q = 0; q < comps; ++q) {
    double sum = 0.0;
    for (std::size_t e = 0; e < 4; ++e)
      sum += sb.weights[e] * static_cast<double>(acc[e * comps + q]);
    out[q] = t.offset[q] + t.step[q] * sum;
  }
}

// A table's spline at the grid coordinates x (node units, within the
// grid), and the solver's estimates at the corners of the cell holding x
// interpolated multilinearly (in their logarithms).
struct Evaluation {
  std::array<double, kMaxComponents> value{};
  std::array<double, 4> estimate{};
  std::array<double, kMaxComponents> bound{};  // the interpolation's, in x's region
};
Evaluation evaluate(const Table& t, const double* x) {
  const int axes = static_cast<int>(t.axes.size());
  const bool knots = t.storage == Storage::knots_int16;
  std::array<Span, kMaxAxes> span{};
  std::array<std::size_t, kMaxAxes> stride{}, node_stride{};
  std::array<int, kMaxAxes> cell{};
  const int unfolded = axes - t.folded;
  std::size_t s = static_cast<std::size_t>(t.components), ns = 4;
  for (int k = axes - 1; k >= 0; --k) {
    const std::size_t uk = static_cast<std::size_t>(k);
    const int nodes = t.axes[uk].nodes;
    span[uk] = knots ? knot_span_at(x[k], nodes) : span_at(x[k], nodes);
    cell[uk] = std::clamp(static_cast<int>(std::floor(x[k])), 0, nodes - 2);
    stride[uk] = s;
    s *= static_cast<std::size_t>(nodes + (knots ? 0 : 2));
    if (k < unfolded) {
      node_stride[uk] = ns;
      ns *= static_cast<std::size_t>(nodes);
    }
  }
  Evaluation e;
  if (knots)
    accumulate_codes(t, span.data(), e.value.data());
  else
    accumulate(t.coefficients.data(), span.data(), stride.data(), 0, axes, t.components, 1.0,
               e.value.data());
  // The cell's corners: the nodes cell and cell + 1 of each unfolded axis.
  const unsigned corners = 1u << static_cast<unsigned>(unfolded);
  std::array<double, 4> code{};
  for (unsigned m = 0; m < corners; ++m) {
    std::size_t at = 0;
    double weight = 1.0;
    for (int k = 0; k < unfolded; ++k) {
      const std::size_t uk = static_cast<std::size_t>(k);
      const bool upper = ((m >> uk) & 1u) != 0;
      const double f = std::clamp(x[k] - cell[uk], 0.0, 1.0);
      weight *= upper ? f : 1.0 - f;
      at += static_cast<std::size_t>(cell[uk] + (upper ? 1 : 0)) * node_stride[uk];
    }
    for (std::size_t q = 0; q < 4; ++q) code[q] += weight * t.estimates[at + q];
  }
  for (std::size_t q = 0; q < 4; ++q) e.estimate[q] = decode_estimate(code[q]);
  const std::size_t region = t.region_at(x);
  for (int q = 0; q < t.components; ++q) {
    const std::size_t uq = static_cast<std::size_t>(q);
    e.bound[uq] = t.bounds[region * static_cast<std::size_t>(t.components) + uq];
  }
  return e;
}

// The grid coordinates of sec in t; false outside the table's ranges.
bool coordinates(const Table& t, const Section& sec, double* x) {
  for (std::size_t k = 0; k < t.axes.size(); ++k) {
    const Axis& a = t.axes[k];
    const double v = variable_of(a.variable, sec);
    const double tolerance = kEdge * std::max({1.0, std::abs(a.lo), std::abs(a.hi)});
    if (!(v >= a.lo - tolerance && v <= a.hi + tolerance)) return false;
    x[k] = (std::clamp(v, a.lo, a.hi) - a.lo) / (a.hi - a.lo) * (a.nodes - 1);
  }
  return true;
}

// The table whose axes are exactly these variables, or nullptr.
const Table* find(const Tables& tables, std::initializer_list<Variable> axes) {
  for (const Table& t : tables.tables) {
    if (t.axes.size() != axes.size()) continue;
    bool same = true;
    std::size_t k = 0;
    for (Variable v : axes) same = same && t.axes[k++].variable == v;
    if (same) return &t;
  }
  return nullptr;
}

Tables embedded() {
  if (fast_table_size() == 0) return {};
  return read_tables(fast_table_bytes(), fast_table_size());
}

// Where a section falls in the tables: the air and bare dielectric tables
// and, for a coated section, the coated table of its kind (over the open
// gap S - 2C where the coating leaves one, over the fill variable where it
// fills the gap: the odd capacitance's kink at S = 2C lies on both tables'
// edges, inside neither), with the grid coordinates in each.
struct Located {
  const Table* air = nullptr;
  const Table* dielectric = nullptr;
  const Table* coat = nullptr;
  double xa[kMaxAxes], xd[kMaxAxes], xc[kMaxAxes];
};

// False where the tables do not reach: outside the range, a coating no
// table holds, or a coated table's region whose bound passes the promise.
bool locate(const Tables& tables, const Section& sec, Located& at) {
  const bool coated = sec.coat > 0.0 && sec.er_coat != 1.0;
  if (!within(sec.w, kFastMinW, kFastMaxW) || !within(sec.s, kFastMinS, kFastMaxS) ||
      !(sec.t == 0.0 || within(sec.t, kFastMinT, kFastMaxT)) ||
      !(sec.er >= 1.0 && sec.er <= kFastMaxEr * (1.0 + kEdge)) ||
      !(sec.h2 >= kFastMinH2 * (1.0 - kEdge)))
    return false;
  if (coated && !(sec.coat <= kFastMaxCoat * (1.0 + kEdge) && sec.er_coat >= 1.0 &&
                  sec.er_coat <= kFastMaxErCoat * (1.0 + kEdge)))
    return false;
  at.air = find(tables, {Variable::log_w, Variable::log_s, Variable::cbrt_t, Variable::sqrt_u});
  at.dielectric = find(tables, {Variable::log_w, Variable::log_s, Variable::cbrt_t,
                                Variable::sqrt_u, Variable::lambda});
  if (at.air == nullptr || at.dielectric == nullptr || at.air->components != 2 ||
      at.dielectric->components != 2 || !coordinates(*at.air, sec, at.xa) ||
      !coordinates(*at.dielectric, sec, at.xd))
    return false;
  if (!coated) return true;
  const bool open = sec.s > 2.0 * sec.coat;
  at.coat =
      find(tables, {Variable::log_w, open ? Variable::log_gap : Variable::fill, Variable::cbrt_t,
                    Variable::sqrt_u, Variable::log_er, Variable::log_coat, Variable::log_er_coat});
  if (at.coat == nullptr || at.coat->components != 2 || !coordinates(*at.coat, sec, at.xc))
    return false;
  const double* bound = &at.coat->bounds[at.coat->region_at(at.xc) * 2];
  return bound[0] <= kFastMaxCoatedBound && bound[1] <= kFastMaxCoatedBound;
}

}  // namespace

const Tables& fast_tables() {
  static const Tables tables = embedded();
  return tables;
}

double variable_of(Variable v, const Section& sec) {
  switch (v) {
    case Variable::log_w:
      return std::log(sec.w);
    case Variable::log_s:
      return std::log(sec.s);
    case Variable::cbrt_t:
      return std::cbrt(sec.t / kFastMaxT);
    case Variable::sqrt_u:
      return std::isinf(sec.h2) ? 0.0 : std::sqrt(1.0 / sec.h2);
    case Variable::lambda:
      return (sec.er - 1.0) / (sec.er + 1.0);
    case Variable::coat:
      return std::sqrt(sec.coat / kFastMaxCoat);
    case Variable::lambda_coat:
      return (sec.er_coat - 1.0) / (sec.er_coat + 1.0);
    case Variable::log_gap:
      return sec.s > 2.0 * sec.coat ? std::log(sec.s - 2.0 * sec.coat)
                                    : std::numeric_limits<double>::quiet_NaN();
    case Variable::log_coat:
      return std::log(sec.coat);
    case Variable::log_er_coat:
      return std::log(sec.er_coat);
    case Variable::log_er:
      return std::log(sec.er);
    case Variable::fill:
      return sec.s <= 2.0 * sec.coat && 2.0 * sec.coat > kFillMinS
                 ? std::log(sec.s / kFillMinS) / std::log(2.0 * sec.coat / kFillMinS)
                 : std::numeric_limits<double>::quiet_NaN();
  }
  return std::numeric_limits<double>::quiet_NaN();
}

void set_variable(Variable v, double x, Section& sec) {
  switch (v) {
    case Variable::log_w:
      sec.w = std::exp(x);
      break;
    case Variable::log_s:
      sec.s = std::exp(x);
      break;
    case Variable::cbrt_t:
      sec.t = kFastMaxT * x * x * x;
      break;
    case Variable::sqrt_u:
      sec.h2 = x > 0.0 ? 1.0 / (x * x) : std::numeric_limits<double>::infinity();
      break;
    case Variable::lambda:
      sec.er = (1.0 + x) / (1.0 - x);
      break;
    case Variable::coat:
      sec.coat = kFastMaxCoat * x * x;
      break;
    case Variable::lambda_coat:
      sec.er_coat = (1.0 + x) / (1.0 - x);
      break;
    case Variable::log_gap:
      sec.s = std::exp(x) + 2.0 * sec.coat;
      break;
    case Variable::log_coat:
      sec.coat = std::exp(x);
      break;
    case Variable::log_er_coat:
      sec.er_coat = std::exp(x);
      break;
    case Variable::log_er:
      sec.er = std::exp(x);
      break;
    case Variable::fill:
      sec.s = kFillMinS * std::pow(2.0 * sec.coat / kFillMinS, x);
      break;
  }
}

bool grid_coordinates(const Table& t, const Section& sec, double* x) {
  return t.axes.size() <= kMaxAxes && coordinates(t, sec, x);
}

bool table_components(const Table& t, const Section& sec, double* out) {
  double x[kMaxAxes];
  if (t.axes.size() > kMaxAxes || t.components > kMaxComponents || !coordinates(t, sec, x))
    return false;
  const Evaluation e = evaluate(t, x);
  for (int q = 0; q < t.components; ++q) out[q] = e.value[static_cast<std::size_t>(q)];
  return true;
}

bool fast_reaches(const Tables& tables, const Section& sec) {
  Located at;
  return locate(tables, sec, at);
}

bool fast_values(const Tables& tables, const Section& sec, FastValues& out) {
  Located at;
  if (!locate(tables, sec, at)) return false;
  const Evaluation a = evaluate(*at.air, at.xa);
  const Evaluation d = evaluate(*at.dielectric, at.xd);
  const double half_er = 0.5 * (sec.er + 1.0);
  out.c.even_air = std::exp(a.value[0]);
  out.c.odd_air = std::exp(a.value[1]);
  if (at.coat == nullptr) {
    out.c.even = d.value[0] * half_er * out.c.even_air;
    out.c.odd = d.value[1] * half_er * out.c.odd_air;
    // Zoe goes with sqrt(ce cae) = sqrt(q) cae: half q's error and all of cae's;
    // eff_e = q (Er + 1)/2.
    out.error = {d.estimate[0] + a.bound[0] + 0.5 * d.bound[0],
                 d.estimate[1] + a.bound[1] + 0.5 * d.bound[1], d.estimate[2] + d.bound[0],
                 d.estimate[3] + d.bound[1]};
  } else {
    // A coated section: q from the bare dielectric table at the same S times
    // exp(r), r = ln(q_coated / q_bare) from the coated table, whose bounds
    // were measured on this whole chain against direct coated solutions (so
    // they hold the bare tables' part too); the estimates are the coated
    // nodes'.
    const Evaluation c = evaluate(*at.coat, at.xc);
    out.c.even = d.value[0] * std::exp(c.value[0]) * half_er * out.c.even_air;
    out.c.odd = d.value[1] * std::exp(c.value[1]) * half_er * out.c.odd_air;
    out.error = {c.estimate[0] + a.bound[0] + 0.5 * c.bound[0],
                 c.estimate[1] + a.bound[1] + 0.5 * c.bound[1], c.estimate[2] + c.bound[0],
                 c.estimate[3] + c.bound[1]};
  }
  for (double v : {out.c.even, out.c.odd, out.c.even_air, out.c.odd_air})
    if (!std::isfinite(v) || v <= 0.0) return false;
  return true;
}

}  // namespace kx::field
