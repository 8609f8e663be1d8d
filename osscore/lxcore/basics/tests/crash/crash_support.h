// The crash suites' names for the shared child-process helper of tests/support.
#pragma once

#include "lxtest.h"

namespace crashtest {
using lxtest::Child;
using lxtest::Nap;
using lxtest::Report;
}  // namespace crashtest
