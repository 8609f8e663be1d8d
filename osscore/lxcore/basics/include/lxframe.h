// The runtime frame: the configuration source, assertions with their configurable
// reaction, the fatal-error callback, the module error-text callbacks, login
// message texts, and memory resizing with the process-wide out-of-memory handler.
//
// All state here is process-wide and unlocked: install the configuration, the
// callbacks and the memory handler during start-up, before other threads run.
#pragma once

#include "lxdefs.h"
#include "lxresult.h"

// ---------------------------------------------------------------------------
// Configuration source
// ---------------------------------------------------------------------------

// The configuration object of the module that reads the runtime's configuration
// file. The library only calls the three read operations below. Each stores the
// value through its pointer and returns 0 when the key exists; otherwise it leaves
// the pointed-to value alone and returns non-zero, so callers preset their default.
// A section path is a null-terminated array of section names, outermost first.
class LX_API LxConfig {
 public:
  virtual int ReadInt(const char* key, int32_t* value, const char* const* section) = 0;
  // *value becomes 0 for off, any other value for on.
  virtual int ReadFlag(const char* key, short* value, const char* const* section) = 0;
  // Copies the text into the buffer that *value points at (1,024 bytes in every
  // caller of this library).
  virtual int ReadString(const char* key, char** value, const char* const* section) = 0;
  virtual ~LxConfig();
};

// The all-ones pointer: DefaultConfig(LX_QUERY_CONFIG) asks without changing.
#define LX_QUERY_CONFIG (reinterpret_cast<LxConfig*>(~static_cast<uintptr_t>(0)))

// With LX_QUERY_CONFIG returns the installed object (null when none). With any
// other value, null included, installs that value and returns it. The installer
// owns the object and keeps it alive while it is installed.
LX_API LxConfig* DefaultConfig(LxConfig* config);

// ---------------------------------------------------------------------------
// Assertions and the fatal-error callback
// ---------------------------------------------------------------------------

typedef void (*LxFatalErrorCallback)(const char* expression, const char* file, int line);

// Installs `callback` (null removes it) and returns the previous one.
LX_API LxFatalErrorCallback SetFatalErrorCallback(LxFatalErrorCallback callback);
LX_API LxFatalErrorCallback GetFatalErrorCallback();

// Reports a failed assertion: calls the fatal-error callback, then reacts as the
// configuration's debug/assertMode says (read once, at the first failed assertion):
//   0  glibc's assertion routine (ends the process)      returns 1 if it returns
//   1  nothing further                                   returns 0
//   2, 3  SIGSEGV at once                                does not return
//   4  SIGTRAP                                           returns 0 if handled
//   5  abort()                                           does not return
//   6  message "Orvanta Runtime Debugging" with Abort, Retry and Ignore:
//      Abort aborts, Retry raises SIGTRAP and returns 0, Ignore returns 0
//   other  caption and report text to the debugger output, returns 0
// The report text is cut to 280 bytes when the expression or file name is long.
LX_API int VESK_assert(const char* expression, const char* file, int line);

// ---------------------------------------------------------------------------
// Error texts of other modules
// ---------------------------------------------------------------------------

typedef char* (*LxModuleErrorCallback)(int code);

// The process-wide list through which one other module contributes the texts of
// its range of error codes. The list holds one registration: a second one while
// the slot is taken is refused with LX_CALLBACK_INVALID_PARAMETER.
class LX_API LxModuleErrorCallbackList {
 public:
  static LxModuleErrorCallbackList& GetInstance();

  // Registers `callback` for the codes lowerCode..upperCode, or with a null
  // callback removes the registration with exactly that range. Returns 0, or
  // LX_CALLBACK_INVALID_PARAMETER for an inverted or overlapping range, a full list, or a removal that
  // finds nothing; the list is unchanged after LX_CALLBACK_INVALID_PARAMETER.
  int SetModuleErrorCallback(LxModuleErrorCallback callback, int upperCode, int lowerCode);

  // The registered module's text for `code` when lowerCode < code < upperCode
  // (the ends themselves do not match), else null.
  char* GetError(int code);

  LxModuleErrorCallbackList(const LxModuleErrorCallbackList&) = delete;
  LxModuleErrorCallbackList& operator=(const LxModuleErrorCallbackList&) = delete;

 protected:
  LxModuleErrorCallbackList() = default;
  static constexpr int kSlots = 1;
  LxModuleErrorCallback callback[kSlots] = {};
  int32_t upperCode[kSlots] = {};
  int32_t lowerCode[kSlots] = {};
};

// Size of the buffers that LxLoginError and LxError write.
constexpr size_t LX_ERROR_BUFFER_SIZE = 256;

// The login message for `code`. With textOnly non-zero returns the bare text and
// writes nothing. Otherwise writes "prefix : code -> text" (or the text alone when
// prefix is null) into `buffer` (at least LX_ERROR_BUFFER_SIZE bytes) or, when
// buffer is null, into a static buffer shared by all such callers, and returns it.
// A long prefix is cut so that the text never overruns the buffer.
LX_API const char* LxLoginError(char* buffer, const char* prefix, int code, int textOnly);

// ---------------------------------------------------------------------------
// Memory resizing and the out-of-memory handler
// ---------------------------------------------------------------------------

// Called with the size that could not be allocated. A failed `new` reaches it
// through the C++ runtime's new handler, which is not told the size: the handler
// gets the size for the library's own objects and 0 for every other `new` in the
// process. Non-zero asks the failed `new` to try again; the resize functions
// ignore the answer.
typedef int32_t (*LxMemoryHandler)(uint32_t size);

// Resizes the block that *block points at (null: no block) to `size` bytes through
// malloc/realloc/free. Size 0 frees the block and nulls *block. Returns 0, or
// LX_RESIZE_FAILED after calling the out-of-memory handler once with `size`; on failure *block
// still holds the old block, contents intact.
LX_C_API int32_t mmResize(void** block, uint32_t size);
LX_C_API int32_t mmFarResize(void** block, uint32_t size);

// Installs `handler` and returns the previous one (the default handler at first).
// `handler` must be callable; it is not checked.
LX_API LxMemoryHandler mmLxSetHandler(LxMemoryHandler handler);

// Calls the current handler and returns its answer.
LX_API int32_t LxCallMemoryHandler(uint32_t size);

// Failure injector for tests: with configuration test/growErrorCounter = N the
// next N calls with kind 1 return LX_TEST_HANDLER_FAILURE; everything else returns 0.
LX_API int32_t TestHandler(uint32_t kind, void* unused1, void* unused2);
// Forgets the count; the next TestHandler call reads the configuration again.
LX_API int32_t TestHandlerReset();

// Forwards its four arguments unchanged to the memory-check function named by
// debug/memory/library and debug/memory/function (resolved once per process when
// debug/memory is on) and returns its result, or LX_MEMORY_CHECK_NONE when none is resolved.
// The check function is called as int32_t f(uintptr_t, uintptr_t, uintptr_t,
// uintptr_t); a function that takes fewer word-sized arguments may be used.
LX_C_API int32_t VeskCheckMemory(uintptr_t a, uintptr_t b, uintptr_t c, uintptr_t d);
