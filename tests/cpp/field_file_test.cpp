// FieldFile: opening from bytes and paths, positions, keys read without
// decoding (the same as the codes API's), values, shapes and coordinates of
// one field, fields that fail alone, and concurrent first use of the keys.
#include "core/field_file.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "core/grid_geometry.hpp"
#include "core/key_lookup.hpp"
#include "grib/decode_message.hpp"
#include "grib/geometry.hpp"
#include "core/keys_iterator.hpp"
#include "support/exercise_fields.hpp"
#include "support/message_builder.hpp"
#include "support/template_builder.hpp"

namespace vorlak {
namespace {

using namespace vorlak::test;
namespace fs = std::filesystem;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

SharedFieldFile file_of(const ByteVec& bytes) {
  auto file = FieldFile::from_bytes(ByteBlock::copy_of(bytes));
  EXPECT_TRUE(file) << (file ? "" : file.error());
  return file ? *file : nullptr;
}

// A 4 x 3 latitude/longitude field 60N..58N, 0E..3E whose values are
// 10 * row + column, simply packed (exact); NaN entries are left out by
// the bitmap.
ByteVec latlon_field(std::vector<double> values, std::uint32_t level = 85000) {
  std::vector<ByteVec> sections = {g2_section1({.year = 2024, .month = 5}),
                                   g2_section3_latlon({.Ni = 4, .Nj = 3})};
  for (ByteVec& s : g2_simple_field(values, 12, {.level_value = level})) sections.push_back(std::move(s));
  return grib2_message(sections);
}

std::vector<double> row_column_values() {
  std::vector<double> v;
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 4; ++column) v.push_back(10.0 * row + column);
  }
  return v;
}

ByteVec lambert_field() {
  std::vector<ByteVec> sections = {g2_section1(), g2_section3_lambert({.Nx = 4, .Ny = 3})};
  for (ByteVec& s : g2_simple_field(std::vector<double>(12, 1.5), 8)) sections.push_back(std::move(s));
  return grib2_message(sections);
}

// Template 5.1 (matrix values): every reader refuses it.
ByteVec undecodable_field() {
  return grib2_message({g2_section1(), g2_section3_latlon({.Ni = 4, .Nj = 3}), g2_section4(),
                        g2_section5({.template_number = 1, .count = 12}), g2_section6_none(),
                        g2_section7({})});
}

std::vector<double> one_to(int n) {
  std::vector<double> v;
  for (int k = 1; k <= n; ++k) v.push_back(k);
  return v;
}

ByteVec reduced_gaussian_grib1() {
  // The four rows of N = 2 with 2, 4, 4 and 2 points: 12 values, no rows
  // and columns.
  const std::vector<double>& rows = *gaussian_latitudes(2);
  G1LatLonGrid grid{.Ni = 0xFFFF, .Nj = 4, .la1 = rows.front(), .lo1 = 0, .la2 = rows.back(), .lo2 = 270,
                    .di = 0, .dj = 0, .N = 2, .points_per_row = {2, 4, 4, 2}};
  const SimplePacked packed = pack_simple(one_to(12), 8, 0, {}, true);
  return grib1_message(g1_pds({.has_gds = true}), g1_gds_latlon(grid), {}, g1_bds_simple(packed));
}

void expect_same_values(const std::vector<double>& actual, const std::vector<double>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (std::isnan(expected[i])) {
      EXPECT_TRUE(std::isnan(actual[i])) << "point " << i;
    } else {
      EXPECT_EQ(actual[i], expected[i]) << "point " << i;
    }
  }
}

// --------------------------------------------------------------- opening

TEST(FieldFile, OneFieldPerMessageWithItsPosition) {
  const ByteVec a = latlon_field(row_column_values(), 85000);
  const ByteVec b = minimal_grib1();
  const ByteVec junk = {'x', 'G', 'R', 'I', 'B', 0, 0};
  const ByteVec bytes = concat({junk, a, junk, b});
  SharedFieldFile file = file_of(bytes);
  ASSERT_TRUE(file);
  ASSERT_EQ(file->size(), 2u);
  EXPECT_EQ(file->byte_size(), bytes.size());
  const FieldPosition& first = file->position(0);
  const FieldPosition& second = file->position(1);
  EXPECT_EQ(first.message_number, 1u);
  EXPECT_EQ(first.message_offset, junk.size());
  EXPECT_EQ(first.message_length, a.size());
  EXPECT_EQ(second.message_number, 2u);
  EXPECT_EQ(second.message_offset, 2 * junk.size() + a.size());
  EXPECT_EQ(second.message_length, b.size());
  for (const FieldPosition* p : {&first, &second}) {
    EXPECT_EQ(p->index_in_message, 0u);
    EXPECT_EQ(p->fields_in_message, 1u);
  }
}

