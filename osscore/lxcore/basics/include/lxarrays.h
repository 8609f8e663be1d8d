// Arrays and lists: LxVArray with its contiguous (LxCList) and memory-file (LxLList) lists, search, sort and merge, intrusive linked lists, bit string and raw buffer.
#pragma once

#include "lxdefs.h"
