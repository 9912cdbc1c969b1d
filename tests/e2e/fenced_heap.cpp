// A DLL that fences every block the program it is loaded into takes from the C library's heap:
// a write past a block's end or a second free ends the program with the heap's corruption
// status, after a line naming the block and the code that took it is appended to the file
// TOVIK_HEAP_REPORT names. Live blocks are checked at the end too. Neither Wine's heap nor a
// fault that leaves the bytes readable shows such a write; this shows it alike everywhere.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kFence = 16;
constexpr unsigned char kFenceByte = 0xFD;
constexpr size_t kLive = 0x4C495645, kFreed = 0x46524545;
constexpr size_t kQuarantine = 256;  // freed blocks kept a while, so a second free is seen
constexpr DWORD kHeapCorruption = 0xC0000374;
constexpr int kCallers = 3;
constexpr int kStackWords = 64;  // how far up the stack the program's return addresses are sought

// Eight words: blocks keep the alignment the C library gives them.
struct Header {
  size_t size;
  void* callers[kCallers];
  size_t magic;
  Header *prev, *next;  // the live blocks, checked at the end
  size_t unused;
};

using Malloc = void*(__cdecl*)(size_t);
using Realloc = void*(__cdecl*)(void*, size_t);
using Free = void(__cdecl*)(void*);

struct Heap {
  Malloc malloc;
  Realloc realloc;
  Free free;
  CRITICAL_SECTION lock;
  Header live;  // the ring's anchor
  Header* quarantine[kQuarantine];
  size_t nextOut;
  HMODULE program;
  UINT_PTR codeStart, codeEnd;  // the program's code
} heap;

// "tovik.exe+0x1234" for an address inside the program, else the address.
void Place(void* address, char* out, size_t size) {
  const auto at = reinterpret_cast<UINT_PTR>(address),
             base = reinterpret_cast<UINT_PTR>(heap.program);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  if (at >= base && at - base < nt->OptionalHeader.SizeOfImage) {
    std::snprintf(out, size, "+0x%lx", static_cast<unsigned long>(at - base));
  } else {
    std::snprintf(out, size, " %p", address);
  }
}