TEST(FieldFile, BytesWithoutMessagesAreRefused) {
  for (const ByteVec& bytes : {ByteVec{}, ByteVec{'G', 'R', 'I'}, ByteVec(100, 'x')}) {
    auto file = FieldFile::from_bytes(ByteBlock::copy_of(bytes));
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error(), "no GRIB messages found");
  }
  EXPECT_FALSE(FieldFile::from_bytes(nullptr));
}

TEST(FieldFile, TruncatedFileKeepsItsCompleteMessages) {
  const ByteVec a = latlon_field(row_column_values());
  ByteVec bytes = concat({a, a, a});
  bytes.resize(bytes.size() - 10);
  SharedFieldFile file = file_of(bytes);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->size(), 2u);
  EXPECT_TRUE(file->values(1, DecodeOptions{}));
}

class FieldFilePaths : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vorlak-fields-XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(pattern.data()));
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string write(const std::string& name, const ByteVec& bytes) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }
  fs::path dir_;
};

TEST_F(FieldFilePaths, ReadsTheFileOnceAndKeepsItsBytes) {
  const ByteVec a = latlon_field(row_column_values());
  const std::string path = write("two.grib2", concat({a, a}));
  auto file = FieldFile::open(path);
  ASSERT_TRUE(file) << file.error().text;
  // The file may go: the bytes were read.
  fs::remove(path);
  EXPECT_EQ((*file)->size(), 2u);
  auto values = (*file)->values(1, DecodeOptions{});
  ASSERT_TRUE(values);
  expect_same_values(values->values, row_column_values());
}

TEST_F(FieldFilePaths, FailuresCarryTheirErrorNumber) {
  auto missing = FieldFile::open((dir_ / "absent.grib2").string());
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().os_error, ENOENT);
  EXPECT_NE(missing.error().text.find("failed to read"), std::string::npos);

  auto directory = FieldFile::open(dir_.string());
  ASSERT_FALSE(directory);
  EXPECT_EQ(directory.error().os_error, EISDIR);

  auto junk = FieldFile::open(write("junk.grib2", ByteVec(64, 'j')));
  ASSERT_FALSE(junk);
  EXPECT_EQ(junk.error().os_error, 0);
  EXPECT_EQ(junk.error().text, "no GRIB messages found");
}

// ------------------------------------------------------------------ keys

// Every key the codes API derives, with its value and text, and the
// template keys besides.
void expect_codes_keys_within(const FieldFile& file, std::size_t i, const HandleRecord& codes) {
  for (const auto& [name, value] : codes.derived.entries()) {
    const KeyValue* own = file.find_key(i, name);
    ASSERT_NE(own, nullptr) << name;
    EXPECT_EQ(own->value, value.value) << name;
    auto text = file.key_text(i, name);
    auto expected_text = get_string(codes, name);
    ASSERT_EQ(text.has_value(), expected_text.has_value()) << name;
    if (text) {
      EXPECT_EQ(*text, *expected_text) << name;
    }
  }
  EXPECT_GE(file.keys(i).size(), codes.derived.entries().size());
}

TEST(FieldFileKeys, TheCodesApiKeysAndTheTemplateKeys) {
  const ByteVec bytes = concat({latlon_field(row_column_values()), minimal_grib1(), lambert_field()});
  SharedFieldFile file = file_of(bytes);
  ASSERT_TRUE(file);
  auto scan = scan_messages(bytes);
  ASSERT_TRUE(scan);
  ASSERT_EQ(file->size(), scan->records.size());
  for (std::size_t i = 0; i < file->size(); ++i) {
    expect_codes_keys_within(*file, i, HandleRecord::make(scan->records[i], BytesSource::shared(ByteBlock::copy_of(bytes))));
  }
  // Template keys: the grid's corners as stated, the first surface.
  EXPECT_EQ(file->key_long(0, "latitudeOfFirstGridPoint").value(), 60000000);
  EXPECT_EQ(file->key_long(0, "scaledValueOfFirstFixedSurface").value(), 85000);
  EXPECT_NE(file->find_key(2, "LoV"), nullptr);
  EXPECT_EQ(file->find_key(0, "LoV"), nullptr);
}

TEST(FieldFileKeys, TypedReadsConvertAsTheCodesApi) {
  SharedFieldFile file = file_of(latlon_field(row_column_values(), 85000));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->key_long(0, "level").value(), 850);
  EXPECT_EQ(file->key_double(0, "level").value(), 850.0);
  EXPECT_EQ(file->key_text(0, "level").value(), "850");
  EXPECT_EQ(file->key_text(0, "shortName").value(), "t");
  EXPECT_EQ(file->key_long(0, "Nx").value(), 4);

  auto absent = file->key_long(0, "noSuchKey");
  ASSERT_FALSE(absent);
  EXPECT_EQ(absent.error().kind, CodesError::Kind::KeyNotFound);
  EXPECT_EQ(file->find_key(0, "noSuchKey"), nullptr);
  auto mismatch = file->key_long(0, "shortName");
  ASSERT_FALSE(mismatch);
  EXPECT_EQ(mismatch.error().kind, CodesError::Kind::TypeMismatch);
}

