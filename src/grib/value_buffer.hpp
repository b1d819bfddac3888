#pragma once
// The output array of a decoder. A large field is its own fresh mapping of
// memory, and faulting it in page by page (4 KiB at a time) costs about as
// much as decoding it: 24.5 million doubles take some 50,000 page faults.
// Asking the kernel for large pages first (where it offers them on request)
// makes that one fault per 2 MiB.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorlak {

using Values = std::vector<double>;

// Room for `count` values and none in it yet: a decoder that appends its
// values writes the memory once (no zeros first).
Values reserved_values(std::size_t count);

// `count` zeros, for a decoder that writes its values in place.
Values zeroed_values(std::size_t count);

// The same advice for memory a caller allocates itself (a new array that
// a field is decoded into).
void advise_huge_pages(void* data, std::uint64_t bytes);

}  // namespace vorlak
