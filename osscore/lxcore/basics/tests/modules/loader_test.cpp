#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lxmodules.h>
#include <lxtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "modules_test_support.h"

namespace {

using modtest::ConfigScope;
using modtest::EnvScope;
using modtest::ModuleDir;
using modtest::RecordMessages;
using modtest::TestConfig;

typedef const char* (*TagFunc)();

std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  std::string result = resolved ? resolved : "";
  free(resolved);
  return result;
}

// The tag of a loaded test module (see mods/tagged.cpp), or "" when it has none.
std::string TagOf(LxModuleHandle* handle) {
  void* entry = nullptr;
  if (LxDynamicLoader::GetEntryPoint("TestModuleTag", handle, entry) != 0) return "";
  return reinterpret_cast<TagFunc>(entry)();
}

// Loads `name`, returns the loaded module's tag and unloads it; "failed" when the
// load fails.
std::string LoadedTag(const char* name) {
  LxModuleHandle* handle = nullptr;
  if (LxDynamicLoader::LoadModule(name, 0, handle) != 0) return "failed";
  std::string tag = TagOf(handle);
  LxDynamicLoader::UnloadModule(handle);
  return tag;
}

TEST(LoaderSearch, ConfiguredDirectoryComesFirst) {
  EXPECT_EQ(LoadedTag("lx95Tcf71"), "failed");  // no configuration: not found
  TestConfig config;
  config.strings["defaultModulePath"] = ModuleDir("confdir");
  ConfigScope scope(&config);
  EXPECT_EQ(LoadedTag("lx95Tcf71"), "confonly");

  // lx95Tdu71 exists in the configured directory and on PATH.
  EnvScope path("PATH", ModuleDir("pathdir"));
  EXPECT_EQ(LoadedTag("lx95Tdu71"), "dup-conf");
  // The setting is read at every load.
  config.strings.clear();
  EXPECT_EQ(LoadedTag("lx95Tdu71"), "dup-path");
}

TEST(LoaderSearch, FileThatDoesNotLoadIsPassedOver) {
  std::string dir = lxtest::MakeTempDir("broken");
  ASSERT_TRUE(lxtest::WriteFile(dir + "/lx95Tdu71.so", "not a module"));
  TestConfig config;
  config.strings["defaultModulePath"] = dir;
  ConfigScope scope(&config);
  {
    EnvScope path("PATH", ModuleDir("pathdir"));
    EXPECT_EQ(LoadedTag("lx95Tdu71"), "dup-path");
  }
  // PATH yields one candidate, the first file of that name, loadable or not.
  EnvScope path("PATH", dir + ":" + ModuleDir("pathdir"));
  EXPECT_EQ(LoadedTag("lx95Tdu71"), "failed");
}

TEST(LoaderSearch, PathIsSearchedLast) {
  EXPECT_EQ(LoadedTag("lx95Tpa71"), "failed");
  EnvScope path("PATH", "/nonexistent-dir::" + ModuleDir("described") + ":" + ModuleDir("pathdir"));
  LxModuleHandle* handle = nullptr;
  ASSERT_EQ(LxDynamicLoader::LoadModule("lx95Tpa71", 0, handle), 0);
  EXPECT_EQ(TagOf(handle), "pathonly");
  EXPECT_EQ(std::string(LxDynamicLoader::GetPhysicalModuleName(handle)),
            RealPath(ModuleDir("pathdir") + "/lx95Tpa71.so"));
  EXPECT_EQ(LxDynamicLoader::UnloadModule(handle), 0);
}

TEST(LoaderSearch, NameWithDirectoryLoadsThatFile) {
  std::string name = ModuleDir("described") + "/lx95Tdm71";
  EXPECT_EQ(LoadedTag(name.c_str()), "described");
  // Relative to the working directory.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(LXB_TEST_MODULE_DIR), 0);
  std::string relative = LoadedTag("described/lx95Tdm71");
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(relative, "described");
}

