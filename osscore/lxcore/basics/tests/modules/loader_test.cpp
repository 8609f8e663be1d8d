// The module loader: its four search places in order, failures and their texts,
// entry points, unloading, and the trace through the message object.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lxmodules.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "lxtest.h"

namespace {

std::string Dir(const char* group) { return std::string(LXB_TEST_MODULE_DIR) + "/" + group; }

std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  std::string result = resolved ? resolved : "";
  free(resolved);
  return result;
}

// Loads `name` and returns the module's tag (mods/tagged.cpp; "" for a module
// without one) and where it was found, then unloads it; "failed" when it does
// not load.
std::string Load(const std::string& name, std::string* path = nullptr) {
  LxModuleHandle* handle = nullptr;
  if (LxDynamicLoader::LoadModule(name.c_str(), 0, handle) != 0) return "failed";
  void* entry = nullptr;
  const std::string tag = LxDynamicLoader::GetEntryPoint("TestModuleTag", handle, entry) == 0
                              ? reinterpret_cast<const char* (*)()>(entry)()
                              : "";
  if (path) *path = LxDynamicLoader::GetPhysicalModuleName(handle);
  EXPECT_EQ(LxDynamicLoader::UnloadModule(handle), 0);
  return tag;
}

TEST(LoaderSearch, ConfiguredDirectoryOwnDirectoryGivenPathThenPath) {
  // A file of the library's own name that is a test module, and one that is no module.
  const std::string own = lxtest::MakeTempDir("own"), broken = lxtest::MakeTempDir("broken");
  ASSERT_TRUE(lxtest::WriteFile(own + "/lx95Cbs71.so", lxtest::ReadFile(Dir("described/lx95Tdm71.so"))));
  ASSERT_TRUE(lxtest::WriteFile(broken + "/lx95Tdu71.so", "not a module"));
  const struct {
    std::string configured, path, name, tag;
  } kCases[] = {
      {"", "", "lx95Tcf71", "failed"},
      {Dir("confdir"), "", "lx95Tcf71", "confonly"},
      {Dir("confdir"), Dir("pathdir"), "lx95Tdu71", "dup-conf"},
      {"", Dir("pathdir"), "lx95Tdu71", "dup-path"},
      {broken, Dir("pathdir"), "lx95Tdu71", "dup-path"},  // a file that does not load is passed over,
      {broken, broken + ":" + Dir("pathdir"), "lx95Tdu71", "failed"},  // but PATH yields one candidate
      {"", "/nonexistent::" + Dir("described") + ":" + Dir("pathdir"), "lx95Tpa71", "pathonly"},
      {"", "", Dir("described") + "/lx95Tdm71", "described"},
      // The library's own directory, by the bare name, before the given directory.
      {"", "", own + "/lx95Cbs71", ""},
      {"", "", own + "/lx95Cbs71.ext", ""},
      {"", "", "/nonexistent/lx95Cbs71", ""},
      {own, "", "lx95Cbs71", "described"},  // the configured directory comes first
  };
  lxtest::Config config;
  DefaultConfig(&config);
  for (const auto& c : kCases) {
    config.strings["defaultModulePath"] = c.configured;  // read at every load
    lxtest::ScopedEnv path("PATH", c.path.c_str());
    std::string found;
    EXPECT_EQ(Load(c.name, &found), c.tag) << c.name << " " << c.configured << " " << c.path;
    EXPECT_TRUE(!c.tag.empty() || found == RealPath(LXB_LIBRARY_FILE)) << found;
  }
  lxtest::ScopedEnv path("PATH", Dir("pathdir").c_str());
  std::string found;
  EXPECT_EQ(Load("lx95Tpa71", &found), "pathonly");
  EXPECT_EQ(found, RealPath(Dir("pathdir") + "/lx95Tpa71.so"));
  ASSERT_EQ(chdir(LXB_TEST_MODULE_DIR), 0);
  EXPECT_EQ(Load("described/lx95Tdm71"), "described");  // relative to the working directory
  DefaultConfig(nullptr);
}

