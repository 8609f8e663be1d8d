// Server statistics in shared memory and the performance-data provider.
#pragma once

#include "lxdefs.h"