TEST(FieldFileKeys, KeysNeedNoDecodeAndCostNoDecode) {
  // Keys of an undecodable field are all there; values are not keys.
  SharedFieldFile file = file_of(undecodable_field());
  ASSERT_TRUE(file);
  EXPECT_EQ(file->key_long(0, "dataRepresentationTemplateNumber").value(), 1);
  for (const char* computed : {"values", "latitudes", "longitudes", "numberOfMissing", "distinctLatitudes"}) {
    EXPECT_EQ(file->find_key(0, computed), nullptr) << computed;
  }
}

TEST(FieldFileKeys, ConcurrentFirstUseBuildsOneKeySetPerField) {
  std::vector<ByteVec> parts(40, latlon_field(row_column_values()));
  ByteVec bytes;
  for (const ByteVec& p : parts) bytes.insert(bytes.end(), p.begin(), p.end());
  SharedFieldFile file = file_of(bytes);
  ASSERT_TRUE(file);
  std::vector<std::vector<const FieldKey*>> seen(4);
  std::vector<std::thread> threads;
  for (auto& out : seen) {
    threads.emplace_back([&file, &out] {
      for (std::size_t i = 0; i < file->size(); ++i) out.push_back(file->keys(i).data());
    });
  }
  for (auto& t : threads) t.join();
  for (const auto& out : seen) EXPECT_EQ(out, seen[0]);
}

// --------------------------------------------------------- decoded content

TEST(FieldFileValues, ValuesComeInRowsWithTheirMissingCount) {
  std::vector<double> values = row_column_values();
  values[5] = kNaN;
  values[11] = kNaN;
  SharedFieldFile file = file_of(latlon_field(values));
  ASSERT_TRUE(file);
  auto decoded = file->values(0, DecodeOptions{.all_templates = true});
  ASSERT_TRUE(decoded) << decoded.error();
  expect_same_values(decoded->values, values);
  EXPECT_EQ(decoded->missing, 2u);
  ASSERT_TRUE(decoded->shape);
  EXPECT_EQ(decoded->shape->rows, 3u);
  EXPECT_EQ(decoded->shape->columns, 4u);
  auto shape = file->shape(0);
  ASSERT_TRUE(shape && *shape);
  EXPECT_EQ((*shape)->rows, 3u);
  EXPECT_EQ((*shape)->columns, 4u);
}

TEST(FieldFileValues, CoordinatesOfEveryPointFollowTheValues) {
  SharedFieldFile file = file_of(latlon_field(row_column_values()));
  ASSERT_TRUE(file);
  auto lat = file->latitudes(0);
  auto lon = file->longitudes(0);
  ASSERT_TRUE(lat && *lat);
  ASSERT_TRUE(lon && *lon);
  // Point k = 4 * row + column lies at 60 - row north, column east.
  const std::vector<double> expected_lat = {60, 60, 60, 60, 59, 59, 59, 59, 58, 58, 58, 58};
  const std::vector<double> expected_lon = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3};
  expect_same_values(**lat, expected_lat);
  expect_same_values(**lon, expected_lon);
}

TEST(FieldFileValues, GridsWithAndWithoutRowsAndCoordinates) {
  const ByteVec unstructured =
      grib2_message({g2_section1(), g2_section3_template(101, 12, 1), g2_section4(),
                     g2_section5_simple(pack_simple(row_column_values(), 12)), g2_section6_none(),
                     g2_section7(pack_simple(row_column_values(), 12).data)});
  const ByteVec bytes = concat({reduced_gaussian_grib1(), lambert_field(), unstructured});
  SharedFieldFile file = file_of(bytes);
  ASSERT_TRUE(file);
  ASSERT_EQ(file->size(), 3u);
  // Rows of their own lengths: one dimension, a position for every point.
  auto reduced = file->values(0, DecodeOptions{});
  ASSERT_TRUE(reduced) << reduced.error();
  expect_same_values(reduced->values, one_to(12));
  EXPECT_FALSE(reduced->shape);
  EXPECT_FALSE(file->shape(0).value());
  auto reduced_longitudes = file->longitudes(0);
  ASSERT_TRUE(reduced_longitudes && *reduced_longitudes) << reduced_longitudes.error();
  expect_same_values(**reduced_longitudes, {0, 180, 0, 90, 180, 270, 0, 90, 180, 270, 0, 180});
  // A projection: rows and columns, and where each point is.
  auto lambert = file->values(1, DecodeOptions{});
  ASSERT_TRUE(lambert);
  ASSERT_TRUE(lambert->shape);
  EXPECT_EQ(lambert->shape->rows, 3u);
  EXPECT_EQ(lambert->shape->columns, 4u);
  ASSERT_TRUE(file->latitudes(1).value());
  EXPECT_NEAR(file->latitudes(1).value()->front(), 20.0, 1e-6);
  // Points the message does not place: one dimension, no coordinates.
  auto loose = file->values(2, DecodeOptions{});
  ASSERT_TRUE(loose) << loose.error();
  EXPECT_EQ(loose->values.size(), 12u);
  EXPECT_FALSE(loose->shape);
  EXPECT_FALSE(file->latitudes(2).value());
}

