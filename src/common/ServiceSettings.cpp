#include "common/ServiceSettings.h"

#include <Ice/Ice.h>

#include <iterator>
#include <set>

#include "port/Port.h"

namespace tessel {

namespace {

// The service's own keys under <service>.
const char* const kOwnKeys[] = {
    "Durability",      "MaxWaitingRecords",       "DiagnosticLines",
    "AllowedClients",  "OnlineExportKeepSeconds", "OnlineExportMaxFiles",
    "DayFileKeepDays", "MinFreeMegabytes",        "SiteName"};
// The object adapter's, under the same prefix: Ice checks what lies below them.
const char* const kAdapterKeys[] = {"ACM",          "AdapterId",      "Endpoints",
                                    "Locator",      "MessageSizeMax", "PublishedEndpoints",
                                    "ProxyOptions", "ReplicaGroupId", "Router",
                                    "ThreadPool"};
const char* const kIaKeys[] = {"Path", "upPath"};

const std::int64_t kDefaultMinFreeMegabytes = 64;

// Decimal digits only, from `min` to `max`.
bool WholeNumber(const std::string& text, std::int64_t min, std::int64_t max, std::int64_t* value) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *value = std::stoll(text);
  return *value >= min && *value <= max;
}

class Reader {
 public:
  Reader(const Ice::PropertiesPtr& properties, const std::string& service)
      : properties_(properties), service_(service) {}

  std::string key(const char* name) const { return service_ + "." + name; }
  std::string get(const std::string& key) const { return properties_->getProperty(key); }

  // The number under <service>.<name>, left as it is when unset.
  template <typename T>
  port::Status number(const char* name, std::int64_t min, std::int64_t max, T* value) const {
    const std::string text = get(key(name));
    if (text.empty()) return port::Status::OK();
    std::int64_t parsed = 0;
    if (!WholeNumber(text, min, max, &parsed))
      return Bad(key(name), text,
                 "not a whole number from " + std::to_string(min) + " to " + std::to_string(max));
    *value = static_cast<T>(parsed);
    return port::Status::OK();
  }

  static port::Status Bad(const std::string& key, const std::string& value,
                          const std::string& why) {
    return port::Status::Refused(key + "=" + value + ": " + why);
  }

 private:
  Ice::PropertiesPtr properties_;
  std::string service_;
};

// "<prefix>.<first>[.more]": is <first> among `known`?
template <std::size_t N>
void WarnUnknown(const Ice::PropertiesPtr& properties, const std::string& prefix,
                 const char* const (&known)[N], const std::set<std::string>& alsoKnown,
                 std::vector<std::string>* warnings) {
  for (const Ice::PropertyDict::value_type& entry :
       properties->getPropertiesForPrefix(prefix + ".")) {
    const std::string rest = entry.first.substr(prefix.size() + 1);
    const std::string first = rest.substr(0, rest.find('.'));
    bool found = alsoKnown.count(first) != 0;
    for (const char* name : known) found = found || first == name;
    if (!found) warnings->push_back(entry.first + ": no such setting; it is ignored");
  }
}

bool LabelSafe(const std::string& text) {
  if (text.empty()) return false;
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7f || c == '"' || c == '\\') return false;
  return true;
}

}  // namespace

const std::vector<std::string>& ServiceOwnKeys() {
  static const std::vector<std::string> keys(std::begin(kOwnKeys), std::end(kOwnKeys));
  return keys;
}

std::string ExpandedPathText(std::string path, const SiteContext& site) {
  if (path.empty()) return path;
  const std::string::size_type open = path.find('<');
  const std::string::size_type close = path.find('>');
  // A ">" before the first "<" is no reference: the text is left as it is.
  if (open != std::string::npos && close != std::string::npos && open < close) {
    const std::string name = path.substr(open + 1, close - open - 1);
    path.replace(open, close - open + 1, site.env->GetVariable(name));
  }
  const std::string::size_type star = path.find('*');
  if (star != std::string::npos) path.replace(star, 1, site.siteDir);
  return path;
}

std::string SiteNameOf(const std::string& siteDir) {
  std::string dir = siteDir;
  while (dir.size() > 1 && dir.back() == port::kPathSeparator) dir.pop_back();
  const std::string::size_type cut = dir.rfind(port::kPathSeparator);
  return cut == std::string::npos ? dir : dir.substr(cut + 1);
}

port::Status ReadServiceSettings(const Ice::PropertiesPtr& properties, const std::string& service,
                                 const SiteContext& site, ServiceSettings* settings,
                                 std::vector<std::string>* warnings) {
  ServiceSettings out;
  const Reader read(properties, service);
  // The first value that cannot be used ends the reading.
  port::Status status;
  const auto number = [&](const char* name, std::int64_t min, std::int64_t max, auto* value) {
    status = read.number(name, min, max, value);
    return status.ok();
  };

  const std::string durability = read.get(read.key("Durability"));
  if (!durability.empty() && !ParseDurability(durability, &out.write.durability))
    return Reader::Bad(read.key("Durability"), durability, "use power or process");
  int diagnostic = 1;
  std::int64_t minFreeMegabytes = kDefaultMinFreeMegabytes;
  if (!number("MaxWaitingRecords", 1, 100000000, &out.write.maxWaitingRecords) ||
      !number("DiagnosticLines", 0, 1, &diagnostic) ||
      !number("OnlineExportKeepSeconds", 1, 0x7FFFFFFF, &out.onlineExportKeepSeconds) ||
      !number("OnlineExportMaxFiles", 1, 1000000, &out.onlineExportMaxFiles) ||
      !number("DayFileKeepDays", 1, 36500, &out.dayFileKeepDays) ||
      !number("MinFreeMegabytes", 0, 1 << 30, &minFreeMegabytes))
    return status;
  out.diagnosticLines = diagnostic != 0;
  out.minFreeBytes = minFreeMegabytes * 1024 * 1024;

  out.allowedClientsText = read.get(read.key("AllowedClients"));
  const port::Status parsed = AddressList::Parse(out.allowedClientsText, &out.allowedClients);
  if (!parsed.ok())
    return Reader::Bad(read.key("AllowedClients"), out.allowedClientsText, parsed.ToString());

  const std::string siteName = read.get(read.key("SiteName"));
  if (!siteName.empty() && !LabelSafe(siteName))
    return Reader::Bad(read.key("SiteName"), siteName,
                       "holds a control character, a quote or a backslash");
  out.siteName = siteName.empty() ? SiteNameOf(site.siteDir) : siteName;

  const std::string ia = kIaSettingsPrefix;
  out.iaPath = read.get(ia + ".Path");
  out.iaUpPath = read.get(ia + ".upPath");
  out.qqRecordPath = read.get("QQRecordFilePath");
  out.iaPathExpanded = ExpandedPathText(out.iaPath, site);
  out.iaUpPathExpanded = ExpandedPathText(out.iaUpPath, site);
  out.qqRecordPathExpanded = ExpandedPathText(out.qqRecordPath, site);
  if (out.iaUpPath.empty())
    warnings->push_back(ia + ".upPath: unset: no IA file is made, the seats' IP files stay in " +
                        "virtualdb");

  WarnUnknown(properties, service, kOwnKeys,
              std::set<std::string>(std::begin(kAdapterKeys), std::end(kAdapterKeys)), warnings);
  WarnUnknown(properties, ia, kIaKeys, std::set<std::string>(), warnings);
  *settings = out;
  return port::Status::OK();
}

}  // namespace tessel
