#include "base/allocator/allocator_dispatch.h"

#include <malloc.h>

#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

namespace base {
namespace allocator {
namespace {

class AllocatorDispatchTest : public testing::Test {
 protected:
  void* Alloc(size_t size) { return head_->alloc_function(head_, size, nullptr); }
  void* Calloc(size_t count, size_t size) {
    return head_->alloc_zero_initialized_function(head_, count, size, nullptr);
  }
  void* Realloc(void* address, size_t size) {
    return head_->realloc_function(head_, address, size, nullptr);
  }
  void Free(void* address) { head_->free_function(head_, address, nullptr); }
  size_t SizeEstimate(void* address) {
    return head_->get_size_estimate_function(head_, address, nullptr);
  }
  static bool OnPrivateHeap(void* block) {
    return HeapValidate(GetAllocatorHeap(), 0, block) != FALSE;
  }

  const AllocatorDispatch* head_ = GetHeadDispatch();
};

TEST_F(AllocatorDispatchTest, BlocksComeFromOnePrivateHeap) {
  EXPECT_EQ(nullptr, head_->next);
  ASSERT_TRUE(GetAllocatorHeap());
  EXPECT_NE(GetProcessHeap(), GetAllocatorHeap());
  EXPECT_NE(reinterpret_cast<HANDLE>(_get_heap_handle()), GetAllocatorHeap());
  EXPECT_TRUE(InitializeAllocatorHeap());  // a second call keeps the heap

  void* block = Alloc(100);
  void* zeroed = Calloc(10, 10);
  ASSERT_TRUE(block && zeroed);
  EXPECT_TRUE(OnPrivateHeap(block));
  EXPECT_TRUE(OnPrivateHeap(zeroed));
  EXPECT_FALSE(HeapValidate(GetProcessHeap(), 0, block));
  Free(block);
  Free(zeroed);
  Free(nullptr);
  EXPECT_TRUE(HeapValidate(GetAllocatorHeap(), 0, nullptr));  // the whole heap is sound
}

TEST_F(AllocatorDispatchTest, SizeLimitAndZeroedAllocationProduct) {
  EXPECT_EQ(0x7FFFEFFFu, kMaxAllocationSize);
  const size_t refused[] = {kMaxAllocationSize, kMaxAllocationSize + 1, SIZE_MAX};
  for (size_t size : refused) {
    SCOPED_TRACE(size);
    EXPECT_EQ(nullptr, Alloc(size));
    EXPECT_EQ(nullptr, Calloc(1, size));
    EXPECT_EQ(nullptr, Calloc(size, 1));
    EXPECT_EQ(nullptr, Realloc(nullptr, size));
  }
  const struct {
    size_t count;
    size_t size;
  } refused_products[] = {
      {SIZE_MAX, 2},                        // wraps to a small number
      {size_t{1} << 32, size_t{1} << 32},   // wraps to 0
      {(size_t{1} << 63) + 1, 2},           // wraps to 2
      {0x10000, 0x8000},                    // no overflow, but past the limit
  };
  for (const auto& c : refused_products)
    EXPECT_EQ(nullptr, Calloc(c.count, c.size)) << c.count << " * " << c.size;
  // One byte below the limit is really asked of the heap.
  void* largest = Alloc(kMaxAllocationSize - 1);
  ASSERT_TRUE(largest);
  EXPECT_TRUE(OnPrivateHeap(largest));
  Free(largest);

  unsigned char* zeroed = static_cast<unsigned char*>(Calloc(64, 16));
  ASSERT_TRUE(zeroed);
  for (size_t i = 0; i < 1024; ++i) ASSERT_EQ(0, zeroed[i]) << i;
  Free(zeroed);
}

TEST_F(AllocatorDispatchTest, Reallocate) {
  char* block = static_cast<char*>(Realloc(nullptr, 8));
  ASSERT_TRUE(block);
  EXPECT_TRUE(OnPrivateHeap(block));
  memcpy(block, "content", 8);

  block = static_cast<char*>(Realloc(block, 100000));
  ASSERT_TRUE(block);
  EXPECT_STREQ("content", block);
  EXPECT_TRUE(OnPrivateHeap(block));

  EXPECT_EQ(nullptr, Realloc(block, kMaxAllocationSize));
  EXPECT_TRUE(OnPrivateHeap(block));
  EXPECT_STREQ("content", block);

  // Size 0 frees: the block is no longer a live block of the heap.
  EXPECT_EQ(nullptr, Realloc(block, 0));
  EXPECT_FALSE(OnPrivateHeap(block));
  EXPECT_TRUE(HeapValidate(GetAllocatorHeap(), 0, nullptr));
}

TEST_F(AllocatorDispatchTest, SizeEstimateIncludesTheHeaderInWholeGranules) {
  EXPECT_EQ(0u, SizeEstimate(nullptr));
  for (size_t size : {1, 7, 8, 9, 100, 4096}) {
    SCOPED_TRACE(size);
    void* block = Alloc(size);
    ASSERT_TRUE(block);
    const size_t heap_size = HeapSize(GetAllocatorHeap(), 0, block);
    const size_t estimate = SizeEstimate(block);
    EXPECT_EQ(0u, estimate % 8);
    EXPECT_GE(estimate, heap_size + 8);
    EXPECT_LT(estimate, heap_size + 16);
    Free(block);
  }
}

}  // namespace
}  // namespace allocator
}  // namespace base