TEST(FieldFileValues, ValuesComeInTheOrderOfTheirCoordinates) {
  // Columns held consecutively (scanning mode 0x20): the message stores
  // point (row r, column c) at c * 3 + r; the field presents rows.
  std::vector<double> stored;
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 3; ++r) stored.push_back(10.0 * r + c);
  }
  std::vector<ByteVec> sections = {g2_section1(), g2_section3_latlon({.Ni = 4, .Nj = 3, .scanning_mode = 0x20})};
  for (ByteVec& s : g2_simple_field(stored, 12)) sections.push_back(std::move(s));
  SharedFieldFile file = file_of(grib2_message(sections));
  ASSERT_TRUE(file);
  auto decoded = file->values(0, DecodeOptions{});
  ASSERT_TRUE(decoded) << decoded.error();
  expect_same_values(decoded->values, row_column_values());
  EXPECT_EQ(decoded->shape->rows, 3u);
  expect_same_values(file->latitudes(0).value().value(), {60, 60, 60, 60, 59, 59, 59, 59, 58, 58, 58, 58});
  expect_same_values(file->longitudes(0).value().value(), {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3});
  // The codes view keeps the message's order.
  expect_same_values(get_double_array(file->codes_view(0, DecodeOptions{}), "values").value(), stored);
}

TEST(FieldFileValues, AFieldThatCannotBeDecodedFailsAlone) {
  const ByteVec bytes = concat({latlon_field(row_column_values()), undecodable_field(), minimal_grib1()});
  SharedFieldFile file = file_of(bytes);
  ASSERT_TRUE(file);
  ASSERT_EQ(file->size(), 3u);
  auto bad = file->values(1, DecodeOptions{.all_templates = true});
  ASSERT_FALSE(bad);
  EXPECT_NE(bad.error().find("template 1 "), std::string::npos) << bad.error();
  EXPECT_TRUE(file->values(0, DecodeOptions{}));
  EXPECT_TRUE(file->values(2, DecodeOptions{}));
  EXPECT_NE(file->find_key(1, "shortName"), nullptr);
}

