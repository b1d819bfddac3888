#include "grib/message_record.hpp"

namespace vorlak {

const char* step_unit_name_for(std::uint8_t code) {
  switch (code) {
    case 0: return "minute";
    case 1: return "hour";
    case 2: return "day";
    case 10: return "3 hours";
    case 11: return "6 hours";
    case 12: return "12 hours";
    case 13: return "second";
    default: return "unit";
  }
}

}  // namespace vorlak
