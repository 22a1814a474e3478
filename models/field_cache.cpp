#include "models/field_cache.h"

#include <stdexcept>

namespace kx {
namespace {

bool same(const field::Geometry& a, const field::Geometry& b) {
  return a.er == b.er && a.h == b.h && a.w == b.w && a.s == b.s && a.t == b.t && a.h2 == b.h2 &&
         a.coat == b.coat && a.er_coat == b.er_coat;
}

}  // namespace

field::Result FieldCache::solved(
    const field::Geometry& g, field::Accuracy accuracy, field::Method method,
    const field::LocalModel* local,
    const std::vector<std::shared_ptr<const field::SweepModel>>* sweeps) {
  field::Settings settings;
  settings.accuracy = accuracy;
  settings.method = method;
  // A local model, where the caller built one (a tolerance run about a
  // coated section), serves its box first: it is closer to the direct
  // solution there than the coated tables and a fraction of their time.
  if (method == field::Method::fast && local != nullptr && local->holds() && local->covers(g)) {
    ++counts_.local;
    return local->at(g);
  }
  const bool tables = accuracy == field::Accuracy::standard && field::fast_covers(g);
  if (method == field::Method::fast && !tables) {
    for (std::size_t k = 0; sweeps != nullptr && k < sweeps->size(); ++k) {
      const field::SweepModel* sweep = (*sweeps)[k].get();
      if (sweep != nullptr && sweep->holds() && sweep->covers(g)) {
        ++counts_.sweep;
        return sweep->at(g);
      }
    }
  }
  field::Result r = field::solve(g, settings);
  if (r.method == field::Method::fast) {
    ++counts_.fast;
  } else {
    ++counts_.direct;
    if (method == field::Method::fast) ++counts_.fallbacks;
  }
  return r;
}

const field::Result* FieldCache::solve(
    const field::Geometry& g, field::Accuracy accuracy, field::Method method,
    const field::LocalModel* local,
    const std::vector<std::shared_ptr<const field::SweepModel>>* sweeps, bool measured) {
  for (const Entry& e : entries_) {
    if (e.used && e.accuracy == accuracy && e.method == method && e.measured == measured &&
        same(e.g, g))
      return e.solved ? &e.result : nullptr;
  }
  Entry& e = entries_[next_];
  next_ = (next_ + 1) % kEntries;
  e.g = g;
  e.accuracy = accuracy;
  e.method = method;
  e.measured = measured;
  e.used = true;
  try {
    e.result = solved(g, accuracy, method, local, sweeps);  // refuses what check() refuses
    e.solved = true;
    if (measured) e.result = field::measured(g, e.result, accuracy);
  } catch (const std::exception&) {
    e.solved = false;  // refused, or no set of positive capacitances
  }
  return e.solved ? &e.result : nullptr;
}

}  // namespace kx