TEST(FieldFileValues, CodesViewAnswersComputedKeysFromItsOwnDecode) {
  SharedFieldFile file = file_of(latlon_field(row_column_values()));
  ASSERT_TRUE(file);
  const HandleRecord view = file->codes_view(0, DecodeOptions{});
  ASSERT_TRUE(view.memo && view.memo->filled());
  const std::vector<std::string> names = iterator_key_names(view);
  for (const char* name : {"values", "numberOfMissing", "latitudes", "shortName"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
  }
  expect_same_values(get_double_array(view, "values").value(), row_column_values());
  // Each view decodes on its own: nothing is shared or kept.
  EXPECT_NE(file->codes_view(0, DecodeOptions{}).memo, view.memo);
}

// ------------------------------------------------------------------ grids

// Template 3.30 with the given standard parallels (in millionths).
ByteVec lambert_section(std::int64_t latin1, std::int64_t latin2, std::int64_t radius = 6371229) {
  return g2_template_section(3, 30,
                             {{"numberOfDataPoints", {12}},
                              {"shapeOfTheEarth", {1}},
                              {"scaleFactorOfRadiusOfSphericalEarth", {0}},
                              {"scaledValueOfRadiusOfSphericalEarth", {radius}},
                              {"Nx", {4}},
                              {"Ny", {3}},
                              {"latitudeOfFirstGridPoint", {20000000}},
                              {"longitudeOfFirstGridPoint", {250000000}},
                              {"LaD", {25000000}},
                              {"LoV", {265000000}},
                              {"Dx", {3000000}},
                              {"Dy", {3000000}},
                              {"scanningMode", {0x40}},
                              {"Latin1", {latin1}},
                              {"Latin2", {latin2}}});
}

ByteVec field_on(const ByteVec& grid, const std::vector<double>& values) {
  std::vector<ByteVec> sections = {g2_section1(), grid};
  for (ByteVec& s : g2_simple_field(values, 12)) sections.push_back(std::move(s));
  return grib2_message(sections);
}

TEST(FieldFileGrid, NearestSearchesThePresentedPointsOfEveryGrid) {
  const ByteVec unstructured =
      grib2_message({g2_section1(), g2_section3_template(101, 12, 1), g2_section4(),
                     g2_section5_simple(pack_simple(row_column_values(), 12)), g2_section6_none(),
                     g2_section7(pack_simple(row_column_values(), 12).data)});
  // Columns held consecutively: presented index 6 (59N 2E) is stored at 7.
  std::vector<double> stored;
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 3; ++r) stored.push_back(10.0 * r + c);
  }
  SharedFieldFile file =
      file_of(concat({latlon_field(row_column_values()), field_on(lambert_section(25000000, 25000000), one_to(12)),
                      reduced_gaussian_grib1(), unstructured,
                      field_on(g2_section3_latlon({.Ni = 4, .Nj = 3, .scanning_mode = 0x20}), stored)}));
  ASSERT_TRUE(file);
  for (std::size_t field : {0u, 4u}) {
    auto near = file->nearest(field, 59.1, 1.9, 2, DecodeOptions{});
    ASSERT_TRUE(near) << near.error().message();
    ASSERT_EQ(near->size(), 2u);
    EXPECT_EQ((*near)[0].index, 6u);  // 59N 2E
    EXPECT_EQ((*near)[0].value, 12.0);
    EXPECT_EQ((*near)[1].index, 5u);  // 59N 1E
  }
  // A projection: the first grid point, and its neighbour along the row
  // 3 km on in the plane (a little less on the Earth off the standard parallel).
  auto lambert = file->nearest(1, 20.0, -110.0, 2, DecodeOptions{});
  ASSERT_TRUE(lambert) << lambert.error().message();
  EXPECT_EQ((*lambert)[0].index, 0u);
  EXPECT_NEAR((*lambert)[0].distance, 0.0, 1e-6);
  EXPECT_EQ((*lambert)[0].value, 1.0);
  EXPECT_EQ((*lambert)[1].index, 1u);
  EXPECT_NEAR((*lambert)[1].distance, 3.0, 0.05);
  // Rows of their own lengths: the last point is at 180E on the southern row.
  const std::vector<double>& rows = *gaussian_latitudes(2);
  auto reduced = file->nearest(2, rows.back(), 180.0, 1, DecodeOptions{});
  ASSERT_TRUE(reduced) << reduced.error().message();
  EXPECT_EQ((*reduced)[0].index, 11u);
  EXPECT_EQ((*reduced)[0].value, 12.0);
  // Points the message does not place: why.
  auto loose = file->nearest(3, 0, 0, 1, DecodeOptions{});
  ASSERT_FALSE(loose);
  EXPECT_NE(loose.error().message().find("unstructured grid"), std::string::npos) << loose.error().message();
}

TEST(FieldFileGrid, FieldsOnOneGridShareItsIdentityAndCoordinates) {
  const ByteVec lambert = lambert_section(25000000, 25000000);
  SharedFieldFile file = file_of(concat({field_on(lambert, one_to(12)), field_on(lambert, row_column_values()),
                                         latlon_field(row_column_values()), reduced_gaussian_grib1()}));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->grid_id(0), file->grid_id(1));
  EXPECT_NE(file->grid_id(0), file->grid_id(2));
  EXPECT_NE(file->grid_id(2), file->grid_id(3));
  auto a = file->grid_array(0, GridArray::Latitudes);
  auto b = file->grid_array(1, GridArray::Latitudes);
  ASSERT_TRUE(a && *a && b && *b);
  EXPECT_EQ((*a)->data.data(), (*b)->data.data());  // the cached array itself
  auto x = file->grid_array(0, GridArray::X);
  auto y = file->grid_array(0, GridArray::Y);
  ASSERT_TRUE(x && *x && y && *y);
  ASSERT_EQ((*x)->data.size(), 4u);
  ASSERT_EQ((*y)->data.size(), 3u);
  EXPECT_DOUBLE_EQ((*x)->data[1] - (*x)->data[0], 3000.0);
  EXPECT_DOUBLE_EQ((*y)->data[1] - (*y)->data[0], 3000.0);  // rows run north
  // Axes expanded to every point; no plane on a latitude/longitude grid.
  auto lon = file->grid_array(2, GridArray::Longitudes);
  ASSERT_TRUE(lon && *lon);
  expect_same_values(std::vector<double>((*lon)->data.begin(), (*lon)->data.end()),
                     {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3});
  EXPECT_FALSE(file->grid_array(2, GridArray::X).value());
  auto proj = file->proj_parameters(0);
  ASSERT_TRUE(proj && *proj);
  EXPECT_EQ(proj_string(**proj), "+proj=lcc +lat_1=25 +lat_2=25 +lat_0=25 +lon_0=265 +x_0=0 +y_0=0 +R=6371229 +units=m");
}

