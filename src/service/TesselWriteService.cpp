#include "service/TesselWriteService.h"

#include <Ice/Ice.h>

#include "SiteEnv.h"
#include "TraceSink.h"
#include "account/AccountInfoWriterI.h"
#include "common/GbkTexts.h"
#include "common/Console.h"
#include "common/PathHelpers.h"
#include "common/ServiceSettings.h"
#include "common/Version.h"
#include "port/Port.h"
#include "service/SystemdWatchdog.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace tessel {

SiteEnvInitException::SiteEnvInitException(const char* message, const std::string& reason)
    : IceUtil::ExceptionHelper<SiteEnvInitException>(message, 0), reason_(reason) {}

SiteEnvInitException::~SiteEnvInitException() throw() {}

std::string SiteEnvInitException::ice_id() const { return "::tessel::SiteEnvInitException"; }

void SiteEnvInitException::ice_print(std::ostream& out) const {
  // Printed in ASCII and UTF-8 only, the reason first: logs that take
  // UTF-8 (the systemd journal) show the line as text. The GBK message
  // stays the exception's own (ice_file()).
  out << "tesselWriteService: the site environment cannot be set up: "
      << (reason_.empty() ? std::string("no reason given") : reason_) << " ("
      << tessel::gbk::kSiteEnvInitFailedUtf8 << ")";
}

SiteEnvInitException* SiteEnvInitException::ice_clone() const {
  return new SiteEnvInitException(*this);
}

StartFailure::StartFailure(const std::string& reason)
    : IceUtil::ExceptionHelper<StartFailure>(__FILE__, __LINE__), reason_(reason) {}

StartFailure::~StartFailure() throw() {}

std::string StartFailure::ice_id() const { return "::tessel::StartFailure"; }

void StartFailure::ice_print(std::ostream& out) const { out << "tesselWriteService: " << reason_; }

StartFailure* StartFailure::ice_clone() const { return new StartFailure(*this); }

}  // namespace tessel

namespace {

// Why the site environment could not be set up: its file and the system's
// reason.
std::string SiteEnvFailure(const tessel::SiteContext& site) {
  const std::string path = site.siteDir + "siteenv.cfg";
  std::unique_ptr<tessel::port::File> file;
  const tessel::port::Status status = site.env->OpenFile(path, tessel::port::File::kRead, &file);
  return status.ok() ? path + ": not a file of Ice properties" : status.ToString();
}

// Makes the adapter without Ice's warning about properties it does not know
// for the service's own settings, which share the adapter's prefix (a real
// unknown one is still told).
Ice::ObjectAdapterPtr CreateAdapter(const Ice::CommunicatorPtr& communicator,
                                    const std::string& name) {
  Ice::PropertiesPtr properties = communicator->getProperties();
  std::vector<std::pair<std::string, std::string> > own;
  for (const std::string& setting : tessel::ServiceOwnKeys()) {
    const std::string key = name + "." + setting;
    const std::string value = properties->getProperty(key);
    if (value.empty()) continue;
    own.emplace_back(key, value);
    properties->setProperty(key, "");
  }
  // One thread of its own reads and dispatches the adapter's calls unless
  // the site says otherwise: a call only hands its records over (the writes
  // are one at a time under the servant's lock in any case), and a pool of
  // several hands every call from thread to thread, which costs the server
  // more than the call itself.
  const std::string poolSize = name + ".ThreadPool.Size";
  if (properties->getProperty(poolSize).empty() &&
      properties->getProperty(name + ".ThreadPool.SizeMax").empty())
    properties->setProperty(poolSize, "1");
  Ice::ObjectAdapterPtr adapter;
  try {
    adapter = communicator->createObjectAdapter(name);
  } catch (...) {
    for (const auto& setting : own) properties->setProperty(setting.first, setting.second);
    throw;
  }
  for (const auto& setting : own) properties->setProperty(setting.first, setting.second);
  return adapter;
}

}  // namespace

tesselWriteService::tesselWriteService(const Ice::CommunicatorPtr& server)
    : siteEnvReady(false), server(server) {}

