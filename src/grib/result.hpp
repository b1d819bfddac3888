#pragma once
// Errors are values: every fallible core operation returns its result or a
// short error text. Exceptions are only made at the Python boundary.
#include <expected>
#include <string>
#include <utility>

namespace vorlak {

template <class T>
using Result = std::expected<T, std::string>;

inline std::unexpected<std::string> fail(std::string text) {
  return std::unexpected<std::string>(std::move(text));
}

}  // namespace vorlak
