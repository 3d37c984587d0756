#include "base/allocator/allocator_shim.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/allocator/allocator_dispatch.h"
#include "base/test/test_helper_process.h"

namespace base {
namespace allocator {
namespace {

bool OnPrivateHeap(const void* block) {
  return HeapValidate(GetAllocatorHeap(), 0, block) != FALSE;
}

// Allocated while the module's static constructors run.
const std::string* const g_static_string = new std::string(100, 'x');

TEST(AllocatorShimTest, ObjectsLiveOnThePrivateHeap) {
  EXPECT_TRUE(OnPrivateHeap(g_static_string));
  EXPECT_TRUE(OnPrivateHeap(g_static_string->data()));

  std::unique_ptr<int> single(new int(7));
  std::unique_ptr<int[]> array(new int[1000]);
  std::unique_ptr<int> nothrow(new (std::nothrow) int(8));
  std::vector<std::wstring> strings(3, std::wstring(500, L'w'));
  EXPECT_TRUE(OnPrivateHeap(single.get()));
  EXPECT_TRUE(OnPrivateHeap(array.get()));
  EXPECT_TRUE(OnPrivateHeap(nothrow.get()));
  EXPECT_TRUE(OnPrivateHeap(strings.data()));
  EXPECT_TRUE(OnPrivateHeap(strings[2].data()));
  EXPECT_FALSE(HeapValidate(GetProcessHeap(), 0, single.get()));

  void* raw = Malloc(8);
  EXPECT_TRUE(OnPrivateHeap(raw));
  Free(raw);
}

TEST(AllocatorShimTest, RefusedObjectAllocationIsTheStandardFailure) {
  EXPECT_THROW(static_cast<void>(::operator new(kMaxAllocationSize)), std::bad_alloc);
  EXPECT_THROW(static_cast<void>(::operator new[](kMaxAllocationSize)), std::bad_alloc);
  EXPECT_EQ(nullptr, ::operator new(kMaxAllocationSize, std::nothrow));
}

std::vector<HANDLE> ProcessHeaps() {
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
  heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
  return heaps;
}

bool Contains(const std::vector<HANDLE>& heaps, HANDLE heap) {
  return std::find(heaps.begin(), heaps.end(), heap) != heaps.end();
}

// The installer library links the allocator too: loading it creates its own private heap
// before its constructors run, and unloading it destroys that heap.
TEST(AllocatorShimTest, InstallerLibraryHasItsOwnHeapForItsLifetime) {
  const std::vector<HANDLE> before = ProcessHeaps();
  HMODULE library = LoadLibraryW(TestExeSibling(L"velum_installer.dll").c_str());
  ASSERT_TRUE(library) << GetLastError();
  std::vector<HANDLE> created;
  for (HANDLE heap : ProcessHeaps()) {
    if (!Contains(before, heap)) created.push_back(heap);
  }
  ASSERT_FALSE(created.empty());
  ASSERT_TRUE(FreeLibrary(library));
  const std::vector<HANDLE> after = ProcessHeaps();
  EXPECT_TRUE(std::any_of(created.begin(), created.end(),
                          [&after](HANDLE heap) { return !Contains(after, heap); }));
}

// Destroying the heap ends the process's blocks; what runs later (static destructors,
// late frees) must not touch the dead heap.
TEST(AllocatorShimTest, UseAfterTheHeapIsDestroyedDoesNotCrash) {
  EXPECT_EQ(0, RunTestHelper(L"allocator_shutdown_test_helper.exe", L""));
}

// The exit handler of an executable keeps the heap: other threads may still be using it.
TEST(AllocatorShimTest, ExecutableKeepsItsHeapAtExit) {
  const std::wstring* live = new std::wstring(100, L'l');
  const HANDLE heap = GetAllocatorHeap();
  ReleaseAllocatorHeapAtShutdown();
  EXPECT_EQ(heap, GetAllocatorHeap());
  EXPECT_TRUE(OnPrivateHeap(live));
  EXPECT_EQ(L'l', (*live)[99]);
  delete live;
}

}  // namespace
}  // namespace allocator
}  // namespace base
