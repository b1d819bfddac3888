#pragma once
// The texts of a generated table: one character array holding every text
// back to back, and where each text starts in it (one entry more than there
// are texts, so that text i ends where text i + 1 starts). Rows refer to their
// texts by index, which keeps the tables free of pointers.
#include <cstdint>
#include <string_view>

namespace vorlak {

struct TextPool {
  const char* chars;
  const std::uint32_t* starts;

  constexpr std::string_view operator[](std::uint16_t id) const {
    return {chars + starts[id], starts[id + 1] - starts[id]};
  }
};

}  // namespace vorlak
