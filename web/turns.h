// Turns of the server's runs, shared fairly among its clients.
//
//   Turns turns(4, 2);                     // 4 runs at once, at most 2 of one client
//   if (turns.enter(client, deadline)) {   // false: no turn before the deadline
//     ...run...
//     turns.leave(client);
//   }
//
// A free turn goes to the waiting request whose client has the fewest runs
// going, then to the client whose last turn began longest ago (one never
// served first), then to the request that came first: clients take turns
// in rotation, and one client's many requests wait behind each other, not
// in front of another client's. A client never holds more than its share
// of the turns, so one client's long runs always leave turns for another.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <string>

namespace kx::web {

class Turns {
 public:
  using Clock = std::chrono::steady_clock;

  // `slots` runs at once, at most `per_client` of them for one client.
  Turns(unsigned slots, unsigned per_client);

  // Waits for a turn until `until`; false when none came or after close().
  bool enter(const std::string& client, Clock::time_point until);
  void leave(const std::string& client);
  // Ends every wait, now and later.
  void close();

  // Requests of `client` waiting or running.
  unsigned load(const std::string& client) const;

 private:
  struct Client {
    unsigned running = 0;
    unsigned waiting = 0;
    std::uint64_t last_turn = 0;  // 0: never
  };
  struct Waiter {
    std::string client;
    bool admitted = false;
  };

  void grant();  // with the lock held
  void forget_idle();

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  unsigned free_;
  const unsigned per_client_;
  std::map<std::string, Client> clients_;
  std::list<Waiter*> waiting_;  // in order of arrival
  std::uint64_t turns_ = 0;
  bool closed_ = false;
};

}  // namespace kx::web
