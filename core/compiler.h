// What only compilers differ in, in one place: keeping a function out of line, and the address
// the running function will return to.
#pragma once

#if defined(_MSC_VER)
#include <intrin.h>
#define TOVIK_NOINLINE __declspec(noinline)
#define TOVIK_RETURN_ADDRESS() _ReturnAddress()
#else
#define TOVIK_NOINLINE __attribute__((noinline))
#define TOVIK_RETURN_ADDRESS() __builtin_return_address(0)
#endif
