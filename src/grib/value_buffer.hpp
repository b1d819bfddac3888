#pragma once
// The output of a decoder: a vector of doubles, allocated once for all the
// values of a field.
#include <cstdint>
#include <vector>

namespace vorlak {

using Values = std::vector<double>;

// `count` doubles (zeros until the decoder writes them). A large output is
// offered huge pages before its first touch: a fresh field of tens of
// megabytes otherwise costs one page fault per 4 KiB, several times the
// cost of decoding into it. The caller has bounded `count`.
Values make_values(std::uint64_t count);

// The same advice for memory a caller has allocated itself.
void advise_huge_pages(void* data, std::uint64_t bytes);

}  // namespace vorlak
