// Every block the Win32 test program allocates with new, fenced: a write past its end or a second
// delete ends the run at once, naming the test and the code that allocated the block. Neither
// Wine's heap nor a fault that leaves the bytes readable shows such a write; this shows it alike
// under Wine and on Windows.
#include <cstdio>
#include <gtest/gtest.h>
#include <new>

#include "tests/tools/fenced_blocks.h"
#ifdef _MSC_VER
#include <intrin.h>
#define TOVIK_CALLER _ReturnAddress()
#else
#define TOVIK_CALLER __builtin_return_address(0)
#endif

[[noreturn]] void fence::Report(const char* what, const Header& block) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::fprintf(stderr,
               "heap error in %s.%s: %s, a block of %zu bytes allocated by the code at %p\n",
               test ? test->test_suite_name() : "(no test)", test ? test->name() : "", what,
               block.size, block.callers[0]);
  std::fflush(stderr);
  std::_Exit(3);
}

namespace {

void* Allocate(size_t size, void* caller) {
  void* const callers[fence::kCallers] = {caller};
  return fence::Take(size, callers);
}

void* AllocateOrThrow(size_t size, void* caller) {
  if (void* block = Allocate(size, caller)) return block;
  throw std::bad_alloc();
}

void Release(void* block) {
  if (!block) return;
  fence::Header* header = fence::HeaderOf(block);
  if (!header) {
    fence::Report("deleted, but its header is overwritten", static_cast<fence::Header*>(block)[-1]);
  }
  fence::Give(header);
}

}  // namespace

void* operator new(size_t size) { return AllocateOrThrow(size, TOVIK_CALLER); }
void* operator new[](size_t size) { return AllocateOrThrow(size, TOVIK_CALLER); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size, TOVIK_CALLER);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size, TOVIK_CALLER);
}
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
void operator delete[](void* block, size_t) noexcept { Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Release(block); }
