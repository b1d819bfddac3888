#pragma once
// A block of bytes held once and shared by reference counting: a whole file
// read into memory, or the private copy of one message.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

namespace vorlak {

class ByteBlock {
 public:
  // Uninitialised storage: a file's bytes are read straight into it.
  explicit ByteBlock(std::size_t size)
      : data_(size ? new std::uint8_t[size] : nullptr), size_(size) {}

  static std::shared_ptr<const ByteBlock> copy_of(std::span<const std::uint8_t> bytes) {
    auto block = std::make_shared<ByteBlock>(bytes.size());
    if (!bytes.empty()) std::memcpy(block->data(), bytes.data(), bytes.size());
    return block;
  }

  std::uint8_t* data() { return data_.get(); }
  const std::uint8_t* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  std::span<const std::uint8_t> span() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_;
};

using SharedBytes = std::shared_ptr<const ByteBlock>;

}  // namespace vorlak
