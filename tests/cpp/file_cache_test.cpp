// The file cache with a counting scanner: hits, path spellings, rewrites,
// least-recently-used eviction, limits, switching off, and the settings read
// from the environment.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/cache_settings.hpp"
#include "core/file_cache.hpp"
#include "core/file_read.hpp"
#include "core/utf8_text.hpp"

namespace vorlak {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "vorlak-cache-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string file(const std::string& name, const std::string& contents) const {
    const fs::path p = path_ / name;
    std::ofstream(p, std::ios::binary) << contents;
    return p.string();
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Sets a file's modification time to `seconds` since 1970.
void set_mtime(const std::string& path, long seconds) {
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Counts scans (and so reads from disk); fails on bytes starting "bad".
struct CountingScanner {
  int* calls;
  Result<ScanResult> operator()(Bytes bytes) const {
    ++*calls;
    if (bytes.size() >= 3 && bytes[0] == 'b' && bytes[1] == 'a' && bytes[2] == 'd') {
      return fail("no GRIB messages found");
    }
    ScanResult scan;
    scan.records.resize(1);
    scan.records[0].totalLength = bytes.size();
    return scan;
  }
};

class FileCacheTest : public ::testing::Test {
 protected:
  FileCache make_cache(CacheSettings settings = {}) { return FileCache(settings, CountingScanner{&scans}); }
  CacheInfo info(FileCache& cache) { return *cache.info(); }

  TempDir dir;
  int scans = 0;
};

TEST_F(FileCacheTest, SecondLoadOfUnchangedFileIsAHit) {
  auto cache = make_cache();
  const auto path = dir.file("a.grib", "0123456789");
  auto first = cache.load(path);
  auto second = cache.load(path);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(scans, 1);
  EXPECT_EQ(first->get(), second->get());
  EXPECT_EQ(info(cache).entries, 1u);
  EXPECT_EQ(info(cache).total_bytes, 10u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>((*first)->bytes->data()), 10), "0123456789");
  EXPECT_EQ((*first)->stamp.length, 10u);
  EXPECT_TRUE((*first)->stamp.modified.has_value());
}

TEST_F(FileCacheTest, PathSpellingsAndSymlinksShareOneEntry) {
  auto cache = make_cache();
  const auto path = dir.file("data.grib", "abc");
  fs::create_symlink(path, dir.path() / "link.grib");
  const fs::path old_cwd = fs::current_path();
  fs::current_path(dir.path());
  for (const std::string& spelling : std::vector<std::string>{"data.grib", "./data.grib", path, "link.grib", dir.path().string() + "//data.grib",
        dir.path().string() + "/./data.grib", "../" + dir.path().filename().string() + "/data.grib"}) {
    EXPECT_TRUE(cache.load(spelling)) << spelling;
  }
  fs::current_path(old_cwd);
  EXPECT_EQ(scans, 1);
  EXPECT_EQ(info(cache).entries, 1u);
}

TEST_F(FileCacheTest, RewriteIsDetectedBySizeAndByTime) {
  auto cache = make_cache();
  const auto path = dir.file("a.grib", "first");
  set_mtime(path, 1'000'000);
  auto old_file = cache.load(path);
  ASSERT_TRUE(old_file);

  dir.file("a.grib", "second!");  // new length
  set_mtime(path, 1'000'000);
  auto resized = cache.load(path);
  ASSERT_TRUE(resized);
  EXPECT_EQ(scans, 2);
  EXPECT_EQ((*resized)->bytes->size(), 7u);

  dir.file("a.grib", "SECOND!");  // same length, new time
  set_mtime(path, 2'000'000);
  auto retimed = cache.load(path);
  ASSERT_TRUE(retimed);
  EXPECT_EQ(scans, 3);
  EXPECT_EQ((*retimed)->bytes->data()[0], 'S');
  EXPECT_EQ(info(cache).entries, 1u);
  EXPECT_EQ(info(cache).total_bytes, 7u);
  // The old contents live on for whoever holds them.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>((*old_file)->bytes->data()), 5), "first");
}

TEST_F(FileCacheTest, TimeBefore1970IsAbsentButStillCompared) {
  auto cache = make_cache();
  const auto path = dir.file("a.grib", "x");
  set_mtime(path, -100);
  auto file = cache.load(path);
  ASSERT_TRUE(file);
  EXPECT_FALSE((*file)->stamp.modified.has_value());
  ASSERT_TRUE(cache.load(path));
  EXPECT_EQ(scans, 1);
}

TEST_F(FileCacheTest, LeastRecentlyUsedIsEvictedFirst) {
  auto cache = make_cache({true, 2, 1000});
  const auto a = dir.file("a", "a");
  const auto b = dir.file("b", "b");
  const auto c = dir.file("c", "c");
  for (const auto& p : {a, b, a, c}) ASSERT_TRUE(cache.load(p));
  EXPECT_EQ(scans, 3);
  ASSERT_TRUE(cache.load(a));
  ASSERT_TRUE(cache.load(c));
  EXPECT_EQ(scans, 3);  // A and C stayed
  ASSERT_TRUE(cache.load(b));
  EXPECT_EQ(scans, 4);  // B had gone
  EXPECT_EQ(info(cache).entries, 2u);
}

TEST_F(FileCacheTest, ByteLimitEvictsOldestThenTheNewcomer) {
  auto cache = make_cache({true, 10, 10});
  const auto small1 = dir.file("s1", "1234");
  const auto small2 = dir.file("s2", "5678");
  const auto big = dir.file("big", "0123456789ABC");
  ASSERT_TRUE(cache.load(small1));
  ASSERT_TRUE(cache.load(small2));
  EXPECT_EQ(info(cache).total_bytes, 8u);
  auto file = cache.load(big);
  ASSERT_TRUE(file);
  EXPECT_EQ((*file)->bytes->size(), 13u);  // still usable
  EXPECT_EQ(info(cache).entries, 0u);
  EXPECT_EQ(info(cache).total_bytes, 0u);
}

TEST_F(FileCacheTest, SetLimitsRaisesZeroToOneAndEvicts) {
  auto cache = make_cache();
  ASSERT_TRUE(cache.load(dir.file("two", "yy")));
  ASSERT_TRUE(cache.load(dir.file("one", "x")));
  ASSERT_TRUE(cache.set_limits(0, 0));
  const auto after = info(cache);
  EXPECT_EQ(after.max_entries, 1u);
  EXPECT_EQ(after.max_bytes, 1u);
  EXPECT_EQ(after.entries, 1u);  // only the newer, one-byte file fits
  EXPECT_EQ(after.total_bytes, 1u);
}

TEST_F(FileCacheTest, ZeroEntriesFromTheEnvironmentKeepsNothing) {
  auto cache = make_cache({true, 0, kDefaultCacheMaxBytes});
  const auto path = dir.file("a", "abc");
  ASSERT_TRUE(cache.load(path));
  ASSERT_TRUE(cache.load(path));
  EXPECT_EQ(scans, 2);
  EXPECT_EQ(info(cache).entries, 0u);
}

TEST_F(FileCacheTest, SwitchingOffEmptiesAndBypasses) {
  auto cache = make_cache();
  const auto path = dir.file("a", "abc");
  ASSERT_TRUE(cache.load(path));
  ASSERT_TRUE(cache.set_enabled(false));
  EXPECT_EQ(info(cache).entries, 0u);
  EXPECT_FALSE(info(cache).enabled);
  ASSERT_TRUE(cache.load(path));
  ASSERT_TRUE(cache.load(path));
  EXPECT_EQ(scans, 3);
  EXPECT_EQ(info(cache).entries, 0u);
  ASSERT_TRUE(cache.set_enabled(true));
  ASSERT_TRUE(cache.load(path));
  ASSERT_TRUE(cache.load(path));
  EXPECT_EQ(scans, 4);
  EXPECT_EQ(info(cache).entries, 1u);
}

TEST_F(FileCacheTest, OffFromTheStartNeverCaches) {
  auto cache = make_cache({false, 32, kDefaultCacheMaxBytes});
  const auto path = dir.file("a", "abc");
  ASSERT_TRUE(cache.load(path));
  ASSERT_TRUE(cache.load(path));
  EXPECT_EQ(scans, 2);
  EXPECT_EQ(info(cache).entries, 0u);
}

TEST_F(FileCacheTest, ClearKeepsSettings) {
  auto cache = make_cache({true, 5, 500});
  ASSERT_TRUE(cache.clear());  // empty cache: nothing happens
  ASSERT_TRUE(cache.load(dir.file("a", "abc")));
  ASSERT_TRUE(cache.clear());
  const auto after = info(cache);
  EXPECT_EQ(after.entries, 0u);
  EXPECT_EQ(after.total_bytes, 0u);
  EXPECT_EQ(after.max_entries, 5u);
  EXPECT_EQ(after.max_bytes, 500u);
  EXPECT_TRUE(after.enabled);
}

TEST_F(FileCacheTest, FailuresNameThePathAndTheSystemError) {
  auto cache = make_cache();
  const std::string missing = (dir.path() / "missing.grib").string();
  auto result = cache.load(missing);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "failed to stat '" + missing + "': No such file or directory (os error 2)");

