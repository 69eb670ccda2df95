// Per configuration: a site (pre-filled store for the service), icebox
// started, a probe record sent and waited for in the day file (the time from
// launch, and from the service's first answer, is the "first stored"
// figure), then the async callers send every record at once and the driver
// waits until the day file holds every record whose call was answered.
//
// stored/s is the records stored over the time from the first call to the
// last record in the day file; its ratio is to the bare servant's calls
// answered per second in the same run. The bare servant runs first and
// last: every ratio is to the mean of its two runs, and a run whose two
// bare figures differ by more than 10% is marked UNSTEADY (the machine was
// busy with something else; its ratios say little). With durability "power"
// the bare servant runs synced as well: what the promise costs a servant
// that does nothing else, on the same disk. Each configuration starts after
// a sync, so that none pays for what an earlier one left dirty. Server CPU is the icebox process's
// user and system time over that stretch, until it is at rest, per record
// stored. Peak RSS is the process's VmHWM at the end. A service whose
// durability cannot be chosen ignores the property; one that silently drops
// records shows them as missing: answered, yet never in the day file.
#include "SustainedBench.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <exception>
#include <fstream>
#include <map>

#include "AsyncCallers.h"
#include "IngestSteps.h"

namespace ingest {

namespace {

// Waiting for the day files gives up after this long without a new record.
const std::chrono::seconds kStallLimit(20);
// Loading a large store takes a while in builds that are slow at it.
const std::chrono::seconds kReadyLimit(300);
const char kProcess[] = "process";
const char kPower[] = "power";

struct Configuration {
  std::string label;
  bool bare = false;
  bool synced = false;  // the bare servant answering once its files are synced
  long keywords = 0;
  std::string durability;  // empty: the service's default (or bare)
};

struct Measurement {
  bool measured = false;
  long calls = 0;
  long answered = 0;
  long refused = 0;
  long stored = 0;
  double callSeconds = 0;   // first call to the last completion
  double storeSeconds = 0;  // first call to the last record in the day file
  double cpuSeconds = 0;
  double p50Ms = 0;
  double p99Ms = 0;
  long long peakRss = 0;
  long long readyRss = 0;  // once the first record is stored, before the load
  double firstFromLaunch = 0;
  double firstFromAnswer = 0;
  std::string refusal;
  std::string error;

