// Turns shared among clients: a client holds at most its share, and a free
// turn goes to the client served least recently, not to the one that asked
// first.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "web/turns.h"

namespace {

using kx::web::Turns;
using namespace std::chrono_literals;

// Waits (bounded) until `done` holds.
template <typename Done>
bool eventually(const Done& done) {
  for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(1ms);
  return done();
}

TEST(Turns, AClientHoldsAtMostItsShare) {
  Turns turns(2, 1);
  ASSERT_TRUE(turns.enter("a", Turns::Clock::now() + 1s));
  EXPECT_FALSE(turns.enter("a", Turns::Clock::now() + 20ms));  // a turn is free, not for a
  EXPECT_TRUE(turns.enter("b", Turns::Clock::now() + 1s));
  EXPECT_EQ(turns.load("a"), 1u);
}

TEST(Turns, AFreeTurnGoesToTheClientServedLeastRecently) {
  Turns turns(1, 1);
  ASSERT_TRUE(turns.enter("a", Turns::Clock::now() + 1s));
  std::atomic<int> order{0}, a_second{0}, b_first{0};
  std::thread a([&] {
    if (turns.enter("a", Turns::Clock::now() + 10s)) {
      a_second = ++order;
      turns.leave("a");
    }
  });
  ASSERT_TRUE(eventually([&] { return turns.load("a") == 2; }));  // a asks first
  std::thread b([&] {
    if (turns.enter("b", Turns::Clock::now() + 10s)) {
      b_first = ++order;
      turns.leave("b");
    }
  });
  ASSERT_TRUE(eventually([&] { return turns.load("b") == 1; }));
  turns.leave("a");
  a.join();
  b.join();
  EXPECT_EQ(b_first, 1);
  EXPECT_EQ(a_second, 2);
}

}  // namespace
