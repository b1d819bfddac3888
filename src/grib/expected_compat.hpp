#pragma once
// A stand-in for std::expected where the standard library's own is broken:
// libc++ before 18 keeps the has-value flag in the tail padding of the value
// ([[no_unique_address]]), so building a value whose type has tail padding
// (DataRepresentation, for one) can clear the flag and turn a result into an
// error. Only the fuzz build (clang 16 with libc++) uses this; GCC builds use
// std::expected. It offers the subset of the interface this code base uses.
#include <expected>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace vorlak::compat {

template <class T, class E>
class expected {
  template <class U>
  static constexpr bool is_value_argument =
      std::is_constructible_v<T, U> && !std::is_same_v<std::remove_cvref_t<U>, expected> &&
      !std::is_same_v<std::remove_cvref_t<U>, std::in_place_t>;

 public:
  using value_type = T;
  using error_type = E;

  expected() : storage_(std::in_place_index<0>) {}
  template <class U = T>
    requires is_value_argument<U>
  expected(U&& value) : storage_(std::in_place_index<0>, std::forward<U>(value)) {}
  template <class G>
  expected(const std::unexpected<G>& e) : storage_(std::in_place_index<1>, e.error()) {}
  template <class G>
  expected(std::unexpected<G>&& e) : storage_(std::in_place_index<1>, std::move(e.error())) {}

  bool has_value() const { return storage_.index() == 0; }
  explicit operator bool() const { return has_value(); }

  T& operator*() & { return std::get<0>(storage_); }
  const T& operator*() const& { return std::get<0>(storage_); }
  T&& operator*() && { return std::get<0>(std::move(storage_)); }
  T* operator->() { return &std::get<0>(storage_); }
  const T* operator->() const { return &std::get<0>(storage_); }
  T& value() & { return std::get<0>(storage_); }
  const T& value() const& { return std::get<0>(storage_); }
  T&& value() && { return std::get<0>(std::move(storage_)); }
  template <class U>
  T value_or(U&& fallback) const& {
    return has_value() ? **this : static_cast<T>(std::forward<U>(fallback));
  }

  E& error() & { return std::get<1>(storage_); }
  const E& error() const& { return std::get<1>(storage_); }
  E&& error() && { return std::get<1>(std::move(storage_)); }

 private:
  std::variant<T, E> storage_;
};

template <class E>
class expected<void, E> {
 public:
  using value_type = void;
  using error_type = E;

  expected() = default;
  template <class G>
  expected(const std::unexpected<G>& e) : error_(e.error()) {}
  template <class G>
  expected(std::unexpected<G>&& e) : error_(std::move(e.error())) {}

  bool has_value() const { return !error_.has_value(); }
  explicit operator bool() const { return has_value(); }
  void operator*() const {}
  void value() const {}

  E& error() & { return *error_; }
  const E& error() const& { return *error_; }
  E&& error() && { return std::move(*error_); }

 private:
  std::optional<E> error_;
};

}  // namespace vorlak::compat
