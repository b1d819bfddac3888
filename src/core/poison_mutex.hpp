#pragma once
// A mutex that remembers when an operation unwound (an exception such as
// bad_alloc) while holding it: the state it guards may then be half changed,
// so every later lock is refused.
#include <exception>
#include <mutex>
#include <optional>

namespace vorlak {

inline constexpr const char* kLockPoisoned = "internal state lock poisoned";

class PoisonMutex {
 public:
  class Guard {
   public:
    Guard(Guard&& other) noexcept = default;
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    Guard& operator=(Guard&&) = delete;
    ~Guard() {
      if (lock_.owns_lock() && std::uncaught_exceptions() > exceptions_on_entry_) owner_->poisoned_ = true;
    }

   private:
    friend class PoisonMutex;
    explicit Guard(PoisonMutex& owner)
        : owner_(&owner), lock_(owner.mutex_), exceptions_on_entry_(std::uncaught_exceptions()) {}
    PoisonMutex* owner_;
    std::unique_lock<std::mutex> lock_;
    int exceptions_on_entry_;
  };

  // Nothing when the mutex is poisoned.
  std::optional<Guard> lock() {
    Guard guard(*this);
    if (poisoned_) return std::nullopt;
    return std::optional<Guard>(std::move(guard));
  }

 private:
  std::mutex mutex_;
  bool poisoned_ = false;  // guarded by mutex_
};

}  // namespace vorlak
