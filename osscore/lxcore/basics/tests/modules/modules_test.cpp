// Module names, version checks, descriptions, and the module loader: its search places
// in order, failures and their texts, entry points, unloading, and its trace.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lxmodules.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "lxtest.h"

namespace {

std::string Dir(const char* group) { return std::string(LXB_TEST_MODULE_DIR) + "/" + group; }

std::string RealPath(const std::string& path) { return std::filesystem::canonical(path).string(); }

// Loads and unloads `name`: its tag ("" for none, "failed": not loaded) and where it was found.
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
    EXPECT_TRUE(c.tag != "pathonly" || found == RealPath(Dir("pathdir") + "/lx95Tpa71.so")) << found;
  }
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
  }
  EXPECT_EQ(std::string(LxDynamicLoader::GetErrText()), longName.substr(0, 512));
  // A thread whose loader never failed reads the text of its own last system error.
  std::string other;
  std::thread([&other] { errno = EACCES, other = LxDynamicLoader::GetErrText(); }).join();
  EXPECT_EQ(other, std::strerror(EACCES));
}

TEST(LoaderEntryPoint, OnlyNamesOfTheModuleItselfAndUnloadOnce) {
  const std::string name = Dir("linked") + "/lx95Tln71";
  LxModuleHandle* handle = nullptr;
  ASSERT_EQ(LxDynamicLoader::LoadModule(name.c_str(), 0, handle), 0);
  void* entry = &handle;  // LxDescribeDll: the library's own, in the module's dependency
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
  const std::string head = "== Orvanta Runtime System ==\n", ok = "\n[OK] -> OK\n";
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            head + "Using module: " + RealPath(Dir("confdir") + "/lx95Tcf71.so") + ok + head +
                "Loading of module 'lx95Tzz71' failed.\nError code : 2\nPath : '" + longPath.substr(0, 1024) +
                "'\n" + ok);
  DefaultConfig(nullptr);
}

TEST(DllName, ComposedFromItsPartsOrKeptWhenAssigned) {
  const std::string longComponent(200, 'C');
  // The number wins over the variant; a long component is cut to fit.
  // clang-format off
  const struct { const char* component; char variant; int number; std::string expected; } kCases[] = {
      {"Cbs", 0, 0, "lx95Cbs71"}, {"Cbs", 'd', 0, "lx95Cbsd71"}, {"Cbs", 'd', 2, "lx95Cbs271"},
      {"Srv", 0, -7, "lx95Srv-771"}, {"Srv", 0, INT_MIN, "lx95Srv-214748364871"}, {nullptr, 0, 0, ""},
      {longComponent.c_str(), 0, -123456789,
       "lx95" + std::string(DllNameClass::kMaxComponent, 'C') + "-12345678971"}};
  // clang-format on
  for (const auto& c : kCases)
    EXPECT_EQ(DllNameClass(c.component, c.variant, c.number).GetDllName(), c.expected);
  char buffer[32];
  EXPECT_STREQ(DllNameClass::GetGenericDllName("Cbs", buffer), "lxCbs71");
  DllNameClass name("Cbs", 'd');
  DllNameClass target("Xyz", 0, 5);
  target = name;  // keeps the composed name, not its parts
  EXPECT_TRUE(target.GetComponent() == nullptr && target.GetVariant() + target.GetNumber() == 0);
  const char saved = DllNameClass::second_char;
  DllNameClass::second_char = 'z';  // applies to names composed from their parts from now on
  EXPECT_STREQ(name.GetDllName(), "lz95Cbsd71");
  EXPECT_STREQ(DllNameClass::GetGenericDllName("Cbs", buffer), "lzCbs71");
  DllNameClass& self = target;
  target = self;
  EXPECT_STREQ(target.GetDllName(), "lx95Cbsd71");
  DllNameClass::second_char = saved;
}

