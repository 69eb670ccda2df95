#include "LiveCommand.h"

#include <Ice/Ice.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>

#include "LiveReader.h"
#include "LiveViews.h"
#include "TextOut.h"

namespace views {

namespace {

bool ParseCount(const std::string& text, long long* value) {
  char* end = nullptr;
  errno = 0;
  *value = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && end != text.c_str() && *end == '\0' && *value >= 0;
}

// The label of a site whose status gave none: the site directory's name,
// the server id, the proxy.
std::string LabelOfSource(const LiveSource& source) {
  if (source.kind != LiveSource::kSite) return source.value;
  std::string dir = source.value;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  const std::string::size_type cut = dir.rfind('/');
  return cut == std::string::npos ? dir : dir.substr(cut + 1);
}

int Usage(const std::string& why) {
  std::cerr << "riadump: live: " << textout::Printable(why) << " (see --help)\n";
  return kLiveUsage;
}

}  // namespace

int RunLive(std::vector<std::string> args) {
  Ice::InitializationData init;
  try {
    // --Ice.* (--Ice.Config, --Ice.Default.Locator, ...) and --IceGridAdmin.*
    // go to Ice; the rest is ours.
    init.properties = Ice::createProperties(args);
    args = init.properties->parseCommandLineOptions("IceGridAdmin", args);
  } catch (const Ice::Exception& e) {
    return Usage(ExceptionText(e));
  }
  std::vector<LiveSource> sources;
  enum { kText, kJson, kPrometheus } format = kText;
  LiveLimits limits;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    const bool hasValue = i + 1 < args.size();
    if (word == "--json") {
      format = kJson;
    } else if (word == "--prometheus") {
      format = kPrometheus;
    } else if ((word == "--site" || word == "--admin" || word == "--icegrid") && hasValue) {
      LiveSource source;
      source.kind = word == "--site" ? LiveSource::kSite
                    : word == "--admin" ? LiveSource::kAdmin
                                        : LiveSource::kIceGrid;
      source.value = args[++i];
      sources.push_back(source);
    } else if (word == "--max-behind" && hasValue) {
      if (!ParseCount(args[++i], &limits.maxBehind)) return Usage("--max-behind wants a number of records");
    } else if (word == "--max-down" && hasValue) {
      if (!ParseCount(args[++i], &limits.maxDownSeconds)) return Usage("--max-down wants seconds");
    } else if (word == "--max-refused" && hasValue) {
      if (!ParseCount(args[++i], &limits.maxRefused)) return Usage("--max-refused wants a number of records");
    } else if (word == "--window" && hasValue) {
      if (!ParseCount(args[++i], &limits.windowMinutes) || limits.windowMinutes < 1 ||
          limits.windowMinutes > 60)
        return Usage("--window wants minutes from 1 to 60");
    } else {
      return Usage("cannot use " + word);
    }
  }
  if (sources.empty()) return Usage("give one of --site DIR, --admin PROXY, --icegrid SERVER-ID");
  if (sources.size() > 1 && format != kPrometheus)
    return Usage("several sites are read together only with --prometheus");

  // A service that does not answer is told within seconds, not retried.
  if (init.properties->getProperty("Ice.Default.InvocationTimeout").empty())
    init.properties->setProperty("Ice.Default.InvocationTimeout", "10000");
  if (init.properties->getProperty("Ice.Default.Timeout").empty())
    init.properties->setProperty("Ice.Default.Timeout", "5000");
  if (init.properties->getProperty("Ice.RetryIntervals").empty())
    init.properties->setProperty("Ice.RetryIntervals", "-1");

  std::vector<LiveSite> sites;
  try {
    Ice::CommunicatorHolder communicator(init);
    for (const LiveSource& source : sources) {
      LiveSite site;
      site.up = ReadLive(communicator.communicator(), source, &site.state, &site.error);
      sites.push_back(site);
    }
  } catch (const Ice::Exception& e) {
    sites.assign(sources.size(), LiveSite());
    for (LiveSite& site : sites) site.error = ExceptionText(e);
  }
  bool unreachable = false, problem = false;
  for (std::size_t i = 0; i < sites.size(); ++i) {
    LiveSite& site = sites[i];
    site.label = site.up && !site.state.siteName.empty() ? site.state.siteName
                                                         : LabelOfSource(sources[i]);
    if (!site.up) {
      unreachable = true;
      std::cerr << "riadump: live: " << textout::Printable(site.error) << "\n";
      continue;
    }
    site.problems = LiveProblems(site.state, limits);
    problem = problem || !site.problems.empty();
  }
  if (format == kPrometheus) {
    ShowLivePrometheus(sites, std::cout);
  } else if (sites[0].up) {
    if (format == kJson) ShowLiveJson(sites[0].state, sites[0].problems, std::cout);
    else ShowLive(sites[0].state, sites[0].problems, std::cout);
  }
  if (unreachable) return kLiveUnreachable;
  return problem ? kLiveProblem : kLiveHealthy;
}

}  // namespace views
