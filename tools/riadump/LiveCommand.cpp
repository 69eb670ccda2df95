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
  LiveSource source;
  int sources = 0;
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
      source.kind = word == "--site" ? LiveSource::kSite
                    : word == "--admin" ? LiveSource::kAdmin
                                        : LiveSource::kIceGrid;
      source.value = args[++i];
      ++sources;
    } else if (word == "--max-behind" && hasValue) {
      if (!ParseCount(args[++i], &limits.maxBehind)) return Usage("--max-behind wants a number of records");
    } else if (word == "--max-down" && hasValue) {
      if (!ParseCount(args[++i], &limits.maxDownSeconds)) return Usage("--max-down wants seconds");
    } else if (word == "--max-refused" && hasValue) {
      if (!ParseCount(args[++i], &limits.maxRefused)) return Usage("--max-refused wants a number of records");
    } else {
      return Usage("cannot use " + word);
    }
  }
  if (sources != 1) return Usage("give one of --site DIR, --admin PROXY, --icegrid SERVER-ID");

  // A service that does not answer is told within seconds, not retried.
  if (init.properties->getProperty("Ice.Default.InvocationTimeout").empty())
    init.properties->setProperty("Ice.Default.InvocationTimeout", "10000");
  if (init.properties->getProperty("Ice.Default.Timeout").empty())
    init.properties->setProperty("Ice.Default.Timeout", "5000");
  if (init.properties->getProperty("Ice.RetryIntervals").empty())
    init.properties->setProperty("Ice.RetryIntervals", "-1");

  Tessel::SiteState state = Tessel::SiteState();
  std::string error;
  bool read = false;
  try {
    Ice::CommunicatorHolder communicator(init);
    read = ReadLive(communicator.communicator(), source, &state, &error);
  } catch (const Ice::Exception& e) {
    error = ExceptionText(e);
  }
  if (!read) {
    if (format == kPrometheus) ShowUnreachablePrometheus(std::cout);
    std::cerr << "riadump: live: " << textout::Printable(error) << "\n";
    return kLiveUnreachable;
  }
  const std::vector<std::string> problems = LiveProblems(state, limits);
  if (format == kJson) ShowLiveJson(state, problems, std::cout);
  else if (format == kPrometheus) ShowLivePrometheus(state, problems, std::cout);
  else ShowLive(state, problems, std::cout);
  return problems.empty() ? kLiveHealthy : kLiveProblem;
}

}  // namespace views
