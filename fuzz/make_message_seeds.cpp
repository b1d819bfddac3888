// Writes the seed corpora of the fuzz targets from the test builders:
//   <dir>/decode_message_fuzz/<family>_<k>   family inputs (family_skeleton.hpp)
//   <dir>/handle_keys_fuzz/<family>_<k>.grib the messages those inputs make
//   <dir>/scan_messages_fuzz/*               single and concatenated messages with junk
//   <dir>/field_file_fuzz/*                  the messages, and the stream of several (multi_* are
//                                            multi-field messages made once with tools/gribbuild.py)
//   <dir>/grid_geometry_fuzz/*               grid sections of both editions, one per kind of grid
// Usage: make_message_seeds DIR (run by `make fuzz-seeds`; the output is committed).
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "family_skeleton.hpp"
#include "grib/decode_message.hpp"
#include "grib/framing.hpp"
#include "support/payload_encoders.hpp"
#include "support/template_builder.hpp"

namespace {

using namespace vorlak;
using namespace vorlak::fuzz;
using test::ByteVec;

void write_file(const std::filesystem::path& path, const ByteVec& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A smooth field of small integers, 0 .. about 200.
std::vector<std::int64_t> field_ints(std::uint32_t Ni, std::uint32_t Nj) {
  std::vector<std::int64_t> out;
  for (std::uint32_t j = 0; j < Nj; ++j) {
    for (std::uint32_t i = 0; i < Ni; ++i) {
      out.push_back(static_cast<std::int64_t>(100 + 90 * std::sin(0.5 * i) * std::cos(0.3 * j)));
    }
  }
  return out;
}

ByteVec every_third_absent(std::uint32_t points, std::size_t& present) {
  std::vector<bool> flags(points);
  present = 0;
  for (std::uint32_t k = 0; k < points; ++k) {
    flags[k] = k % 3 != 1;
    present += flags[k];
  }
  return test::pack_bitmap(flags);
}

std::vector<FamilyInput> family_inputs() {
  std::vector<FamilyInput> out;
  for (const bool with_bitmap : {false, true}) {
    const std::uint32_t Ni = 6, Nj = 4, points = Ni * Nj;
    std::size_t present = points;
    ByteVec bitmap = with_bitmap ? every_third_absent(points, present) : ByteVec{};
    std::vector<std::int64_t> ints = field_ints(Ni, Nj);
    ints.resize(present);
    std::vector<std::uint64_t> unsigned_ints(ints.begin(), ints.end());
    std::vector<double> doubles(ints.begin(), ints.end());
    const auto count = static_cast<std::uint32_t>(present);

    // Simple packing, 12 bits, D = 1.
    const auto simple = test::pack_simple(doubles, 12, 1);
    out.push_back(split_family_input(kSimple, Ni, Nj, bitmap, test::g2_section5_simple(simple), simple.data));

    // Complex packing in groups of 4, and second-order spatial differencing.
    for (const unsigned order : {0u, 2u}) {
      test::ComplexLayout layout = order ? test::difference_and_group(ints, order, 4)
                                         : test::ComplexLayout{test::split_into_groups(unsigned_ints, 4)};
      const auto encoded = test::encode_complex(layout, 0.0f, 0, 1);
      const DataRepresentation& d = encoded.drs;
      const ByteVec s5 = test::g2_section5_complex(
          {.template_number = d.dataRepresentationTemplateNumber, .count = count, .reference = 0, .E = 0, .D = 1,
           .bits = d.bitsPerValue, .missing_management = d.missingValueManagement, .groups = d.numberOfGroups,
           .width_reference = d.referenceForGroupWidths, .width_bits = d.bitsForGroupWidths,
           .length_reference = d.referenceForGroupLengths, .length_increment = d.lengthIncrement,
           .last_length = d.trueLengthOfLastGroup, .length_bits = d.bitsForScaledGroupLengths,
           .order = d.orderOfSpatialDifferencing, .descriptor_octets = d.descriptorOctets});
      out.push_back(split_family_input(order ? kSpatial : kComplex, Ni, Nj, bitmap, s5, encoded.payload));
    }

    // IEEE single precision in the WMO layout, double in the 21-octet one.
    std::vector<float> floats(doubles.begin(), doubles.end());
    out.push_back(split_family_input(kIeee, Ni, Nj, bitmap, test::g2_section5_ieee(count, 1),
                                     test::pack_ieee32(floats)));
    out.push_back(split_family_input(kIeee, Ni, Nj, bitmap,
                                     test::g2_section5({.template_number = 4, .count = count, .bits = 64}),
                                     test::pack_ieee64(doubles), kFlagIeeeLongForm));

    // JPEG 2000: a raw code stream and a JP2 file, 8-bit samples.
    for (const bool jp2 : {false, true}) {
      std::vector<std::int32_t> samples(ints.begin(), ints.end());
      const std::uint32_t width = with_bitmap ? count : Ni;
      const std::uint32_t height = with_bitmap ? 1 : Nj;
      const ByteVec stream = test::encode_jpeg2000({.width = width, .height = height, .precision = 8,
                                                    .components = 1, .jp2 = jp2, .samples = samples});
      out.push_back(split_family_input(kJpeg, Ni, Nj, bitmap, test::g2_section5_jpeg(count, 0, 0, 1, 8), stream));
    }

    // CCSDS with preprocessing, 8 bits in blocks of 16.
    const test::AecSettings aec{.bits = 8, .block_size = 16, .rsi = 8, .flags = AEC_DATA_PREPROCESS};
    out.push_back(split_family_input(kCcsds, Ni, Nj, bitmap,
                                     test::g2_section5_ccsds(count, 0, 0, 1, 8, AEC_DATA_PREPROCESS, 16, 8),
                                     test::encode_ccsds(ints, aec)));

    // GRIB1 simple packing with D = 1.
    const auto g1 = test::pack_simple(doubles, 10, 1, {}, true);
    out.push_back(split_family_input(kGrib1, Ni, Nj, bitmap, test::g1_pds({.D = 1}), test::g1_bds_simple(g1)));
  }
  return out;
}

}  // namespace

// Grid geometry inputs: an edition octet (1 GRIB1, 2 GRIB2), then the section.
void grid_seeds(const std::filesystem::path& dir) {
  using test::kMissingValue;
  std::filesystem::create_directories(dir);
  const auto put = [&](const char* name, std::uint8_t edition, const ByteVec& section) {
    ByteVec input{edition};
    input.insert(input.end(), section.begin(), section.end());
    write_file(dir / name, input);
  };
  put("latlon", 2, test::g2_section3_latlon({.Ni = 8, .Nj = 5, .la1 = 60, .lo1 = 350, .la2 = 56, .lo2 = 7}));
  put("gaussian", 2, test::g2_section3_latlon({.Ni = 8, .Nj = 4, .la1 = 59.44, .lo1 = 0, .la2 = -59.44, .lo2 = 315,
                                               .di = 45, .N = 2}));
  put("lambert", 2, test::g2_section3_lambert({.Nx = 20, .Ny = 10}));
  put("polar", 2, test::g2_section3_polar({.Nx = 20, .Ny = 10}));
  put("mercator", 2, test::g2_section3_mercator({.Nx = 20, .Ny = 10}));
  put("rotated", 2,
      test::g2_template_section(3, 1, {{"shapeOfTheEarth", {6}}, {"Ni", {10}}, {"Nj", {8}},
                                       {"latitudeOfFirstGridPoint", {-12000000}}, {"longitudeOfFirstGridPoint", {345000000}},
                                       {"latitudeOfLastGridPoint", {-5000000}}, {"longitudeOfLastGridPoint", {354000000}},
                                       {"scanningMode", {0x40}}, {"latitudeOfSouthernPole", {-36000000}},
                                       {"longitudeOfSouthernPole", {245000000}}}));
  put("reduced_rotated_gaussian", 2,
      test::g2_template_section(3, 41, {{"numberOfDataPoints", {48}}, {"shapeOfTheEarth", {6}},
                                        {"Ni", {kMissingValue}}, {"Nj", {4}}, {"N", {2}},
                                        {"latitudeOfFirstGridPoint", {59440000}}, {"latitudeOfLastGridPoint", {-59440000}},
                                        {"longitudeOfLastGridPoint", {337500000}}, {"latitudeOfSouthernPole", {-40000000}},
                                        {"pl", {8, 16, 16, 8}}}));
  put("albers", 2,
      test::g2_template_section(3, 31, {{"shapeOfTheEarth", {4}}, {"Nx", {10}}, {"Ny", {8}},
                                        {"latitudeOfFirstGridPoint", {22000000}}, {"longitudeOfFirstGridPoint", {235000000}},
                                        {"LaD", {23000000}}, {"LoV", {264000000}}, {"Dx", {5000000}}, {"Dy", {5000000}},
                                        {"scanningMode", {0x40}}, {"Latin1", {29500000}}, {"Latin2", {45500000}}}));
  put("space_view", 2,
      test::g2_template_section(3, 90, {{"shapeOfTheEarth", {6}}, {"Nx", {11}}, {"Ny", {11}}, {"Lop", {-75000000}},
                                        {"dx", {10}}, {"dy", {10}}, {"Xp", {5000}}, {"Yp", {5000}}, {"Nr", {6610700}}}));
  put("unstructured", 2, test::g2_template_section(3, 101, {{"numberOfDataPoints", {20}}, {"numberOfGridUsed", {26}}}));
  put("grib1_latlon", 1, test::g1_gds_latlon({.Ni = 8, .Nj = 5}));
  put("grib1_reduced", 1, test::g1_gds_latlon({.Nj = 4, .la1 = 59.44, .lo1 = 0, .la2 = -59.44, .lo2 = 337.5, .N = 2,
                                               .points_per_row = {8, 16, 16, 8}}));
  put("grib1_lambert", 1, test::g1_gds_lambert(20, 10, 20.19, 238.45, 40635, 40635));
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_message_seeds DIR\n");
    return 2;
  }
  const std::filesystem::path root = argv[1];
  for (const char* target : {"decode_message_fuzz", "handle_keys_fuzz", "scan_messages_fuzz", "field_file_fuzz"}) {
    std::filesystem::create_directories(root / target);
  }
  std::vector<ByteVec> messages;
  int k = 0;
  for (const FamilyInput& input : family_inputs()) {
    const std::string name = std::string(kFamilyNames[input.family]) + "_" + std::to_string(k++);
    const ByteVec message = family_message(input);
    const ByteVec serialised = serialise_family_input(input);
    if (serialise_family_input(parse_family_input(serialised)) != serialised) {
      std::fprintf(stderr, "family input %s does not round-trip\n", name.c_str());
      return 1;
    }
    auto scan = scan_messages(message);
    if (!scan) {
      std::fprintf(stderr, "seed %s does not scan: %s\n", name.c_str(), scan.error().c_str());
      return 1;
    }
    if (auto decoded = decode_message(message, scan->records.front()); !decoded) {
      std::fprintf(stderr, "seed %s does not decode: %s\n", name.c_str(), decoded.error().c_str());
      return 1;
    }
    write_file(root / "decode_message_fuzz" / name, serialised);
    write_file(root / "handle_keys_fuzz" / (name + ".grib"), message);
    write_file(root / "field_file_fuzz" / (name + ".grib"), message);
    messages.push_back(message);
  }
  // Scanning seeds: one message of each edition, and a stream of several
  // between junk (a false "GRIB", a stray "7777").
  write_file(root / "scan_messages_fuzz" / "grib2", messages.front());
  write_file(root / "scan_messages_fuzz" / "grib1", messages.back());
  ByteVec stream = {'G', 'R', 'I', 'B', 0, 0, 0, 9, '7', '7', '7', '7'};
  for (std::size_t i = 0; i < messages.size(); i += 4) {
    stream.insert(stream.end(), messages[i].begin(), messages[i].end());
    stream.push_back(0);
  }
  write_file(root / "scan_messages_fuzz" / "stream", stream);
  write_file(root / "field_file_fuzz" / "stream", stream);
  grid_seeds(root / "grid_geometry_fuzz");
  std::printf("%d family seeds written to %s\n", k, root.c_str());
  return 0;
}
