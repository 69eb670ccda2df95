// icebox.cfg, read with Ice's own properties parser: the services it names
// load and have their entry points, the endpoints parse as Ice parses them,
// and the directories of the path properties can be written.
#include <Ice/Ice.h>
#include <IceUtil/Options.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>
#include <vector>

#include "SiteCheck.h"
#include "common/ServiceSettings.h"
#include "common/SiteFiles.h"

namespace sitecheck {

namespace {

const char kServicePrefix[] = "IceBox.Service.";
const char kService[] = "tesselWriteService";

class Config {
 public:
  Config(const std::string& path, Ice::PropertiesPtr properties, Problems* problems)
      : path_(path), properties_(properties), problems_(problems) {}

  std::string get(const std::string& key) const { return properties_->getProperty(key); }
  Ice::PropertiesPtr properties() const { return properties_; }
  void problem(const std::string& key, const std::string& what) {
    problems_->value(path_, key, get(key), what);
  }
  void missing(const std::string& key, const std::string& what) {
    problems_->missing(path_, key, what);
  }

 private:
  std::string path_;
  Ice::PropertiesPtr properties_;
  Problems* problems_;
};

// The library icebox loads for "<dir>/<name>[,<version>]:<entry>", as it
// names it: <dir>/lib<name>.so[.<version>].
bool ModuleOf(const std::string& entryPoint, std::string* library, std::string* function) {
  const std::string::size_type colon = entryPoint.rfind(':');
  if (colon == std::string::npos || colon + 1 == entryPoint.size()) return false;
  const std::string named = entryPoint.substr(0, colon);
  *function = entryPoint.substr(colon + 1);
  const std::string::size_type slash = named.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : named.substr(0, slash + 1);
  std::string name = named.substr(dir.size()), version;
  const std::string::size_type comma = name.find(',');
  if (comma != std::string::npos) {
    version = name.substr(comma + 1);
    name.resize(comma);
    if (version.empty()) return false;
  }
  if (name.empty()) return false;
  *library = dir + "lib" + name + ".so" + (version.empty() ? std::string() : "." + version);
  return true;
}

void CheckService(Config* config, const std::string& key) {
  Ice::StringSeq args;
  try {
    args = IceUtilInternal::Options::split(config->get(key));
  } catch (const IceUtilInternal::BadOptException& e) {
    config->problem(key, "cannot be split into arguments: " + e.reason);
    return;
  }
  std::string library, function;
  if (args.empty() || !ModuleOf(args[0], &library, &function)) {
    config->problem(key, "not <module>:<entry point>");
    return;
  }
  struct stat st;
  if (library.find('/') != std::string::npos && ::stat(library.c_str(), &st) != 0) {
    config->problem(key, "module " + library + " does not exist");
    return;
  }
  // Loaded as icebox loads it, so that a missing library it needs shows here;
  // it stays loaded until the check ends.
  void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    config->problem(key, "module " + library + " does not load: " + (why != nullptr ? why : "?"));
    return;
  }
  if (::dlsym(handle, function.c_str()) == nullptr)
    config->problem(key, "module " + library + " has no entry point " + function);
}

// A communicator with the settings of icebox.cfg that endpoints depend on
// (the SSL plug-in among them, which reads its certificates), and nothing
// that would listen, log to files or reach other servers.
Ice::CommunicatorPtr ParsingCommunicator(Config* config) {
  Ice::InitializationData init;
  init.properties = Ice::createProperties();
  const Ice::PropertiesPtr site = config->properties();
  for (const char* prefix : {"IceSSL.", "Ice.Default.", "Ice.IPv4", "Ice.IPv6", "Ice.Plugin.IceSSL"})
    for (const Ice::PropertyDict::value_type& entry : site->getPropertiesForPrefix(prefix))
      init.properties->setProperty(entry.first, entry.second);
  init.properties->setProperty("Ice.Default.Locator", "");
  init.properties->setProperty("Ice.Default.Router", "");
  try {
    return Ice::initialize(init);
  } catch (const Ice::PluginInitializationException& e) {
    config->problem("Ice.Plugin.IceSSL", e.reason);
  } catch (const Ice::Exception& e) {
    config->problem("Ice.Plugin.IceSSL", e.what());
  }
  return nullptr;
}

}  // namespace

