// End-to-end ingest benchmark: how fast the service, loaded by the stock
// icebox on a temporary site, takes in records it has not seen, as a ratio
// to a bare servant that only appends each record to two files (the
// ceiling), measured in the same run.
//
// Per configuration: a site (with a pre-filled keyword store for the service
// configurations that ask for one), icebox started, one probe record sent
// and waited for until it is in the day file (the keyword store is loaded and
// the list thread runs), then agent threads send new records through write()
// for --seconds, and the driver waits until the day files hold every record
// sent. The stored rate, the one that matters, is records sent over the time
// from the first send until the last of them was in a day file; it includes
// the wait for the service's next pass over its queue (at most a second).
// The accepted rate is the same count over the time until the last call
// returned. Server CPU is the icebox process's user and system time over the
// same stretch, per record stored.
//
// The rates must not depend on the size of the store. Builds that rewrote
// the whole store for every new keyword stored about a hundred records a
// second with 100,000 keywords; --slow-cap stops sending to large stores
// after that many records so that measuring such a build ends in seconds.
// --records sends every configuration the same number of records, so that
// two builds of the service are compared on the same work.
//
// --sustained runs the sustained mode instead (SustainedBench.h): async
// callers, both durabilities, latency and memory.
#include <getopt.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "IngestClient.h"
#include "IngestSite.h"
#include "IngestSteps.h"
#include "SustainedBench.h"

#ifndef TESSEL_SERVICE_MODULE
#error "TESSEL_SERVICE_MODULE must name the service module (path without lib and .so)"
#endif
#ifndef TESSEL_BARE_MODULE
#error "TESSEL_BARE_MODULE must name the bare servant module (path without lib and .so)"
#endif

namespace {

using ingest::Clock;
using ingest::Progress;
using ingest::Seconds;

const char kUsage[] =
    "usage: tessel_ingest_bench [options]\n"
    "       tessel_ingest_bench --sustained [options]\n"
    "\n"
    "Measures records stored per second through icebox: the bare servant (the\n"
    "ceiling) first, then the service with each keyword-store size.\n"
    "\n"
    "  --keywords LIST   keyword-store sizes for the service (default 0,10000,100000;\n"
    "                    sustained: 100000,1000000)\n"
    "  --million         add a store of 1,000,000 keywords\n"
    "  --seconds S       how long the agents send to each configuration (default 5)\n"
    "  --records N       records sent at most to every configuration (default: no cap;\n"
    "                    sustained: exactly N, default 1000000)\n"
    "  --slow-cap N      records sent at most to a store of 100,000 keywords or more\n"
    "                    (default 0: no cap; builds that rewrite the store for\n"
    "                    every keyword need one, e.g. 300)\n"
    "  --threads N       agent threads, each on a connection of its own (default 2)\n"
    "  --module PATH     the service module to measure, as IceBox names it: a path\n"
    "                    without lib and .so (default: this build's)\n"
    "\n"
    "Sustained mode: every record at full speed from async callers, each service\n"
    "configuration once per durability; refusals, stored/s as a ratio to the bare\n"
    "servant's calls/s, server CPU per record, call latency p50/p99, peak RSS, the\n"
    "time to the first stored record, and the targets beside them (never a failure).\n"
    "An empty store is measured too, as the reference for memory per keyword.\n"
    "\n"
    "  --sustained       this mode (--seconds and --slow-cap do not apply)\n"
    "  --in-flight N     calls each thread keeps in flight (default 64)\n"
    "  --ips N           seat IPs the records come from (default 500)\n"
    "  --durability LIST tesselWriteService.Durability values to run the service\n"
    "                    with (default power,process; a build without the property\n"
    "                    ignores it: give one)\n"
    "  --lines           the service prints its diagnostic lines (off by default,\n"
    "                    as the installed site has them)\n";

const long kSlowStore = 100000;
// Waiting for the day files gives up after this long without a new record.
const Clock::duration kStallLimit = std::chrono::seconds(60);
// The first keyword-store load of a million keywords takes a while.
const std::chrono::seconds kReadyLimit(300);

struct Options {
  std::vector<long> keywords = {0, 10000, 100000};
  double seconds = 5;
  long records = 0;  // 0: no cap
  long slowCap = 0;
  int threads = 2;
  std::string module = TESSEL_SERVICE_MODULE;
  bool million = false;
  bool keywordsGiven = false;
  bool recordsGiven = false;
  bool sustained = false;
  int inFlight = 64;
  int ips = 500;
  std::vector<std::string> durabilities = {"power", "process"};
  bool diagnosticLines = false;
};

struct Configuration {
  std::string label;
  bool bare;
  long keywords;
};

struct Measurement {
  long sent = 0;
  long stored = 0;
  double sendSeconds = 0;   // first send to the last call's return
  double storeSeconds = 0;  // first send to the last record in a day file
  double cpuSeconds = 0;
  std::string error;
};

Measurement Measure(const Configuration& config, const Options& options,
                    const Ice::CommunicatorPtr& client) {
  Measurement m;
  ingest::IngestSite site(config.bare ? TESSEL_BARE_MODULE : options.module,
                          config.bare ? "tesselBareService" : "tesselWriteService");
  if (config.keywords > 0) site.FillKeywordStore(config.keywords);
  const Clock::time_point launch = Clock::now();
  if (!site.Start(client, &m.error)) return m;

  const std::time_t seatLogon = std::time(nullptr) - 60;
  try {
    ingest::SendProbe(client, site.Proxy(), seatLogon);
  } catch (const Ice::Exception& e) {
    m.error = std::string("probe: ") + e.what();
    return m;
  }
  Clock::time_point ready;
  if (!ingest::WaitForFirstRecord(site, launch, kReadyLimit, &ready, &m.error)) return m;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", Seconds(ready - launch));
  Progress(config.label + ": ready after " + text + " s");

  const double cpuBefore = ingest::SettledCpuSeconds(site);
  const long before = site.StoredRecords();
  ingest::SendPlan plan;
  plan.threads = options.threads;
  plan.seatLogon = seatLogon;
  if (options.records > 0) plan.maxRecords = options.records;
  if (!config.bare && config.keywords >= kSlowStore && options.slowCap > 0 &&
      (plan.maxRecords < 0 || options.slowCap < plan.maxRecords))
    plan.maxRecords = options.slowCap;
  const Clock::time_point start = Clock::now();
  plan.deadline = start + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(options.seconds));
  const ingest::SendResult sent = ingest::SendRecords(client, site.Proxy(), plan);
  m.sent = sent.sent;
  m.error = sent.error;
  m.sendSeconds = Seconds(sent.lastReturn - start);

