#include "packer/ordered_work.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace vexa::tool {
namespace {

struct Case {
  std::size_t Workers;
  std::size_t Ahead;
};

// Later items finish sooner than earlier ones, so that threads overtake each other.
void Stagger(std::size_t Item) { std::this_thread::sleep_for(std::chrono::microseconds(Item % 7 * 300)); }

class OrderedWorkTest : public ::testing::TestWithParam<Case> {};

TEST_P(OrderedWorkTest, DeliversEveryItemOnceInOrderWithinTheBound) {
  constexpr std::size_t Count = 60;
  std::mutex mutex;
  std::vector<std::size_t> delivered;
  std::size_t started = 0;
  std::size_t mostAhead = 0;
  std::vector<std::size_t> workers;
  RunInItemOrder(
      Count, GetParam().Workers, GetParam().Ahead,
      [&](std::size_t Worker, std::size_t Item) {
        {
          const std::lock_guard lock(mutex);
          ++started;
          mostAhead = std::max(mostAhead, started - delivered.size());
          workers.push_back(Worker);
        }
        Stagger(Count - Item);
      },
      [&](std::size_t Item) {
        const std::lock_guard lock(mutex);
        delivered.push_back(Item);
      });
  std::vector<std::size_t> expected(Count);
  for (std::size_t i = 0; i < Count; ++i)
    expected[i] = i;
  EXPECT_EQ(delivered, expected);
  EXPECT_LE(mostAhead, std::max(GetParam().Ahead, GetParam().Workers));
  EXPECT_LT(*std::max_element(workers.begin(), workers.end()), GetParam().Workers);
}

// The first failure in item order is the one reported, whichever thread met it first;
// the items before it are all delivered, and no work starts beyond the bound after it.
TEST_P(OrderedWorkTest, TheFirstFailureInItemOrderEndsTheRun) {
  for (const bool inDelivery : {false, true}) {
    std::atomic<std::size_t> highestStarted = 0;
    std::vector<std::size_t> delivered;
    try {
      RunInItemOrder(
          40, GetParam().Workers, GetParam().Ahead,
          [&](std::size_t, std::size_t Item) {
            std::size_t seen = highestStarted.load();
            while (Item > seen && !highestStarted.compare_exchange_weak(seen, Item)) {
            }
            Stagger(40 - Item);
            if (!inDelivery && (Item == 12 || Item == 14))
              throw std::runtime_error("item " + std::to_string(Item));
          },
          [&](std::size_t Item) {
            if (inDelivery && Item == 12)
              throw std::runtime_error("item 12");
            delivered.push_back(Item);
          });
      ADD_FAILURE() << "no failure reported";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "item 12");
    }
    EXPECT_EQ(delivered.size(), 12u);
    EXPECT_LT(highestStarted.load(), 12 + std::max(GetParam().Ahead, GetParam().Workers) + 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Workers, OrderedWorkTest,
                         ::testing::Values(Case{1, 1}, Case{2, 2}, Case{4, 3}, Case{4, 64}),
                         [](const ::testing::TestParamInfo<Case>& Info) {
                           return std::to_string(Info.param.Workers) + "workers_" +
                                  std::to_string(Info.param.Ahead) + "ahead";
                         });

TEST(OrderedWorkTest, UsesTheWorkersWantedButNoMoreThanThereAreItems) {
  EXPECT_EQ(WorkerCount(3, 10), 3u);
  EXPECT_EQ(WorkerCount(8, 2), 2u);
  EXPECT_EQ(WorkerCount(std::nullopt, 1), 1u);
  EXPECT_GE(WorkerCount(std::nullopt, 1000), 1u);
}

} // namespace
} // namespace vexa::tool