TEST(FieldFileGrid, PredefinedAndUnplacedGridsHaveAnIdentityButNoCoordinates) {
  const SimplePacked packed = pack_simple(one_to(12), 8);
  const ByteVec predefined = grib1_message(g1_pds({.grid = 3, .has_gds = false}), {}, {}, g1_bds_simple(packed));
  const ByteVec unstructured =
      grib2_message({g2_section1(), g2_section3_template(101, 12, 1), g2_section4(),
                     g2_section5_simple(pack_simple(row_column_values(), 12)), g2_section6_none(),
                     g2_section7(pack_simple(row_column_values(), 12).data)});
  SharedFieldFile file = file_of(concat({predefined, unstructured}));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->grid_id(0), "1 predefined grid 3 of centre 98");
  for (std::size_t field : {0u, 1u}) {
    EXPECT_FALSE(file->grid_coordinates(field).value());
    EXPECT_FALSE(file->grid_array(field, GridArray::Latitudes).value());
    EXPECT_FALSE(file->proj_parameters(field).value());
    EXPECT_FALSE(file->cf_grid_mapping(field).value());
  }
}

// Parameters that make no sense fail where the grid is asked for; the
// values stay readable.
TEST(FieldFileGrid, NonsenseProjectionsFailAloneAndKeepTheirValues) {
  SharedFieldFile file = file_of(concat({field_on(lambert_section(90000000, 90000000), one_to(12)),
                                         field_on(lambert_section(25000000, 25000000, 0), one_to(12))}));
  ASSERT_TRUE(file);
  for (std::size_t field : {0u, 1u}) {
    EXPECT_FALSE(file->grid_coordinates(field));
    EXPECT_FALSE(file->grid_array(field, GridArray::X));
    EXPECT_FALSE(file->proj_parameters(field));
    EXPECT_FALSE(file->cf_grid_mapping(field));
    EXPECT_FALSE(file->nearest(field, 20, 250, 1, DecodeOptions{}));
    auto values = file->values(field, DecodeOptions{});
    ASSERT_TRUE(values) << values.error();
    expect_same_values(values->values, one_to(12));
    EXPECT_NE(file->find_key(field, "Latin1InDegrees"), nullptr);
  }
}

// The grid keys join the template fields under the same names with the
// same values; gridType names every template.
TEST(FieldFileGrid, GridKeysAgreeWithTheTemplateFieldsOfRealFiles) {
  const fs::path folder = fs::path(VORLAK_SOURCE_ROOT).parent_path() / "shared" / "testdata";
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) GTEST_SKIP() << "no test data";
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".md") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const ByteVec bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    SharedFieldFile file = file_of(bytes);
    if (!file) continue;
    const auto record = scan_messages(bytes).value().records.front();
    const Bytes message = Bytes(bytes).subspan(record.offset, record.totalLength);
    const SectionSpan& span = record.spans.grid;
    if (!span.present()) continue;
    const Bytes section = message.subspan(span.offset, span.length);
    auto grid = grid_keys_of(record.edition, section);
    ASSERT_TRUE(grid) << entry.path();
    for (const auto& [name, value] : *grid) {
      const KeyValue* field = file->find_key(0, name);
      ASSERT_NE(field, nullptr) << entry.path() << " " << name;
      if (name == "gridType" && record.gridDefinitionTemplateNumber != 101) continue;
      EXPECT_TRUE(same_value(*field, value)) << entry.path() << " " << name;
    }
  }
}

// --------------------------------------------------- multi-field messages

// Sections 4 to 7 of a simple-packed field on `level`; NaN values absent.
std::vector<ByteVec> field_sections(const std::vector<double>& values, std::uint32_t level) {
  return g2_simple_field(values, 12, {.level_value = level});
}

ByteVec message_of(std::initializer_list<std::vector<ByteVec>> groups) {
  std::vector<ByteVec> sections;
  for (const auto& group : groups) sections.insert(sections.end(), group.begin(), group.end());
  return grib2_message(sections);
}

std::vector<double> reversed(std::vector<double> v) {
  std::reverse(v.begin(), v.end());
  return v;
}