TEST(VersionCheck, MajorAndMinorAlwaysTheRestOnRequest) {
  EXPECT_EQ(LxCheckDll(0) + LxCheckDll(LX_CHECK_RELEASE | LX_CHECK_BUILD | LX_CHECK_PATCH), 0);
  // Bit 0 checks nothing; waiving one failure leaves the other; major and minor are never waived.
  // clang-format off
  const struct { uint32_t major, minor, release, build, patch; int flags, expected; } kCases[] = {
      {9, 5, 23, 262, 0, 1, 0}, {9, 5, 99, 999, 9, 1, 0}, {9, 5, 23, 262, 0, 0, ERR_LX_MODULE_VERSION},
      {9, 5, 24, 262, 0, 0x2, ERR_LX_MODULE_VERSION}, {9, 5, 24, 262, 0, 0x10000002, 0},
      {9, 5, 23, 263, 0, 0x4, ERR_LX_MODULE_VERSION}, {9, 5, 23, 263, 0, 0x20000004, 0},
      {9, 5, 23, 262, 1, 0x8, ERR_LX_MODULE_VERSION}, {9, 5, 23, 262, 1, 0x40000008, 0},
      {9, 5, 23, 263, 1, 0x2, 0}, {9, 5, 24, 263, 0, 0x10000006, ERR_LX_MODULE_VERSION},
      {9, 5, 24, 263, 0, 0x30000006, 0}, {9, 5, 24, 263, 1, 0x7000000E, 0},
      {9, 6, 23, 262, 0, 3, ERR_LX_MODULE_VERSION}, {9, 4, 23, 262, 0, 0x7000000F, ERR_LX_MODULE_VERSION},
      {8, 5, 23, 262, 0, 0x7000000F, ERR_LX_MODULE_VERSION}, {9, 5, 23, 262, 0, -1, 0}};
  // clang-format on
  for (const auto& c : kCases) {
    EXPECT_EQ(CheckLxVersionNumber(c.major, c.minor, c.release, c.build, c.patch, c.flags), c.expected)
        << c.major << "." << c.minor << "." << c.release << "." << c.build << "." << c.patch << " "
        << c.flags;
  }
}

// The compiler that built this test is the one that built the library.
const uint32_t kCompilerVersion = __GNUC__ * 100 + __GNUC_MINOR__;

// This library (from its own directory) and other modules, through the loader.
TEST(Describe, OwnAndOtherModules) {
  const std::string described = Dir("described") + "/lx95Tdm71", linked = Dir("linked") + "/lx95Tln71";
  const std::string kStamp = "[A-Z][a-z]{2} [ 123][0-9] [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-6][0-9]";
  const struct {
    std::string module;
    int result;
    std::string path, texts, version;  // texts: a pattern; "marker" and 77: not written
    bool nulls = false;                // null buffers but the description: skipped
  } kCases[] = {
      {described, 0, RealPath(described + ".so"),
       "Described test module;lx95Tdm71;Jan  2 2003 04:05:06;first extra;Test Compiler 1.0;second extra",
       "1.2.3.4.5 4242"},
      {"lx95Cbs71", 0, RealPath(LXB_LIBRARY_FILE),
       "Orvanta Basic Algorithms;lx95Cbs71;" + kStamp + ";unknown;[^;]+;",
       "9.5.23.262.0 " + std::to_string(kCompilerVersion)},
      {linked, ERR_LX_COULD_NOT_GET_ENTRY, RealPath(linked + ".so"), "(marker;){5}marker",
       "77.77.77.77.77 77"},
      {"lx95Tzz71", ERR_LX_COULD_NOT_LOAD_MODULE, "marker", "(marker;){5}marker", "77.77.77.77.77 77"},
      {described, 0, "marker", "Described test module(;marker){5}", "1.2.3.4.5 4242", true},
  };
  for (const auto& c : kCases) {
    char path[1024] = "marker", t[6][256] = {"marker", "marker", "marker", "marker", "marker", "marker"};
    uint32_t v[5] = {77, 77, 77, 77, 77};
    int compilerVersion = 77;
    auto n = [&](char* buffer) { return c.nulls ? nullptr : buffer; };
    EXPECT_EQ(LxGetDescription(c.module.c_str(), n(path), v[0], v[1], v[2], v[3], v[4], t[0], n(t[1]),
                               n(t[2]), n(t[3]), n(t[4]), n(t[5]), compilerVersion),
              c.result);
    const std::string texts =
        std::string(t[0]) + ";" + t[1] + ";" + t[2] + ";" + t[3] + ";" + t[4] + ";" + t[5];
    EXPECT_EQ(path, c.path);
    EXPECT_TRUE(std::regex_match(texts, std::regex(c.texts))) << texts;
    std::string version;
    for (const uint32_t& part : v) version += std::to_string(part) + (&part == &v[4] ? " " : ".");
    EXPECT_EQ(version + std::to_string(compilerVersion), c.version);
  }
  EXPECT_EQ(dlopen((described + ".so").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "unloaded again";
  // The info call, whose text is rebuilt in one static buffer.
  const char *compiler, *text, *again, *date, *module;
  uint32_t version = 0;
  GETLXBASICSINFO(&compiler, &version, &text, &date, &module);
  EXPECT_NE(std::string(compiler).find(__VERSION__), std::string::npos) << compiler;
  EXPECT_EQ(module + (" " + std::to_string(version)), "lx95Cbs71 " + std::to_string(kCompilerVersion));
  EXPECT_TRUE(std::regex_match(date, std::regex(kStamp.substr(0, 34)))) << date;
  std::strcpy(const_cast<char*>(text), "overwritten");
  GETLXBASICSINFO(nullptr, nullptr, &again, nullptr, nullptr);
  EXPECT_EQ(again, text);
  EXPECT_STREQ(again, "Orvanta Basic Algorithms 9.5.23.262.0 ");
  ___LxBasicsContext(0);
}

}  // namespace
