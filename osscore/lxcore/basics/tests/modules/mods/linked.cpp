// A test module that links the library and has no LxDescribeDll of its own.
#include <lxmodules.h>

extern "C" __attribute__((visibility("default"))) int LinkedModuleCheck() { return LxCheckDll(0); }
