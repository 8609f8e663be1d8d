// Where the library keeps its state on this host, and the files it runs from.
//
// State directory: $ORVANTA_STATE_DIR, else /var/lib/orvanta for root, else
// ${XDG_STATE_HOME:-$HOME/.local/state}/orvanta. It is created (with its parents,
// mode 0755) on first use. The registry store is registry.db in it unless
// $ORVANTA_REGISTRY names a file.
#pragma once

#include <string>

namespace lxos {

// The state directory, created if missing. Empty when it cannot be created.
std::string StateDir();

// The registry store's file name (its directory is created if missing).
std::string RegistryFile();

// Creates `dir` and its missing parents. Returns true when it exists afterwards.
bool MakeDirs(const std::string& dir);

// The value of environment variable `name`, or null.
const char* GetEnv(const char* name);

// Full path of this library's own file (dladdr on one of its symbols). Returns
// false, leaving `out` empty, when the system cannot tell.
bool LibraryPath(std::string* out);

// Full path of the program's executable (/proc/self/exe), or false.
bool ProgramPath(std::string* out);

// The current process id.
unsigned long ProcessId();

}  // namespace lxos
