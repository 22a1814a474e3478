#include "web/turns.h"

#include <algorithm>
#include <tuple>

namespace kx::web {
namespace {

// Clients without a request are remembered (their last turn) up to this
// many; beyond, they are forgotten all at once.
constexpr std::size_t kRemembered = 1024;

}  // namespace

Turns::Turns(unsigned slots, unsigned per_client)
    : free_(std::max(1u, slots)), per_client_(std::max(1u, per_client)) {}

bool Turns::enter(const std::string& client, Clock::time_point until) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (closed_) return false;
  Waiter me{client};
  ++clients_[client].waiting;
  waiting_.push_back(&me);
  grant();
  cv_.wait_until(lock, until, [&] { return me.admitted || closed_; });
  if (me.admitted) return true;
  waiting_.remove(&me);
  --clients_[client].waiting;
  forget_idle();
  return false;
}

void Turns::leave(const std::string& client) {
  std::lock_guard<std::mutex> lock(mutex_);
  --clients_[client].running;
  ++free_;
  grant();
  forget_idle();
}

void Turns::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  cv_.notify_all();
}

unsigned Turns::load(const std::string& client) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto c = clients_.find(client);
  return c == clients_.end() ? 0 : c->second.running + c->second.waiting;
}

void Turns::grant() {
  bool granted = false;
  while (free_ > 0 && !closed_) {
    Waiter* best = nullptr;
    std::tuple<unsigned, std::uint64_t> best_rank{};
    for (Waiter* w : waiting_) {  // in order of arrival: the first of equals wins
      const Client& c = clients_[w->client];
      if (c.running >= per_client_) continue;
      const std::tuple<unsigned, std::uint64_t> rank{c.running, c.last_turn};
      if (best == nullptr || rank < best_rank) {
        best = w;
        best_rank = rank;
      }
    }
    if (best == nullptr) break;
    Client& c = clients_[best->client];
    --c.waiting;
    ++c.running;
    c.last_turn = ++turns_;
    --free_;
    best->admitted = true;
    waiting_.remove(best);
    granted = true;
  }
  if (granted) cv_.notify_all();
}

void Turns::forget_idle() {
  if (clients_.size() <= kRemembered) return;
  for (auto c = clients_.begin(); c != clients_.end();) {
    c = c->second.running == 0 && c->second.waiting == 0 ? clients_.erase(c) : std::next(c);
  }
}

}  // namespace kx::web
