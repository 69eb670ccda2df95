#include "service/TesselWriteService.h"

#include <Ice/Ice.h>

#include "SiteEnv.h"
#include "TraceSink.h"
#include "account/AccountInfoWriterI.h"
#include "common/GbkTexts.h"
#include "common/PathHelpers.h"

namespace tessel {

SiteEnvInitException::SiteEnvInitException(const char* message)
    : IceUtil::ExceptionHelper<SiteEnvInitException>(message, 0) {}

SiteEnvInitException::~SiteEnvInitException() throw() {}

std::string SiteEnvInitException::ice_id() const { return "::tessel::SiteEnvInitException"; }

void SiteEnvInitException::ice_print(std::ostream& out) const { out << ice_file(); }

SiteEnvInitException* SiteEnvInitException::ice_clone() const {
  return new SiteEnvInitException(*this);
}

}  // namespace tessel

tesselWriteService::tesselWriteService() : siteEnvReady(false) {}

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

    Ice::ObjectPtr servant = new AccountInfoWriterI(communicator, path, upPath);
    adapter->add(servant, Ice::stringToIdentity("tesselWriteService"));
    adapter->activate();
  } catch (...) {
    // A start that fails leaves nothing behind, so that IceBox can start
    // the service again in this process.
    if (adapter) adapter->destroy();
    adapter = 0;
    SiteEnv_Release();
    siteEnvReady = false;
    throw;
  }
  PrintString("KavoServer Service : tesselWriteService End Start");
}

void tesselWriteService::stop() {
  PrintString("KavoServer Service : tesselWriteService Start Stop");
  if (siteEnvReady) SiteEnv_Release();
  siteEnvReady = false;
  adapter->deactivate();
  // Once the calls under way have ended, destroying the adapter releases
  // the servant, whose destructor stops and joins every thread of the
  // service; the adapter's name is free again for a later start.
  adapter->waitForDeactivate();
  adapter->destroy();
  adapter = 0;
  PrintString("KavoServer Service : tesselWriteService End Stop");
}

extern "C" ICE_DECLSPEC_EXPORT IceBox::Service* create(const Ice::CommunicatorPtr&) {
  return new tesselWriteService;
}