TEST(LoaderSearch, OwnDirectoryWinsOverTheGivenDirectory) {
  // A different module under the library's own file name in another directory:
  // the library's directory is tried, by the bare name, before the given path.
  std::string dir = lxtest::MakeTempDir("own");
  ASSERT_FALSE(dir.empty());
  ASSERT_TRUE(
      lxtest::WriteFile(dir + "/lx95Cbs71.so", lxtest::ReadFile(ModuleDir("described") + "/lx95Tdm71.so")));
  const std::string library = RealPath(LXB_LIBRARY_FILE);

  for (std::string name :
       {dir + "/lx95Cbs71", dir + "/lx95Cbs71.ext", std::string("/nonexistent/lx95Cbs71")}) {
    SCOPED_TRACE(name);
    LxModuleHandle* handle = nullptr;
    ASSERT_EQ(LxDynamicLoader::LoadModule(name.c_str(), 0, handle), 0);
    EXPECT_EQ(std::string(LxDynamicLoader::GetPhysicalModuleName(handle)), library);
    EXPECT_EQ(TagOf(handle), "");
    LxDynamicLoader::UnloadModule(handle);
  }

  // The configured directory still comes before the library's own.
  TestConfig config;
  config.strings["defaultModulePath"] = dir;
  ConfigScope scope(&config);
  EXPECT_EQ(LoadedTag("lx95Cbs71"), "described");
}

TEST(LoaderSearch, MissingModuleFailsWithNullHandle) {
  LxModuleHandle* handle = reinterpret_cast<LxModuleHandle*>(&handle);
  EXPECT_EQ(LxDynamicLoader::LoadModule("lx95Tzz71", 0, handle), ERR_LX_COULD_NOT_LOAD_MODULE);
  EXPECT_EQ(handle, nullptr);
  // The last attempt was the system's own search (PATH found nothing).
  std::string text = LxDynamicLoader::GetErrText();
  EXPECT_NE(text.find("lx95Tzz71.so"), std::string::npos) << text;
  EXPECT_NE(text.find("No such file or directory"), std::string::npos) << text;

  handle = reinterpret_cast<LxModuleHandle*>(&handle);
  EXPECT_EQ(LxDynamicLoader::LoadModule("", 0, handle), ERR_LX_COULD_NOT_LOAD_MODULE);
  EXPECT_EQ(handle, nullptr);
}

TEST(LoaderSearch, NotAModuleIsReportedAsSuch) {
  std::string dir = lxtest::MakeTempDir("bad");
  ASSERT_TRUE(lxtest::WriteFile(dir + "/lx95Tbd71.so", "this is not a shared object"));
  LxModuleHandle* handle = nullptr;
  EXPECT_EQ(LxDynamicLoader::LoadModule((dir + "/lx95Tbd71").c_str(), 0, handle),
            ERR_LX_COULD_NOT_LOAD_MODULE);
  EXPECT_NE(std::string(LxDynamicLoader::GetErrText()).find("lx95Tbd71.so"), std::string::npos);
}

TEST(LoaderErrText, IsCutAt512Characters) {
  std::string name = "/nonexistent";
  while (name.size() < 700) name += "/" + std::string(90, 'd');
  LxModuleHandle* handle = nullptr;
  ASSERT_EQ(LxDynamicLoader::LoadModule(name.c_str(), 0, handle), ERR_LX_COULD_NOT_LOAD_MODULE);
  const char* text = LxDynamicLoader::GetErrText();
  EXPECT_EQ(std::strlen(text), 512u);
  EXPECT_EQ(std::string(text, 12), "/nonexistent");
}

TEST(LoaderErrText, IsKeptPerThread) {
  LxModuleHandle* handle = nullptr;
  ASSERT_EQ(LxDynamicLoader::LoadModule("lx95Tzz71", 0, handle), ERR_LX_COULD_NOT_LOAD_MODULE);
  // A thread whose loader never failed reads the text of its own last system error.
  std::string other;
  std::thread([&other] {
    errno = EACCES;
    other = LxDynamicLoader::GetErrText();
  }).join();
  EXPECT_EQ(other, std::strerror(EACCES));
  EXPECT_NE(std::string(LxDynamicLoader::GetErrText()).find("lx95Tzz71.so"), std::string::npos);
}

