#include "IceBoxSite.h"

#include <signal.h>

#include <fstream>

#ifndef TESSEL_MODULE_DIR
#error "TESSEL_MODULE_DIR must name the directory of libtesselWriteService.so"
#endif
#ifndef TESSEL_ICEBOX
#define TESSEL_ICEBOX "/usr/bin/icebox"
#endif

namespace testing_support {

IceBoxSite::IceBoxSite(const std::string& unitIdentity) : port_(FreePort()) {
  if (!unitIdentity.empty())
    WriteFile(site_ / "siteenv.cfg", "Audit.Unit.Identity=" + unitIdentity + "\n");
  Ice::InitializationData init;
  init.properties = Ice::createProperties();
  init.properties->setProperty("Ice.Default.Timeout", "10000");
  client_ = Ice::initialize(init);
}

IceBoxSite::~IceBoxSite() {
  if (running()) stop();
  try {
    client_->destroy();
  } catch (...) {
  }
}

bool IceBoxSite::start() {
  std::ofstream config(site_ / "icebox.cfg");
  config << "IceBox.Service.tesselWriteService=" << TESSEL_MODULE_DIR
         << "/tesselWriteService:create\n"
         << "IceBox.InheritProperties=1\n"
         << "tesselWriteService.Endpoints=tcp -h 127.0.0.1 -p " << port_ << "\n"
         << "Ice.ThreadPool.Server.Size=4\n";
  for (const auto& prop : props_) config << prop.first << "=" << prop.second << "\n";
  config.close();
  std::map<std::string, std::string> env = HostEnvironment();
  env["TESSEL_HOME"] = site_.path();
  process_.reset(new ChildProcess({TESSEL_ICEBOX, "--Ice.Config=" + (site_ / "icebox.cfg")}, env,
                                  site_.path(), site_ / "server.out", site_ / "server.err"));
  Audit::VirtualPersion::AccountInfoPrx prx = proxy();
  return WaitUntil(
      [&]() {
        if (!process_->running()) return true;
        try {
          prx->ice_ping();
          return true;
        } catch (const Ice::Exception&) {
          return false;
        }
      },
      std::chrono::seconds(15)) &&
         process_->running();
}

int IceBoxSite::stop() {
  if (!process_) return -1;
  return process_->stop(SIGTERM, std::chrono::seconds(15));
}

void IceBoxSite::kill() {
  if (process_) process_->stop(SIGKILL, std::chrono::seconds(15));
}

std::string IceBoxSite::serverStdout() const { return ReadFile(site_ / "server.out"); }
std::string IceBoxSite::serverStderr() const { return ReadFile(site_ / "server.err"); }

Audit::VirtualPersion::AccountInfoPrx IceBoxSite::proxy() {
  return Audit::VirtualPersion::AccountInfoPrx::uncheckedCast(client_->stringToProxy(
      "tesselWriteService:tcp -h 127.0.0.1 -p " + std::to_string(port_) + " -t 10000"));
}

}  // namespace testing_support
