// The host's identity: its name as the system reports it (gethostname).
#pragma once

#include <string>

namespace lxos {

// Stores the host name in `out` and returns true; false, with `out` empty, when
// the system cannot tell.
bool HostName(std::string* out);

}  // namespace lxos
