// Fenced heap blocks: a header before each block and a fence after it, so that a write past the
// block's end or a second release is seen when the block is released, or at the end. The DLL that
// the end-to-end tests load into tovik.exe, and the Win32 tests into their own program, fences
// the C library's heap with them and defines fence::Report, which must not return.
#pragma once
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace fence {

constexpr size_t kFence = 16;
constexpr unsigned char kFenceByte = 0xFD;
constexpr size_t kLive = 0x4C495645, kFreed = 0x46524545;
constexpr size_t kQuarantine = 256;  // released blocks kept a while, so a second release is seen
constexpr int kCallers = 3;

// Eight words: blocks keep the alignment the C library gives them.
struct Header {
  size_t size;
  void* callers[kCallers];  // where the block was taken, as far as the owner can tell
  size_t magic;
  Header *prev, *next;  // the live blocks
  size_t unused;
};

[[noreturn]] void Report(const char* what, const Header& block);

inline SRWLOCK lock = SRWLOCK_INIT;
inline Header live = {0, {}, 0, &live, &live, 0};  // the ring's anchor
inline Header* quarantine[kQuarantine];
inline size_t nextOut = 0;

inline void Check(const Header& block) {
  const auto* fence = reinterpret_cast<const unsigned char*>(&block + 1) + block.size;
  for (size_t i = 0; i < kFence; ++i) {
    if (fence[i] != kFenceByte) Report("written past its end", block);
  }
}

inline void CheckLive() {
  for (const Header* h = live.next; h != &live; h = h->next) Check(*h);
}

// A fenced block of `size` bytes, or null when the heap has no room.
inline void* Take(size_t size, void* const (&callers)[kCallers]) {
  if (size > ~size_t{0} - sizeof(Header) - kFence) return nullptr;
  auto* header = static_cast<Header*>(std::malloc(sizeof(Header) + size + kFence));
  if (!header) return nullptr;
  header->size = size;
  header->magic = kLive;
  std::memcpy(header->callers, callers, sizeof callers);
  std::memset(reinterpret_cast<unsigned char*>(header + 1) + size, kFenceByte, kFence);
  AcquireSRWLockExclusive(&lock);
  header->prev = &live;
  header->next = live.next;
  live.next->prev = header;
  live.next = header;
  ReleaseSRWLockExclusive(&lock);
  return header + 1;
}

// The block's header when the block is fenced and live, else null; a second release is reported.
inline Header* HeaderOf(void* block) {
  Header* header = static_cast<Header*>(block) - 1;
  if (header->magic == kFreed) Report("released twice", *header);
  return header->magic == kLive ? header : nullptr;
}

inline void Give(Header* header) {
  Check(*header);
  AcquireSRWLockExclusive(&lock);
  header->prev->next = header->next;
  header->next->prev = header->prev;
  header->magic = kFreed;
  std::free(quarantine[nextOut]);
  quarantine[nextOut] = header;
  nextOut = (nextOut + 1) % kQuarantine;
  ReleaseSRWLockExclusive(&lock);
}

}  // namespace fence
