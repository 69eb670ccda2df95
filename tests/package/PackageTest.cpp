// What `cmake --install` gives a site server, checked on a staging root: the
// module and the stand-ins in their own library folder, the tools, the docs,
// the sample site and the systemd unit, and nothing else; the sample site runs
// in the stock icebox from the staged module with no library path, the module
// finding the stand-ins beside it; the unit passes systemd-analyze verify.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::string kBinDir = TESSEL_INSTALL_BINDIR;
const std::string kLibDir = std::string(TESSEL_INSTALL_LIBDIR) + "/tessel";
const std::string kDataDir = TESSEL_INSTALL_DATAROOTDIR;
const std::string kUnit = "lib/systemd/system/tessel@.service";
const char* const kLibraries[] = {"libtesselWriteService.so", "libSiteEnv.so", "libTraceSink.so",
                                  "libRecordExport.so"};

// Runs a program to its end (at most `seconds`); its exit code, or -1 when it
// did not exit by itself in time. Its output goes to `logs`/<name>.out, .err.
int RunToEnd(const std::vector<std::string>& argv, const TempDir& logs, const std::string& name,
        int seconds = 30) {
  ChildProcess child(argv, {{"LD_LIBRARY_PATH", ""}, {"DESTDIR", ""}}, "", logs / (name + ".out"),
                     logs / (name + ".err"));
  const int status = child.wait(std::chrono::seconds(seconds));
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Output(const TempDir& logs, const std::string& name) {
  return ReadFile(logs / (name + ".out")) + ReadFile(logs / (name + ".err"));
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool ReplaceOnce(std::string* text, const std::string& from, const std::string& to) {
  const std::string::size_type at = text->find(from);
  if (at == std::string::npos) return false;
  text->replace(at, from.size(), to);
  return true;
}

std::string FindInPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = dir + "/" + program;
    if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::string();
}

class InstalledTree : public ::testing::Test {
 protected:
  // One install for every case: into <stage>/usr, as a package would lay it.
  static void SetUpTestSuite() {
    stage_.reset(new TempDir);
    logs_.reset(new TempDir);
    installed_ = RunToEnd({TESSEL_CMAKE, "--install", TESSEL_BUILD_DIR, "--prefix", prefix()}, *logs_,
                     "install", 60) == 0;
  }
  static void TearDownTestSuite() {
    stage_.reset();
    logs_.reset();
  }
  void SetUp() override {
    ASSERT_TRUE(installed_) << "cmake --install failed:\n" << Output(*logs_, "install");
  }

  static std::string prefix() { return *stage_ / "usr"; }
  static std::string staged(const std::string& path) { return prefix() + "/" + path; }

  static std::unique_ptr<TempDir> stage_, logs_;
  static bool installed_;
};

std::unique_ptr<TempDir> InstalledTree::stage_, InstalledTree::logs_;
bool InstalledTree::installed_ = false;

TEST_F(InstalledTree, HoldsWhatASiteServerNeedsAndNothingElse) {
  std::set<std::string> expected = {
      kBinDir + "/virtualid-send",
      kBinDir + "/netlog-sink",
      kBinDir + "/riadump",
      kDataDir + "/doc/tessel/README.md",
      kDataDir + "/tessel/site/icebox.cfg",
      kDataDir + "/tessel/site/siteenv.cfg",
      kDataDir + "/tessel/site/netbarcfg.ini",
      kUnit,
  };
  for (const char* library : kLibraries) expected.insert(kLibDir + "/" + library);
  for (const auto& entry : fs::directory_iterator(std::string(TESSEL_SOURCE_DIR) + "/docs"))
    if (entry.path().extension() == ".md")
      expected.insert(kDataDir + "/doc/tessel/docs/" + entry.path().filename().string());

  std::set<std::string> installed;
  for (const auto& entry : fs::recursive_directory_iterator(prefix()))
    if (!entry.is_directory()) installed.insert(fs::relative(entry.path(), prefix()).string());
  EXPECT_EQ(expected, installed);

  for (const std::string program : {"virtualid-send", "netlog-sink", "riadump"})
    EXPECT_EQ(0, ::access(staged(kBinDir + "/" + program).c_str(), X_OK)) << program;
}

TEST_F(InstalledTree, SampleSiteRunsInIceboxFromTheStagedModule) {
  TempDir site, logs;
  for (const std::string name : {"icebox.cfg", "siteenv.cfg", "netbarcfg.ini"})
    WriteFile(site / name, ReadFile(staged(kDataDir + "/tessel/site/" + name)));

  // The sample names the module where the package puts it; here it is staged.
  std::string config = ReadFile(site / "icebox.cfg");
  const std::string service = "IceBox.Service.tesselWriteService=";
  ASSERT_TRUE(ReplaceOnce(&config,
                          service + TESSEL_INSTALL_FULL_LIBDIR + "/tessel/tesselWriteService:create\n",
                          service + staged(kLibDir) + "/tesselWriteService:create\n"))
      << config;
  for (const std::string line : {"\nIceBox.InheritProperties=1\n", "\ntesselServiceIA.Path=*ia/\n",
                                 "\ntesselServiceIA.upPath=*ia/\n"})
    EXPECT_TRUE(Contains(config, line)) << line;
  const int port = FreePort();
  ASSERT_TRUE(ReplaceOnce(&config, "\ntesselWriteService.Endpoints=tcp -p 10010\n",
                          "\ntesselWriteService.Endpoints=tcp -h 127.0.0.1 -p " +
                              std::to_string(port) + "\n"))
      << config;
  WriteFile(site / "icebox.cfg", config);

  ChildProcess icebox({TESSEL_ICEBOX, "--Ice.Config=" + (site / "icebox.cfg")},
                      HostEnvironment({{"TESSEL_HOME", site.path()}, {"LD_LIBRARY_PATH", ""}}),
                      site.path(),
                      site / "server.out", site / "server.err");
  const std::string send = staged(kBinDir + "/virtualid-send");
  const bool answered = WaitUntil(
      [&] {
        return !icebox.running() ||
               RunToEnd({send, "--port", std::to_string(port), "ping"}, logs, "ping", 10) == 0;
      },
      std::chrono::seconds(15));
  ASSERT_TRUE(answered && icebox.running())
      << "the service did not answer\n" << ReadFile(site / "server.err") << Output(logs, "ping");

  // Every library of the module came from the staged folder.
  std::istringstream maps(ReadFile("/proc/" + std::to_string(icebox.pid()) + "/maps"));
  std::set<std::string> loaded;
  std::string line;
  while (std::getline(maps, line)) {
    const std::string::size_type at = line.find('/');
    if (at != std::string::npos) loaded.insert(line.substr(at));
  }
  for (const char* library : kLibraries) {
    const std::string expected = staged(kLibDir) + "/" + library;
    EXPECT_EQ(1u, loaded.count(expected)) << expected << " is not loaded";
    for (const std::string& path : loaded)
      if (path != expected && fs::path(path).filename() == library)
        ADD_FAILURE() << library << " loaded from " << path;
  }
  EXPECT_TRUE(fs::is_directory(site / "ia")) << "the sample's IA path was not made";

  // The staged tools start without a library path too.
  EXPECT_EQ(0, RunToEnd({staged(kBinDir + "/riadump"), "status", site.path()}, logs, "riadump"))
      << Output(logs, "riadump");
  EXPECT_EQ(0, RunToEnd({staged(kBinDir + "/netlog-sink"), "--help"}, logs, "sink"))
      << Output(logs, "sink");

  const int status = icebox.stop(SIGTERM, std::chrono::seconds(15));
  EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "icebox did not stop cleanly on SIGTERM";
  EXPECT_TRUE(Contains(ReadFile(site / "server.err"), "tesselWriteService End Stop"))
      << ReadFile(site / "server.err");
}

TEST_F(InstalledTree, UnitRunsTheSiteDirectoryAndPassesVerify) {
  const std::string unit = ReadFile(staged(kUnit));
  for (const std::string line : {
           "\nExecStart=/usr/bin/icebox --Ice.Config=/var/lib/tessel/%i/icebox.cfg\n",
           "\nEnvironment=TESSEL_HOME=/var/lib/tessel/%i\n",
           "\nWorkingDirectory=/var/lib/tessel/%i\n",
           "\nUser=tessel\n",
           "\nGroup=tessel\n",
           "\nKillSignal=SIGTERM\n",
           "\nTimeoutStopSec=",
           "\nRestart=on-failure\n",
           "\nWantedBy=multi-user.target\n",
       })
    EXPECT_TRUE(Contains(unit, line)) << line;

  const std::string analyze = FindInPath("systemd-analyze");
  if (analyze.empty()) GTEST_SKIP() << "systemd-analyze is not installed: the unit is not verified";
  // Verified as it is, but for icebox's path where it is not the stock one.
  TempDir copy, logs;
  std::string text = unit;
  if (std::string(TESSEL_ICEBOX) != "/usr/bin/icebox")
    ReplaceOnce(&text, "=/usr/bin/icebox ", std::string("=") + TESSEL_ICEBOX + " ");
  WriteFile(copy / "tessel@.service", text);
  const int code = RunToEnd({analyze, "verify", copy / "tessel@.service"}, logs, "verify");
  const std::string said = Output(logs, "verify");
  EXPECT_EQ(0, code) << said;
  // Warnings (unknown keys, values it cannot parse) leave the exit code 0;
  // lines about other units of this machine are not ours to judge.
  EXPECT_FALSE(Contains(said, "tessel@")) << said;
}

}  // namespace
