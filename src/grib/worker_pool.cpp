// The pool behind run_jobs. A call posts one batch: its jobs are claimed by
// number from a shared counter, by the caller and by as many workers as it
// asked for that are free; the caller then takes the batch off the queue
// and waits until no worker holds it any more, so the batch can live on the
// caller's stack. Workers are detached and never stopped: they hold no
// resource but their stacks and wait idle between batches.
#include "grib/worker_pool.hpp"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

namespace vorlak::detail {
namespace {

struct Batch {
  JobRef job;
  std::size_t jobs = 0;
  std::atomic<std::size_t> next{0};
  unsigned helpers_wanted = 0;  // under the pool's mutex
  unsigned attached = 0;        // workers working on it, under the pool's mutex
  std::condition_variable detached;
  std::exception_ptr error;     // the first job to throw, under the pool's mutex
};

class Pool {
 public:
  void run(unsigned threads, std::size_t jobs, JobRef job) {
    Batch batch;
    batch.job = job;
    batch.jobs = jobs;
    {
      std::unique_lock lock(mutex_);
      batch.helpers_wanted = static_cast<unsigned>(std::min<std::size_t>(threads - 1, jobs - 1));
      grow(batch.helpers_wanted);
      queue_.push_back(&batch);
    }
    work_.notify_all();
    work_on(batch);
    std::unique_lock lock(mutex_);
    std::erase(queue_, &batch);
    batch.detached.wait(lock, [&] { return batch.attached == 0; });
    if (batch.error) std::rethrow_exception(batch.error);
  }

 private:
  // Workers to match the largest request so far (under mutex_).
  void grow(unsigned helpers) {
    while (workers_ < helpers && workers_ + 1 < kMaxDecodeThreads) {
      std::thread([this] { serve(); }).detach();
      ++workers_;
    }
  }

  void work_on(Batch& batch) {
    for (std::size_t i; (i = batch.next.fetch_add(1, std::memory_order_relaxed)) < batch.jobs;) {
      try {
        batch.job.call(batch.job.context, i);
      } catch (...) {
        std::lock_guard lock(mutex_);
        if (!batch.error) batch.error = std::current_exception();
      }
    }
  }

  void serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
      work_.wait(lock, [&] { return !queue_.empty(); });
      Batch* batch = queue_.front();
      if (--batch->helpers_wanted == 0) queue_.pop_front();
      ++batch->attached;
      lock.unlock();
      work_on(*batch);
      lock.lock();
      if (--batch->attached == 0) batch->detached.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable work_;
  std::deque<Batch*> queue_;
  unsigned workers_ = 0;
};

// The pool of this process. After fork the child's copy would list workers
// that do not exist there, so the child forgets it (leaking it on purpose:
// its mutex may have been held by a thread that is gone) and makes its own.
std::mutex g_pool_guard;
Pool* g_pool = nullptr;

void forget_pool_in_child() {
  new (&g_pool_guard) std::mutex();
  g_pool = nullptr;
}

Pool& pool() {
  static const bool registered = [] { return pthread_atfork(nullptr, nullptr, forget_pool_in_child) == 0; }();
  (void)registered;
  std::lock_guard lock(g_pool_guard);
  if (!g_pool) g_pool = new Pool();
  return *g_pool;
}

}  // namespace

void run_jobs(unsigned threads, std::size_t jobs, JobRef job) {
  pool().run(std::min(threads, kMaxDecodeThreads), jobs, job);
}

}  // namespace vorlak::detail
