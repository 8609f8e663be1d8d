// Ordered containers: container, iterator and parameter interfaces, the one-entry container, entry cache, entry stack and node pool, the red-black tree and its iterator, the container differ and the memory-file container.
#pragma once

#include "lxdefs.h"
