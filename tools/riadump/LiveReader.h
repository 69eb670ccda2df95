// Reads a running service's status facet through the IceBox server's admin
// object: at a proxy given, at the admin endpoint of a site's icebox.cfg, or
// through an IceGrid registry, which routes to the server's admin object.
#ifndef TESSEL_TOOLS_LIVEREADER_H
#define TESSEL_TOOLS_LIVEREADER_H

#include <Ice/Ice.h>

#include <string>

#include "SiteStatus.h"

namespace views {

// The facet the service adds to the IceBox server's admin object.
inline constexpr const char kStatusFacet[] = "IceBox.Service.tesselWriteService.Status";

struct LiveSource {
  enum Kind { kSite, kAdmin, kIceGrid };
  Kind kind = kSite;
  // kSite: the site directory, whose icebox.cfg gives Ice.Admin.Endpoints
  // and Ice.Admin.InstanceName; kAdmin: the admin object's proxy (its facet
  // is replaced); kIceGrid: the server id. The registry is the
  // communicator's default locator, the credentials the properties
  // IceGridAdmin.Username and IceGridAdmin.Password.
  std::string value;
};

// The admin object of the icebox that `config` (an icebox.cfg) sets up;
// false, with the reason, when it sets up none that can be named.
bool AdminProxyOfConfig(const std::string& config, std::string* proxy, std::string* error);

// An Ice exception on one line, without the source position that raised it.
std::string ExceptionText(const Ice::Exception& e);

// Reads the facet; false, with the reason, when it cannot.
bool ReadLive(const Ice::CommunicatorPtr& communicator, const LiveSource& source,
              Tessel::SiteState* state, std::string* error);

}  // namespace views

#endif