void tesselWriteService::start(const std::string& name, const Ice::CommunicatorPtr& communicator,
                               const Ice::StringSeq&) {
  Ice::PropertiesPtr properties = communicator->getProperties();
  // Operator lines go to the communicator's logger from here on, where
  // Ice.LogFile or Ice.UseSystemdJournal send the site's lines: stamped by
  // the journal or syslog, which keep the line's priority, else with the
  // service's own stamp (zone offset included) in place of Ice's.
  Ice::LoggerPtr logger = communicator->getLogger();
  const bool named = !logger->getPrefix().empty();
  const bool systemLog = properties->getPropertyAsInt("Ice.UseSystemdJournal") > 0 ||
                         properties->getPropertyAsInt("Ice.UseSyslog") > 0;
  tessel::SetOperatorSink([logger, named, systemLog](const std::string& line) {
    const std::string text = named ? line : "tesselWriteService: " + line;
    if (systemLog)
      logger->warning(text);
    else
      logger->print(tessel::LogStamp() + " warning: " + text);
  });
  // The start and stop lines go through the process's logger: with
  // Ice.LogFile they go to that file too, until the service has stopped.
  hostLogger = Ice::getProcessLogger();
  if (!properties->getProperty("Ice.LogFile").empty()) Ice::setProcessLogger(logger);
  PrintString("KavoServer Service : tesselWriteService Begin Start");
  // The one place that looks at the process's environment and working
  // directory: every worker is handed this.
  tessel::port::Env* const env = tessel::port::Env::Default();
  const tessel::SiteContext site = tessel::SiteAt(env, GetModuleDir(env), tessel::port::CurrentDir());
  if (SiteEnv_Init() != 0) {
    tessel::SetOperatorSink(nullptr);
    RestoreHostLogger();
    throw tessel::SiteEnvInitException(tessel::gbk::kSiteEnvInitFailed, SiteEnvFailure(site));
  }
  siteEnvReady = true;

  try {
    // Every setting is read and checked here, before anything is started.
    tessel::ServiceSettings settings;
    std::vector<std::string> warnings;
    const tessel::port::Status read =
        tessel::ReadServiceSettings(properties, name, site, &settings, &warnings);
    if (!read.ok()) throw tessel::StartFailure(read.ToString());
    startedSite = settings.siteName + " (" + site.siteDir + ")";
    for (const std::string& warning : warnings) tessel::LogLine("%s", warning.c_str());
    tessel::SetDiagnosticLines(settings.diagnosticLines);

    try {
      adapter = CreateAdapter(communicator, name);
    } catch (const Ice::SocketException& e) {
      // Ice's own words do not say which port: a second site on the host
      // with the same one must be told.
      const std::string key = name + ".Endpoints";
      throw tessel::StartFailure(key + "=" + properties->getProperty(key) +
                                 ": cannot listen: " + std::strerror(e.error));
    }
    try {
      instance = new tessel::SiteInstance(site, settings);
      servant = new AccountInfoWriterI(communicator, instance);
      // The servant's on-line table as the last run left it, before the
      // adapter takes the first call.
      AccountInfoWriterI* table = servant.get();
      instance->Start(servant->UnitIdentity(),
                      [table](const VirtualIdRecord& record) { table->RestoreOnline(record); });
    } catch (const IceUtil::Exception&) {
      throw;
    } catch (const std::exception& e) {
      throw tessel::StartFailure(std::string("the servant cannot be set up: ") + e.what());
    }
    adapter->add(servant, Ice::stringToIdentity("tesselWriteService"));
    adapter->activate();
    if (server) {
      statusFacetName = tessel::StatusFacetName(name);
      tessel::StatusFacetPtr facet = new tessel::StatusFacet(instance, servant, env);
      server->addAdminFacet(facet, statusFacetName);
      statusFacet = facet;
    }
    // From here until stop, the unit's watchdog hears that the service runs.
    watchdog = tessel::SystemdWatchdog::FromEnvironment(env);
    if (watchdog) watchdog->start();
  } catch (...) {
    // A start that fails leaves nothing behind, so that IceBox can start
    // the service again in this process.
    if (adapter) adapter->destroy();
    adapter = 0;
    if (instance) instance->Stop();
    instance = 0;
    servant = 0;
    SiteEnv_Release();
    siteEnvReady = false;
    tessel::SetOperatorSink(nullptr);
    RestoreHostLogger();
    throw;
  }
  tessel::LogLine("version %s, site %s", tessel::Version(), startedSite.c_str());
  PrintString("KavoServer Service : tesselWriteService End Start");
}

void tesselWriteService::stop() {
  PrintString("KavoServer Service : tesselWriteService Start Stop");
  // No more pings: a stop that is not icebox's own ends in a restart by the
  // unit once its watchdog time has passed.
  if (watchdog) watchdog->StopAndJoin();
  watchdog = 0;
  // The facet's name is free again for a start in this process.
  if (statusFacet) {
    try {
      server->removeAdminFacet(statusFacetName);
    } catch (const Ice::LocalException&) {  // already gone with the server's admin
    }
    statusFacet->Detach();
    statusFacet = 0;
  }
  // New records are refused from here on (a call waiting for room fails
  // at once); what was accepted is stored by the list thread's last pass.
  if (instance) instance->BeginStop();
  adapter->deactivate();
  // Once the calls under way have ended, every thread of the service is
  // stopped and joined here, not whenever the last reference to the
  // instance goes: no thread may run this module's code once stop has
  // returned. The adapter's name is free again for a later start.
  adapter->waitForDeactivate();
  if (instance) instance->Stop();
  adapter->destroy();
  adapter = 0;
  servant = 0;
  instance = 0;
  // Released last: a call under way still reads the unit identity.
  if (siteEnvReady) SiteEnv_Release();
  siteEnvReady = false;
  PrintString("KavoServer Service : tesselWriteService End Stop");
  tessel::SetOperatorSink(nullptr);
  RestoreHostLogger();
}

void tesselWriteService::RestoreHostLogger() {
  if (hostLogger) Ice::setProcessLogger(hostLogger);
  hostLogger = 0;
}

extern "C" ICE_DECLSPEC_EXPORT IceBox::Service* create(const Ice::CommunicatorPtr& communicator) {
  return new tesselWriteService(communicator);
}
