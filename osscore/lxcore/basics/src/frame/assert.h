// Internal view of the assertion state, for the library's own tests of the frame.
#pragma once

#include <cstddef>

namespace lxframe {

// Composes the report text of a failed assertion into `out` (`size` bytes):
// "Assertion '<expression>' failed.\nFile '<file>' \nLine <line> \n". When the
// expression and the file name do not both fit, each is cut so that both keep a
// share and the line number is always complete.
void ComposeAssertReport(char* out, size_t size, const char* expression, const char* file, int line);

}  // namespace lxframe
