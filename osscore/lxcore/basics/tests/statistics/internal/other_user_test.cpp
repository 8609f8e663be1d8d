// Another local user attacks the statistics, for real: children of a root test
// process drop to unprivileged user ids and try what the table below lists
// against a server (the writer) and monitors run by root. Whatever they do, the
// server keeps counting (published, or privately with one system-log warning
// saying why), the monitors answer with the true counts or with nothing, no
// process dies, nothing outside the scene is written, and no foreign file is
// trusted as code or state.
//
// The scene lives in a directory below /dev/shm: "locks" is world-writable and
// sticky like /dev/shm itself (the lock directory), "state" holds the registry
// store. The monitoring group is "nogroup"; the attacker and the victim users are
// members of it, so that rows with ORVANTA_SHM_GROUP set test what a member can
// do.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "lxstatistics.h"
#include "os/paths.h"
#include "stats_fixture.h"

namespace statstest {
namespace {

constexpr uid_t kAttacker = 4243;
constexpr uid_t kVictim = 65534;  // "nobody" where the password database has it
gid_t g_group = 0;                // the monitoring group

struct Scene {
  std::string dir, locks, state, store, shm, lockFile, precious;
  std::string ShmPath() const { return "/dev/shm" + shm; }
};
Scene g_scene;  // the row's scene, seen by the children

bool BecomeUser(uid_t uid) {
  return setgroups(1, &g_group) == 0 && setresgid(g_group, g_group, g_group) == 0 &&
         setresuid(uid, uid, uid) == 0;
}

// Collects once: the commits count of a whole sample, 200 for nothing, 201 for
// a failed call or a sample that is not whole.
int Sample() {
  PrfData_Open(nullptr);
  std::vector<unsigned char> buf(kBlock);
  void* data = buf.data();
  uint32_t size = kBlock;
  uint32_t objects = 0;
  if (PrfData_Collect(const_cast<char16_t*>(u"Global"), &data, &size, &objects) != 0) return 201;
  if (size == 0) return 200;
  if (size != kBlock || Get32(buf.data() + 4) != 664 || Get32(buf.data() + 664) != 128) return 201;
  return static_cast<int>(Get32(buf.data() + 672 + 8));
}

int g_held = -1;  // what the attacker keeps open between plant and strike

struct Attack {
  const char* name;
  bool group;       // ORVANTA_SHM_GROUP names the monitoring group
  bool blockFirst;  // a monitor of the owner made the block and lock file before
  bool publishes;   // the server must publish (else: private counts, and `logs` logged)
  const char* logs;
  int (*plant)();   // as the attacker before the server starts; 0 when all went as the row says
  int (*strike)();  // as the attacker while the server runs
  int (*victim)();  // instead of server and monitors: run as another user; 0 when safe
};

const Attack kAttacks[] = {
    {"a member of the monitoring group locks all of the block", true, true, true, "",
     [] {
       g_held = shm_open(g_scene.shm.c_str(), O_RDONLY, 0);
       struct flock fl = {};
       fl.l_type = F_RDLCK;  // whole file
       return g_held >= 0 && fcntl(g_held, F_OFD_SETLK, &fl) == 0 ? 0 : 1;
     },
     [] {
       // Reading is all a member may do: no write, no truncation, no writable map.
       struct flock fl = {};
       fl.l_type = F_WRLCK;
       if (fcntl(g_held, F_OFD_SETLK, &fl) == 0 || ftruncate(g_held, 1) == 0) return 2;
       if (mmap(nullptr, kBlock, PROT_WRITE, MAP_SHARED, g_held, 0) != MAP_FAILED) return 3;
       return shm_open(g_scene.shm.c_str(), O_RDWR, 0) < 0 && errno == EACCES ? 0 : 4;
     },
     nullptr},
    {"the block is made first by another user, then cut short", false, false, false, "owned by user id 4243",
     [] {
       g_held = shm_open(g_scene.shm.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
       std::vector<unsigned char> junk(kBlock, 0x5A);
       return g_held >= 0 && fchmod(g_held, 0666) == 0 && write(g_held, junk.data(), kBlock) == kBlock ? 0
                                                                                                       : 1;
     },
     [] { return ftruncate(g_held, 0); }, nullptr},
    {"under umask 0 nobody else may open, cut or lock anything", false, false, true, "", nullptr,
     [] {
       for (int flags : {O_RDONLY, O_RDWR}) {
         if (shm_open(g_scene.shm.c_str(), flags, 0) >= 0 || open(g_scene.lockFile.c_str(), flags) >= 0)
           return 1;
       }
       return truncate(g_scene.ShmPath().c_str(), 0) == 0 ? 2 : 0;
     },
     nullptr},
    {"a member of the monitoring group locks the registry store", true, false, false,
     "held the registry store for more than 2000 ms",
     [] {
       for (const char* suffix : {"", "-wal", "-shm"}) {
         int fd = open((g_scene.store + suffix).c_str(), O_RDONLY);
         struct flock fl = {};
         fl.l_type = F_RDLCK;  // whole file
         if (fd < 0 || fcntl(fd, F_OFD_SETLK, &fl) != 0) return 1;
       }
       return 0;
     },
     nullptr, nullptr},
    {"another user opens the lock file to hold its lock", true, true, true, "",
     [] { return open(g_scene.lockFile.c_str(), O_RDONLY) < 0 && errno == EACCES ? 0 : 1; }, nullptr,
     nullptr},
    {"the lock file is made and held first by another user", false, false, false, "owned by user id 4243",
     [] {
       g_held = open(g_scene.lockFile.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
       return g_held >= 0 && flock(g_held, LOCK_EX) == 0 ? 0 : 1;
     },
     nullptr, nullptr},
    {"a symbolic link at the lock file", false, false, false, "Orvanta_mt: ",
     [] { return symlink(g_scene.precious.c_str(), g_scene.lockFile.c_str()); }, nullptr, nullptr},
    {"a symbolic link at the block", false, false, false, "shared block /lxbtest-stats-",
     [] { return symlink(g_scene.precious.c_str(), g_scene.ShmPath().c_str()); }, nullptr, nullptr},
    {"a monitor of another user never makes the block", true, false, false, "", nullptr, nullptr,
     [] { return Sample() == 200 && shm_open(g_scene.shm.c_str(), O_RDONLY, 0) < 0 ? 0 : 1; }},
    {"without HOME the state directory comes from the password database", false, false, false, "", nullptr,
     nullptr,
     [] {
       unsetenv("HOME");
       unsetenv("XDG_STATE_HOME");
       unsetenv("ORVANTA_STATE_DIR");
       unsetenv("ORVANTA_REGISTRY");
       // The password database's home ("/nonexistent" for nobody) cannot be used.
       const struct passwd* pw = getpwuid(geteuid());
       const std::string expected =
           pw != nullptr ? std::string(pw->pw_dir) + "/.local/state/orvanta" : "no home directory";
       return lxos::StateDir().empty() && lxos::RegistryFile().empty() &&
                      lxos::StateDirProblem().find(expected) != std::string::npos
                  ? 0
                  : 1;
     }},
    {"HOME holds another user's state directory and store", false, false, false, "",
     [] {
       std::string d = g_scene.locks + "/home/.local/state/orvanta";
       return lxos::MakeDirs(d, 0755) && chmod(d.c_str(), 0777) == 0 &&
                      lxtest::WriteFile(d + "/registry.db", "planted")
                  ? 0
                  : 1;
     },
     nullptr,
     [] {
       setenv("HOME", (g_scene.locks + "/home").c_str(), 1);
       unsetenv("XDG_STATE_HOME");
       unsetenv("ORVANTA_STATE_DIR");
       unsetenv("ORVANTA_REGISTRY");
       if (!lxos::StateDir().empty() || !lxos::RegistryFile().empty() ||
           lxos::StateDirProblem().find(g_scene.locks + "/home/.local/state/orvanta") == std::string::npos) {
         return 1;
       }
       // A home of its own: the directory is made 0750 for the monitoring group.
       setenv("HOME", (g_scene.locks + "/mine").c_str(), 1);
       setenv("ORVANTA_SHM_GROUP", "nogroup", 1);
       struct stat st;
       const std::string dir = lxos::StateDir();
       return dir == g_scene.locks + "/mine/.local/state/orvanta" && stat(dir.c_str(), &st) == 0 &&
                      (st.st_mode & 07777) == 0750 && st.st_gid == g_group
                  ? 0
                  : 2;
     }},
    {"libraries that another user made or can replace are not trusted", false, false, false, "",
     [] {
       std::string d = g_scene.locks + "/adir";
       return lxtest::WriteFile(g_scene.locks + "/evil.so", "x") && mkdir(d.c_str(), 0755) == 0 &&
                      symlink((g_scene.dir + "/good.so").c_str(), (d + "/lib.so").c_str()) == 0
                  ? 0
                  : 1;
     },
     nullptr,
     [] {
       return !lxos::IsTrustedPath(g_scene.locks + "/evil.so", nullptr) &&
                      !lxos::IsTrustedPath(g_scene.locks + "/adir/lib.so", nullptr) &&
                      !lxos::IsTrustedPath(g_scene.dir + "/wide/good.so", nullptr) &&
                      !lxos::IsTrustedPath(g_scene.dir + "/shared.so", nullptr) &&
                      lxos::IsTrustedPath(g_scene.locks + "/../good.so", nullptr)
                  ? 0
                  : 1;
     }},
};

class OtherUser : public StatsTest {
 protected:
  void SetUp() override {
    StatsTest::SetUp();
    if (geteuid() != 0) GTEST_SKIP() << "only root can play other local users here; run as root (CI does)";
    struct group* g = getgrnam("nogroup");
    if (g == nullptr) GTEST_SKIP() << "no group \"nogroup\" to monitor with";
    g_group = g->gr_gid;
  }

  // A fresh scene with the counters installed, and the environment to reach it.
  void MakeScene(const Attack& a) {
    static int serial = 0;
    Scene& s = g_scene;
    s.dir = "/dev/shm/lxbtest-user-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
    s.locks = s.dir + "/locks";
    s.state = s.dir + "/state";
    s.store = s.state + "/registry.db";
    s.shm = shmName;
    s.lockFile = s.locks + "/Orvanta_mt";
    s.precious = s.dir + "/precious";
    ASSERT_EQ(0, mkdir(s.dir.c_str(), 0755));
    ASSERT_EQ(0, mkdir(s.locks.c_str(), 0777));
    ASSERT_EQ(0, chmod(s.locks.c_str(), 01777));
    ASSERT_EQ(0, mkdir(s.state.c_str(), 0700));
    ASSERT_TRUE(lxtest::WriteFile(s.precious, "precious") && lxtest::WriteFile(s.dir + "/good.so", "x"));
    ASSERT_EQ(0, chmod(s.precious.c_str(), 0644));
    // Root's own, but open to others: a directory anyone may write, a group-writable file.
    ASSERT_EQ(0, mkdir((s.dir + "/wide").c_str(), 0755));
    ASSERT_EQ(0, chmod((s.dir + "/wide").c_str(), 0777));
    ASSERT_TRUE(lxtest::WriteFile(s.dir + "/wide/good.so", "x") &&
                lxtest::WriteFile(s.dir + "/shared.so", "x"));
    ASSERT_EQ(0, chmod((s.dir + "/shared.so").c_str(), 0664));
    setenv("ORVANTA_LOCK_DIR", s.locks.c_str(), 1);
    setenv("ORVANTA_REGISTRY", s.store.c_str(), 1);
    if (a.group) {
      setenv("ORVANTA_SHM_GROUP", "nogroup", 1);
    } else {
      unsetenv("ORVANTA_SHM_GROUP");
    }
    ExpectPasses([] { EXPECT_EQ(0, RegisterStatistics()); });
    // What the store's creator does with the monitoring group.
    for (const std::string& path : {s.state, s.store}) {
      int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      ASSERT_GE(fd, 0);
      EXPECT_EQ(0, lxos::ApplySharedMode(fd, path == s.state));
      close(fd);
    }
    lxtest::WriteFile(lxtest::StateDir() + "/eventlog.jsonl", "");
  }

  // Runs `body` in a child as `uid` (root stays root); its exit code.
  static int As(uid_t uid, int (*body)()) {
    return lxtest::RunInChild([&] {
             if (uid != 0 && !BecomeUser(uid)) return 99;
             if (uid != 0) setenv("ORVANTA_EVENTLOG", "off", 1);
             return body();
           })
        .code;
  }

  void Run(const Attack& a) {
    MakeScene(a);
    if (HasFatalFailure()) return;
    LiveChild owner([&](LiveChild& self) {
      if (a.blockFirst) PrfData_Open(nullptr);
      self.Ready();
      self.Proceed();
      return 0;
    });
    ASSERT_TRUE(owner.WaitReady());
    LiveChild attacker([&](LiveChild& self) {
      if (!BecomeUser(kAttacker)) return 99;
      if (a.plant != nullptr && a.plant() != 0) return 1;
      self.Ready();
      self.Proceed();
      if (a.strike != nullptr && a.strike() != 0) return 2;
      self.Ready();
      self.Proceed();
      return 0;
    });
    ASSERT_TRUE(attacker.WaitReady()) << "the attack could not be planted";
    if (a.victim != nullptr) {
      EXPECT_EQ(0, As(kVictim, a.victim));
      attacker.Release();
      ASSERT_TRUE(attacker.WaitReady());
    } else {
      LiveChild server([&](LiveChild& self) {
        umask(0);
        const auto start = std::chrono::steady_clock::now();
        Statistics()->Enable();
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(10)) return 4;
        if (Statistics()->GetEnabled() != (a.publishes ? 1 : 0)) return 3;
        for (int i = 0; i < 7; ++i) {
          if (i == 3) {
            self.Ready();
            self.Proceed();
          }
          Statistics()->IncCommits();
        }
        self.Ready();
        self.Proceed();
        return Statistics()->GetCommits() == 7 ? 0 : 5;
      });
      ASSERT_TRUE(server.WaitReady());
      attacker.Release();
      ASSERT_TRUE(attacker.WaitReady()) << "the attacker's strike went otherwise than expected";
      server.Release();
      ASSERT_TRUE(server.WaitReady());
      const int seen = As(0, Sample);
      const int seenByGroup = As(kVictim, Sample);
      if (a.publishes) {
        EXPECT_EQ(7, seen);
        EXPECT_EQ(a.group ? 7 : 200, seenByGroup);
      } else {
        EXPECT_TRUE(seen == 200 || seen == 0) << seen;
        EXPECT_TRUE(seenByGroup == 200 || seenByGroup == 0) << seenByGroup;
        std::string log = lxtest::ReadFile(lxtest::StateDir() + "/eventlog.jsonl");
        EXPECT_NE(std::string::npos, log.find("Statistics are not published")) << log;
        EXPECT_NE(std::string::npos, log.find(a.logs)) << log;
      }
      server.Release();
      EXPECT_EQ(0, server.Wait()) << "3: wrong enabled state, 4: Enable waited, 5: lost counts, 128+: killed";
    }
    attacker.Release();
    EXPECT_EQ(0, attacker.Wait());
    owner.Release();
    EXPECT_EQ(0, owner.Wait());
    // What root made is root's alone (or the group's to read), and nothing was
    // written through a planted link.
    struct stat st;
    if (lstat(g_scene.ShmPath().c_str(), &st) == 0 && st.st_uid == 0 && S_ISREG(st.st_mode)) {
      EXPECT_EQ(a.group ? 0640u : 0600u, st.st_mode & 07777);
      if (a.group) {
        EXPECT_EQ(g_group, st.st_gid);
      }
    }
    if (lstat(g_scene.lockFile.c_str(), &st) == 0 && st.st_uid == 0) {
      EXPECT_EQ(0100600u, st.st_mode);
    }
    EXPECT_EQ("precious", lxtest::ReadFile(g_scene.precious));
    ASSERT_EQ(0, stat(g_scene.precious.c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 07777);
    shm_unlink(shmName.c_str());
    std::string cmd = "rm -rf '" + g_scene.dir + "'";
    EXPECT_EQ(0, std::system(cmd.c_str()));
  }
};

TEST_F(OtherUser, CannotStopTheServerBlindTheMonitorsOrPlantCode) {
  for (const Attack& a : kAttacks) {
    SCOPED_TRACE(a.name);
    Run(a);
  }
}

}  // namespace
}  // namespace statstest
