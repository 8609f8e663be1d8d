// A test module that links against the basics library but carries no description
// of its own: the library's LxDescribeDll is reachable from it only through its
// dependency.
#include <lxmodules.h>

extern "C" __attribute__((visibility("default"))) int LinkedModuleCheck() { return LxCheckDll(0); }
