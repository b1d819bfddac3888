#include "core/file_read.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/utf8_text.hpp"
#include "grib/text.hpp"

namespace vorlak {
namespace {

constexpr const char* kNulInPath = "file name contained an unexpected NUL byte";

bool has_nul(const std::string& path) { return path.find('\0') != std::string::npos; }

// Closes the descriptor on every path out.
struct FileDescriptor {
  int fd = -1;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// Reads up to `size` bytes, retrying interrupted reads. Returns the count
// read (short only at end of file) or -1 with errno set.
ssize_t read_fully(int fd, std::uint8_t* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, out + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

// The rare path for a file whose length differs from its metadata (it grew
// or shrank while being read, or is not a regular file): read on in growing
// chunks, then copy once into a block of the exact size.
Result<SharedBytes> read_rest_growing(int fd, std::unique_ptr<std::uint8_t[]> head, std::size_t have,
                                      std::size_t capacity, const std::string& path, int* error_number) {
  for (;;) {
    if (have == capacity) {
      const std::size_t grown = capacity < 65536 ? 65536 : capacity * 2;
      auto bigger = std::unique_ptr<std::uint8_t[]>(new std::uint8_t[grown]);
      if (have) std::memcpy(bigger.get(), head.get(), have);
      head = std::move(bigger);
      capacity = grown;
    }
    const ssize_t n = read_fully(fd, head.get() + have, capacity - have);
    if (n < 0) {
      const int number = errno;
      if (error_number) *error_number = number;
      return fail(str_cat("failed to read '", utf8_lossy(path), "': ", os_error_text(number)));
    }
    have += static_cast<std::size_t>(n);
    if (have < capacity) break;  // end of file reached
  }
  return ByteBlock::copy_of({head.get(), have});
}

}  // namespace

std::string os_error_text(int error_number) {
  char buffer[256];
  // The GNU strerror_r returns a pointer to the text (possibly static).
  const char* text = ::strerror_r(error_number, buffer, sizeof buffer);
  return str_cat(text, " (os error ", error_number, ")");
}

Result<FileStamp> stat_file(const std::string& path) {
  if (has_nul(path)) return fail(str_cat("failed to stat '", utf8_lossy(path), "': ", kNulInPath));
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return fail(str_cat("failed to stat '", utf8_lossy(path), "': ", os_error_text(errno)));
  }
  FileStamp stamp;
  stamp.length = static_cast<std::uint64_t>(info.st_size);
  const auto seconds = info.st_mtim.tv_sec;
  const auto nanoseconds = info.st_mtim.tv_nsec;
  // Times before 1970 and malformed nanosecond parts leave the time absent.
  if (seconds >= 0 && nanoseconds >= 0 && nanoseconds < 1'000'000'000) {
    stamp.modified = static_cast<unsigned __int128>(seconds) * 1'000'000'000u +
                     static_cast<unsigned __int128>(nanoseconds);
  }
  return stamp;
}

std::string canonical_or_given(const std::string& path) {
  if (has_nul(path)) return path;
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) return path;
  return std::string(resolved.get());
}

std::string path_component_key(const std::string& path) {
  std::string out;
  const bool absolute = !path.empty() && path[0] == '/';
  if (absolute) out.push_back('/');
  bool first = true;
  std::size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && path[i] == '/') ++i;
    const std::size_t start = i;
    while (i < path.size() && path[i] != '/') ++i;
    if (i == start) break;
    const std::string_view part(path.data() + start, i - start);
    // "." is kept only as the first component of a relative path.
    if (part == "." && !(first && !absolute)) continue;
    if (!first) out.push_back('/');
    out.append(part);
    first = false;
  }
  return out;
}

Result<SharedBytes> read_whole_file(const std::string& path, int* error_number) {
  const auto read_error = [&] {
    const int number = errno;
    if (error_number) *error_number = number;
    return fail(str_cat("failed to read '", utf8_lossy(path), "': ", os_error_text(number)));
  };
  if (has_nul(path)) {
    if (error_number) *error_number = EINVAL;
    return fail(str_cat("failed to read '", utf8_lossy(path), "': ", kNulInPath));
  }
  FileDescriptor file;
  do {
    file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (file.fd < 0 && errno == EINTR);
  if (file.fd < 0) return read_error();

  struct stat info {};
  if (::fstat(file.fd, &info) != 0) return read_error();
  const std::size_t expected = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0;

  // The usual case: the metadata length is right, and the bytes land in
  // their final block without zero-filling or copying.
  auto block = std::make_shared<ByteBlock>(expected);
  const ssize_t n = read_fully(file.fd, block->data(), expected);
  if (n < 0) return read_error();
  const auto got = static_cast<std::size_t>(n);
  if (got == expected) {
    std::uint8_t probe[4096];
    const ssize_t more = read_fully(file.fd, probe, sizeof probe);
    if (more < 0) return read_error();
    if (more == 0) return SharedBytes(std::move(block));
    // The file is longer than its metadata said.
    auto head = std::unique_ptr<std::uint8_t[]>(new std::uint8_t[expected + sizeof probe]);
    if (expected) std::memcpy(head.get(), block->data(), expected);
    std::memcpy(head.get() + expected, probe, static_cast<std::size_t>(more));
    const std::size_t have = expected + static_cast<std::size_t>(more);
    if (have < expected + sizeof probe) return ByteBlock::copy_of({head.get(), have});
    block.reset();
    return read_rest_growing(file.fd, std::move(head), have, expected + sizeof probe, path, error_number);
  }
  // Shorter than its metadata said: keep exactly what was read.
  return ByteBlock::copy_of({block->data(), got});
}

}  // namespace vorlak
