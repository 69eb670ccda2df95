// deploy/icegrid/tessel-sites.xml added as it is to a real IceGrid registry
// and node on loopback, with the example node's two sites in a temporary
// directory: each site's service is reached through its adapter id and stores
// in its own day file, its status is read through the registry, and a site's
// server killed with SIGKILL is started again by the node and stores again,
// with nothing lost; a server's admin object serves only what reads, so that
// neither a registry admin nor a local user of the node can stop the service
// alone or change a setting. Nothing is left running afterwards.
#include <IceBox/IceBox.h>
#include <Ice/Metrics.h>
#include <IceGrid/IceGrid.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <functional>
#include <memory>
#include <set>

#include "E2eSite.h"
#include "SiteStatus.h"

#ifndef TESSEL_MODULE_DIR
#error "TESSEL_MODULE_DIR must name the directory of libtesselWriteService.so"
#endif

using namespace tessel;
using namespace testing_support;

namespace {

const std::chrono::seconds kDeadline(20);
// The example node of the descriptor and its sites.
const char* const kNode = "site-server-1";
const char* const kSites[] = {"cafe-0101", "cafe-0102"};

std::string AdapterId(const std::string& site) { return site + ".tesselWriteService"; }

bool Executable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

// The processes whose working directory lies under `dir`: the servers the
// node started in the sites.
std::set<pid_t> ProcessesWorkingUnder(const std::string& dir) {
  std::set<pid_t> pids;
  for (const std::string& name : ListDir("/proc")) {
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    char cwd[PATH_MAX];
    ssize_t n = ::readlink(("/proc/" + name + "/cwd").c_str(), cwd, sizeof cwd - 1);
    if (n <= 0) continue;  // ended, or a zombie
    const std::string path(cwd, static_cast<size_t>(n));
    if (path == dir || path.compare(0, dir.size() + 1, dir + "/") == 0)
      pids.insert(static_cast<pid_t>(std::stol(name)));
  }
  return pids;
}

std::string WorkingDirOf(pid_t pid) {
  char cwd[PATH_MAX];
  ssize_t n = ::readlink(("/proc/" + std::to_string(pid) + "/cwd").c_str(), cwd, sizeof cwd - 1);
  return n > 0 ? std::string(cwd, static_cast<size_t>(n)) : std::string();
}

// An IceGrid registry and a node on loopback, their data, and the sites, in
// one temporary directory.
class Grid {
 public:
  Grid() : registryPort_(FreePort()) {
    locator_ = "IceGrid/Locator:tcp -h 127.0.0.1 -p " + std::to_string(registryPort_);
    ::mkdir((root_ / "registry").c_str(), 0755);
    ::mkdir((root_ / "node").c_str(), 0755);
    ::mkdir(sitesRoot().c_str(), 0755);
    Ice::InitializationData init;
    init.properties = Ice::createProperties();
    init.properties->setProperty("Ice.Default.Locator", locator_);
    init.properties->setProperty("Ice.Default.Timeout", "10000");
    client_ = Ice::initialize(init);
  }

  // Stops the node (which stops its servers) and the registry; whatever
  // still runs in the sites after that is killed.
  ~Grid() {
    shutdown();
    for (pid_t pid : ProcessesWorkingUnder(root_.path())) ::kill(pid, SIGKILL);
    try {
      client_->destroy();
    } catch (...) {
    }
  }

  std::string sitesRoot() const { return root_ / "sites"; }
  std::string siteDir(const std::string& site) const { return sitesRoot() + "/" + site; }
  const std::string& root() const { return root_.path(); }