[[noreturn]] void Report(const char* what, const Header* header) {
  char line[512], places[kCallers][40] = {};
  for (int i = 0; i < kCallers; ++i) Place(header->callers[i], places[i], sizeof places[i]);
  char name[MAX_PATH] = "?";
  GetModuleFileNameA(heap.program, name, MAX_PATH);
  const char* file = std::strrchr(name, '\\') ? std::strrchr(name, '\\') + 1 : name;
  const int length = std::snprintf(
      line, sizeof line,
      "heap error in %s: %s, a block of %lu bytes; return addresses on the stack when it was "
      "taken: %s%s, %s%s, %s%s\r\n",
      file, what, static_cast<unsigned long>(header->size), file, places[0], file, places[1], file,
      places[2]);
  char report[MAX_PATH];
  if (GetEnvironmentVariableA("TOVIK_HEAP_REPORT", report, MAX_PATH) - 1 < MAX_PATH - 1) {
    const HANDLE out = CreateFileA(report, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(out, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(out);
  }
  OutputDebugStringA(line);
  TerminateProcess(GetCurrentProcess(), kHeapCorruption);
  for (;;) Sleep(INFINITE);
}

void Check(const Header* header) {
  const unsigned char* fence = reinterpret_cast<const unsigned char*>(header + 1) + header->size;
  for (size_t i = 0; i < kFence; ++i) {
    if (fence[i] != kFenceByte) Report("written past its end", header);
  }
}

void* Take(size_t size) {
  if (size > ~size_t{0} - sizeof(Header) - kFence) return nullptr;
  auto* header = static_cast<Header*>(heap.malloc(sizeof(Header) + size + kFence));
  if (!header) return nullptr;
  header->size = size;
  header->magic = kLive;
  // The first words up the stack that point into the program's code: return addresses, from the
  // call of malloc outwards. A walk of the frames would name them surely, but costs a
  // thousand times more, too much for a history of thousands of entries.
  auto* word = static_cast<UINT_PTR*>(__builtin_frame_address(0));
  ULONG_PTR low, high;
  GetCurrentThreadStackLimits(&low, &high);
  auto* top = reinterpret_cast<UINT_PTR*>(high);
  int found = 0;
  for (int i = 0; i < kStackWords && word + i < top && found < kCallers; ++i) {
    if (word[i] >= heap.codeStart && word[i] < heap.codeEnd) {
      header->callers[found++] = reinterpret_cast<void*>(word[i]);
    }
  }
  while (found < kCallers) header->callers[found++] = nullptr;
  std::memset(reinterpret_cast<unsigned char*>(header + 1) + size, kFenceByte, kFence);
  EnterCriticalSection(&heap.lock);
  header->prev = &heap.live;
  header->next = heap.live.next;
  heap.live.next->prev = header;
  heap.live.next = header;
  LeaveCriticalSection(&heap.lock);
  return header + 1;
}

// The block's header when the block is fenced, else null (the C library took it itself).
Header* HeaderOf(void* block) {
  Header* header = static_cast<Header*>(block) - 1;
  if (header->magic == kFreed) Report("freed twice", header);
  return header->magic == kLive ? header : nullptr;
}

void Give(Header* header) {
  Check(header);
  EnterCriticalSection(&heap.lock);
  header->prev->next = header->next;
  header->next->prev = header->prev;
  header->magic = kFreed;
  heap.free(heap.quarantine[heap.nextOut]);
  heap.quarantine[heap.nextOut] = header;
  heap.nextOut = (heap.nextOut + 1) % kQuarantine;
  LeaveCriticalSection(&heap.lock);
}

void* __cdecl FencedMalloc(size_t size) { return Take(size); }

void* __cdecl FencedCalloc(size_t count, size_t size) {
  if (size && count > ~size_t{0} / size) return nullptr;
  void* block = Take(count * size);
  if (block) std::memset(block, 0, count * size);
  return block;
}

void __cdecl FencedFree(void* block) {
  if (!block) return;
  if (Header* header = HeaderOf(block)) {
    Give(header);
  } else {
    heap.free(block);
  }
}

void* __cdecl FencedRealloc(void* block, size_t size) {
  if (!block) return Take(size);
  Header* header = HeaderOf(block);
  if (!header) return heap.realloc(block, size);
  if (size == 0) {
    Give(header);
    return nullptr;
  }
  Check(header);
  void* moved = Take(size);
  if (!moved) return nullptr;
  std::memcpy(moved, block, header->size < size ? header->size : size);
  Give(header);
  return moved;
}

// Points the program's imports of the C library's heap functions at the fenced ones; returns
// which of them it found, a bit each.
unsigned Hook() {
  const auto base = reinterpret_cast<BYTE*>(heap.program);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  const struct {
    const char* name;
    void* fenced;
  } hooks[] = {{"malloc", reinterpret_cast<void*>(FencedMalloc)},
               {"calloc", reinterpret_cast<void*>(FencedCalloc)},
               {"realloc", reinterpret_cast<void*>(FencedRealloc)},
               {"free", reinterpret_cast<void*>(FencedFree)}};
  unsigned hooked = 0;
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       imports.VirtualAddress && d->Name; ++d) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), "msvcrt.dll") != 0) continue;
    auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const char* name =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
      for (unsigned i = 0; i < 4; ++i) {
        if (std::strcmp(name, hooks[i].name) != 0) continue;
        DWORD was;
        VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &was);
        slots->u1.Function = reinterpret_cast<UINT_PTR>(hooks[i].fenced);
        VirtualProtect(&slots->u1.Function, sizeof(void*), was, &was);
        hooked |= 1u << i;
      }
    }
  }
  return hooked;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_DETACH) {  // every block still live is checked as the program ends
    for (Header* h = heap.live.next; h != &heap.live; h = h->next) Check(h);
    return TRUE;
  }
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  const HMODULE library = GetModuleHandleA("msvcrt.dll");
  if (!library) return FALSE;
  heap.malloc =
      reinterpret_cast<Malloc>(reinterpret_cast<void*>(GetProcAddress(library, "malloc")));
  heap.realloc =
      reinterpret_cast<Realloc>(reinterpret_cast<void*>(GetProcAddress(library, "realloc")));
  heap.free = reinterpret_cast<Free>(reinterpret_cast<void*>(GetProcAddress(library, "free")));
  InitializeCriticalSection(&heap.lock);
  heap.live.prev = heap.live.next = &heap.live;
  heap.program = GetModuleHandleA(nullptr);
  const auto base = reinterpret_cast<UINT_PTR>(heap.program);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  heap.codeStart = base + nt->OptionalHeader.BaseOfCode;
  heap.codeEnd = heap.codeStart + nt->OptionalHeader.SizeOfCode;
  // Refused where malloc and free are not both the program's own imports: nothing is fenced.
  return heap.malloc && heap.realloc && heap.free && (Hook() & 9) == 9;
}
