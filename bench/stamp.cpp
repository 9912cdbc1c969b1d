// Launch target for the latency figure: writes the performance counter at its start to a file.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  if (argc < 2) return 2;
  FILE* out = std::fopen(argv[1], "w");
  if (!out) return 3;
  std::fprintf(out, "%lld\n", static_cast<long long>(now.QuadPart));
  std::fclose(out);
  return 0;
}