  auto nul = cache.load(std::string("a\0b", 3));
  ASSERT_FALSE(nul);
  EXPECT_EQ(nul.error(), std::string("failed to stat 'a\0b': file name contained an unexpected NUL byte", 64));

  auto directory = cache.load(dir.path().string());
  ASSERT_FALSE(directory);
  EXPECT_EQ(directory.error(), "failed to read '" + dir.path().string() + "': Is a directory (os error 21)");

  auto bad = cache.load(dir.file("bad.grib", "bad bytes"));
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error(), "no GRIB messages found");
  EXPECT_EQ(info(cache).entries, 0u);

  auto invalid_utf8 = cache.load((dir.path() / "\xff.grib").string());
  ASSERT_FALSE(invalid_utf8);
  EXPECT_NE(invalid_utf8.error().find("/\xEF\xBF\xBD.grib'"), std::string::npos);
}

TEST(PoisonMutex, UnwindingWhileLockedPoisonsForGood) {
  PoisonMutex mutex;
  ASSERT_TRUE(mutex.lock());
  try {
    auto guard = mutex.lock();
    throw std::bad_alloc();
  } catch (const std::bad_alloc&) {
  }
  EXPECT_FALSE(mutex.lock());
  EXPECT_FALSE(mutex.lock());
}

