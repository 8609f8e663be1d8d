// Another local user attacks the statistics for real: children of a root test
// drop to other user ids (in the monitoring group) against a server and monitors
// of root under umask 0. The server counts without a long wait (published, or
// privately with a warning saying why), the monitors see the true counts or
// nothing, root's files stay root's (or the group's to read), no planted link is
// written through, and no file of another user is trusted.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <chrono>

#include "os/paths.h"
#include "stats_fixture.h"

namespace lxtest {
namespace {

constexpr uid_t kAttacker = 4243;
constexpr uid_t kVictim = 65534;  // "nobody", whose home directory does not exist
gid_t g_group = 0;                // "nogroup", the monitoring group
std::string g_dir, g_block, g_lockFile;

// Becomes `uid` in the monitoring group; the saved user id stays root (for coverage counts).
bool BecomeUser(uid_t uid) {
  return setgroups(1, &g_group) == 0 && setresgid(g_group, g_group, g_group) == 0 &&
         setresuid(uid, uid, 0) == 0;
}

bool LockWhole(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags | O_CLOEXEC, 0666);
  struct flock whole = {};
  whole.l_type = F_RDLCK;
  return fd >= 0 && fcntl(fd, F_OFD_SETLK, &whole) == 0;
}

int Sample() {  // as a monitor: the commits of a whole sample, 200 for nothing
  unsigned char buf[kBlock];
  PrfData_Open(nullptr);
  const uint32_t size = Collect(buf);
  return size == kBlock ? static_cast<int>(Get32(buf + 680)) : 200;
}

struct Attack {  // each function returns true when all went as the row says
  const char* name;
  bool group;        // ORVANTA_SHM_GROUP names the monitoring group
  bool blockFirst;   // root made the block before the attack
  const char* logs;  // null: the server publishes; else it counts privately and logs this
  bool (*plant)();   // as the attacker, who keeps what it opens until the row ends
  bool (*victim)();  // instead of server and monitors, as another user
};

const Attack kAttacks[] = {
    {"a member of the monitoring group locks all of the block", true, true, nullptr,
     [] { return LockWhole(g_block, O_RDONLY); }, nullptr},
    {"the block is made first by another user", false, false, "owned by user id 4243",
     [] {
       return LockWhole(g_block, O_RDWR | O_CREAT | O_EXCL) && chmod(g_block.c_str(), 0666) == 0 &&
              truncate(g_block.c_str(), kBlock) == 0;
     },
     nullptr},
    {"a member of the monitoring group locks the registry store (a connection only reads it)", true, false,
     nullptr,
     [] {
       for (const char* file : {"", "-wal", "-shm"})
         if (!LockWhole(g_dir + "/state/registry.db" + file, O_RDONLY)) return false;
       return true;
     },
     nullptr},
    {"the lock file is made and held first by another user", false, false, "owned by user id 4243",
     [] { return flock(open(g_lockFile.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644), LOCK_EX) == 0; }, nullptr},
    {"a symbolic link at the lock file", false, false,
     "Orvanta_mt: ", [] { return symlink((g_dir + "/precious").c_str(), g_lockFile.c_str()) == 0; }, nullptr},
    {"a symbolic link at the block", false, false, "shared block /lxbtest-stats-",
     [] { return symlink((g_dir + "/precious").c_str(), g_block.c_str()) == 0; }, nullptr},
    {"a monitor of another user never makes the block", true, false, nullptr, nullptr,
     [] { return Sample() == 200 && access(g_block.c_str(), F_OK) != 0; }},
    {"without HOME the state directory comes from the password database", false, false, nullptr, nullptr,
     [] {
       for (const char* name : {"HOME", "XDG_STATE_HOME", "ORVANTA_STATE_DIR", "ORVANTA_REGISTRY"})
         unsetenv(name);
       const std::string home = getpwuid(geteuid()) ? getpwuid(geteuid())->pw_dir : "no home directory";
       return lxos::StateDir().empty() && lxos::RegistryFile().empty() &&
              lxos::StateDirProblem().find(home + "/.local/state/orvanta") != std::string::npos;
     }},
    {"HOME holds another user's state directory and store", false, false, nullptr,
     [] {
       const std::string dir = g_dir + "/locks/home/.local/state/orvanta";
       return lxos::MakeDirs(dir, 0755) && chmod(dir.c_str(), 0777) == 0 &&
              WriteFile(dir + "/registry.db", "x");
     },
     [] {
       for (const char* name : {"XDG_STATE_HOME", "ORVANTA_STATE_DIR", "ORVANTA_REGISTRY"}) unsetenv(name);
       setenv("HOME", (g_dir + "/locks/home").c_str(), 1);
       return lxos::StateDir().empty() && lxos::RegistryFile().empty() &&
              lxos::StateDirProblem().find(g_dir + "/locks/home/.local") != std::string::npos;
     }},
    {"libraries that another user made or can replace are not trusted", false, false, nullptr,
     [] {
       return WriteFile(g_dir + "/locks/evil.so", "x") && mkdir((g_dir + "/locks/adir").c_str(), 0755) == 0 &&
              symlink((g_dir + "/good.so").c_str(), (g_dir + "/locks/adir/lib.so").c_str()) == 0;
     },
     [] {  // "wide" and "shared.so" are root's, but others may write them
       for (const char* path : {"/locks/evil.so", "/locks/adir/lib.so", "/wide/good.so", "/shared.so"})
         if (lxos::IsTrustedPath(g_dir + path, nullptr)) return false;
       return lxos::IsTrustedPath(g_dir + "/locks/../good.so", nullptr);
     }},
};

class OtherUser : public StatsTest {
 protected:
  void SetUp() override {
    StatsTest::SetUp();
    if (geteuid() != 0) GTEST_SKIP() << "only root can play other local users here; run as root (CI does)";
    const struct group* g = getgrnam("nogroup");
    if (g == nullptr) GTEST_SKIP() << "no group \"nogroup\" to monitor with";
    g_group = g->gr_gid;
  }

