// The worker pool: every job runs exactly once whatever the thread and job
// counts, one thread means the caller's thread only, callers on several
// threads share the pool, and a job's exception reaches the caller after
// the other jobs have finished.
#include "grib/worker_pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace vorlak {
namespace {

TEST(WorkerPool, EveryJobRunsOnce) {
  for (unsigned threads : {0u, 1u, 2u, 3u, 8u, 200u}) {
    for (std::size_t jobs : {0u, 1u, 2u, 5u, 64u, 1000u}) {
      std::vector<std::atomic<int>> runs(jobs);
      run_jobs(threads, jobs, [&](std::size_t i) { runs[i].fetch_add(1); });
      for (std::size_t i = 0; i < jobs; ++i) ASSERT_EQ(runs[i].load(), 1) << threads << " threads, job " << i;
    }
  }
}

TEST(WorkerPool, OneThreadStaysOnTheCaller) {
  std::set<std::thread::id> seen;
  run_jobs(1, 50, [&](std::size_t) { seen.insert(std::this_thread::get_id()); });
  EXPECT_EQ(seen, std::set<std::thread::id>{std::this_thread::get_id()});
}

TEST(WorkerPool, CallersOnSeveralThreadsShareThePool) {
  constexpr int kCallers = 4;
  std::vector<std::uint64_t> totals(kCallers, 0);
  std::vector<std::thread> callers;
  for (int c = 0; c < kCallers; ++c) {
    callers.emplace_back([&, c] {
      for (int round = 0; round < 50; ++round) {
        std::vector<std::uint64_t> parts(16, 0);
        run_jobs(3, parts.size(), [&](std::size_t i) { parts[i] = i + 1; });
        for (std::uint64_t p : parts) totals[c] += p;
      }
    });
  }
  for (auto& t : callers) t.join();
  for (std::uint64_t total : totals) EXPECT_EQ(total, 50u * (16u * 17u / 2));
}

TEST(WorkerPool, AJobsExceptionReachesTheCallerAfterTheOthers) {
  std::atomic<int> finished{0};
  EXPECT_THROW(run_jobs(3, 40,
                        [&](std::size_t i) {
                          if (i == 7) throw std::runtime_error("job 7");
                          finished.fetch_add(1);
                        }),
               std::runtime_error);
  EXPECT_EQ(finished.load(), 39);
  // The pool still works afterwards.
  std::atomic<int> again{0};
  run_jobs(3, 10, [&](std::size_t) { again.fetch_add(1); });
  EXPECT_EQ(again.load(), 10);
}

TEST(WorkerPool, PiecesCoverTheRangeOnAlignedBounds) {
  for (std::uint64_t count : {0u, 1u, 7u, 8u, 9u, 100u, 1001u}) {
    for (std::size_t pieces : {1u, 2u, 3u, 12u}) {
      std::vector<int> covered(count, 0);
      std::atomic<int> bad_bound{0};
      run_pieces(3, count, pieces, 8, [&](std::uint64_t b, std::uint64_t e) {
        if (b % 8 != 0 || b >= e) bad_bound.fetch_add(1);
        for (std::uint64_t i = b; i < e; ++i) ++covered[i];
      });
      EXPECT_EQ(bad_bound.load(), 0);
      EXPECT_EQ(covered, std::vector<int>(count, 1)) << count << " values in " << pieces << " pieces";
    }
  }
  EXPECT_EQ(piece_count(1, 1'000'000, 1), 1u);
  EXPECT_EQ(piece_count(2, 1'000'000, 1 << 16), 8u);
  EXPECT_EQ(piece_count(2, 100'000, 1 << 16), 1u);
}

}  // namespace
}  // namespace vorlak