struct LimitCase {
  const char* raw;
  std::uint64_t value;
};

class CacheLimitParsing : public ::testing::TestWithParam<LimitCase> {};

TEST_P(CacheLimitParsing, FallsBackSilently) {
  EXPECT_EQ(parse_cache_limit(GetParam().raw, 32), GetParam().value) << (GetParam().raw ? GetParam().raw : "unset");
}

INSTANTIATE_TEST_SUITE_P(Cases, CacheLimitParsing,
                         ::testing::Values(LimitCase{nullptr, 32}, LimitCase{"", 32}, LimitCase{"  ", 32},
                                           LimitCase{"10", 10}, LimitCase{"+10", 10}, LimitCase{" 7\t\n", 7},
                                           LimitCase{"\xE2\x80\x83" "12\xC2\xA0", 12}, LimitCase{"0", 0},
                                           LimitCase{"+", 32}, LimitCase{"-", 32}, LimitCase{"-1", 32},
                                           LimitCase{"1e3", 32}, LimitCase{"ten", 32}, LimitCase{"1 0", 32},
                                           LimitCase{"1.0", 32}, LimitCase{"++1", 32},
                                           LimitCase{"18446744073709551615", 18446744073709551615u},
                                           LimitCase{"18446744073709551616", 32},
                                           LimitCase{"99999999999999999999", 32}, LimitCase{"1\xff", 32}));

struct EnabledCase {
  const char* raw;
  bool enabled;
};

class CacheEnabledParsing : public ::testing::TestWithParam<EnabledCase> {};

TEST_P(CacheEnabledParsing, OffOnlyForTheFiveWords) {
  EXPECT_EQ(parse_cache_enabled(GetParam().raw), GetParam().enabled) << (GetParam().raw ? GetParam().raw : "unset");
}

INSTANTIATE_TEST_SUITE_P(Cases, CacheEnabledParsing,
                         ::testing::Values(EnabledCase{nullptr, true}, EnabledCase{"", true},
                                           EnabledCase{"1", true}, EnabledCase{"2", true}, EnabledCase{"on", true},
                                           EnabledCase{"yes", true}, EnabledCase{"0", false},
                                           EnabledCase{"no", false}, EnabledCase{" Off ", false},
                                           EnabledCase{"FALSE", false}, EnabledCase{"DISABLED", false},
                                           EnabledCase{"\xE3\x80\x80off\n", false}, EnabledCase{"o ff", true},
                                           EnabledCase{"off\xff", true}));

TEST(PathComponentKey, IgnoresRepeatedTrailingSeparatorsAndInnerDots) {
  EXPECT_EQ(path_component_key("/a//b/"), "/a/b");
  EXPECT_EQ(path_component_key("/a/./b"), "/a/b");
  EXPECT_EQ(path_component_key("a/b"), "a/b");
  EXPECT_EQ(path_component_key("./a"), "./a");
  EXPECT_EQ(path_component_key("a/../b"), "a/../b");
  EXPECT_EQ(path_component_key("/"), "/");
  EXPECT_EQ(path_component_key("//"), "/");
}

TEST(Utf8Lossy, ReplacesEachMaximalBadSequence) {
  EXPECT_EQ(utf8_lossy("plain"), "plain");
  EXPECT_EQ(utf8_lossy("\xC3\xA9"), "\xC3\xA9");
  EXPECT_EQ(utf8_lossy("a\xffz"), "a\xEF\xBF\xBDz");
  EXPECT_EQ(utf8_lossy("\xE2\x82"), "\xEF\xBF\xBD");          // truncated three-byte sequence
  EXPECT_EQ(utf8_lossy("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
}

}  // namespace
}  // namespace vorlak
