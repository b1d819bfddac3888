// The once-only values memo: one decode per cell whatever the number of
// requests, handles sharing it or threads asking at once; errors kept.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/handle_record.hpp"
#include "support/synthetic_handle.hpp"

namespace vorlak {
namespace {

using test::decoded_field;

TEST(ValuesMemo, DecodesOnceAndKeepsTheResult) {
  ValuesMemo memo;
  int calls = 0;
  auto decode = [&] {
    ++calls;
    return Result<DecodedMessage>(decoded_field({1, 2, 3, 4}, 2, 2));
  };
  EXPECT_FALSE(memo.filled());
  const auto& first = memo.get_with(decode);
  const auto& second = memo.get_with(decode);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(memo.filled());
  EXPECT_EQ(&first, &second);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->field.values().size(), 4u);
}

TEST(ValuesMemo, KeepsTheErrorWithoutRetrying) {
  ValuesMemo memo;
  int calls = 0;
  auto decode = [&] {
    ++calls;
    return Result<DecodedMessage>(fail("unsupported data representation template 5.41"));
  };
  for (int i = 0; i < 3; ++i) {
    const auto& result = memo.get_with(decode);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), "unsupported data representation template 5.41");
  }
  EXPECT_EQ(calls, 1);
}

TEST(ValuesMemo, ThrowingDecodeLeavesTheCellEmpty) {
  ValuesMemo memo;
  EXPECT_THROW(memo.get_with([]() -> Result<DecodedMessage> { throw std::bad_alloc(); }), std::bad_alloc);
  EXPECT_FALSE(memo.filled());
  const auto& result = memo.get_with([] { return Result<DecodedMessage>(decoded_field({5}, 1, 1)); });
  ASSERT_TRUE(result);
  EXPECT_EQ(result->field.values()[0], 5.0);
}

TEST(ValuesMemo, ConcurrentFirstRequestsWaitForOneDecode) {
  ValuesMemo memo;
  std::atomic<int> calls{0};
  std::vector<std::thread> threads;
  std::vector<const Result<DecodedMessage>*> seen(8);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      seen[t] = &memo.get_with([&] {
        ++calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return Result<DecodedMessage>(decoded_field({1, 2}, 2, 1));
      });
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(calls.load(), 1);
  for (const auto* result : seen) EXPECT_EQ(result, seen[0]);
}

TEST(HandleRecordMemo, CopiesShareOneDecode) {
  HandleRecord original = test::handle_from_bytes(test::minimal_grib2());
  ASSERT_TRUE(original.memo);
  EXPECT_TRUE(original.grid_size_known);
  EXPECT_EQ(original.grid_size, 12u);
  EXPECT_EQ(original.record.messageNumber, 1u);
  HandleRecord clone = original;
  auto through_clone = clone.decoded();
  ASSERT_TRUE(through_clone) << through_clone.error().message();
  EXPECT_TRUE(original.memo->filled());
  auto through_original = original.decoded();
  ASSERT_TRUE(through_original);
  EXPECT_EQ(*through_original, *through_clone);
  EXPECT_EQ((*through_original)->field.values().size(), 12u);
}

TEST(HandleRecordMemo, MissingBytesAreStoredAsTheError) {
  const auto bytes = test::minimal_grib2();
  auto block = ByteBlock::copy_of(bytes);
  auto scan = scan_messages(block->span());
  ASSERT_TRUE(scan);
  HandleRecord handle = HandleRecord::make(scan->records[0], BytesSource{});
  auto first = handle.decoded();
  ASSERT_FALSE(first);
  EXPECT_EQ(first.error().kind, CodesError::Kind::Internal);
  EXPECT_TRUE(handle.memo->filled());
  auto again = handle.decoded();
  ASSERT_FALSE(again);
  EXPECT_EQ(again.error().text, first.error().text);
}

}  // namespace
}  // namespace vorlak
