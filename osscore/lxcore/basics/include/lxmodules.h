// Modules and versions: module file names, the dynamic module loader, module description and version checks.
#pragma once

#include "lxdefs.h"
