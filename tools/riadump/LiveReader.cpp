#include "LiveReader.h"

#include <IceGrid/IceGrid.h>

#include <grp.h>
#include <sys/stat.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace views {

std::string ExceptionText(const Ice::Exception& e) {
  // Ice prints where it raised it first, and its reason on a line of its own.
  std::ostringstream out;
  out << e;
  std::string text = out.str();
  const std::string where = e.ice_file() ? std::string(e.ice_file()) + ":" : std::string();
  if (!where.empty() && text.compare(0, where.size(), where) == 0) {
    const std::size_t end = text.find(": ");
    if (end != std::string::npos) text.erase(0, end + 2);
  }
  for (char& c : text)
    if (c == '\n') c = ' ';
  return text;
}

namespace {

// Why a site's file is closed to this user: a site is read by its group.
std::string WhoMayRead(const std::string& config) {
  // The closed directory is the deepest one this user can still look at:
  // the site's own, or the one that holds the sites (/var/lib/tessel).
  std::string dir = config;
  struct stat st;
  bool found = false;
  while (!found) {
    const std::string::size_type slash = dir.rfind('/');
    if (slash == std::string::npos) dir = ".";
    else dir.erase(slash == 0 ? 1 : slash);
    found = ::stat(dir.c_str(), &st) == 0;
    if (dir == "/" || dir == ".") break;
  }
  std::string group = "its group";
  if (found) {
    const struct group* entry = ::getgrgid(st.st_gid);
    group = entry != nullptr ? std::string("the group ") + entry->gr_name
                             : "the group " + std::to_string(st.st_gid);
  }
  return "a site is read by the members of " + group +
         ", or name its admin object with --admin PROXY";
}

Tessel::SiteState ReadFacet(const Ice::ObjectPrx& admin) {
  return Tessel::SiteStatusPrx::uncheckedCast(admin->ice_facet(kStatusFacet))->read();
}

Tessel::SiteState ReadThroughIceGrid(const Ice::CommunicatorPtr& communicator,
                                     const std::string& serverId) {
  Ice::LocatorPrx locator = communicator->getDefaultLocator();
  if (!locator)
    throw std::runtime_error("no registry: give --Ice.Default.Locator (or it in --Ice.Config)");
  Ice::PropertiesPtr properties = communicator->getProperties();
  IceGrid::RegistryPrx registry =
      IceGrid::LocatorPrx::uncheckedCast(locator)->getLocalRegistry();
  // The registry routes to a server's admin object only the calls of the
  // connection that holds an admin session; the session ends with the read.
  IceGrid::AdminSessionPrx session =
      registry->createAdminSession(properties->getProperty("IceGridAdmin.Username"),
                                   properties->getProperty("IceGridAdmin.Password"));
  try {
    Tessel::SiteState state = ReadFacet(session->getAdmin()->getServerAdmin(serverId));
    session->destroy();
    return state;
  } catch (...) {
    try {
      session->destroy();
    } catch (const Ice::Exception&) {
    }
    throw;
  }
}

}  // namespace

bool AdminProxyOfConfig(const std::string& config, std::string* proxy, std::string* error) {
  // The system's reason first: Ice's own text for a file it cannot open
  // does not say why.
  if (::access(config.c_str(), R_OK) != 0) {
    const int why = errno;
    const struct passwd* user = ::getpwuid(::geteuid());
    *error = "cannot read " + config + " as user " +
             (user != nullptr ? std::string(user->pw_name) : std::to_string(::geteuid())) + ": " +
             std::strerror(why) + (why == EACCES ? ": " + WhoMayRead(config) : std::string());
    return false;
  }
  Ice::PropertiesPtr properties = Ice::createProperties();
  try {
    properties->load(config);
  } catch (const Ice::Exception& e) {
    *error = "cannot read " + config + ": " + ExceptionText(e);
    return false;
  }
  const std::string endpoints = properties->getProperty("Ice.Admin.Endpoints");
  const std::string instance = properties->getProperty("Ice.Admin.InstanceName");
  if (endpoints.empty() || instance.empty()) {
    *error = config + " sets up no admin object that can be named: it wants Ice.Admin.Endpoints "
             "and Ice.Admin.InstanceName";
    return false;
  }
  Ice::Identity id;
  id.category = instance;
  id.name = "admin";
  *proxy = Ice::identityToString(id) + ":" + endpoints;
  return true;
}

bool ReadLive(const Ice::CommunicatorPtr& communicator, const LiveSource& source,
              Tessel::SiteState* state, std::string* error) {
  std::string proxy = source.value;
  if (source.kind == LiveSource::kSite &&
      !AdminProxyOfConfig(source.value + "/icebox.cfg", &proxy, error))
    return false;
  try {
    if (source.kind == LiveSource::kIceGrid)
      *state = ReadThroughIceGrid(communicator, source.value);
    else
      *state = ReadFacet(communicator->stringToProxy(proxy));
    return true;
  } catch (const IceGrid::PermissionDeniedException& e) {
    *error = "the registry grants no admin session (give --IceGridAdmin.Username and "
             "--IceGridAdmin.Password): " + e.reason;
  } catch (const IceGrid::ServerNotExistException&) {
    *error = "the registry knows no server " + source.value;
  } catch (const Ice::FacetNotExistException&) {
    *error = "the admin object has no facet " + std::string(kStatusFacet) +
             ": the service is stopped, or the admin object's Ice.Admin.Facets "
             "leaves it out";
  } catch (const Ice::Exception& e) {
    *error = ExceptionText(e);
  } catch (const std::exception& e) {
    *error = e.what();
  }
  if (source.kind != LiveSource::kIceGrid) *error = proxy + ": " + *error;
  return false;
}

}  // namespace views