TEST(LoaderFailures, NullHandleAndTheSystemsText) {
  const std::string dir = lxtest::MakeTempDir("bad"), longName = "/nonexistent/" + std::string(700, 'd');
  ASSERT_TRUE(lxtest::WriteFile(dir + "/lx95Tbd71.so", "this is not a shared object"));
  const struct {
    std::string name, textHas;
  } kCases[] = {{"lx95Tzz71", "lx95Tzz71.so: cannot open shared object file: No such file or directory"},
                {"", ""},
                {dir + "/lx95Tbd71", "lx95Tbd71.so"},
                {longName, std::string(400, 'd')}};
  for (const auto& c : kCases) {
    LxModuleHandle* handle = reinterpret_cast<LxModuleHandle*>(&handle);
    EXPECT_EQ(LxDynamicLoader::LoadModule(c.name.c_str(), 0, handle), ERR_LX_COULD_NOT_LOAD_MODULE);
    EXPECT_EQ(handle, nullptr);
    const std::string text = LxDynamicLoader::GetErrText();
    EXPECT_NE(text.find(c.textHas), std::string::npos) << text;
    EXPECT_LE(text.size(), 512u);
  }
  EXPECT_EQ(std::string(LxDynamicLoader::GetErrText()), longName.substr(0, 512));
  // A thread whose loader never failed reads the text of its own last system error.
  std::string other;
  std::thread([&other] {
    errno = EACCES;
    other = LxDynamicLoader::GetErrText();
  }).join();
  EXPECT_EQ(other, std::strerror(EACCES));
}

TEST(LoaderEntryPoint, OnlyNamesOfTheModuleItselfAndUnloadOnce) {
  const std::string name = Dir("linked") + "/lx95Tln71";
  LxModuleHandle* handle = nullptr;
  ASSERT_EQ(LxDynamicLoader::LoadModule(name.c_str(), 0, handle), 0);
  // The premise: the system's lookup finds the library's LxDescribeDll in the dependency.
  void* system = dlopen((name + ".so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(dlsym(system, "LxDescribeDll"), nullptr);
  dlclose(system);
  void* entry = &handle;
  for (const char* symbol : {"LxDescribeDll", "LxCheckDll", "NoSuchEntry"}) {
    EXPECT_EQ(LxDynamicLoader::GetEntryPoint(symbol, handle, entry), ERR_LX_COULD_NOT_GET_ENTRY) << symbol;
    EXPECT_EQ(entry, nullptr);
  }
  ASSERT_EQ(LxDynamicLoader::GetEntryPoint("LinkedModuleCheck", handle, entry), 0);
  EXPECT_EQ(reinterpret_cast<int (*)()>(entry)(), 0);  // the module's call into the library
  EXPECT_EQ(LxDynamicLoader::UnloadModule(handle), 0);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(LxDynamicLoader::UnloadModule(handle), ERR_LX_MODULE_HANDLE_INVALID);
  EXPECT_EQ(dlopen((name + ".so").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "gone from the process";
  entry = &entry;
  EXPECT_EQ(LxDynamicLoader::GetEntryPoint("LxDescribeDll", nullptr, entry), ERR_LX_MODULE_HANDLE_INVALID);
  EXPECT_EQ(entry, nullptr);
  EXPECT_STREQ(LxDynamicLoader::GetPhysicalModuleName(nullptr), "<unknown>");
}

TEST(LoaderTrace, ShowsSuccessAndFailureOnlyWithTheDebugFlag) {
  const std::string longPath = "/nonexistent-a:" + std::string(1500, 'b');
  lxtest::ScopedEnv path("PATH", longPath.c_str());
  lxtest::Config config;
  config.strings["defaultModulePath"] = Dir("confdir");
  config.ints["loadModule"] = 1;  // at the top level, not under "debug"
  DefaultConfig(&config);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Load("lx95Tcf71"), "confonly");
  config.ints["debug/loadModule"] = 1;
  EXPECT_EQ(Load("lx95Tcf71"), "confonly");
  EXPECT_EQ(Load("lx95Tzz71"), "failed");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "== Orvanta Runtime System ==\nUsing module: " + RealPath(Dir("confdir") + "/lx95Tcf71.so") +
                "\n[OK] -> OK\n== Orvanta Runtime System ==\nLoading of module 'lx95Tzz71' failed.\nError "
                "code : 2\n"
                "Path : '" +
                longPath.substr(0, 1024) + "'\n\n[OK] -> OK\n");
  DefaultConfig(nullptr);
}

}  // namespace
