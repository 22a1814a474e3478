#include "models/field_cache.h"

#include <stdexcept>

namespace kx {
namespace {

bool same(const field::Geometry& a, const field::Geometry& b) {
  return a.er == b.er && a.h == b.h && a.w == b.w && a.s == b.s && a.t == b.t && a.h2 == b.h2 &&
         a.coat == b.coat && a.er_coat == b.er_coat;
}

}  // namespace

const field::Result* FieldCache::solve(
    const field::Geometry& g, field::Accuracy accuracy, field::Method method,
    const field::LocalModel* local,
    const std::vector<std::shared_ptr<const field::SweepModel>>* sweeps) {
  for (const Entry& e : entries_) {
    if (e.used && e.accuracy == accuracy && e.method == method && same(e.g, g))
      return e.solved ? &e.result : nullptr;
  }
  Entry& e = entries_[next_];
  next_ = (next_ + 1) % kEntries;
  e.g = g;
  e.accuracy = accuracy;
  e.method = method;
  e.used = true;
  try {
    field::Settings settings;
    settings.accuracy = accuracy;
    settings.method = method;
    const bool tables = accuracy == field::Accuracy::standard && field::fast_covers(g);
    if (method == field::Method::fast && !tables) {
      if (local != nullptr && local->holds() && local->covers(g)) {
        e.result = local->at(g);
        e.solved = true;
        ++counts_.local;
        return &e.result;
      }
      for (std::size_t k = 0; sweeps != nullptr && k < sweeps->size(); ++k) {
        const field::SweepModel* sweep = (*sweeps)[k].get();
        if (sweep != nullptr && sweep->holds() && sweep->covers(g)) {
          e.result = sweep->at(g);
          e.solved = true;
          ++counts_.sweep;
          return &e.result;
        }
      }
    }
    e.result = field::solve(g, settings);  // refuses what check() refuses
    e.solved = true;
    if (e.result.method == field::Method::fast) {
      ++counts_.fast;
    } else {
      ++counts_.direct;
      if (method == field::Method::fast) ++counts_.fallbacks;
    }
  } catch (const std::exception&) {
    e.solved = false;  // refused, or no set of positive capacitances
  }
  return e.solved ? &e.result : nullptr;
}

}  // namespace kx
