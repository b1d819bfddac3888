#pragma once
// The error value of the key layer and the module surface: four kinds, each
// turned into its own exception class at the Python boundary.
#include <expected>
#include <string>
#include <utility>

#include "grib/result.hpp"

namespace vorlak {

struct CodesError {
  enum class Kind { Internal, KeyNotFound, TypeMismatch, EndOfFile };
  Kind kind = Kind::Internal;
  std::string text;       // Internal, EndOfFile: the message; others: the key
  std::string requested;  // TypeMismatch
  std::string actual;     // TypeMismatch

  static CodesError internal(std::string message) { return {Kind::Internal, std::move(message), {}, {}}; }
  static CodesError key_not_found(std::string key) { return {Kind::KeyNotFound, std::move(key), {}, {}}; }
  static CodesError type_mismatch(std::string key, std::string requested, std::string actual) {
    return {Kind::TypeMismatch, std::move(key), std::move(requested), std::move(actual)};
  }
  static CodesError end_of_file(std::string message) { return {Kind::EndOfFile, std::move(message), {}, {}}; }

  // The exception message, built as the kinds table says.
  std::string message() const {
    switch (kind) {
      case Kind::KeyNotFound: return "key '" + text + "' is not defined";
      case Kind::TypeMismatch:
        return "key '" + text + "' cannot be read as " + requested + "; actual type is " + actual;
      default: return text;
    }
  }
};

template <class T>
using CodesResult = Expected<T, CodesError>;

inline std::unexpected<CodesError> codes_fail(CodesError e) { return std::unexpected<CodesError>(std::move(e)); }

}  // namespace vorlak
