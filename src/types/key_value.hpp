#pragma once
// A key's value: one of four kinds, with the type names used in errors.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace vorlak {

enum class KeyTag : std::uint8_t { Long = 0, Double = 1, String = 2, DoubleArray = 3 };

struct KeyValue {
  std::variant<std::int64_t, double, std::string, std::vector<double>> value;

  KeyTag tag() const { return static_cast<KeyTag>(value.index()); }
  const char* type_name() const { return key_type_name(tag()); }

  static constexpr const char* key_type_name(KeyTag tag) {
    switch (tag) {
      case KeyTag::Long: return "long";
      case KeyTag::Double: return "double";
      case KeyTag::String: return "string";
      case KeyTag::DoubleArray: return "double_array";
    }
    return "unknown";
  }
};

}  // namespace vorlak