TEST(FieldFileMultiField, TwoGridsInOneMessage) {
  const std::vector<double> first = row_column_values();
  const std::vector<double> second = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const ByteVec message = message_of({{g2_section1()},
                                      {g2_section3_latlon({.Ni = 4, .Nj = 3})},
                                      field_sections(first, 85000),
                                      {g2_section3_latlon({.Ni = 5, .Nj = 2, .la2 = 59, .lo2 = 4})},
                                      field_sections(second, 50000)});
  const ByteVec single = minimal_grib1();
  SharedFieldFile file = file_of(concat({message, single}));
  ASSERT_TRUE(file);
  ASSERT_EQ(file->size(), 3u);
  for (std::size_t i : {0u, 1u}) {
    const FieldPosition& p = file->position(i);
    EXPECT_EQ(p.message_number, 1u);
    EXPECT_EQ(p.message_offset, 0u);
    EXPECT_EQ(p.message_length, message.size());
    EXPECT_EQ(p.index_in_message, i);
    EXPECT_EQ(p.fields_in_message, 2u);
    EXPECT_EQ(file->key_long(i, "offset").value(), 0);
    EXPECT_EQ(file->key_long(i, "totalLength").value(), static_cast<std::int64_t>(message.size()));
  }
  EXPECT_EQ(file->position(2).message_number, 2u);
  EXPECT_EQ(file->position(2).fields_in_message, 1u);

  EXPECT_EQ(file->key_long(0, "Nx").value(), 4);
  EXPECT_EQ(file->key_long(1, "Nx").value(), 5);
  EXPECT_EQ(file->key_long(0, "level").value(), 850);
  EXPECT_EQ(file->key_long(1, "level").value(), 500);
  auto a = file->values(0, DecodeOptions{});
  auto b = file->values(1, DecodeOptions{});
  ASSERT_TRUE(a && b);
  expect_same_values(a->values, first);
  expect_same_values(b->values, second);
  EXPECT_EQ(b->shape->rows, 2u);
  EXPECT_EQ(b->shape->columns, 5u);
  EXPECT_EQ(file->shape(1).value()->columns, 5u);
  EXPECT_EQ(file->latitudes(1).value()->size(), 10u);
  EXPECT_EQ(file->longitudes(1).value()->back(), 4.0);

  // The last field is what the codes API makes of the whole message.
  auto scan = scan_messages(message);
  ASSERT_TRUE(scan);
  const HandleRecord codes = HandleRecord::make(scan->records[0], BytesSource::shared(ByteBlock::copy_of(message)));
  expect_codes_keys_within(*file, 1, codes);
  // The codes view of a field decodes that field.
  expect_same_values(get_double_array(file->codes_view(0, DecodeOptions{}), "values").value(), first);
}

TEST(FieldFileMultiField, LaterFieldsRepeatOnlySomeSections) {
  const std::vector<double> values = row_column_values();
  const std::vector<ByteVec> first = field_sections(values, 85000);  // 4, 5, 6, 7
  // Reversed values pack with the same reference and scale: the second
  // field repeats only sections 4 and 7, the third 4 to 7.
  const std::vector<ByteVec> second = field_sections(reversed(values), 70000);
  const ByteVec message = message_of({{g2_section1(), g2_section3_latlon({.Ni = 4, .Nj = 3})},
                                      first,
                                      {second[0], second[3]},
                                      field_sections(std::vector<double>(12, 2.5), 50000)});
  SharedFieldFile file = file_of(message);
  ASSERT_TRUE(file);
  ASSERT_EQ(file->size(), 3u);
  EXPECT_EQ(file->key_long(1, "level").value(), 700);
  EXPECT_EQ(file->key_long(1, "Nx").value(), 4);
  auto b = file->values(1, DecodeOptions{});
  ASSERT_TRUE(b) << b.error();
  expect_same_values(b->values, reversed(values));
  expect_same_values(file->values(2, DecodeOptions{}).value().values, std::vector<double>(12, 2.5));
}

TEST(FieldFileMultiField, BitmapReuseTakesTheLatestEarlierBitmap) {
  std::vector<double> gappy = row_column_values();
  for (std::size_t k : {1u, 6u, 11u}) gappy[k] = kNaN;
  auto with_indicator = [](std::vector<ByteVec> sections, std::uint8_t indicator) {
    sections[2] = g2_section6_indicator(indicator);
    return sections;
  };
  // Field 3 reuses the bitmap of field 1 across a field without one (255);
  // its packed values are those of the points present there.
  std::vector<double> third = row_column_values();
  for (std::size_t k : {1u, 6u, 11u}) third[k] = kNaN;
  for (double& x : third) x = std::isnan(x) ? x : x + 100;
  const ByteVec message = message_of({{g2_section1(), g2_section3_latlon({.Ni = 4, .Nj = 3})},
                                      field_sections(gappy, 85000),
                                      field_sections(row_column_values(), 70000),
                                      with_indicator(field_sections(third, 50000), 254)});
  SharedFieldFile file = file_of(message);
  ASSERT_TRUE(file);
  ASSERT_EQ(file->size(), 3u);
  auto reused = file->values(2, DecodeOptions{});
  ASSERT_TRUE(reused) << reused.error();
  expect_same_values(reused->values, third);
  EXPECT_EQ(reused->missing, 3u);

  // The codes API still refuses the message's last field with its text.
  auto scan = scan_messages(message);
  ASSERT_TRUE(scan);
  auto codes = decode_message(message, scan->records[0]);
  ASSERT_FALSE(codes);
  EXPECT_EQ(codes.error(), "bitmap reuse indicator 254 is not implemented yet");
}

