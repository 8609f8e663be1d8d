// A test module that tells which of several same-named files was loaded (TestModuleTag);
// DESCRIBED: with a description, LONG_TEXTS: of texts 1,000 characters long.
#include <cstdint>
#include <string>

extern "C" __attribute__((visibility("default"))) const char* TestModuleTag() { return MODULE_TAG; }

#ifdef DESCRIBED
extern "C" __attribute__((visibility("default"))) const char* LxDescribeDll(
    uint32_t* major, uint32_t* minor, uint32_t* release, uint32_t* build, uint32_t* patch,
    const char** moduleName, const char** buildStamp, const char** extraText1, uint32_t* compilerVersion,
    const char** compilerName, const char** extraText2) {
  *major = 1, *minor = 2, *release = 3, *build = 4, *patch = 5;
#ifdef LONG_TEXTS
  static const std::string kLong(1000, 'L');
  *moduleName = *buildStamp = *extraText1 = *compilerName = *extraText2 = kLong.c_str();
  *compilerVersion = 1;
  return kLong.c_str();
#endif
  *moduleName = "lx95Tdm71", *buildStamp = "Jan  2 2003 04:05:06", *extraText1 = "first extra";
  *compilerVersion = 4242, *compilerName = "Test Compiler 1.0", *extraText2 = "second extra";
  return "Described test module";
}
#endif
