#include "ThreadPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace ombrix {
namespace {

TEST(ThreadPool, RunsEveryPartExactlyOnceBeforeReturning) {
  ThreadPool pool(3);
  EXPECT_EQ(pool.Size(), 4);
  for (int parts : {1, 2, 7, 100}) {
    std::vector<std::atomic<int>> runs(static_cast<std::size_t>(parts));
    pool.Run(parts, [&](int part) { runs[static_cast<std::size_t>(part)].fetch_add(1); });
    for (int p = 0; p < parts; ++p) EXPECT_EQ(runs[static_cast<std::size_t>(p)].load(), 1) << p;
  }
}

TEST(ThreadPool, NestedRunWorksOnTheCaller) {
  ThreadPool pool(2);
  std::atomic<int> total{0};
  pool.Run(4, [&](int) { pool.Run(3, [&](int) { total.fetch_add(1); }); });
  EXPECT_EQ(total.load(), 12);
}

TEST(ThreadPool, RethrowsAFailureAfterAllPartsFinished) {
  ThreadPool pool(2);
  std::atomic<int> finished{0};
  EXPECT_THROW(pool.Run(6,
                        [&](int part) {
                          finished.fetch_add(1);
                          if (part == 2) throw std::runtime_error("part failed");
                        }),
               std::runtime_error);
  EXPECT_EQ(finished.load(), 6);
  // The pool is usable again.
  std::atomic<int> again{0};
  pool.Run(5, [&](int) { again.fetch_add(1); });
  EXPECT_EQ(again.load(), 5);
}

}  // namespace
}  // namespace ombrix
