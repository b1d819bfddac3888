#include "types/decoded.hpp"

#include <limits>

namespace vorlak {

Result<DecodedField> DecodedField::make(std::uint64_t Ni, std::uint64_t Nj, std::vector<double> values) {
  const bool overflows = Nj != 0 && Ni > std::numeric_limits<std::uint64_t>::max() / Nj;
  if (overflows || Ni * Nj != values.size()) return fail("grid shape and data length must match");
  return DecodedField(Ni, Nj, std::move(values));
}

}  // namespace vorlak
