// The C++ library's own failures, raised without its message-carrying exception types.
#include <exception>
#include <new>
#include <typeinfo>

#if defined(__GLIBCXX__)
namespace {

// The library raises std::length_error and its kin through these functions, and their types
// carry a string in the library's older layout, whose code is a fifth of the exe. Tovik never
// catches them apart: the failure report shows any of them as a failure without a message. Only
// their message is lost, which the report never showed.
struct LibraryFailure : std::exception {};

}  // namespace

namespace std {

void __throw_logic_error(const char*) { throw LibraryFailure(); }
void __throw_domain_error(const char*) { throw LibraryFailure(); }
void __throw_invalid_argument(const char*) { throw LibraryFailure(); }
void __throw_length_error(const char*) { throw LibraryFailure(); }
void __throw_out_of_range(const char*) { throw LibraryFailure(); }
void __throw_out_of_range_fmt(const char*, ...) { throw LibraryFailure(); }
void __throw_runtime_error(const char*) { throw LibraryFailure(); }
void __throw_range_error(const char*) { throw LibraryFailure(); }
void __throw_overflow_error(const char*) { throw LibraryFailure(); }
void __throw_underflow_error(const char*) { throw LibraryFailure(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_bad_exception() { throw bad_exception(); }

}  // namespace std
#endif
