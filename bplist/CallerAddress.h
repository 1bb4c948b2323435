// The code address a function was called from, for the unhandled-error
// report. The function using it must not be inlined, or the address would be
// its caller's caller.
#pragma once

#include <cstdint>

#if defined(_MSC_VER)
#include <intrin.h>
#define TARNWICK_NOINLINE __declspec(noinline)
#define TARNWICK_CALLER_ADDRESS() reinterpret_cast<uintptr_t>(_ReturnAddress())
#else
#define TARNWICK_NOINLINE __attribute__((noinline))
#define TARNWICK_CALLER_ADDRESS() reinterpret_cast<uintptr_t>(__builtin_return_address(0))
#endif
