#include "common/SiteContext.h"

#include "common/SiteFiles.h"
#include "port/Port.h"

namespace tessel {

std::string SiteContext::VirtualDbDir() const { return VirtualDbDirOf(siteDir); }

std::string SiteContext::NetbarConfigPath() const { return JoinPath(siteDir, "netbarcfg.ini"); }

SiteContext SiteAt(port::Env* env, const std::string& siteDir, const std::string& workDir) {
  SiteContext site;
  site.env = env;
  site.siteDir = siteDir;
  if (!site.siteDir.empty() && site.siteDir.back() != port::kPathSeparator)
    site.siteDir += port::kPathSeparator;
  site.workDir = workDir.empty() ? site.siteDir : workDir;
  return site;
}

}  // namespace tessel