std::vector<std::string> EndpointsOf(const std::string& list) {
  std::vector<std::string> endpoints(1);
  char quote = 0;
  for (char c : list) {
    if (quote == 0 && c == ':') {
      endpoints.push_back(std::string());
      continue;
    }
    if (c == '"' || c == '\'') quote = quote == 0 ? c : quote == c ? 0 : quote;
    endpoints.back() += c;
  }
  return endpoints;
}

namespace {

// The endpoints of an object adapter, each parsed by Ice as a proxy's ("-h *"
// is an adapter's alone: every interface).
void CheckEndpoints(Config* config, const Ice::CommunicatorPtr& communicator,
                    const std::string& key) {
  for (std::string endpoint : EndpointsOf(config->get(key))) {
    for (const char* any : {"-h *", "-h \"*\"", "-h '*'"})
      for (std::string::size_type at = 0; (at = endpoint.find(any, at)) != std::string::npos;)
        endpoint.replace(at, std::strlen(any), "-h 0.0.0.0");
    try {
      communicator->stringToProxy("check:" + endpoint);
    } catch (const Ice::EndpointParseException& e) {
      // Ice's words for a transport it has no plug-in for.
      if (e.str.compare(0, 16, "invalid endpoint") == 0)
        config->problem(key, "does not parse: `" + endpoint +
                                 "': a transport Ice does not know (ssl needs Ice.Plugin.IceSSL)");
      else
        config->problem(key, "does not parse: " + e.str);
      return;
    } catch (const Ice::Exception& e) {
      config->problem(key, std::string("does not parse: ") + e.what());
      return;
    }
  }
}

}  // namespace

void CheckIceBoxConfig(const std::string& site, Problems* problems) {
  const std::string path = tessel::JoinPath(site, "icebox.cfg");
  std::string why;
  if (!Readable(path, &why)) {
    problems->file(path, why);
    return;
  }
  Ice::PropertiesPtr properties = Ice::createProperties();
  try {
    properties->load(path);
  } catch (const Ice::Exception& e) {
    problems->file(path, std::string("cannot be read: ") + e.what());
    return;
  }
  Config config(path, properties, problems);

  const std::string ours = std::string(kServicePrefix) + kService;
  if (config.get(ours).empty()) config.missing(ours, "missing: icebox would not load the service");
  for (const Ice::PropertyDict::value_type& entry :
       properties->getPropertiesForPrefix(kServicePrefix))
    CheckService(&config, entry.first);

  const std::string endpoints = std::string(kService) + ".Endpoints";
  if (config.get(endpoints).empty())
    config.missing(endpoints, "missing: agents could not reach the service");
  Ice::CommunicatorPtr communicator = ParsingCommunicator(&config);
  if (communicator) {
    for (const std::string& key : {endpoints, std::string(kService) + ".PublishedEndpoints",
                                  std::string("Ice.Admin.Endpoints")})
      if (!config.get(key).empty()) CheckEndpoints(&config, communicator, key);
    communicator->destroy();
  }

  // The service's own settings, read by the service's own reader: what it
  // refuses, and the keys it would not read.
  const tessel::SiteContext context = tessel::SiteAt(tessel::port::Env::Default(), site + "/");
  tessel::ServiceSettings settings;
  std::vector<std::string> warnings;
  const tessel::port::Status read =
      tessel::ReadServiceSettings(properties, kService, context, &settings, &warnings);
  if (!read.ok()) problems->file(path, read.ToString());
  for (const std::string& warning : warnings) problems->file(path, warning);

  const std::pair<const char*, std::string> dirs[] = {
      {"tesselServiceIA.Path", settings.iaPathExpanded},
      {"tesselServiceIA.upPath", settings.iaUpPathExpanded},
      {"QQRecordFilePath", settings.qqRecordPathExpanded}};
  for (const auto& entry : dirs) {
    if (entry.second.empty()) continue;
    std::string ignored;
    if (NearestExisting(entry.second, &ignored) == site) continue;  // the site's own problem
    const std::string dirWhy = WhyNotWritableDir(entry.second);
    if (!dirWhy.empty()) config.problem(entry.first, entry.second + ": " + dirWhy);
  }

  for (const std::string& key : {endpoints, std::string("Ice.Admin.Endpoints")})
    if (!config.get(key).empty()) CheckPortsFree(path, key, config.get(key), problems);
  if (read.ok()) CheckFreeSpace(tessel::JoinPath(site, tessel::kVirtualDbDirName),
                                settings.minFreeBytes, problems);
}

}  // namespace sitecheck
