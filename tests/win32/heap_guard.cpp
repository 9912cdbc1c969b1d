// Every block the Win32 test program allocates with new, fenced: a write past its end or a second
// delete ends the run at once, naming the test and the code that allocated the block. Neither
// Wine's heap nor a fault that leaves the bytes readable shows such a write; this shows it alike
// under Wine and on Windows.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <new>
#ifdef _MSC_VER
#include <intrin.h>
#define TOVIK_CALLER _ReturnAddress()
#else
#define TOVIK_CALLER __builtin_return_address(0)
#endif

namespace {

constexpr size_t kFence = 16;
constexpr unsigned char kFenceByte = 0xFD;
constexpr size_t kLive = 0x4C495645, kDeleted = 0x44454144;
constexpr size_t kQuarantine = 256;  // deleted blocks kept a while, so a second delete is seen

// Four words: blocks keep the alignment the allocator below gives them.
struct Header {
  size_t size;
  void* caller;
  size_t magic, unused;
};

Header* quarantine[kQuarantine];
size_t nextOut = 0;

[[noreturn]] void Report(const char* what, const Header* header) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::fprintf(stderr,
               "heap error in %s.%s: %s, a block of %zu bytes allocated by the code at %p\n",
               test ? test->test_suite_name() : "(no test)", test ? test->name() : "", what,
               header->size, header->caller);
  std::fflush(stderr);
  std::_Exit(3);
}

void* Allocate(size_t size, void* caller) {
  auto* header = static_cast<Header*>(std::malloc(sizeof(Header) + size + kFence));
  if (!header) return nullptr;
  *header = {size, caller, kLive, 0};
  std::memset(reinterpret_cast<unsigned char*>(header + 1) + size, kFenceByte, kFence);
  return header + 1;
}

void Release(void* block) {
  if (!block) return;
  Header* header = static_cast<Header*>(block) - 1;
  if (header->magic == kDeleted) Report("deleted twice", header);
  if (header->magic != kLive) Report("deleted, but its header is overwritten", header);
  const unsigned char* fence = static_cast<unsigned char*>(block) + header->size;
  for (size_t i = 0; i < kFence; ++i) {
    if (fence[i] != kFenceByte) Report("written past its end", header);
  }
  header->magic = kDeleted;
  std::free(quarantine[nextOut]);
  quarantine[nextOut] = header;
  nextOut = (nextOut + 1) % kQuarantine;
}

}  // namespace

// The library's array, sized and nothrow forms all come here.
void* operator new(size_t size) {
  if (void* block = Allocate(size, TOVIK_CALLER)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
