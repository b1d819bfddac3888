#pragma once
// A small PNG writer for tests, independent of the library the decoder
// uses: rows filtered by a chosen filter type (or all five in turn),
// optionally Adam7-interlaced, compressed with zlib, chunks with their CRC.
// `png_chunk` and `png_file` let a test assemble malformed images.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace vorlak::test {

struct PngImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint8_t bit_depth = 8;
  std::uint8_t colour_type = 0;  // 0 greyscale, 2 RGB, 6 RGBA (any other is written as asked)
  std::vector<std::uint32_t> pixels;  // one integer per pixel, row after row; RGB(A) red most significant
  int filter = 0;                     // 0-4 for every row; -1 cycles through all five
  bool interlaced = false;
  int compression_level = 6;
};

inline unsigned png_channels(std::uint8_t colour_type) {
  switch (colour_type) {
    case 2: return 3;
    case 4: return 2;
    case 6: return 4;
    default: return 1;
  }
}

inline std::vector<std::uint8_t> png_chunk(std::string_view type, const std::vector<std::uint8_t>& data) {
  // Length, four-letter type, data, CRC of type and data.
  std::vector<std::uint8_t> out(12 + data.size());
  auto put_u32 = [&](std::size_t at, std::uint32_t v) {
    for (std::size_t k = 0; k < 4; ++k) out[at + k] = static_cast<std::uint8_t>(v >> (24 - 8 * k));
  };
  put_u32(0, static_cast<std::uint32_t>(data.size()));
  for (std::size_t k = 0; k < 4 && k < type.size(); ++k) out[4 + k] = static_cast<std::uint8_t>(type[k]);
  std::copy(data.begin(), data.end(), out.begin() + 8);
  const uLong crc = crc32(crc32(0L, Z_NULL, 0), out.data() + 4, static_cast<uInt>(4 + data.size()));
  put_u32(8 + data.size(), static_cast<std::uint32_t>(crc));
  return out;
}

inline std::vector<std::uint8_t> png_ihdr(std::uint32_t width, std::uint32_t height, std::uint8_t bit_depth,
                                          std::uint8_t colour_type, bool interlaced = false) {
  std::vector<std::uint8_t> d;
  for (std::uint32_t v : {width, height}) {
    for (int k = 3; k >= 0; --k) d.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
  }
  d.insert(d.end(), {bit_depth, colour_type, 0, 0, static_cast<std::uint8_t>(interlaced ? 1 : 0)});
  return png_chunk("IHDR", d);
}

inline std::vector<std::uint8_t> png_file(const std::vector<std::vector<std::uint8_t>>& chunks) {
  std::vector<std::uint8_t> out{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  for (const auto& c : chunks) out.insert(out.end(), c.begin(), c.end());
  return out;
}

inline std::vector<std::uint8_t> zlib_compress(const std::vector<std::uint8_t>& raw, int level) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> out(size);
  if (compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), level) != Z_OK) {
    throw std::runtime_error("zlib compress2 failed");
  }
  out.resize(size);
  return out;
}

namespace detail {

inline std::uint8_t paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = p > a ? p - a : a - p;
  const int pb = p > b ? p - b : b - p;
  const int pc = p > c ? p - c : c - p;
  if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
  return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

// One row's pixels as the image stores them.
inline std::vector<std::uint8_t> pack_row(const std::vector<std::uint32_t>& pixels, unsigned bits_per_pixel) {
  std::vector<std::uint8_t> row((pixels.size() * bits_per_pixel + 7) / 8, 0);
  if (bits_per_pixel < 8) {
    for (std::size_t x = 0; x < pixels.size(); ++x) {
      const std::size_t bit = x * bits_per_pixel;
      row[bit / 8] |= static_cast<std::uint8_t>((pixels[x] & ((1u << bits_per_pixel) - 1))
                                                << (8 - bits_per_pixel - bit % 8));
    }
  } else {
    const unsigned octets = bits_per_pixel / 8;
    for (std::size_t x = 0; x < pixels.size(); ++x) {
      for (unsigned k = 0; k < octets; ++k) {
        row[x * octets + k] = static_cast<std::uint8_t>(pixels[x] >> (8 * (octets - 1 - k)));
      }
    }
  }
  return row;
}

// Appends the filtered scanlines of one (sub)image to `raw`.
inline void filter_rows(const std::vector<std::vector<std::uint8_t>>& rows, unsigned bits_per_pixel, int filter,
                        std::vector<std::uint8_t>& raw) {
  const std::size_t bpp = bits_per_pixel < 8 ? 1 : bits_per_pixel / 8;
  std::vector<std::uint8_t> previous;
  for (std::size_t y = 0; y < rows.size(); ++y) {
    const auto& row = rows[y];
    if (previous.empty()) previous.assign(row.size(), 0);
    const int type = filter >= 0 ? filter : static_cast<int>(y % 5);
    raw.push_back(static_cast<std::uint8_t>(type));
    for (std::size_t i = 0; i < row.size(); ++i) {
      const int a = i >= bpp ? row[i - bpp] : 0;
      const int b = previous[i];
      const int c = i >= bpp ? previous[i - bpp] : 0;
      int predictor = 0;
      switch (type) {
        case 1: predictor = a; break;
        case 2: predictor = b; break;
        case 3: predictor = (a + b) / 2; break;
        case 4: predictor = paeth(a, b, c); break;
        default: break;
      }
      raw.push_back(static_cast<std::uint8_t>(row[i] - predictor));
    }
    previous = row;
  }
}

}  // namespace detail

// The scanlines (filter octet and row) of the whole image, before compression.
inline std::vector<std::uint8_t> png_scanlines(const PngImage& image) {
  const unsigned bits_per_pixel = image.bit_depth * png_channels(image.colour_type);
  std::vector<std::uint8_t> raw;
  struct Pass {
    std::uint32_t x0, y0, dx, dy;
  };
  const std::vector<Pass> passes = image.interlaced
                                       ? std::vector<Pass>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                                           {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
                                       : std::vector<Pass>{{0, 0, 1, 1}};
  for (const Pass& p : passes) {
    std::vector<std::vector<std::uint8_t>> rows;
    for (std::uint32_t y = p.y0; y < image.height; y += p.dy) {
      std::vector<std::uint32_t> pixels;
      for (std::uint32_t x = p.x0; x < image.width; x += p.dx) {
        pixels.push_back(image.pixels[std::size_t{y} * image.width + x]);
      }
      if (!pixels.empty()) rows.push_back(detail::pack_row(pixels, bits_per_pixel));
    }
    detail::filter_rows(rows, bits_per_pixel, image.filter, raw);
  }
  return raw;
}

inline std::vector<std::uint8_t> encode_png(const PngImage& image) {
  return png_file({png_ihdr(image.width, image.height, image.bit_depth, image.colour_type, image.interlaced),
                   png_chunk("IDAT", zlib_compress(png_scanlines(image), image.compression_level)),
                   png_chunk("IEND", {})});
}

}  // namespace vorlak::test
