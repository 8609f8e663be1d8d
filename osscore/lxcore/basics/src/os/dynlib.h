// Loading of module files, resolving their names, and the loader's error texts.
//
// Every dlopen, dlsym, dlclose, dladdr and dlinfo call of the library lives here.
// A module is loaded with RTLD_NOW | RTLD_LOCAL, so a module whose dependencies
// cannot be resolved fails at load time, as the runtime's modules always did.
//
// Errors: glibc reports a failed load only through dlerror() and restores errno,
// so each failing call here records its own error (a code and a text) for the
// calling thread; LastErrorCode() and LastErrorText() read it back. The code is
// the system error that the loader's text names as its cause ("No such file or
// directory" gives ENOENT), or ENOEXEC for a file that is not a loadable module.
// Successful calls leave the record alone, like the host's last-error slot.
#pragma once

#include <string>

namespace lxos {

// Loads the module file `file`: with a slash in it, that file (relative to the
// working directory unless absolute); without one, through the system's own
// search (LD_LIBRARY_PATH, the run paths, the loader cache, the default
// directories). Returns the module's handle, or null after recording the error.
// REQUIRES: file is not empty (dlopen would hand out the program itself).
void* OpenModule(const char* file);

// Drops one reference to `module`. Returns true, or false after recording the
// error.
bool CloseModule(void* module);

// The address of `name` when `module` itself defines it. A name that only one of
// the module's dependencies defines does not count (dlsym searches them too): the
// address must lie in the module's own object. Returns null, after recording the
// error, when the module does not define the name.
void* ModuleSymbol(void* module, const char* name);

// The full path of the file that `module` was loaded from (symbolic links and
// relative parts resolved where the file still exists). Returns false, leaving
// `out` empty, when it cannot be had.
bool ModulePath(void* module, std::string* out);

// The full path of the module file that holds `address` (a function or object
// of a loaded module, the program included), resolved as ModulePath resolves
// it. Returns false, leaving `out` empty, when no module holds it.
bool ModuleFileOf(const void* address, std::string* out);

// Looks for `file` in each directory named by the colon-separated `dirs` (empty
// entries skipped) and stores the first "dir/file" that exists and is not a
// directory in `found`. Returns false, leaving `found` empty, when none does or
// `dirs` is null.
bool SearchDirectories(const char* dirs, const char* file, std::string* found);

// The error recorded by the last failing call above in this thread: the system
// error code (0 when none failed yet) and the loader's text. Without a recorded
// failure, LastErrorText() gives the text of the current errno.
int LastErrorCode();
std::string LastErrorText();

}  // namespace lxos
