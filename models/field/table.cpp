// Reading and writing the fast path's tables (see table.h).
#include "models/field/table.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace kx::field {
namespace {

constexpr char kMagic[8] = {'K', 'X', 'F', 'T', 'A', 'B', '0', '3'};
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
  std::size_t n = static_cast<std::size_t>(components);
  for (const Axis& a : axes) n *= static_cast<std::size_t>(a.nodes + 2);
  return n;
}

Tables read_tables(const unsigned char* data, std::size_t size) {
  Reader in(data, size);
  char magic[8];
  in.bytes(magic, sizeof magic);
  if (std::memcmp(magic, kMagic, sizeof magic) != 0)
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
    for (std::uint32_t c = 0; c < components; ++c) tab.bounds.push_back(in.get<double>());
    tab.coefficients.resize(tab.coefficient_count());
    in.bytes(tab.coefficients.data(), tab.coefficients.size() * sizeof(float));
    tab.estimates.resize(tab.node_count() * 4);
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
    for (const Axis& a : tab.axes) {
      put(out, static_cast<std::uint32_t>(a.variable));
      put(out, static_cast<std::uint32_t>(a.nodes));
      put(out, a.lo);
      put(out, a.hi);
    }
    for (double b : tab.bounds) put(out, b);
    out.append(reinterpret_cast<const char*>(tab.coefficients.data()),
               tab.coefficients.size() * sizeof(float));
    out.append(reinterpret_cast<const char*>(tab.estimates.data()), tab.estimates.size());
  }
  return out;
}

}  // namespace kx::field
