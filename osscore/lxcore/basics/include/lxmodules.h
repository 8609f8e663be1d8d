// Modules and versions: the file names of the runtime's modules, the dynamic
// module loader, and the description and version check every module carries.
//
// Module file names follow one rule: 'l', DllNameClass::second_char, the version
// tag "95", the component code, an optional variant (a number, or else a letter)
// and the compiler tag "71". This library is lx95Cbs71. Names carry no suffix;
// the loader appends ".so".
//
// The loader's texts (GetErrText, GetPhysicalModuleName, the trace of a load and
// LxGetDescription's path) share one static area of 1,024 characters: a returned
// text stays valid only until the next such call, in any thread. Nothing here
// locks. The process-wide DllNameClass::second_char is a plain variable.
#pragma once

#include "lxdefs.h"
#include "lxresult.h"

// ---------------------------------------------------------------------------
// Module file names
// ---------------------------------------------------------------------------

// Composes the file name of a module from its component code and variant. Copying
// copies the parts and the last name built; the component text is not owned and
// must outlive the object.
class LX_API DllNameClass {
 public:
  // Second letter of every name composed from now on ('x' at first).
  static char second_char;

  DllNameClass(const char* component = nullptr, char variant = 0, int number = 0)
      : component(component), variant(variant), number(number) {}
  DllNameClass(const DllNameClass&) = default;

  // Composes "l<second_char>95<component><variant>71" into the object's buffer and
  // returns it: with a number other than 0 the variant is that number in decimal
  // (the letter is then ignored), else the letter when it is not 0, else nothing.
  // An object whose component is null (after an assignment) returns its buffer
  // unchanged. Components longer than kMaxComponent characters are cut.
  char* GetDllName();
  operator char*() { return GetDllName(); }

  // Composes `other`'s name, copies it into this object and clears this object's
  // parts, so that this object keeps that name whatever happens to `other`.
  // Returns *this.
  DllNameClass& operator=(DllNameClass& other);

  // Writes the version-less name "l<second_char><component>71" into `buffer`
  // (which must hold strlen(component) + 5 bytes) and returns `buffer`.
  static char* GetGenericDllName(const char* component, char* buffer);

  const char* GetComponent() const { return component; }
  char GetVariant() const { return variant; }
  int GetNumber() const { return number; }

  static constexpr int kMaxComponent = 62;

 protected:
  const char* component;
  char variant;
  int32_t number;
  char name[2 + 2 + kMaxComponent + 11 + 2 + 1] = {};
};

// ---------------------------------------------------------------------------
// Dynamic module loader
// ---------------------------------------------------------------------------

// A loaded module, made by LxDynamicLoader::LoadModule and destroyed by
// UnloadModule. The caller holds the pointer in between.
class LX_API LxModuleHandle {
 public:
  explicit LxModuleHandle(void* handle) : handle(handle) {}
  LxModuleHandle(const LxModuleHandle&) = delete;
  LxModuleHandle& operator=(const LxModuleHandle&) = delete;

  // The system's handle of the loaded module.
  void* GetHandle() const { return handle; }

 protected:
  void* handle;
};

// Finds, loads and unloads the runtime's modules and resolves their entry points.
// All operations are static; objects of the class hold nothing.
//
// Settings, read from the configuration source at every LoadModule:
//   debug/loadModule      flag: trace every load through LxMessage() (default off)
//   defaultModulePath     directory searched first (default none)
class LX_API LxDynamicLoader {
 public:
  LxDynamicLoader() = default;
  ~LxDynamicLoader() = default;
  LxDynamicLoader(const LxDynamicLoader&) = default;
  LxDynamicLoader& operator=(const LxDynamicLoader&) = default;

  // Loads the module `name` (without suffix, optionally with a directory) from the
  // first of these files that loads:
  //   1. "<defaultModulePath>/<name>.so", when that setting is not empty;
  //   2. this library's directory, the file-name part of `name` (its directory
  //      and extension dropped) and ".so";
  //   3. "<name>.so" through the system's own search;
  //   4. "<name>.so" searched for in the directories of $PATH.
  // Returns 0 with a new handle in `handle`, or ERR_LX_COULD_NOT_LOAD_MODULE with
  // `handle` null; GetErrText() then tells the last reason. `reserved` is ignored.
  // With tracing on, the outcome goes to LxMessage(): "Using module: <path>", or
  // the failure with the last error code and $PATH.
  static int LoadModule(const char* name, int reserved, LxModuleHandle*& handle);

