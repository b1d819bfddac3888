#include "core/path_settings.hpp"

#include <exception>
#include <mutex>
#include <utility>

namespace vorlak {

namespace {

// A text behind a mutex that stays poisoned once an exception escaped
// while it was held: later uses fail instead of trusting a half-done write.
class GuardedText {
 public:
  explicit GuardedText(const char* initial) : value_(initial) {}

  CodesResult<std::string> read() {
    std::lock_guard lock(mutex_);
    if (poisoned_) return codes_fail(poisoned_error());
    PoisonOnUnwind guard(poisoned_);
    return value_;
  }

  CodesResult<void> write(std::string text) {
    std::lock_guard lock(mutex_);
    if (poisoned_) return codes_fail(poisoned_error());
    PoisonOnUnwind guard(poisoned_);
    value_ = std::move(text);
    return {};
  }

 private:
  struct PoisonOnUnwind {
    explicit PoisonOnUnwind(bool& flag) : flag_(flag), pending_(std::uncaught_exceptions()) {}
    ~PoisonOnUnwind() {
      if (std::uncaught_exceptions() > pending_) flag_ = true;
    }
    bool& flag_;
    int pending_;
  };

  static CodesError poisoned_error() { return CodesError::internal("internal state lock poisoned"); }

  std::mutex mutex_;
  bool poisoned_ = false;
  std::string value_;
};

GuardedText& definitions() {
  static GuardedText text("/MEMFS/definitions");
  return text;
}

GuardedText& samples() {
  static GuardedText text("/MEMFS/samples");
  return text;
}

}  // namespace

CodesResult<std::string> definitions_path() { return definitions().read(); }
CodesResult<void> set_definitions_path(std::string path) { return definitions().write(std::move(path)); }
CodesResult<std::string> samples_path() { return samples().read(); }
CodesResult<void> set_samples_path(std::string path) { return samples().write(std::move(path)); }

}  // namespace vorlak
