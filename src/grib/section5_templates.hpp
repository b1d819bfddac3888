#pragma once
// Section 5 parameters of the templates that only the field API decodes,
// one reader per template. None fails: a section too short for its template
// leaves the parameters absent or the level list short, and the decoder
// says so, so that the message itself is still listed.
#include "grib/grib2_sections.hpp"

namespace vorlak {

void read_spectral_simple_template(Bytes section, DataRepresentation& drs);  // 5.50
void read_logarithm_template(Bytes section, DataRepresentation& drs);        // 5.61
void read_run_length_template(Bytes section, DataRepresentation& drs);       // 5.200

}  // namespace vorlak
