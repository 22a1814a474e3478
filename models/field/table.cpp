// Reading and writing the fast path's tables (see table.h).
#include "models/field/table.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace kx::field {
namespace {

constexpr char kMagic[8] = {'K', 'X', 'F', 'T', 'A', 'B', '0', '5'};
constexpr char kMagic04[8] = {'K', 'X', 'F', 'T', 'A', 'B', '0', '4'};
constexpr double kEstimateUnit = 1e-6;
constexpr double kCodesPerOctave = 16.0;

class Reader {
 public:
  Reader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
  void bytes(void* to, std::size_t n) {
    if (n > size_ - at_) throw std::runtime_error("field table: truncated");
    std::memcpy(to, data_ + at_, n);
    at_ += n;
  }
  template <class T>
  T get() {
    T v{};
    bytes(&v, sizeof v);
    return v;
  }
  bool done() const { return at_ == size_; }

 private:
  const unsigned char* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

template <class T>
void put(std::string& out, T v) {
  char b[sizeof v];
  std::memcpy(b, &v, sizeof v);
  out.append(b, sizeof v);
}

}  // namespace

std::uint8_t code_estimate(double e) {
  if (!(e > kEstimateUnit)) return 0;
  const double c = std::ceil(kCodesPerOctave * std::log2(e / kEstimateUnit));
  return static_cast<std::uint8_t>(std::min(c, 255.0));
}

double decode_estimate(double code) { return kEstimateUnit * std::exp2(code / kCodesPerOctave); }

std::size_t Table::node_count() const {
  std::size_t n = 1;
  for (const Axis& a : axes) n *= static_cast<std::size_t>(a.nodes);
  return n;
}

std::size_t Table::coefficient_count() const {
  const std::size_t extra = storage == Storage::uniform_float ? 2 : 0;
  std::size_t n = static_cast<std::size_t>(components);
  for (const Axis& a : axes) n *= static_cast<std::size_t>(a.nodes) + extra;
  return n;
}

std::size_t Table::estimate_count() const {
  std::size_t n = 4;
  for (std::size_t k = 0; k + static_cast<std::size_t>(folded) < axes.size(); ++k)
    n *= static_cast<std::size_t>(axes[k].nodes);
  return n;
}

std::size_t Table::region_count() const {
  std::size_t n = 1;
  for (const RegionAxis& r : regions) n *= static_cast<std::size_t>(r.groups);
  return n;
}

std::size_t Table::region_at(const double* x) const {
  std::size_t at = 0;
  for (const RegionAxis& r : regions) {
    const int cells = axes[static_cast<std::size_t>(r.axis)].nodes - 1;
    const double v = x[r.axis];
    const int cell = std::clamp(static_cast<int>(std::floor(v)), 0, cells - 1);
    at = at * static_cast<std::size_t>(r.groups) +
         static_cast<std::size_t>(cell * r.groups / cells);
  }
  return at;
}

Tables read_tables(const unsigned char* data, std::size_t size) {
  Reader in(data, size);
  char magic[8];
  in.bytes(magic, sizeof magic);
  const bool v04 = std::memcmp(magic, kMagic04, sizeof magic) == 0;
  if (!v04 && std::memcmp(magic, kMagic, sizeof magic) != 0)
    throw std::runtime_error("field table: not a table of this version");
  Tables t;
  const std::uint32_t count = in.get<std::uint32_t>();
  if (count > 16) throw std::runtime_error("field table: too many tables");
  for (std::uint32_t k = 0; k < count; ++k) {
    Table tab;
    const std::uint32_t axes = in.get<std::uint32_t>();
    const std::uint32_t components = in.get<std::uint32_t>();
    if (axes < 1 || axes > 8 || components < 1 || components > 8)
      throw std::runtime_error("field table: bad shape");
    tab.components = static_cast<int>(components);
    if (!v04) {
      const std::uint32_t storage = in.get<std::uint32_t>();
      const std::uint32_t folded = in.get<std::uint32_t>();
      if (storage > 1 || folded >= axes || (storage == 1 && (axes < 2 || components > 4)))
        throw std::runtime_error("field table: bad storage");
      tab.storage = static_cast<Storage>(storage);
      tab.folded = static_cast<int>(folded);
    }
    for (std::uint32_t a = 0; a < axes; ++a) {
      Axis ax;
      ax.variable = static_cast<Variable>(in.get<std::uint32_t>());
      const std::uint32_t nodes = in.get<std::uint32_t>();
      if (nodes < 4 || nodes > 1000) throw std::runtime_error("field table: bad axis");
      ax.nodes = static_cast<int>(nodes);
      ax.lo = in.get<double>();
      ax.hi = in.get<double>();
      if (!(ax.hi > ax.lo)) throw std::runtime_error("field table: bad axis range");
      tab.axes.push_back(ax);
    }
    const std::uint32_t region_axes = in.get<std::uint32_t>();
    if (region_axes > axes) throw std::runtime_error("field table: bad regions");
    for (std::uint32_t r = 0; r < region_axes; ++r) {
      RegionAxis ra;
      const std::uint32_t axis = in.get<std::uint32_t>();
      const std::uint32_t groups = in.get<std::uint32_t>();
      if (axis >= axes || groups < 1 ||
          groups > static_cast<std::uint32_t>(tab.axes[axis].nodes - 1))
        throw std::runtime_error("field table: bad region axis");
      ra.axis = static_cast<int>(axis);
      ra.groups = static_cast<int>(groups);
      tab.regions.push_back(ra);
    }
    tab.bounds.resize(tab.region_count() * components);
    for (double& b : tab.bounds) {
      b = in.get<double>();
      if (!(b >= 0.0 && b < 1.0)) throw std::runtime_error("field table: bad bound");
    }
    if (tab.storage == Storage::uniform_float) {
      tab.coefficients.resize(tab.coefficient_count());
      in.bytes(tab.coefficients.data(), tab.coefficients.size() * sizeof(float));
    } else {
      for (std::uint32_t q = 0; q < components; ++q) {
        tab.offset.push_back(in.get<double>());
        tab.step.push_back(in.get<double>());
        if (!std::isfinite(tab.offset.back()) || !(tab.step.back() > 0.0 && tab.step.back() < 1.0))
          throw std::runtime_error("field table: bad coefficient scale");
      }
      tab.codes.resize(tab.coefficient_count());
      in.bytes(tab.codes.data(), tab.codes.size() * sizeof(std::int16_t));
    }
    tab.estimates.resize(tab.estimate_count());
    in.bytes(tab.estimates.data(), tab.estimates.size());
    t.tables.push_back(std::move(tab));
  }
  if (!in.done()) throw std::runtime_error("field table: trailing bytes");
  return t;
}

std::string write_tables(const Tables& t) {
  std::string out(kMagic, sizeof kMagic);
  put(out, static_cast<std::uint32_t>(t.tables.size()));
  for (const Table& tab : t.tables) {
    put(out, static_cast<std::uint32_t>(tab.axes.size()));
    put(out, static_cast<std::uint32_t>(tab.components));
    put(out, static_cast<std::uint32_t>(tab.storage));
    put(out, static_cast<std::uint32_t>(tab.folded));
    for (const Axis& a : tab.axes) {
      put(out, static_cast<std::uint32_t>(a.variable));
      put(out, static_cast<std::uint32_t>(a.nodes));
      put(out, a.lo);
      put(out, a.hi);
    }
    put(out, static_cast<std::uint32_t>(tab.regions.size()));
    for (const RegionAxis& r : tab.regions) {
      put(out, static_cast<std::uint32_t>(r.axis));
      put(out, static_cast<std::uint32_t>(r.groups));
    }
    for (double b : tab.bounds) put(out, b);
    if (tab.storage == Storage::uniform_float) {
      out.append(reinterpret_cast<const char*>(tab.coefficients.data()),
                 tab.coefficients.size() * sizeof(float));
    } else {
      for (std::size_t q = 0; q < tab.offset.size(); ++q) {
        put(out, tab.offset[q]);
        put(out, tab.step[q]);
      }
      out.append(reinterpret_cast<const char*>(tab.codes.data()),
                 tab.codes.size() * sizeof(std::int16_t));
    }
    out.append(reinterpret_cast<const char*>(tab.estimates.data()), tab.estimates.size());
  }
  return out;
}

}  // namespace kx::field
