// Where the service works: the Env through which it reaches the system, its
// site directory and the working directory of the host process. Made once,
// at start (or by a tool or a test), and handed to every worker, so that no
// worker reads the environment or the working directory for itself.
#ifndef TESSEL_COMMON_SITECONTEXT_H
#define TESSEL_COMMON_SITECONTEXT_H

#include <string>

#include "port/Env.h"

namespace tessel {

struct SiteContext {
  port::Env* env = nullptr;
  std::string siteDir;  // ends in the path separator
  std::string workDir;  // where the progress files and the on-line exports go

  // <site>/virtualdb/: the record files, the keyword store, the journal.
  std::string VirtualDbDir() const;
  // <site>/netbarcfg.ini: the upstream servers.
  std::string NetbarConfigPath() const;
};

// The context of a site directory, working in `workDir` (the site itself
// when empty).
SiteContext SiteAt(port::Env* env, const std::string& siteDir, const std::string& workDir = "");

}  // namespace tessel

#endif