TEST(FieldFileMultiField, BitmapReuseWithoutAnEarlierBitmapFailsThatFieldAlone) {
  std::vector<double> gappy = row_column_values();
  gappy[3] = kNaN;
  std::vector<ByteVec> first = field_sections(gappy, 85000);
  first[2] = g2_section6_indicator(254);
  for (const ByteVec& message :
       {message_of({{g2_section1(), g2_section3_latlon({.Ni = 4, .Nj = 3})}, first,
                    field_sections(gappy, 70000)}),
        message_of({{g2_section1(), g2_section3_latlon({.Ni = 4, .Nj = 3})}, first})}) {
    SharedFieldFile file = file_of(message);
    ASSERT_TRUE(file);
    auto refused = file->values(0, DecodeOptions{});
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find("bitmap indicator 254"), std::string::npos) << refused.error();
    EXPECT_EQ(file->key_long(0, "level").value(), 850);
    EXPECT_EQ(file->shape(0).value()->rows, 3u);
    EXPECT_FALSE(file->nearest(0, 60, 0, 1, DecodeOptions{}));
    if (file->size() == 2) {
      auto fine = file->values(1, DecodeOptions{});
      ASSERT_TRUE(fine) << fine.error();
      expect_same_values(fine->values, gappy);
    }
  }
}

TEST(FieldFileMultiField, AMessageCutShortKeepsItsCompleteFields) {
  const std::vector<double> values = row_column_values();
  const ByteVec whole = message_of({{g2_section1(), g2_section3_latlon({.Ni = 4, .Nj = 3})},
                                    field_sections(values, 85000),
                                    field_sections(reversed(values), 50000)});
  const ByteVec before = minimal_grib1();
  // Cut inside the second field's section 7.
  ByteVec cut = concat({before, whole});
  cut.resize(cut.size() - 12);
  SharedFieldFile file = file_of(cut);
  ASSERT_TRUE(file);
  ASSERT_EQ(file->size(), 3u);
  EXPECT_EQ(file->position(1).message_number, 2u);
  EXPECT_EQ(file->position(2).fields_in_message, 2u);
  EXPECT_EQ(file->position(2).message_length, whole.size() - 12);
  expect_same_values(file->values(1, DecodeOptions{}).value().values, values);
  auto broken = file->values(2, DecodeOptions{});
  ASSERT_FALSE(broken);
  EXPECT_NE(broken.error().find("cut short"), std::string::npos) << broken.error();
  EXPECT_EQ(file->key_long(2, "level").value(), 500);
  EXPECT_EQ(file->key_long(1, "level").value(), 850);

  // The cut message alone, and cut so that only its end marker is missing.
  ByteVec alone(whole.begin(), whole.end() - 12);
  ASSERT_TRUE(file_of(alone));
  EXPECT_EQ(file_of(alone)->size(), 2u);
  ByteVec marker_cut(whole.begin(), whole.end() - 2);
  SharedFieldFile both = file_of(marker_cut);
  ASSERT_TRUE(both);
  ASSERT_EQ(both->size(), 2u);
  expect_same_values(both->values(1, DecodeOptions{}).value().values, reversed(values));

  // Cut inside its first field: nothing to read.
  const ByteVec head(whole.begin(), whole.begin() + 60);
  auto none = FieldFile::from_bytes(ByteBlock::copy_of(head));
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error(), "no GRIB messages found");
}

// ------------------------------------------------------- inputs of every kind

// The message-level fuzz corpora (fuzz/corpus) and kept inputs, and the real files when
// present, through everything the field API does with them.
std::vector<fs::path> field_inputs() {
  std::vector<fs::path> out;
  const fs::path root = fs::path(VORLAK_SOURCE_ROOT);
  std::vector<fs::path> folders;
  for (const char* kind : {"corpus", "regressions"}) {
    for (const char* target : {"field_file_fuzz", "scan_messages_fuzz", "handle_keys_fuzz"}) {
      folders.push_back(root / "fuzz" / kind / target);
    }
  }
  folders.push_back(root.parent_path() / "shared" / "testdata");
  for (const fs::path& folder : folders) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) continue;
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (entry.is_regular_file() && entry.path().extension() != ".md") out.push_back(entry.path());
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

class FieldFileInputs : public ::testing::TestWithParam<fs::path> {};

TEST_P(FieldFileInputs, EveryFieldKeepsItsPromises) {
  std::ifstream in(GetParam(), std::ios::binary);
  const ByteVec bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(exercise_field_file(bytes), "");
}

INSTANTIATE_TEST_SUITE_P(Kept, FieldFileInputs, ::testing::ValuesIn(field_inputs()),
                         [](const ::testing::TestParamInfo<fs::path>& info) {
                           std::string name = info.param.parent_path().filename().string() + "_" +
                                              info.param.filename().string();
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace vorlak