TEST(LoaderEntryPoint, ResolvesOnlyNamesOfTheModuleItself) {
  std::string name = ModuleDir("linked") + "/lx95Tln71";
  LxModuleHandle* handle = nullptr;
  ASSERT_EQ(LxDynamicLoader::LoadModule(name.c_str(), 0, handle), 0);

  // The premise: the system's lookup through this handle finds the library's
  // LxDescribeDll in the module's dependency.
  void* system = dlopen((name + ".so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(system, nullptr);
  EXPECT_NE(dlsym(system, "LxDescribeDll"), nullptr);
  dlclose(system);

  void* entry = &handle;
  EXPECT_EQ(LxDynamicLoader::GetEntryPoint("LxDescribeDll", handle, entry), ERR_LX_COULD_NOT_GET_ENTRY);
  EXPECT_EQ(entry, nullptr);
  EXPECT_EQ(LxDynamicLoader::GetEntryPoint("LxCheckDll", handle, entry), ERR_LX_COULD_NOT_GET_ENTRY);
  EXPECT_EQ(LxDynamicLoader::GetEntryPoint("NoSuchEntry", handle, entry), ERR_LX_COULD_NOT_GET_ENTRY);

  ASSERT_EQ(LxDynamicLoader::GetEntryPoint("LinkedModuleCheck", handle, entry), 0);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(reinterpret_cast<int (*)()>(entry)(), 0);  // the module's call into the library
  EXPECT_EQ(LxDynamicLoader::UnloadModule(handle), 0);
}

TEST(LoaderEntryPoint, NullHandle) {
  void* entry = &entry;
  EXPECT_EQ(LxDynamicLoader::GetEntryPoint("LxDescribeDll", nullptr, entry), ERR_LX_MODULE_HANDLE_INVALID);
  EXPECT_EQ(entry, nullptr);
  EXPECT_STREQ(LxDynamicLoader::GetPhysicalModuleName(nullptr), "<unknown>");
}

TEST(LoaderUnload, SecondUnloadReportsInvalidHandle) {
  LxModuleHandle* handle = nullptr;
  ASSERT_EQ(LxDynamicLoader::LoadModule((ModuleDir("described") + "/lx95Tdm71").c_str(), 0, handle), 0);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(LxDynamicLoader::UnloadModule(handle), 0);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(LxDynamicLoader::UnloadModule(handle), ERR_LX_MODULE_HANDLE_INVALID);
  // The module is gone from the process.
  std::string file = ModuleDir("described") + "/lx95Tdm71.so";
  EXPECT_EQ(dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST(LoaderTrace, SuccessAndFailureGoToTheMessageObject) {
  TestConfig config;
  config.flags["debug/loadModule"] = 1;
  config.strings["defaultModulePath"] = ModuleDir("confdir");
  ConfigScope scope(&config);
  EnvScope path("PATH", "/nonexistent-a:/nonexistent-b");
  RecordMessages recorder;

  EXPECT_EQ(LoadedTag("lx95Tcf71"), "confonly");
  EXPECT_EQ(LoadedTag("lx95Tzz71"), "failed");

  ASSERT_EQ(recorder.Messages().size(), 2u);
  const auto& used = recorder.Messages()[0];
  EXPECT_EQ(used.caption, nullptr);
  EXPECT_EQ(used.flags, 0u);
  EXPECT_EQ(used.text, "Using module: " + RealPath(ModuleDir("confdir") + "/lx95Tcf71.so"));
  const auto& failed = recorder.Messages()[1];
  EXPECT_EQ(failed.caption, nullptr);
  EXPECT_EQ(failed.flags, 0u);
  EXPECT_EQ(
      failed.text,
      "Loading of module 'lx95Tzz71' failed.\nError code : 2\nPath : '/nonexistent-a:/nonexistent-b'\n");
}

TEST(LoaderTrace, SilentWithoutTheFlag) {
  RecordMessages recorder;
  EXPECT_EQ(LoadedTag("lx95Tzz71"), "failed");  // no configuration at all
  TestConfig config;
  config.flags["loadModule"] = 1;  // at the top level, not under "debug"
  config.strings["defaultModulePath"] = ModuleDir("confdir");
  ConfigScope scope(&config);
  EXPECT_EQ(LoadedTag("lx95Tcf71"), "confonly");
  config.flags["debug/loadModule"] = 0;
  EXPECT_EQ(LoadedTag("lx95Tzz71"), "failed");
  EXPECT_TRUE(recorder.Messages().empty());
}

TEST(LoaderTrace, LongPathIsCutAt1024Characters) {
  TestConfig config;
  config.flags["debug/loadModule"] = 1;
  ConfigScope scope(&config);
  std::string longPath = "/nonexistent";
  while (longPath.size() < 1500) longPath += ":/nonexistent";
  EnvScope path("PATH", longPath);
  RecordMessages recorder;
  EXPECT_EQ(LoadedTag("lx95Tzz71"), "failed");
  ASSERT_EQ(recorder.Messages().size(), 1u);
  const std::string& text = recorder.Messages()[0].text;
  EXPECT_NE(text.find("Path : '" + longPath.substr(0, 1024) + "'\n"), std::string::npos);
}

}  // namespace
