// Memory files and encodings: MemFile, MemQueue, run-length block compression, CRC-32 checksums and the stored form of basic values.
#pragma once

#include "lxdefs.h"