  // Unloads the module, destroys the handle and sets `handle` to null; returns 0.
  // Returns ERR_LX_MODULE_HANDLE_INVALID, changing nothing, when `handle` is null.
  // REQUIRES: a non-null handle has not been unloaded before.
  static int UnloadModule(LxModuleHandle*& handle);

  // Sets `entry` to the address of `entryName` when the module itself defines it
  // (a name that only the module's dependencies define does not count) and returns
  // 0. Else `entry` is null and the result ERR_LX_MODULE_HANDLE_INVALID for a null
  // handle or ERR_LX_COULD_NOT_GET_ENTRY for a name the module lacks.
  static int GetEntryPoint(const char* entryName, LxModuleHandle* handle, void*& entry);

  // The system's text for this thread's last failure of the loader (or, when the
  // loader has not failed, of the last system call), at most 512 characters, in
  // the shared text area.
  static const char* GetErrText();

  // The full path of the module's file in the shared text area, or "<unknown>"
  // (also for a null handle).
  static const char* GetPhysicalModuleName(LxModuleHandle* handle);
};

// ---------------------------------------------------------------------------
// Module description and version checks
// ---------------------------------------------------------------------------

// Flags of CheckLxVersionNumber and LxCheckDll: which parts must match, and the
// overrides that waive a check again.
constexpr int LX_CHECK_RELEASE = 0x2;
constexpr int LX_CHECK_BUILD = 0x4;
constexpr int LX_CHECK_PATCH = 0x8;
constexpr int LX_ANY_RELEASE = 0x10000000;
constexpr int LX_ANY_BUILD = 0x20000000;
constexpr int LX_ANY_PATCH = 0x40000000;

// Returns 0 when version major.minor.release.build.patch is compatible with this
// library (9.5.23.262.0), else ERR_LX_MODULE_VERSION: major and minor must match
// and `flags` must not be 0; LX_CHECK_RELEASE, LX_CHECK_BUILD and LX_CHECK_PATCH
// each demand that part unless the matching LX_ANY_* bit is set too.
LX_API int CheckLxVersionNumber(uint32_t major, uint32_t minor, uint32_t release, uint32_t build,
                                uint32_t patch, int flags);

// This library's own check: CheckLxVersionNumber with its own version and `flags`
// with bits 0x1 and LX_CHECK_RELEASE added. A module linked against the library
// calls it to make sure that it runs with the release it was built for.
LX_C_API int LxCheckDll(int flags);

// The description every module exports under this name: stores the version
// numbers, the module's file name, build stamp ("Mmm dd yyyy hh:mm:ss"), first
// extra text, compiler version and name and second extra text through the
// pointers (none may be null) and returns the description text. The texts are
// the module's constants; the caller must not free them.
LX_C_API const char* LxDescribeDll(uint32_t* major, uint32_t* minor, uint32_t* release, uint32_t* build,
                                   uint32_t* patch, const char** moduleName, const char** buildStamp,
                                   const char** extraText1, uint32_t* compilerVersion,
                                   const char** compilerName, const char** extraText2);

// The type of a module's LxDescribeDll, as resolved by name.
typedef const char* (*LxDescribeDllFunc)(uint32_t*, uint32_t*, uint32_t*, uint32_t*, uint32_t*, const char**,
                                         const char**, const char**, uint32_t*, const char**, const char**);

// Stores this library's compiler name and version, "<description> <version> "
// (a static text rebuilt at every call; the same pointer each time), build date
// and module file name through those pointers that are not null.
LX_C_API void GETLXBASICSINFO(const char** compilerName, uint32_t* compilerVersion,
                              const char** descriptionAndVersion, const char** buildDate,
                              const char** moduleName);

// Does nothing; kept for modules that call it.
LX_API void ___LxBasicsContext(int);

// Loads `module` (see LxDynamicLoader::LoadModule), asks its LxDescribeDll for
// its description and unloads it again. Copies the module file's full path (or
// "<unknown>") into `path`, then each text the module returns into the matching
// buffer; null buffers are skipped. The buffers carry no size: 256 bytes hold
// any text of the runtime's modules, `path` needs 1,024.
// Returns 0; the loader's negative result when the module does not load (nothing
// written); or ERR_LX_COULD_NOT_GET_ENTRY when it lacks LxDescribeDll (only
// `path` written).
LX_API int LxGetDescription(const char* module, char* path, uint32_t& major, uint32_t& minor,
                            uint32_t& release, uint32_t& build, uint32_t& patch, char* description,
                            char* moduleName, char* buildStamp, char* extraText1, char* compilerName,
                            char* extraText2, int& compilerVersion);
