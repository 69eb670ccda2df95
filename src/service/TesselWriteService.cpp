#include "service/TesselWriteService.h"

#include <Ice/Ice.h>

#include "SiteEnv.h"
#include "TraceSink.h"
#include "account/AccountInfoWriterI.h"
#include "common/GbkTexts.h"
#include "common/PathHelpers.h"

#include <cerrno>
#include <cstdlib>

namespace tessel {

SiteEnvInitException::SiteEnvInitException(const char* message)
    : IceUtil::ExceptionHelper<SiteEnvInitException>(message, 0) {}

SiteEnvInitException::~SiteEnvInitException() throw() {}

std::string SiteEnvInitException::ice_id() const { return "::tessel::SiteEnvInitException"; }

void SiteEnvInitException::ice_print(std::ostream& out) const { out << ice_file(); }

SiteEnvInitException* SiteEnvInitException::ice_clone() const {
  return new SiteEnvInitException(*this);
}

StartFailure::StartFailure(const std::string& reason)
    : IceUtil::ExceptionHelper<StartFailure>(__FILE__, __LINE__), reason_(reason) {}

StartFailure::~StartFailure() throw() {}

std::string StartFailure::ice_id() const { return "::tessel::StartFailure"; }

void StartFailure::ice_print(std::ostream& out) const { out << "tesselWriteService: " << reason_; }

StartFailure* StartFailure::ice_clone() const { return new StartFailure(*this); }

WriteOptions ReadWriteOptions(const Ice::PropertiesPtr& properties, const std::string& service) {
  WriteOptions options;
  const std::string durabilityKey = service + ".Durability";
  const std::string durability = properties->getProperty(durabilityKey);
  if (!durability.empty() && !ParseDurability(durability, &options.durability))
    throw StartFailure(durabilityKey + "=" + durability + ": use power or process");
  const std::string boundKey = service + ".MaxWaitingRecords";
  const std::string bound = properties->getProperty(boundKey);
  if (!bound.empty()) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(bound.c_str(), &end, 10);
    if (errno != 0 || end == bound.c_str() || *end != '\0' || value == 0 || bound[0] == '-')
      throw StartFailure(boundKey + "=" + bound + ": not a whole number above 0");
    options.maxWaitingRecords = static_cast<std::size_t>(value);
  }
  return options;
}

}  // namespace tessel

tesselWriteService::tesselWriteService(const Ice::CommunicatorPtr& server)
    : siteEnvReady(false), server(server) {}

void tesselWriteService::start(const std::string& name, const Ice::CommunicatorPtr& communicator,
                               const Ice::StringSeq&) {
  Ice::PropertiesPtr properties = communicator->getProperties();
  PrintString("KavoServer Service : tesselWriteService Begin Start");
  if (SiteEnv_Init() != 0) throw tessel::SiteEnvInitException(tessel::gbk::kSiteEnvInitFailed);
  siteEnvReady = true;

  try {
    adapter = communicator->createObjectAdapter(name);
    std::string path = properties->getProperty("tesselServiceIA.Path");
    ExpandPath(path);
    std::string upPath = properties->getProperty("tesselServiceIA.upPath");
    ExpandPath(upPath);

    const tessel::WriteOptions options = tessel::ReadWriteOptions(properties, name);
    try {
      servant = new AccountInfoWriterI(communicator, path, upPath, tessel::port::Env::Default(),
                                       options);
    } catch (const IceUtil::Exception&) {
      throw;
    } catch (const std::exception& e) {
      throw tessel::StartFailure(std::string("the servant cannot be set up: ") + e.what());
    }
    adapter->add(servant, Ice::stringToIdentity("tesselWriteService"));
    adapter->activate();
    if (server) {
      statusFacetName = tessel::StatusFacetName(name);
      tessel::StatusFacetPtr facet = new tessel::StatusFacet(servant, tessel::port::Env::Default());
      server->addAdminFacet(facet, statusFacetName);
      statusFacet = facet;
    }
  } catch (...) {
    // A start that fails leaves nothing behind, so that IceBox can start
    // the service again in this process.
    if (adapter) adapter->destroy();
    adapter = 0;
    servant = 0;
    SiteEnv_Release();
    siteEnvReady = false;
    throw;
  }
  PrintString("KavoServer Service : tesselWriteService End Start");
}

void tesselWriteService::stop() {
  PrintString("KavoServer Service : tesselWriteService Start Stop");
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
  if (servant) servant->BeginStop();
  adapter->deactivate();
  // Once the calls under way have ended, destroying the adapter and letting
  // the servant go runs its destructor, which stops and joins every thread
  // of the service; the adapter's name is free again for a later start.
  adapter->waitForDeactivate();
  adapter->destroy();
  adapter = 0;
  servant = 0;
  // Released last: a call under way still reads the unit identity.
  if (siteEnvReady) SiteEnv_Release();
  siteEnvReady = false;
  PrintString("KavoServer Service : tesselWriteService End Stop");
}

extern "C" ICE_DECLSPEC_EXPORT IceBox::Service* create(const Ice::CommunicatorPtr& communicator) {
  return new tesselWriteService(communicator);
}
