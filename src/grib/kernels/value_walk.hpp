#pragma once
// The portable walk over packed values: byte-aligned widths 8, 16, 24 and 32
// and aligned 12-bit pairs read whole octets; every other case reads 64-bit
// windows while nine bytes remain, then exact reads to the end. `emit(i, x)`
// receives each value in order and is inlined into each loop.
#include "grib/kernels/bit_window.hpp"

namespace vorlak::kernels {

template <class Emit>
inline void walk_values(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
                        std::size_t count, Emit&& emit) {
  if (width == 0) {
    for (std::size_t i = 0; i < count; ++i) emit(i, std::uint64_t{0});
    return;
  }
  if ((bit_offset & 7) == 0) {
    const std::uint8_t* p = data + (bit_offset >> 3);
    switch (width) {
      case 8:
        for (std::size_t i = 0; i < count; ++i) emit(i, std::uint64_t{p[i]});
        return;
      case 16:
        for (std::size_t i = 0; i < count; ++i) {
          emit(i, (std::uint64_t{p[2 * i]} << 8) | p[2 * i + 1]);
        }
        return;
      case 24:
        for (std::size_t i = 0; i < count; ++i) {
          const std::uint8_t* q = p + 3 * i;
          emit(i, (std::uint64_t{q[0]} << 16) | (std::uint64_t{q[1]} << 8) | q[2]);
        }
        return;
      case 32:
        for (std::size_t i = 0; i < count; ++i) emit(i, std::uint64_t{load_be32(p + 4 * i)});
        return;
      case 12: {
        std::size_t i = 0;
        for (; i + 1 < count; i += 2) {
          const std::uint8_t* q = p + 3 * (i / 2);
          emit(i, (std::uint64_t{q[0]} << 4) | (q[1] >> 4));
          emit(i + 1, (std::uint64_t{q[1] & 0x0Fu} << 8) | q[2]);
        }
        if (i < count) {
          const std::uint8_t* q = p + 3 * (i / 2);
          emit(i, (std::uint64_t{q[0]} << 4) | (q[1] >> 4));
        }
        return;
      }
      default:
        break;
    }
  }
  const std::size_t safe = window_safe_count(nbytes, bit_offset, width, count);
  std::uint64_t pos = bit_offset;
  std::size_t i = 0;
  for (; i < safe; ++i, pos += width) emit(i, read_bits_window(data, pos, width));
  for (; i < count; ++i, pos += width) emit(i, read_bits_exact(data, pos, width));
}

}  // namespace vorlak::kernels
