// Template 5.41, PNG. Section 7 is a whole PNG file: the 8-octet signature
// 89 50 4E 47 0D 0A 1A 0A, then chunks of a 4-octet length, a 4-octet type,
// the data and a 4-octet CRC, IHDR first (width 4 octets, height 4, bit
// depth 1, colour type 1, compression 1, filter 1, interlace 1). The image
// holds the packed integers in order, row after row: greyscale samples of
// 1, 2, 4, 8 or 16 bits as they are, and 8-bit RGB or RGBA pixels as one
// integer of 24 or 32 bits, red most significant. Each integer X becomes
// ((X as double) * 2^E + R) * 10^(-D).
//
// The image header decides how the samples are read (a template that states
// another depth does not make the image's samples something else). Its
// width times height must be the number of packed values; size and sample
// layout are checked before libpng sees the payload, so nothing is
// allocated for a header that promises more.
//
// libpng hands over one row at a time, and its values are written into the
// caller's memory while the row is in cache: the output is written once.
// An interlaced image is complete only after its last pass, so its rows go
// into the end of the output, which has room to spare (8 octets per value
// against at most 4 per pixel), and the integers are then turned into
// values from the front. Chunk CRCs are checked; the zlib
// stream's own checksum is not, since the CRCs already cover every
// compressed octet.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

#include "grib/bit_reader.hpp"
#include "grib/decoders.hpp"
#include "grib/kernels/bit_window.hpp"
#include "grib/text.hpp"
#include "grib/value_buffer.hpp"
#include "grib/value_count.hpp"

namespace vorlak {
namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint8_t kGrey = 0;
constexpr std::uint8_t kRgb = 2;
constexpr std::uint8_t kRgba = 6;

struct ImageHeader {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint8_t bit_depth = 0;
  std::uint8_t colour_type = 0;
  bool interlaced = false;
  unsigned bits_per_pixel = 0;
  std::uint64_t row_octets = 0;
};

std::string failed(const std::string& why) { return str_cat("png decode failed: ", why); }

// The IHDR chunk, read here so that the image is checked before the library
// allocates anything for it.
Result<ImageHeader> read_image_header(Bytes payload) {
  if (payload.size() < 8 || std::memcmp(payload.data(), kSignature, 8) != 0) {
    return fail(failed("payload is not a PNG image"));
  }
  if (payload.size() < 8 + 8 + 13 || load_u32_be(payload.data() + 8) != 13 ||
      std::memcmp(payload.data() + 12, "IHDR", 4) != 0) {
    return fail(failed("the image header (IHDR) is missing"));
  }
  const std::uint8_t* ihdr = payload.data() + 16;
  ImageHeader h;
  h.width = load_u32_be(ihdr);
  h.height = load_u32_be(ihdr + 4);
  h.bit_depth = ihdr[8];
  h.colour_type = ihdr[9];
  h.interlaced = ihdr[12] != 0;
  const bool grey = h.colour_type == kGrey && (h.bit_depth == 1 || h.bit_depth == 2 || h.bit_depth == 4 ||
                                               h.bit_depth == 8 || h.bit_depth == 16);
  if (grey) {
    h.bits_per_pixel = h.bit_depth;
  } else if (h.colour_type == kRgb && h.bit_depth == 8) {
    h.bits_per_pixel = 24;
  } else if (h.colour_type == kRgba && h.bit_depth == 8) {
    h.bits_per_pixel = 32;
  } else {
    return fail(str_cat("png image of colour type ", h.colour_type, " with ", h.bit_depth,
                        "-bit samples holds no GRIB values (greyscale of 1, 2, 4, 8 or 16 bits, "
                        "8-bit RGB or RGBA)"));
  }
  h.row_octets = (std::uint64_t{h.width} * h.bits_per_pixel + 7) / 8;
  return h;
}

// One decode's libpng state. The read and error callbacks reach it through
// libpng's user pointers; errors leave by longjmp, so nothing here has a
// destructor that a jump could skip.
struct PngSession {
  png_structp png = nullptr;
  png_infop info = nullptr;
  Bytes payload;
  std::size_t position = 0;
  char message[160] = {};

  ~PngSession() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  }

  static void on_error(png_structp png, png_const_charp text) {
    auto* self = static_cast<PngSession*>(png_get_error_ptr(png));
    std::strncpy(self->message, text ? text : "the library gave no reason", sizeof self->message - 1);
    png_longjmp(png, 1);
  }
  static void on_warning(png_structp, png_const_charp) {}

  static void read(png_structp png, png_bytep out, png_size_t n) {
    auto* self = static_cast<PngSession*>(png_get_io_ptr(png));
    if (n > self->payload.size() - self->position) png_error(png, "the image data ends early");
    std::memcpy(out, self->payload.data() + self->position, n);
    self->position += n;
  }
};

