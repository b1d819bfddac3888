#pragma once
// Errors are values: every fallible core operation returns its result or a
// short error text. Exceptions are only made at the Python boundary.
#include <expected>
#include <string>
#include <utility>

#if defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 180000
#include "grib/expected_compat.hpp"
#define VORLAK_EXPECTED ::vorlak::compat::expected
#else
#define VORLAK_EXPECTED ::std::expected
#endif

namespace vorlak {

// std::expected, except with libc++ before 18 (see expected_compat.hpp).
template <class T, class E>
using Expected = VORLAK_EXPECTED<T, E>;

template <class T>
using Result = Expected<T, std::string>;

inline std::unexpected<std::string> fail(std::string text) {
  return std::unexpected<std::string>(std::move(text));
}

}  // namespace vorlak