  // A site directory with its siteenv.cfg, writable by the account the
  // node runs the servers under: a node running as root runs them as
  // nobody, as it does on a real site server.
  void addSiteDir(const std::string& site, const std::string& unitIdentity) {
    const std::string dir = siteDir(site);
    ::mkdir(dir.c_str(), 0755);
    WriteFile(dir + "/siteenv.cfg", "Audit.Unit.Identity=" + unitIdentity + "\n");
    if (::geteuid() == 0) {
      ::chmod(root_.path().c_str(), 0755);
      const passwd* nobody = ::getpwnam("nobody");
      ASSERT_NE(nobody, nullptr);
      ASSERT_EQ(::chown(dir.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
      ASSERT_EQ(::chown((dir + "/siteenv.cfg").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
  }

  // Starts the registry and waits until its locator answers, then starts the
  // node. False, with the reason in *why, when either ends at once.
  bool start(std::string* why) {
    WriteFile(root_ / "registry.cfg",
              "IceGrid.Registry.Client.Endpoints=tcp -h 127.0.0.1 -p " +
                  std::to_string(registryPort_) +
                  "\n"
                  "IceGrid.Registry.Server.Endpoints=tcp -h 127.0.0.1\n"
                  "IceGrid.Registry.Internal.Endpoints=tcp -h 127.0.0.1\n"
                  "IceGrid.Registry.LMDB.Path=" + (root_ / "registry") + "\n"
                  "IceGrid.Registry.LMDB.MapSize=10\n"
                  "IceGrid.Registry.PermissionsVerifier=IceGrid/NullPermissionsVerifier\n"
                  "IceGrid.Registry.AdminPermissionsVerifier=IceGrid/NullPermissionsVerifier\n");
    registry_.reset(new ChildProcess(
        {TESSEL_ICEGRIDREGISTRY, "--Ice.Config=" + (root_ / "registry.cfg")}, {}, root_.path(),
        root_ / "registry.out", root_ / "registry.err"));
    Ice::ObjectPrx locator = client_->stringToProxy(locator_);
    const bool answers = WaitUntil(
        [&] {
          if (!registry_->running()) return true;
          try {
            locator->ice_ping();
            return true;
          } catch (const Ice::Exception&) {
            return false;
          }
        },
        kDeadline);
    if (!answers || !registry_->running()) {
      *why = "icegridregistry does not answer: " + ReadFile(root_ / "registry.err");
      return false;
    }
    // The servers inherit the node's standard output and error (no
    // IceGrid.Node.Output), so their lines land in node.out and node.err
    // unbuffered, even when a server is killed.
    // Ice.Default.Host keeps the sites' "tcp" endpoints on loopback.
    WriteFile(root_ / "node.cfg",
              "Ice.Default.Locator=" + locator_ +
                  "\n"
                  "IceGrid.Node.Name=" + kNode + "\n"
                  "IceGrid.Node.Endpoints=tcp -h 127.0.0.1\n"
                  "IceGrid.Node.Data=" + (root_ / "node") + "\n"
                  "IceGrid.Node.PropertiesOverride=Ice.Default.Host=127.0.0.1\n");
    // The servers inherit the node's environment, the sanitizer's run time
    // of a sanitizer build with it.
    node_.reset(new ChildProcess({TESSEL_ICEGRIDNODE, "--Ice.Config=" + (root_ / "node.cfg")},
                                 HostEnvironment(), root_.path(), root_ / "node.out",
                                 root_ / "node.err"));
    return true;
  }

  // Runs one icegridadmin command; its exit status (-1 when it did not end
  // in time) and, in *output, what it printed.
  int admin(const std::string& command, std::string* output = nullptr) {
    ChildProcess process({TESSEL_ICEGRIDADMIN, "-u", "x", "-p", "x",
                          "--Ice.Default.Locator=" + locator_, "-e", command},
                         {}, root_.path(), root_ / "admin.out", root_ / "admin.err");
    int status = process.wait(std::chrono::seconds(15));
    if (output) *output = ReadFile(root_ / "admin.out") + ReadFile(root_ / "admin.err");
    return status;
  }

  // The pid of a site's server as the registry knows it, or 0 when it does
  // not run.
  pid_t serverPid(const std::string& site) {
    std::string out;
    if (admin("server pid " + site, &out) != 0) return 0;
    try {
      return static_cast<pid_t>(std::stol(out));
    } catch (const std::exception&) {
      return 0;
    }
  }

  // A site's status facet, read as an operator reads it: through the
  // registry's route to the server's admin object, which serves the calls of
  // an admin session's connection.
  Tessel::SiteState status(const std::string& site) {
    IceGrid::RegistryPrx registry =
        IceGrid::LocatorPrx::uncheckedCast(client_->getDefaultLocator())->getLocalRegistry();
    IceGrid::AdminSessionPrx session = registry->createAdminSession("x", "x");
    Tessel::SiteState state =
        Tessel::SiteStatusPrx::uncheckedCast(
            session->getAdmin()->getServerAdmin(site)->ice_facet(
                "IceBox.Service.tesselWriteService.Status"))
            ->read();
    session->destroy();
    return state;
  }

  // Calls `use` with a site's admin object as the registry routes to it
  // (an admin session's connection).
  void withServerAdmin(const std::string& site, const std::function<void(const Ice::ObjectPrx&)>& use) {
    IceGrid::RegistryPrx registry =
        IceGrid::LocatorPrx::uncheckedCast(client_->getDefaultLocator())->getLocalRegistry();
    IceGrid::AdminSessionPrx session = registry->createAdminSession("x", "x");
    use(session->getAdmin()->getServerAdmin(site));
    session->destroy();
  }

  // riadump live through the registry; its exit status, and its output in
  // *output.
  int live(const std::string& site, std::string* output) {
    ChildProcess process({RIADUMP, "live", "--icegrid", site, "--Ice.Default.Locator=" + locator_,
                          "--IceGridAdmin.Username=x", "--IceGridAdmin.Password=x"},
                         {}, root_.path(), root_ / "live.out", root_ / "live.err");
    const int status = process.wait(std::chrono::seconds(20));
    *output = ReadFile(root_ / "live.out") + ReadFile(root_ / "live.err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  Audit::VirtualPersion::AccountInfoPrx service(const std::string& site) {
    return Audit::VirtualPersion::AccountInfoPrx::uncheckedCast(
        client_->stringToProxy("tesselWriteService@" + AdapterId(site)));
  }

  // SIGTERM to the node, then to the registry; whether both ended in time.
  bool shutdown() {
    bool ended = true;
    for (ChildProcess* process : {node_.get(), registry_.get()}) {
      if (process == nullptr || !process->running()) continue;
      if (process->stop(SIGTERM, kDeadline) == -1) {
        ended = false;
        process->stop(SIGKILL, kDeadline);
      }
    }
    return ended;
  }

  std::string logs() {
    return "\n--- node.err\n" + ReadFile(root_ / "node.err") + "\n--- node.out\n" +
           ReadFile(root_ / "node.out") + "\n--- registry.err\n" + ReadFile(root_ / "registry.err");
  }

 private:
  TempDir root_;
  const int registryPort_;
  std::string locator_;
  Ice::CommunicatorPtr client_;
  std::unique_ptr<ChildProcess> registry_;
  std::unique_ptr<ChildProcess> node_;
};

VirtualIdRecord Record(const std::string& unit, const std::string& account) {
  const std::string prefix = unit + "_16777343_" + std::to_string(std::time(nullptr) - 60) + "_";
  return ImRecord(prefix, 1001, account, 100, 100, 0);
}

bool DayFileHolds(const std::string& site, const std::string& account) {
  for (const VirtualIdRecord& record : TodaysRecords(site))
    if (record.Text(rec::kAccount, rec::kSeatAccountWidth) == account) return true;
  return false;
}

// Sends one record to a site through its indirect proxy and waits until it
// is in the site's day file.
::testing::AssertionResult StoredThroughGrid(Grid& grid, const std::string& site,
                                             const VirtualIdRecord& record) {
  const std::string account = record.Text(rec::kAccount, rec::kSeatAccountWidth);
  try {
    Audit::VirtualPersion::AccountInfoPrx service = grid.service(site);
    service->ice_ping();  // idempotent: retried through the locator after a restart
    service->write(Bytes(record));
  } catch (const Ice::Exception& e) {
    return ::testing::AssertionFailure() << site << ": " << e;
  }
  if (!WaitUntil([&] { return DayFileHolds(grid.siteDir(site), account); }, kDeadline))
    return ::testing::AssertionFailure() << account << " not in the day file of " << site;
  return ::testing::AssertionSuccess();
}

}  // namespace

TEST(IceGridDeploymentTest, SitesServeThroughTheRegistryAndAKilledServerIsStartedAgain) {
  for (const char* program : {TESSEL_ICEGRIDREGISTRY, TESSEL_ICEGRIDNODE, TESSEL_ICEGRIDADMIN})
    ASSERT_TRUE(Executable(program))
        << program
        << " is missing: scripts/install-deps installs it (zeroc-icegrid, zeroc-ice-utils)";

  Grid grid;
  const std::string units[] = {"4401020001", "4401020002"};
  for (int i = 0; i < 2; ++i) {
    grid.addSiteDir(kSites[i], units[i]);
    if (HasFatalFailure()) return;
  }
  std::string why;
  ASSERT_TRUE(grid.start(&why)) << why;

  std::string out;
  ASSERT_EQ(grid.admin(std::string("application add \"") + TESSEL_ICEGRID_DESCRIPTOR +
                           "\" tessel-module-dir=\"" + TESSEL_MODULE_DIR + "\" sites-root=\"" +
                           grid.sitesRoot() + "\"",
                       &out),
            0)
      << out << grid.logs();

  // Both servers started by the node at once, each in its site directory.
  pid_t first[2] = {0, 0};
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(WaitUntil([&] { return (first[i] = grid.serverPid(kSites[i])) > 0; }, kDeadline))
        << kSites[i] << " not started" << grid.logs();
    EXPECT_EQ(WorkingDirOf(first[i]), grid.siteDir(kSites[i]));
  }

  // Each record reaches its own site's day file only.
  const VirtualIdRecord before[2] = {Record(units[0], "grid_a0"), Record(units[1], "grid_b0")};
  for (int i = 0; i < 2; ++i)
    ASSERT_TRUE(StoredThroughGrid(grid, kSites[i], before[i])) << grid.logs();
  EXPECT_FALSE(DayFileHolds(grid.siteDir(kSites[1]), "grid_a0"));
  EXPECT_FALSE(DayFileHolds(grid.siteDir(kSites[0]), "grid_b0"));

  // Each server's status, through the registry.
  for (int i = 0; i < 2; ++i) {
    Tessel::SiteState state;
    ASSERT_NO_THROW(state = grid.status(kSites[i])) << kSites[i] << grid.logs();
    EXPECT_EQ(state.accepted, 1) << kSites[i];
    EXPECT_EQ(state.stored, 1) << kSites[i];
  }
  ASSERT_EQ(grid.live(kSites[1], &out), 0) << out;
  EXPECT_NE(out.find("records: 1 accepted, 1 stored"), std::string::npos) << out;

  // Killed: the node starts it again by itself, before any client asks.
  ASSERT_EQ(::kill(first[0], SIGKILL), 0);
  pid_t again = 0;
  ASSERT_TRUE(WaitUntil(
      [&] {
        again = grid.serverPid(kSites[0]);
        return again > 0 && again != first[0];
      },
      kDeadline))
      << kSites[0] << " not started again" << grid.logs();
  EXPECT_EQ(WorkingDirOf(again), grid.siteDir(kSites[0]));

  EXPECT_TRUE(DayFileHolds(grid.siteDir(kSites[0]), "grid_a0"));
  EXPECT_TRUE(StoredThroughGrid(grid, kSites[0], Record(units[0], "grid_a1"))) << grid.logs();
  EXPECT_EQ(grid.serverPid(kSites[1]), first[1]);  // the other site ran on untouched

  // The node stops its servers when it stops.
  EXPECT_TRUE(grid.shutdown()) << grid.logs();
  EXPECT_TRUE(ProcessesWorkingUnder(grid.root()).empty());
  EXPECT_TRUE(DayFileHolds(grid.siteDir(kSites[0]), "grid_a0"));
  EXPECT_TRUE(DayFileHolds(grid.siteDir(kSites[0]), "grid_a1"));
  EXPECT_TRUE(DayFileHolds(grid.siteDir(kSites[1]), "grid_b0"));
}

// The descriptor's admin facets: the status and the metrics, through the
// registry's route as on the node's loopback (the same object), and no facet
// that stops the service, stops the server or changes a setting. The node
// stops its servers all the same, with SIGTERM.
TEST(IceGridDeploymentTest, AServersAdminObjectServesOnlyWhatReads) {
  Grid grid;
  grid.addSiteDir(kSites[0], "4401020001");
  grid.addSiteDir(kSites[1], "4401020002");
  if (HasFatalFailure()) return;
  std::string why, out;
  ASSERT_TRUE(grid.start(&why)) << why;
  ASSERT_EQ(grid.admin(std::string("application add \"") + TESSEL_ICEGRID_DESCRIPTOR +
                           "\" tessel-module-dir=\"" + TESSEL_MODULE_DIR + "\" sites-root=\"" +
                           grid.sitesRoot() + "\"",
                       &out),
            0)
      << out << grid.logs();
  pid_t pid = 0;
  ASSERT_TRUE(WaitUntil([&] { return (pid = grid.serverPid(kSites[0])) > 0; }, kDeadline))
      << grid.logs();
  ASSERT_TRUE(StoredThroughGrid(grid, kSites[0], Record("4401020001", "grid_r0"))) << grid.logs();

  // A facet the server does not serve fails: the registry's route tells it
  // as ObjectNotExistException, the server itself as FacetNotExistException.
  grid.withServerAdmin(kSites[0], [&](const Ice::ObjectPrx& admin) {
    EXPECT_NO_THROW(Tessel::SiteStatusPrx::uncheckedCast(
                        admin->ice_facet("IceBox.Service.tesselWriteService.Status"))->read());
    Ice::StringSeq disabled;
    EXPECT_NO_THROW(IceMX::MetricsAdminPrx::uncheckedCast(
                        admin->ice_facet("IceBox.Service.tesselWriteService.Metrics"))
                        ->getMetricsViewNames(disabled));
    EXPECT_THROW(IceBox::ServiceManagerPrx::uncheckedCast(admin->ice_facet("IceBox.ServiceManager"))
                     ->stopService("tesselWriteService"),
                 Ice::RequestFailedException);
    Ice::PropertyDict change;
    change["tesselWriteService.DiagnosticLines"] = "1";
    for (const char* facet : {"Properties", "IceBox.Service.tesselWriteService.Properties"})
      EXPECT_THROW(Ice::PropertiesAdminPrx::uncheckedCast(admin->ice_facet(facet))->setProperties(change),
                   Ice::RequestFailedException)
          << facet;
    EXPECT_THROW(Ice::ProcessPrx::uncheckedCast(admin->ice_facet("Process"))->shutdown(),
                 Ice::RequestFailedException);
  });
  // The same server, still storing.
  EXPECT_EQ(grid.serverPid(kSites[0]), pid);
  EXPECT_TRUE(StoredThroughGrid(grid, kSites[0], Record("4401020001", "grid_r1"))) << grid.logs();

  EXPECT_TRUE(grid.shutdown()) << grid.logs();
  EXPECT_TRUE(ProcessesWorkingUnder(grid.root()).empty());
  EXPECT_TRUE(DayFileHolds(grid.siteDir(kSites[0]), "grid_r1"));
}