  Clock::time_point storedAt;
  m.stored = ingest::WaitForStored(site, before + m.sent, kStallLimit, &storedAt) - before;
  m.storeSeconds = Seconds(storedAt - start);
  m.cpuSeconds = ingest::SettledCpuSeconds(site) - cpuBefore;
  if (m.stored != m.sent && m.error.empty())
    m.error = std::to_string(m.stored) + " of " + std::to_string(m.sent) + " records stored";
  site.Stop();
  return m;
}

std::string Line(const Configuration& config, const Measurement& m, double ceiling) {
  const double storedRate = m.storeSeconds > 0 ? m.stored / m.storeSeconds : 0;
  const double acceptedRate = m.sendSeconds > 0 ? m.sent / m.sendSeconds : 0;
  const double cpuPerRecord = m.stored > 0 ? m.cpuSeconds * 1e6 / m.stored : 0;
  char line[256];
  std::snprintf(line, sizeof line, "%-28s %7ld %10.1f %7.4f %13.1f %11.1f %9.2f s",
                config.label.c_str(), m.sent, storedRate, ceiling > 0 ? storedRate / ceiling : 0.0,
                cpuPerRecord, acceptedRate, m.storeSeconds);
  std::string text = line;
  if (!m.error.empty())
    text += "  (" + m.error.substr(0, m.error.find_last_not_of(" \n") + 1) + ")";
  return text;
}

bool ParseKeywordList(const std::string& text, std::vector<long>* sizes) {
  sizes->clear();
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    char* end = nullptr;
    const long n = std::strtol(item.c_str(), &end, 10);
    if (item.empty() || *end != '\0' || n < 0) return false;
    sizes->push_back(n);
  }
  return !sizes->empty();
}

bool ParseDurabilities(const std::string& text, std::vector<std::string>* durabilities) {
  durabilities->clear();
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (item.empty()) return false;
    durabilities->push_back(item);
  }
  return !durabilities->empty();
}

