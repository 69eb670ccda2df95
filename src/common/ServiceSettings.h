// Every setting the service takes from its Ice properties, read and checked
// in one place at start: the service and tessel-check both call
// ReadServiceSettings, so what the check passes is what the service starts
// with. A value that cannot be used is a failure naming "key=value: why";
// a key under the service's own prefixes that nothing reads is a warning
// (a misspelt key must never pass unnoticed).
#ifndef TESSEL_COMMON_SERVICESETTINGS_H
#define TESSEL_COMMON_SERVICESETTINGS_H

#include <Ice/Properties.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/AddressList.h"
#include "common/SiteContext.h"
#include "common/SiteOptions.h"
#include "port/Status.h"

namespace tessel {

// The prefix of the IA paths.
inline constexpr char kIaSettingsPrefix[] = "tesselServiceIA";

struct ServiceSettings {
  WriteOptions write;
  bool diagnosticLines = true;
  std::string allowedClientsText;  // as configured
  AddressList allowedClients;      // empty: every client
  std::int64_t onlineExportKeepSeconds = 3600;
  std::size_t onlineExportMaxFiles = 100;
  // Day files older than this many days are removed once every upstream
  // has them wholly; 0 keeps them all.
  int dayFileKeepDays = 0;
  // Free bytes below which the check warns of the virtualdb file system;
  // 0: no warning.
  std::int64_t minFreeBytes = 0;
  // The name that labels this site's metrics: <service>.SiteName, or the
  // site directory's own name.
  std::string siteName;
  // The configured paths, and as the service uses them (`*` and `<NAME>`
  // replaced; nothing created).
  std::string iaPath, iaUpPath, qqRecordPath;
  std::string iaPathExpanded, iaUpPathExpanded, qqRecordPathExpanded;
};

// Reads the settings of the service loaded as `service` for `site` (whose
// Env gives the variables of the paths). The first value that cannot be
// used gives a refusal "key=value: why"; keys nothing reads are added to
// `warnings`, one line each, as are settings that leave a part idle.
port::Status ReadServiceSettings(const Ice::PropertiesPtr& properties, const std::string& service,
                                 const SiteContext& site, ServiceSettings* settings,
                                 std::vector<std::string>* warnings);

// The service's own keys under its prefix, beside the object adapter's.
const std::vector<std::string>& ServiceOwnKeys();

// A configured path as the service uses it: the first "<NAME>" replaced by
// the variable's value (empty when unset), the first "*" by the site
// directory. Creates nothing.
std::string ExpandedPathText(std::string path, const SiteContext& site);

// The name of a site directory: its last component ("/var/lib/tessel/a/"
// gives "a").
std::string SiteNameOf(const std::string& siteDir);

}  // namespace tessel

#endif
