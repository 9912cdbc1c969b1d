// The end of the process on an unhandled C++ failure, without the library's verbose handler.
#include <cstdlib>

#if defined(__GLIBCXX__)  // GNU's library only: other libraries have no such handler
namespace __gnu_cxx {

// A GUI program has no console for the library's handler to print to; its name demangler and
// the formatting behind it would be a quarter of the exe. Ending at once is what it did anyway.
void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
#endif
