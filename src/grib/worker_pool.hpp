#pragma once
// A small process-wide pool of worker threads for splitting one large field
// across cores. Nothing starts until a caller asks for more than one thread;
// the pool then grows to the largest number asked for (less the caller's
// own thread, which always takes part) and its threads wait for work until
// the process ends. A child process made by fork starts with an empty pool.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace vorlak {

// The most threads one call may use, the caller's included.
inline constexpr unsigned kMaxDecodeThreads = 64;

namespace detail {
struct JobRef {
  void* context;
  void (*call)(void* context, std::size_t job);
};
void run_jobs(unsigned threads, std::size_t jobs, JobRef job);
}  // namespace detail

// Runs job(0) .. job(jobs - 1), each once, on the calling thread and up to
// threads - 1 pool workers, and returns when every one has finished. With
// threads <= 1 or a single job they run in order on the calling thread and
// no thread is started. An exception thrown by a job is rethrown here, after
// the others have finished.
template <class Job>
void run_jobs(unsigned threads, std::size_t jobs, Job&& job) {
  using Fn = std::remove_reference_t<Job>;
  if (threads <= 1 || jobs <= 1) {
    for (std::size_t i = 0; i < jobs; ++i) job(i);
    return;
  }
  detail::run_jobs(threads, jobs,
                   detail::JobRef{const_cast<void*>(static_cast<const void*>(&job)),
                                  [](void* context, std::size_t i) { (*static_cast<Fn*>(context))(i); }});
}

// How many pieces to cut `count` values into for `threads` threads: a few
// per thread, so that uneven pieces even out, but none below `min_piece`.
inline std::size_t piece_count(unsigned threads, std::uint64_t count, std::uint64_t min_piece) {
  if (threads <= 1 || count == 0) return 1;
  const std::uint64_t by_size = count / std::max<std::uint64_t>(min_piece, 1);
  return static_cast<std::size_t>(std::clamp<std::uint64_t>(by_size, 1, std::uint64_t{threads} * 4));
}

// Splits [0, count) into `pieces` consecutive ranges whose bounds are
// multiples of `align` (but the last), and runs piece(begin, end) for each.
template <class Piece>
void run_pieces(unsigned threads, std::uint64_t count, std::size_t pieces, std::uint64_t align, Piece&& piece) {
  align = std::max<std::uint64_t>(align, 1);
  const auto bound = [&](std::size_t k) -> std::uint64_t {
    if (k >= pieces) return count;
    const std::uint64_t at = count / pieces * k + count % pieces * k / pieces;
    return std::min(count, at / align * align);
  };
  run_jobs(threads, pieces, [&](std::size_t k) {
    const std::uint64_t begin = bound(k), end = bound(k + 1);
    if (begin < end) piece(begin, end);
  });
}

}  // namespace vorlak
