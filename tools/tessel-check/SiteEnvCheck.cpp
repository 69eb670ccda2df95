// siteenv.cfg: Ice property syntax, read as the site library reads it; the
// unit identity begins every record key and every IA file name.
#include <Ice/Ice.h>

#include "SiteCheck.h"
#include "common/SiteFiles.h"

namespace sitecheck {

namespace {

const char kIdentityKey[] = "Audit.Unit.Identity";
// The identity of the sample site, there to be replaced.
const char kPlaceholderIdentity[] = "4401020001";
const std::size_t kIdentityMax = 255;  // the service's buffer holds 256 bytes with the NUL

}  // namespace

void CheckSiteEnv(const std::string& site, Problems* problems) {
  const std::string path = tessel::JoinPath(site, "siteenv.cfg");
  std::string why;
  if (!Readable(path, &why)) {
    problems->file(path, why + " (the service does not start without it)");
    return;
  }
  Ice::PropertiesPtr settings = Ice::createProperties();
  try {
    settings->load(path);
  } catch (const Ice::Exception& e) {
    problems->file(path, std::string("cannot be read: ") + e.what());
    return;
  }
  const std::string identity = settings->getProperty(kIdentityKey);
  if (identity.empty())
    problems->missing(path, kIdentityKey, "missing: the site has no unit identity");
  else if (identity.size() < 2)
    problems->value(path, kIdentityKey, identity,
                    "shorter than two characters: IA files and on-line exports cannot name the site");
  else if (identity.size() > kIdentityMax)
    problems->value(path, kIdentityKey, identity,
                    "longer than " + std::to_string(kIdentityMax) + " characters");
  else if (identity == kPlaceholderIdentity)
    problems->value(path, kIdentityKey, identity,
                    "the sample's identity: set the identity the site was given");
  else if (!tessel::IsSafeNamePart(identity))
    problems->value(path, kIdentityKey, identity,
                    "holds a \"/\" or a control character and cannot begin a file name");
}

}  // namespace sitecheck