bool ParseOptions(int argc, char** argv, Options* o) {
  static const option longOptions[] = {
      {"help", no_argument, nullptr, 'h'},        {"keywords", required_argument, nullptr, 'k'},
      {"million", no_argument, nullptr, 'M'},     {"seconds", required_argument, nullptr, 's'},
      {"slow-cap", required_argument, nullptr, 'c'}, {"threads", required_argument, nullptr, 't'},
      {"records", required_argument, nullptr, 'r'},
      {"module", required_argument, nullptr, 'm'},   {"sustained", no_argument, nullptr, 'S'},
      {"in-flight", required_argument, nullptr, 'f'}, {"ips", required_argument, nullptr, 'i'},
      {"durability", required_argument, nullptr, 'd'}, {"lines", no_argument, nullptr, 'L'},
      {nullptr, 0, nullptr, 0}};
  int c;
  while ((c = getopt_long(argc, argv, "h", longOptions, nullptr)) != -1) {
    switch (c) {
      case 'h': std::cout << kUsage; std::exit(0);
      case 'k':
        if (!ParseKeywordList(optarg, &o->keywords)) return false;
        o->keywordsGiven = true;
        break;
      case 'M': o->million = true; break;
      case 's': o->seconds = std::atof(optarg); if (o->seconds <= 0) return false; break;
      case 'r':
        o->records = std::atol(optarg);
        if (o->records < 0) return false;
        o->recordsGiven = true;
        break;
      case 'c': o->slowCap = std::atol(optarg); if (o->slowCap < 0) return false; break;
      case 't': o->threads = std::atoi(optarg); if (o->threads < 1) return false; break;
      case 'm': o->module = optarg; break;
      case 'S': o->sustained = true; break;
      case 'f': o->inFlight = std::atoi(optarg); if (o->inFlight < 1) return false; break;
      case 'i': o->ips = std::atoi(optarg); if (o->ips < 1) return false; break;
      case 'd':
        if (!ParseDurabilities(optarg, &o->durabilities)) return false;
        break;
      case 'L': o->diagnosticLines = true; break;
      default: return false;
    }
  }
  if (o->sustained && !o->keywordsGiven) o->keywords = {100000, 1000000};
  if (o->million && std::find(o->keywords.begin(), o->keywords.end(), 1000000) == o->keywords.end())
    o->keywords.push_back(1000000);
  return optind == argc;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::cerr << kUsage;
    return 2;
  }
  if (options.sustained) {
    ingest::SustainedOptions sustained;
    sustained.keywords = options.keywords;
    sustained.durabilities = options.durabilities;
    if (options.recordsGiven) sustained.records = options.records;
    sustained.threads = options.threads;
    sustained.inFlight = options.inFlight;
    sustained.ips = options.ips;
    sustained.diagnosticLines = options.diagnosticLines;
    sustained.serviceModule = options.module;
    sustained.bareModule = TESSEL_BARE_MODULE;
    // Completions of both connections are handled side by side.
    Ice::InitializationData init;
    init.properties = Ice::createProperties();
    init.properties->setProperty("Ice.ThreadPool.Client.Size", "2");
    Ice::CommunicatorHolder client(Ice::initialize(init));
    return ingest::RunSustained(sustained, client.communicator());
  }

  std::vector<Configuration> configs;
  configs.push_back(Configuration{"bare servant (ceiling)", true, 0});
  for (long n : options.keywords)
    configs.push_back(Configuration{"service, " + std::to_string(n) + " keywords", false, n});

  Ice::CommunicatorHolder client(Ice::initialize());
  std::printf("ingest through icebox: %d agent thread(s), write(), %.1f s of sends per "
              "configuration", options.threads, options.seconds);
  if (options.records > 0) std::printf(", at most %ld records", options.records);
  if (options.slowCap > 0)
    std::printf(", at most %ld records to stores of %ld+ keywords", options.slowCap, kSlowStore);
  std::printf("\n");
  std::printf("%-28s %7s %10s %7s %13s %11s %11s\n", "configuration", "records", "stored/s",
              "ratio", "server us/rec", "accepted/s", "all stored");
  std::fflush(stdout);
  double ceiling = 0;
  int failures = 0;
  for (const Configuration& config : configs) {
    Measurement m;
    try {
      m = Measure(config, options, client.communicator());
    } catch (const std::exception& e) {
      // Caught so that the site's destructor stops its icebox.
      m.error = e.what();
    }
    if (config.bare && m.storeSeconds > 0) ceiling = m.stored / m.storeSeconds;
    if (!m.error.empty()) ++failures;
    std::printf("%s\n", Line(config, m, ceiling).c_str());
    std::fflush(stdout);
  }
  return failures == 0 ? 0 : 1;
}
