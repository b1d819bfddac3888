#pragma once
// The output array of a decoder. A large field is its own fresh mapping of
// memory, and faulting it in page by page (4 KiB at a time) costs about as
// much as decoding it: 24.5 million doubles take some 50,000 page faults.
// Asking the kernel for large pages first (where it offers them on request)
// makes that one fault per 2 MiB.
#include <cstddef>

#include "grib/decoders.hpp"

namespace vorlak {

// Room for `count` values and none in it yet: a decoder that appends its
// values writes the memory once (no zeros first).
Values reserved_values(std::size_t count);

Values zeroed_values(std::size_t count);

}  // namespace vorlak