// Every libpng call that can fail, behind one setjmp. Locals are plain
// values only. Rows are read into `rows`: each into the same buffer, handed
// to on_row(row, y) after it is read, or for an interlaced image each into
// its place in the whole image.
template <class OnRow>
bool read_rows(PngSession& s, const ImageHeader& h, std::uint8_t* rows, OnRow& on_row) {
  png_structp png = s.png;
  png_infop info = s.info;
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_read_fn(png, &s, PngSession::read);
  png_set_user_limits(png, h.width, h.height);
  // Ancillary chunks are skipped unread (no text, profiles or other
  // allocations on the library's side).
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_set_compression_buffer_size(png, 1 << 16);
#ifdef PNG_IGNORE_ADLER32
  png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
  png_read_info(png, info);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_image_width(png, info) != h.width || png_get_image_height(png, info) != h.height ||
      png_get_rowbytes(png, info) != h.row_octets || (passes > 1) != h.interlaced) {
    png_error(png, "the library read another image layout");
  }
  for (int pass = 0; pass < passes; ++pass) {
    for (std::uint32_t y = 0; y < h.height; ++y) {
      if (h.interlaced) {
        png_read_row(png, rows + y * h.row_octets, nullptr);
      } else {
        png_read_row(png, rows, nullptr);
        on_row(rows, y);
      }
    }
  }
  return true;
}

// The integers of pixels x0 .. x0 + n - 1 of a row, as values.
// `scale` is a copy so that writing `out` cannot be taken to change it.
template <unsigned kBits>
void convert_span(const std::uint8_t* row, std::uint32_t x0, std::uint32_t n, ScaleFactors scale, double* out) {
  for (std::uint32_t k = 0; k < n; ++k) {
    const std::uint32_t x = x0 + k;
    std::uint32_t v;
    if constexpr (kBits < 8) {
      constexpr unsigned kPerOctet = 8 / kBits;
      const unsigned shift = 8 - kBits * (x % kPerOctet + 1);
      v = (row[x / kPerOctet] >> shift) & ((1u << kBits) - 1);
    } else if constexpr (kBits == 8) {
      v = row[x];
    } else if constexpr (kBits == 16) {
      v = (std::uint32_t{row[2 * x]} << 8) | row[2 * x + 1];
    } else if constexpr (kBits == 24) {
      const std::uint8_t* p = row + 3 * x;
      v = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
    } else {
      v = load_u32_be(row + 4 * x);
    }
    out[k] = apply_scale(kernels::small_int_to_double(v), scale);
  }
}

using SpanConverter = void (*)(const std::uint8_t*, std::uint32_t, std::uint32_t, ScaleFactors, double*);

SpanConverter span_converter(unsigned bits_per_pixel) {
  switch (bits_per_pixel) {
    case 1: return convert_span<1>;
    case 2: return convert_span<2>;
    case 4: return convert_span<4>;
    case 8: return convert_span<8>;
    case 16: return convert_span<16>;
    case 24: return convert_span<24>;
    default: return convert_span<32>;
  }
}

// Rows one at a time, each turned into its values in the output.
struct ConvertRows {
  SpanConverter convert;
  ScaleFactors scale;
  std::uint32_t width;
  double* out;

  void operator()(const std::uint8_t* row, std::uint32_t y) {
    convert(row, 0, width, scale, out + std::uint64_t{y} * width);
  }
};

struct NoRows {
  void operator()(const std::uint8_t*, std::uint32_t) {}
};

}  // namespace

Result<void> unpack_png_into(Bytes payload, const DataRepresentation& drs, std::uint64_t count,
                             const OutputProvider& output, const DecodeOptions&) {
  if (auto bounded = check_value_count(count); !bounded) return fail(bounded.error());
  // Producers write fields packed with 0 bits as constants; there is no
  // image to decode.
  if (drs.bitsPerValue == 0) {
    std::ranges::fill(output(count), constant_value(scale_factors(drs)));
    return {};
  }
  if (count == 0) {
    output(0);
    return {};
  }

  auto header = read_image_header(payload);
  if (!header) return fail(header.error());
  const ImageHeader& h = *header;
  if (std::uint64_t{h.width} * h.height != count) {
    return fail(str_cat("png image of ", h.width, "x", h.height, " pixels does not hold the ", count,
                        " packed values"));
  }

  PngSession session;
  session.payload = payload;
  session.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &session, PngSession::on_error, PngSession::on_warning);
  if (!session.png) return fail(failed("cannot create the decoder"));
  session.info = png_create_info_struct(session.png);
  if (!session.info) return fail(failed("cannot create the decoder"));
  const ScaleFactors scale = scale_factors(drs);
  const SpanConverter convert = span_converter(h.bits_per_pixel);
  const std::span<double> out = output(count);

  if (!h.interlaced) {
    std::vector<std::uint8_t> row(h.row_octets);
    ConvertRows rows{convert, scale, h.width, out.data()};
    if (!read_rows(session, h, row.data(), rows)) return fail(failed(session.message));
    return {};
  }

  // The image fills the end of the output; sample j starts at or after
  // octet 8j (at most 4 octets per pixel, at most one octet of padding per
  // row), so writing value i (octets 8i to 8i + 7) never reaches a sample
  // not yet read.
  const std::uint64_t image_octets = h.row_octets * h.height;  // at most 4 * count
  std::uint8_t* image = reinterpret_cast<std::uint8_t*>(out.data()) + (count * sizeof(double) - image_octets);
  NoRows none;
  if (!read_rows(session, h, image, none)) return fail(failed(session.message));
  for (std::uint32_t y = 0; y < h.height; ++y) {
    convert(image + y * h.row_octets, 0, h.width, scale, out.data() + std::uint64_t{y} * h.width);
  }
  return {};
}

}  // namespace vorlak