  template <typename Body>  // `body`'s exit code, run in a child as `uid`
  static int As(uid_t uid, Body body) {
    return RunInChild([&] {
             if (uid != 0 && !BecomeUser(uid)) return 99;
             const int result = body();
             return seteuid(0) == 0 ? result : 98;
           })
        .code;
  }

  void Run(const Attack& a) {
    static int serial = 0;
    g_dir = "/dev/shm/lxbtest-user-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
    g_block = "/dev/shm" + shmName;
    g_lockFile = g_dir + "/locks/Orvanta_mt";
    const std::pair<const char*, mode_t> kScene[] = {
        {"/", 0755},        {"/state/", 0700},       {"/locks/", 01777},   {"/wide/", 0777},
        {"/good.so", 0644}, {"/wide/good.so", 0644}, {"/shared.so", 0664}, {"/precious", 0644}};
    for (const auto& f : kScene) {
      const std::string path = g_dir + f.first;
      ASSERT_TRUE(path.back() == '/' ? mkdir(path.c_str(), 0700) == 0 : WriteFile(path, "precious"));
      ASSERT_EQ(0, chmod(path.c_str(), f.second));
    }
    setenv("ORVANTA_LOCK_DIR", (g_dir + "/locks").c_str(), 1);
    setenv("ORVANTA_REGISTRY", (g_dir + "/state/registry.db").c_str(), 1);
    a.group ? setenv("ORVANTA_SHM_GROUP", "nogroup", 1) : unsetenv("ORVANTA_SHM_GROUP");
    ExpectPasses([&a] {  // shares the store's directory as its creator does, installs, makes the block
      EXPECT_EQ(0, lxos::ApplySharedMode(open((g_dir + "/state").c_str(), O_RDONLY), true));
      EXPECT_EQ(0, RegisterStatistics());
      EXPECT_EQ(0u, a.blockFirst ? PrfData_Open(nullptr) : 0);
    });
    WriteFile(StateDir() + "/eventlog.jsonl", "");
    Child attacker([&](int ready) {
      if (!BecomeUser(kAttacker) || (a.plant != nullptr && !a.plant())) return 1;
      AwaitRelease(ready);
      return 0;
    });
    ASSERT_TRUE(attacker.WaitReady()) << "the attack could not be planted";
    if (a.victim != nullptr) {
      EXPECT_EQ(1, As(kVictim, a.victim));
    } else {
      ExpectPasses([&a] {  // the server, with a monitor of its own user and one of the group
        umask(0);
        const auto start = std::chrono::steady_clock::now();
        Statistics()->Enable();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "Enable waited";
        EXPECT_EQ(a.logs == nullptr, Statistics()->GetEnabled() == 1);
        for (int i = 0; i < 7; ++i) Statistics()->IncCommits();
        const int seen = As(0, Sample), seenByGroup = As(kVictim, Sample);
        if (a.logs == nullptr) {
          EXPECT_EQ(std::make_pair(7, a.group ? 7 : 200), std::make_pair(seen, seenByGroup));
        } else {  // nothing, or a fresh block's zero
          EXPECT_TRUE(seen % 200 == 0 && seenByGroup % 200 == 0) << seen << " " << seenByGroup;
        }
      });
      const std::string log = ReadFile(StateDir() + "/eventlog.jsonl");
      EXPECT_TRUE(a.logs == nullptr || log.find(a.logs) != std::string::npos) << log;
    }
    attacker.Release();
    EXPECT_EQ(0, attacker.Wait());
    struct stat block, lock, precious;
    EXPECT_TRUE(lstat(g_block.c_str(), &block) != 0 || block.st_uid != 0 ||
                (block.st_mode == (a.group ? 0100640u : 0100600u) && block.st_gid == (a.group ? g_group : 0)))
        << std::oct << block.st_mode;
    EXPECT_TRUE(lstat(g_lockFile.c_str(), &lock) != 0 || lock.st_uid != 0 || lock.st_mode == 0100600u);
    struct stat state;  // set-group-id, so that files SQLite adds beside the store get the group
    EXPECT_TRUE(stat((g_dir + "/state").c_str(), &state) == 0 &&
                (state.st_mode & 07777) == (a.group ? 02750u : 0700u))
        << std::oct << state.st_mode;
    EXPECT_EQ("precious", ReadFile(g_dir + "/precious"));
    EXPECT_TRUE(stat((g_dir + "/precious").c_str(), &precious) == 0 && precious.st_mode == 0100644);
    shm_unlink(shmName.c_str());
    EXPECT_EQ(0, std::system(("rm -rf '" + g_dir + "'").c_str()));
  }
};

TEST_F(OtherUser, CannotStopTheServerBlindTheMonitorsOrPlantCode) {
  for (const Attack& a : kAttacks) {
    SCOPED_TRACE(a.name);
    Run(a);
  }
}

}  // namespace
}  // namespace lxtest
