#include "core/path_settings.hpp"

#include <utility>

#include "core/poison_mutex.hpp"

namespace vorlak {

namespace {

// One setting: its text behind its own lock.
class GuardedText {
 public:
  explicit GuardedText(const char* initial) : value_(initial) {}

  CodesResult<std::string> read() {
    auto guard = mutex_.lock();
    if (!guard) return codes_fail(CodesError::internal(kLockPoisoned));
    return value_;
  }

  CodesResult<void> write(std::string text) {
    auto guard = mutex_.lock();
    if (!guard) return codes_fail(CodesError::internal(kLockPoisoned));
    value_ = std::move(text);
    return {};
  }

 private:
  PoisonMutex mutex_;
  std::string value_;  // guarded by mutex_
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