  long missing() const { return answered > stored ? answered - stored : 0; }
  double storedRate() const { return storeSeconds > 0 ? stored / storeSeconds : 0; }
  double callRate() const { return callSeconds > 0 ? answered / callSeconds : 0; }
  double cpuUsPerRecord() const { return stored > 0 ? cpuSeconds * 1e6 / stored : 0; }
};

// The bare servant's figures every ratio is taken against: the mean of its
// runs before and after the service's.
struct Baseline {
  double callRate = 0;
  double cpuUsPerRecord = 0;
  double p99Ms = 0;
};

// Steady when the two bare runs are within kSteadySpread of their mean.
const double kSteadySpread = 0.10;
// Records of the bare run that warms the machine up before the first that counts.
const long kWarmUpRecords = 200000;

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen + " (1, 5, 15 min)";
}

Measurement Measure(const Configuration& config, const SustainedOptions& options,
                    const Ice::CommunicatorPtr& client) {
  Measurement m;
  IngestSite site(config.bare ? options.bareModule : options.serviceModule,
                  config.bare ? "tesselBareService" : "tesselWriteService");
  if (config.keywords > 0) {
    const Clock::time_point begin = Clock::now();
    site.FillKeywordStore(config.keywords, options.ips);
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", Seconds(Clock::now() - begin));
    Progress(config.label + ": store written in " + text + " s");
  }
  if (config.synced) site.AddProperty("tesselBareService.Sync", "1");
  if (!config.durability.empty()) site.AddProperty("tesselWriteService.Durability", config.durability);
  site.AddProperty("tesselWriteService.DiagnosticLines", options.diagnosticLines ? "1" : "0");

  const Clock::time_point launch = Clock::now();
  if (!site.Start(client, &m.error)) return m;
  const Clock::time_point answering = Clock::now();
  const std::time_t seatLogon = std::time(nullptr) - 60;
  try {
    SendProbe(client, site.Proxy(), seatLogon);
  } catch (const Ice::Exception& e) {
    m.error = std::string("probe: ") + e.what();
    return m;
  }
  Clock::time_point ready;
  if (!WaitForFirstRecord(site, launch, kReadyLimit, &ready, &m.error)) return m;
  m.firstFromLaunch = Seconds(ready - launch);
  m.firstFromAnswer = Seconds(ready - answering);
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", m.firstFromLaunch);
  Progress(config.label + ": first record stored " + text + " s after launch");

  const double cpuBefore = SettledCpuSeconds(site);
  m.readyRss = site.RssBytes();
  const long before = site.StoredRecords();
  AsyncPlan plan;
  plan.threads = options.threads;
  plan.inFlight = options.inFlight;
  plan.records = options.records;
  plan.seats = options.ips;
  plan.seatLogon = seatLogon;
  AsyncOutcome outcome = CallAsync(client, site.Proxy(), plan);
  m.calls = outcome.answered + outcome.refused;
  m.answered = outcome.answered;
  m.refused = outcome.refused;
  m.refusal = outcome.firstRefusal;
  m.callSeconds = Seconds(outcome.lastCompletion - outcome.firstSend);
  m.p50Ms = LatencyQuantileMs(&outcome.latencyUs, 0.50);
  m.p99Ms = LatencyQuantileMs(&outcome.latencyUs, 0.99);

  Clock::time_point storedAt;
  m.stored = WaitForStored(site, before + m.answered, kStallLimit, &storedAt) - before;
  m.storeSeconds = Seconds(storedAt - outcome.firstSend);
  m.cpuSeconds = SettledCpuSeconds(site) - cpuBefore;
  m.peakRss = site.PeakRssBytes();
  if (m.stored > m.answered)
    m.error = std::to_string(m.stored - m.answered) + " records stored whose calls raised";
  if (!site.Running()) m.error = "icebox ended: " + site.ServerErrors();
  m.measured = true;
  site.Stop();
  return m;
}

// "name met" or "name MISSED", joined by ", ".
class Targets {
 public:
  void Add(const std::string& name, bool met) {
    if (!text_.empty()) text_ += ", ";
    text_ += name + (met ? " met" : " MISSED");
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

std::string TargetsOf(const Configuration& config, const Measurement& m, const Baseline& bare) {
  Targets t;
  const double ratio = bare.callRate > 0 ? m.storedRate() / bare.callRate : 0;
  if (config.bare) return std::string();
  t.Add("refused 0", m.refused == 0 && m.missing() == 0);
  if (config.durability == kPower) t.Add("ratio>=0.8", ratio >= 0.8);
  if (config.durability == kProcess) t.Add("ratio>=0.9", ratio >= 0.9);
  if (!config.durability.empty()) {
    t.Add("cpu<=1.3x bare",
          bare.cpuUsPerRecord > 0 && m.cpuUsPerRecord() <= 1.3 * bare.cpuUsPerRecord);
    t.Add("p99<=2x bare", bare.p99Ms > 0 && m.p99Ms <= 2 * bare.p99Ms);
    // Set for a large store, whose load is what delays the first record; an
    // empty one waits only for the one-second pass after its start.
    if (config.keywords >= 1000000) t.Add("1st<1s", m.firstFromLaunch < 1);
  }
  return t.text();
}

void PrintHeader(const SustainedOptions& options) {
  std::printf("sustained ingest through icebox: %ld records per configuration, %d caller "
              "thread(s) x %d calls in flight (begin_write), %d seat IPs, diagnostic lines %s\n",
              options.records, options.threads, options.inFlight, options.ips,
              options.diagnosticLines ? "on" : "off");
  std::printf("load average at start: %s\n", LoadAverage().c_str());
  std::printf("%-34s %8s %7s %7s %9s %6s %7s %8s %7s %7s %7s %6s %6s  %s\n", "configuration",
              "calls", "refused", "missing", "stored/s", "ratio", "us/rec", "cpu/bare", "p50 ms",
              "p99 ms", "peak MB", "1st s", "answ s", "targets");
}

void PrintLine(const Configuration& config, const Measurement& m, const Baseline& bare) {
  if (!m.measured) {
    std::printf("%-34s (not measured: %s)\n", config.label.c_str(), m.error.c_str());
    return;
  }
  const double ratio = bare.callRate > 0 ? m.storedRate() / bare.callRate : 0;
  const double cpuRatio = bare.cpuUsPerRecord > 0 ? m.cpuUsPerRecord() / bare.cpuUsPerRecord : 0;
  std::printf("%-34s %8ld %7ld %7ld %9.0f %6.3f %7.1f %8.2f %7.2f %7.2f %7.1f %6.2f %6.2f  %s\n",
              config.label.c_str(), m.calls, m.refused, m.missing(), m.storedRate(), ratio,
              m.cpuUsPerRecord(), cpuRatio, m.p50Ms, m.p99Ms, m.peakRss / 1048576.0,
              m.firstFromLaunch, m.firstFromAnswer, TargetsOf(config, m, bare).c_str());
  if (!m.refusal.empty()) std::printf("    first refusal: %s\n", m.refusal.c_str());
  if (!m.error.empty()) std::printf("    error: %s\n", m.error.c_str());
}

}  // namespace

int RunSustained(const SustainedOptions& options, const Ice::CommunicatorPtr& client) {
  std::vector<Configuration> configs;
  Configuration bareConfig;
  bareConfig.label = "bare servant (ceiling)";
  bareConfig.bare = true;
  configs.push_back(bareConfig);
  // What syncing alone costs the bare servant: the floor under "power".
  const bool power = std::find(options.durabilities.begin(), options.durabilities.end(),
                               std::string(kPower)) != options.durabilities.end();
  Configuration syncedConfig = bareConfig;
  syncedConfig.label = "bare servant, synced (floor)";
  syncedConfig.synced = true;
  if (power) configs.push_back(syncedConfig);
  // The empty store is the memory reference: what the largest store holds
  // beyond it, per keyword. Once, with the last durability, unless asked for.
  bool emptyAsked = false;
  for (long n : options.keywords) emptyAsked = emptyAsked || n == 0;
  const std::string referenceDurability = options.durabilities.back();
  std::vector<long> sizes = options.keywords;
  if (!emptyAsked) sizes.insert(sizes.begin(), 0);
  for (long n : sizes) {
    for (const std::string& durability : options.durabilities) {
      if (n == 0 && !emptyAsked && durability != referenceDurability) continue;
      Configuration c;
      c.label = "service, " + std::to_string(n) + " keywords, " + durability;
      c.keywords = n;
      c.durability = durability;
      configs.push_back(c);
    }
  }

  Configuration bareAfter = bareConfig;
  bareAfter.label = "bare servant, again (ceiling)";
  configs.push_back(bareAfter);

  PrintHeader(options);
  std::fflush(stdout);
  // The first configuration of a run often measured far slower than the
  // same one later (up to twice the CPU per record, the machine coming out
  // of an idle spell): a shorter bare run, not counted, goes first.
  {
    SustainedOptions warmUp = options;
    warmUp.records = std::min(options.records, kWarmUpRecords);
    ::sync();
    try {
      Measure(bareConfig, warmUp, client);
    } catch (const std::exception&) {
      // Its failure shows again in the bare runs that count.
    }
    Progress("warm-up (not counted): done");
  }
  std::map<std::string, Measurement> results;  // by label
  int failures = 0;
  std::vector<Configuration> measured;
  for (const Configuration& config : configs) {
    // Nothing an earlier configuration (or another program) left dirty is
    // written back while this one is measured.
    ::sync();
    Measurement m;
    try {
      m = Measure(config, options, client);
    } catch (const std::exception& e) {
      // Caught so that the site's destructor stops its icebox.
      m.error = e.what();
    }
    if (!m.measured || !m.error.empty()) ++failures;
    results[config.label] = m;
    measured.push_back(config);
    Progress(config.label + ": measured");
  }

  // Every line is printed once both bare runs are in: their mean is the
  // baseline of every ratio.
  const Measurement& first = results[bareConfig.label];
  const Measurement& last = results[bareAfter.label];
  Baseline bare;
  int bareRuns = 0;
  for (const Measurement* m : {&first, &last}) {
    if (!m->measured) continue;
    ++bareRuns;
    bare.callRate += m->callRate();
    bare.cpuUsPerRecord += m->cpuUsPerRecord();
    bare.p99Ms += m->p99Ms;
  }
  if (bareRuns > 0) {
    bare.callRate /= bareRuns;
    bare.cpuUsPerRecord /= bareRuns;
    bare.p99Ms /= bareRuns;
  }
  for (const Configuration& config : measured) PrintLine(config, results[config.label], bare);
  const bool steady = bareRuns == 2 && bare.callRate > 0 &&
                      std::fabs(first.callRate() - last.callRate()) <= kSteadySpread * bare.callRate;
  std::printf("bare servant: %.0f and %.0f calls/s (mean %.0f), %.1f and %.1f us/rec, p99 %.2f and "
              "%.2f ms: %s\n",
              first.callRate(), last.callRate(), bare.callRate, first.cpuUsPerRecord(),
              last.cpuUsPerRecord(), first.p99Ms, last.p99Ms,
              steady ? "steady (within 10%)"
                     : "UNSTEADY (the two bare runs differ by more than 10%: the ratios of this "
                       "run say little)");
  const Measurement& synced = results[syncedConfig.label];
  if (power && synced.measured && synced.storedRate() > 0) {
    for (const Configuration& config : measured) {
      const Measurement& m = results[config.label];
      if (config.durability != kPower || !m.measured) continue;
      std::printf("%s against the synced bare servant: stored/s %.2f, us/rec %.2f, p99 %.2f\n",
                  config.label.c_str(), m.storedRate() / synced.storedRate(),
                  m.cpuUsPerRecord() / synced.cpuUsPerRecord(), m.p99Ms / synced.p99Ms);
    }
  }

  long largest = 0;
  for (long n : options.keywords) largest = std::max(largest, n);
  const Measurement& empty =
      results["service, 0 keywords, " + referenceDurability];
  const Measurement& full =
      results["service, " + std::to_string(largest) + " keywords, " + referenceDurability];
  if (largest > 0 && empty.measured && full.measured) {
    // The peaks hold what the sends added as well (a million identities
    // on line, the records waiting at the moment of the peak), which varies
    // from run to run by more than the store itself: the target is judged
    // on the store as loaded, before any record was sent.
    std::printf("memory (%s): (peak RSS with %ld keywords - peak RSS with an empty store) / %ld "
                "= %.1f bytes per keyword\n",
                referenceDurability.c_str(), largest, largest,
                static_cast<double>(full.peakRss - empty.peakRss) / largest);
    const double atRest = static_cast<double>(full.readyRss - empty.readyRss) / largest;
    std::printf("memory at rest (%s): (RSS with %ld keywords - RSS with an empty store, both "
                "once the first record is stored) / %ld = %.1f bytes per keyword; target <= 64: "
                "%s\n",
                referenceDurability.c_str(), largest, largest, atRest,
                atRest <= 64 ? "met" : "MISSED");
  }
  std::printf("load average at end: %s\n", LoadAverage().c_str());
  return failures == 0 ? 0 : 1;
}

}  // namespace ingest
