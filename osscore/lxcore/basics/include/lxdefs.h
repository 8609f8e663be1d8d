// Definitions shared by every public header of the basics library.
//
// The library is the shared object lx95Cbs71.so, built with hidden visibility:
// only what carries LX_API (classes and C++ functions) or LX_C_API (functions
// exported under their plain C names) is visible to its users.
//
// Widths follow the library's original 32-bit design: every 32-bit quantity is
// int32_t/uint32_t; fields that hold addresses are native pointers. Errors are
// returned as signed 32-bit result codes (0 success, negative error, positive
// warning or information) and never thrown.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__)
#define LX_API __attribute__((visibility("default")))
#else
#define LX_API
#endif

#ifdef __cplusplus
#define LX_C_API extern "C" LX_API
#else
#define LX_C_API LX_API
#endif

// A transaction context of another module of the runtime. The library stores,
// copies and passes it on, and never looks inside.
class LxTransactionContext;
