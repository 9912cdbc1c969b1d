// A DLL that fences every block the program it is loaded into takes from the C library's heap: a
// write past a block's end or a second free ends the program with the heap's corruption status,
// after a line naming the block and the code that took it goes to the error output and is
// appended to the file TOVIK_HEAP_REPORT names. Live blocks are checked as the program ends too.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "tests/tools/fenced_blocks.h"

namespace {

constexpr DWORD kHeapCorruption = 0xC0000374;
constexpr int kStackWords = 64;  // how far up the stack the program's return addresses are sought

HMODULE program;
UINT_PTR codeStart, codeEnd;  // the program's code

const IMAGE_NT_HEADERS& Headers(HMODULE module) {
  const auto base = reinterpret_cast<const BYTE*>(module);
  return *reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
}

// The first words up the stack that point into the program's code: return addresses, from the
// call of malloc outwards. A walk of the frames would name them surely, but costs a thousand
// times more, too much for a history of thousands of entries.
void* Take(size_t size) {
  void* callers[fence::kCallers] = {};
  auto* word = static_cast<UINT_PTR*>(__builtin_frame_address(0));
  ULONG_PTR low, high;
  GetCurrentThreadStackLimits(&low, &high);
  for (int i = 0, found = 0;
       i < kStackWords && found < fence::kCallers && reinterpret_cast<ULONG_PTR>(word + i) < high;
       ++i) {
    if (word[i] >= codeStart && word[i] < codeEnd)
      callers[found++] = reinterpret_cast<void*>(word[i]);
  }
  return fence::Take(size, callers);
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
  if (fence::Header* header = fence::HeaderOf(block)) {
    fence::Give(header);
  } else {
    std::free(block);  // taken by the C library itself
  }
}

void* __cdecl FencedRealloc(void* block, size_t size) {
  if (!block) return Take(size);
  fence::Header* header = fence::HeaderOf(block);
  if (!header) return std::realloc(block, size);
  if (size == 0) {
    fence::Give(header);
    return nullptr;
  }
  void* moved = Take(size);
  if (!moved) return nullptr;  // the old block stays the caller's
  std::memcpy(moved, block, header->size < size ? header->size : size);
  fence::Give(header);
  return moved;
}

// Points the program's imports of the C library's heap functions at the fenced ones; returns
// which of them it found, a bit each.
unsigned Hook() {
  const auto base = reinterpret_cast<BYTE*>(program);
  const IMAGE_DATA_DIRECTORY& imports =
      Headers(program).OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
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

[[noreturn]] void fence::Report(const char* what, const Header& block) {
  char name[MAX_PATH] = "?", places[kCallers][MAX_PATH + 24], line[4 * MAX_PATH + 256];
  GetModuleFileNameA(program, name, MAX_PATH);
  const char* file = std::strrchr(name, '\\') ? std::strrchr(name, '\\') + 1 : name;
  for (int i = 0; i < kCallers; ++i) {  // "tovik.exe+0x1234", or "-" where none was found
    const auto offset =
        reinterpret_cast<UINT_PTR>(block.callers[i]) - reinterpret_cast<UINT_PTR>(program);
    std::snprintf(places[i], sizeof places[i], block.callers[i] ? "%s+0x%lx" : "-", file,
                  static_cast<unsigned long>(offset));
  }
  const int length = std::snprintf(line, sizeof line,
                                   "heap error in %s: %s, a block of %lu bytes; return addresses "
                                   "on the stack when it was taken: %s, %s, %s\r\n",
                                   file, what, static_cast<unsigned long>(block.size), places[0],
                                   places[1], places[2]);
  char report[MAX_PATH];
  DWORD written;
  if (GetEnvironmentVariableA("TOVIK_HEAP_REPORT", report, MAX_PATH) - 1 < MAX_PATH - 1) {
    const HANDLE out = CreateFileA(report, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_ALWAYS, 0, nullptr);
    WriteFile(out, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(out);
  }
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
  OutputDebugStringA(line);
  TerminateProcess(GetCurrentProcess(), kHeapCorruption);
  for (;;) Sleep(INFINITE);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_DETACH) fence::CheckLive();
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  program = GetModuleHandleA(nullptr);
  codeStart = reinterpret_cast<UINT_PTR>(program) + Headers(program).OptionalHeader.BaseOfCode;
  codeEnd = codeStart + Headers(program).OptionalHeader.SizeOfCode;
  // Refused where malloc and free are not both the program's own imports: nothing is fenced.
  return (Hook() & 9) == 9;
}
