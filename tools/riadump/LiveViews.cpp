#include "LiveViews.h"

#include <functional>
#include <iomanip>
#include <map>

#include "TextOut.h"

namespace views {

namespace {

using textout::JsonString;
using textout::LocalTimeText;
using textout::Printable;

std::string Server(const Tessel::UpstreamState& upstream) {
  return Printable(upstream.host) + ":" + std::to_string(upstream.port);
}

bool WritesFailing(const Tessel::SiteState& state) {
  return !state.failingFile.empty() || state.failingSince != 0;
}

// Down: the last exchange failed (before the first exchange it is neither
// up nor down).
bool Down(const Tessel::UpstreamState& upstream) {
  return !upstream.connected && upstream.downSince != 0;
}

std::string When(Ice::Long seconds) { return seconds == 0 ? "never" : LocalTimeText(seconds); }

// "records cannot be stored since <when>: the <output> <target>: <reason>".
std::string FaultText(const Tessel::OutputFault& fault) {
  return "records cannot be stored since " + When(fault.since) + ": the " +
         Printable(fault.output) + (fault.target.empty() ? "" : " " + Printable(fault.target)) +
         ": " + Printable(fault.reason);
}

}  // namespace

std::vector<std::string> LiveProblems(const Tessel::SiteState& state, const LiveLimits& limits) {
  std::vector<std::string> problems;
  for (const Tessel::OutputFault& fault : state.faults)
    problems.push_back(FaultText(fault));
  if (state.journalFailing)
    problems.push_back("the intake journal cannot be written since " +
                       When(state.journalFailingSince) + ": " + Printable(state.journalError));
  // Refusals of the last minutes: the service keeps them per minute. A
  // service that does not gives its totals only.
  long long refused = 0;
  for (std::size_t minute = 0;
       minute < state.refusedPerMinute.size() && static_cast<long long>(minute) < limits.windowMinutes;
       ++minute)
    refused += state.refusedPerMinute[minute];
  const bool windowed = !state.refusedPerMinute.empty();
  if (!windowed) refused = state.refused;
  if (refused > limits.maxRefused)
    problems.push_back(std::to_string(refused) + " records refused " +
                       (windowed ? "in the last " + std::to_string(limits.windowMinutes) + " minutes"
                                 : std::string("since the service started")) +
                       (limits.maxRefused > 0 ? " (more than " + std::to_string(limits.maxRefused) + ")"
                                              : std::string()));
  for (const Tessel::UpstreamState& upstream : state.upstreams) {
    const long long downFor = state.serverTime - upstream.downSince;
    if (Down(upstream) && downFor >= limits.maxDownSeconds)
      problems.push_back("upstream " + Server(upstream) + " down for " + std::to_string(downFor) +
                         " s: " + Printable(upstream.lastError));
    if (limits.maxBehind >= 0 && upstream.recordsBehind > limits.maxBehind)
      problems.push_back("upstream " + Server(upstream) + " is " +
                         std::to_string(upstream.recordsBehind) + " records behind (more than " +
                         std::to_string(limits.maxBehind) + ")");
  }
  return problems;
}

void ShowLive(const Tessel::SiteState& s, const std::vector<std::string>& problems,
              std::ostream& out) {
  out << "site " << Printable(s.siteName) << ", service version " << Printable(s.version) << "\n"
      << "service time " << LocalTimeText(s.serverTime) << "; durability " << Printable(s.durability)
      << ", at most " << s.maxWaitingRecords << " records waiting\n"
      << "records: " << s.accepted << " accepted, " << s.stored << " stored, " << s.refused
      << " refused, " << s.waiting << " waiting (" << s.waitingToBeWritten << " with the writer)\n"
      << "calls from clients not allowed: " << s.disallowed
      << "; malformed records ignored: " << s.malformed << "\n"
      << "intake journal: "
      << (s.journalFailing ? "FAILING since " + When(s.journalFailingSince) + ": " +
                                 Printable(s.journalError)
                           : std::string("written"))
      << "\n"
      << "record files: "
      << (WritesFailing(s) ? "FAILING since " + When(s.failingSince) + ": " +
                                 Printable(s.failingFile) + ": " + Printable(s.failure)
                           : std::string("written"))
      << "\n"
      << "keywords: " << s.keywordsHeld << " held, " << s.unsavedKeywords << " of them not yet saved, "
      << s.storeRecords << " records in the store\n"
      << "IA files waiting to be made: " << s.handOffsWaiting
      << "; records set aside, not applicable: " << s.unapplied << "\n"
      << "last pass: " << When(s.lastPassAt) << ", " << s.lastPassMs << " ms\n"
      << "virtualdb: " << s.virtualDbBytes << " bytes in its files, " << s.virtualDbFreeBytes
      << " bytes free on its file system\n";
  if (s.upstreams.empty()) out << "no upstream servers\n";
  for (const Tessel::UpstreamState& u : s.upstreams) {
    out << "upstream " << Server(u) << ": ";
    if (u.connected) out << "connected";
    else if (Down(u)) out << "DOWN since " << When(u.downSince) << " (" << u.retries << " retries)";
    else out << "not yet connected";
    out << "; day " << Printable(u.dayStamp) << " at byte " << u.offset << ", " << u.recordsBehind
        << " records behind";
    if (u.oldestWaitingSeconds > 0) out << ", the oldest waiting " << u.oldestWaitingSeconds << " s";
    out << "; last acknowledged " << When(u.lastAcknowledged);
    if (!u.lastError.empty()) out << "; last error: " << Printable(u.lastError);
    out << "\n";
  }
  for (const std::string& problem : problems) out << "problem: " << problem << "\n";
}

void ShowLiveJson(const Tessel::SiteState& s, const std::vector<std::string>& problems,
                  std::ostream& out) {
  auto text = [](const std::string& value) { return JsonString(Printable(value)); };
  out << "{\"serverTime\":" << s.serverTime << ",\"healthy\":" << (problems.empty() ? "true" : "false")
      << ",\"accepted\":" << s.accepted << ",\"stored\":" << s.stored << ",\"refused\":" << s.refused
      << ",\"waiting\":" << s.waiting << ",\"waitingToBeWritten\":" << s.waitingToBeWritten
      << ",\"disallowed\":" << s.disallowed << ",\"malformed\":" << s.malformed
      << ",\"journalFailing\":" << (s.journalFailing ? "true" : "false")
      << ",\"journalError\":" << text(s.journalError)
      << ",\"journalFailingSince\":" << s.journalFailingSince
      << ",\"failingFile\":" << text(s.failingFile) << ",\"failure\":" << text(s.failure)
      << ",\"failingSince\":" << s.failingSince << ",\"keywordsHeld\":" << s.keywordsHeld
      << ",\"storeRecords\":" << s.storeRecords << ",\"lastPassAt\":" << s.lastPassAt
      << ",\"lastPassMs\":" << s.lastPassMs << ",\"durability\":" << text(s.durability)
      << ",\"maxWaitingRecords\":" << s.maxWaitingRecords << ",\"siteName\":" << text(s.siteName)
      << ",\"version\":" << text(s.version) << ",\"virtualDbBytes\":" << s.virtualDbBytes
      << ",\"virtualDbFreeBytes\":" << s.virtualDbFreeBytes
      << ",\"handOffsWaiting\":" << s.handOffsWaiting
      << ",\"unsavedKeywords\":" << s.unsavedKeywords << ",\"unapplied\":" << s.unapplied
      << ",\"faults\":[";
  for (std::size_t i = 0; i < s.faults.size(); ++i) {
    const Tessel::OutputFault& f = s.faults[i];
    out << (i == 0 ? "" : ",") << "{\"output\":" << text(f.output) << ",\"target\":"
        << text(f.target) << ",\"reason\":" << text(f.reason) << ",\"since\":" << f.since << "}";
  }
  out << "],\"upstreams\":[";
  for (std::size_t i = 0; i < s.upstreams.size(); ++i) {
    const Tessel::UpstreamState& u = s.upstreams[i];
    out << (i == 0 ? "" : ",") << "{\"host\":" << text(u.host) << ",\"port\":" << u.port
        << ",\"dayStamp\":" << text(u.dayStamp) << ",\"offset\":" << u.offset
        << ",\"recordsBehind\":" << u.recordsBehind
        << ",\"connected\":" << (u.connected ? "true" : "false")
        << ",\"lastAcknowledged\":" << u.lastAcknowledged << ",\"lastError\":" << text(u.lastError)
        << ",\"downSince\":" << u.downSince << ",\"retries\":" << u.retries
        << ",\"oldestWaitingSeconds\":" << u.oldestWaitingSeconds << "}";
  }
  out << "],\"problems\":[";
  for (std::size_t i = 0; i < problems.size(); ++i)
    out << (i == 0 ? "" : ",") << JsonString(problems[i]);  // made of printable texts
  out << "]}\n";
}

namespace {

// A label value of the Prometheus text format: backslash, double quote and
// line feed escaped (the value itself already printable UTF-8).
std::string LabelValue(const std::string& printable) {
  std::string out;
  for (char c : printable) {
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

void Family(std::ostream& out, const char* name, const char* type, const char* help) {
  out << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n";
}

std::string SiteLabel(const LiveSite& site) {
  return "site=\"" + LabelValue(Printable(site.label)) + "\"";
}

// One family, one series per site that answered.
void Metric(std::ostream& out, const std::vector<LiveSite>& sites, const char* name,
            const char* type, const char* help,
            const std::function<long long(const Tessel::SiteState&)>& value) {
  Family(out, name, type, help);
  for (const LiveSite& site : sites)
    if (site.up) out << name << "{" << SiteLabel(site) << "} " << value(site.state) << "\n";
}

}  // namespace

void ShowLivePrometheus(const std::vector<LiveSite>& sites, std::ostream& out) {
  typedef const Tessel::SiteState& S;
  Family(out, "tessel_up", "gauge", "1 when the service's status facet answered.");
  for (const LiveSite& site : sites) {
    // Why a site could not be read, for the person who looks at the file.
    if (!site.up) out << "# " << SiteLabel(site) << " not read: " << Printable(site.error) << "\n";
    out << "tessel_up{" << SiteLabel(site) << "} " << (site.up ? 1 : 0) << "\n";
  }
  bool anyUp = false;
  for (const LiveSite& site : sites) anyUp = anyUp || site.up;
  if (!anyUp) return;
  Family(out, "tessel_healthy", "gauge", "1 when riadump live finds no problem.");
  for (const LiveSite& site : sites)
    if (site.up) out << "tessel_healthy{" << SiteLabel(site) << "} " << (site.problems.empty() ? 1 : 0) << "\n";
  Family(out, "tessel_build_info", "gauge", "The version of the service.");
  for (const LiveSite& site : sites)
    if (site.up)
      out << "tessel_build_info{" << SiteLabel(site) << ",version=\""
          << LabelValue(Printable(site.state.version)) << "\"} 1\n";
  Metric(out, sites, "tessel_records_accepted_total", "counter", "Records accepted since the start.",
         [](S s) { return s.accepted; });
  Metric(out, sites, "tessel_records_stored_total", "counter",
         "Records written to the record files since the start.", [](S s) { return s.stored; });
  Metric(out, sites, "tessel_records_refused_total", "counter", "Records refused since the start.",
         [](S s) { return s.refused; });
  Metric(out, sites, "tessel_records_waiting", "gauge", "Records accepted and not yet stored.",
         [](S s) { return s.waiting; });
  Metric(out, sites, "tessel_records_waiting_to_be_written", "gauge",
         "Of the waiting records, those the writer holds.", [](S s) { return s.waitingToBeWritten; });
  Metric(out, sites, "tessel_calls_disallowed_total", "counter",
         "Calls refused because the client is not allowed.", [](S s) { return s.disallowed; });
  Metric(out, sites, "tessel_records_malformed_total", "counter", "Malformed records ignored.",
         [](S s) { return s.malformed; });
  Metric(out, sites, "tessel_journal_failing", "gauge", "1 while the intake journal cannot be written.",
         [](S s) { return s.journalFailing ? 1 : 0; });
  Metric(out, sites, "tessel_journal_failing_since_seconds", "gauge",
         "Since when the journal cannot be written (0: it can).",
         [](S s) { return s.journalFailingSince; });
  Metric(out, sites, "tessel_write_failing", "gauge", "1 while a record file cannot be written.",
         [](S s) { return WritesFailing(s) ? 1 : 0; });
  Metric(out, sites, "tessel_write_failing_since_seconds", "gauge",
         "Since when a record file cannot be written (0: they can).",
         [](S s) { return s.failingSince; });
  Family(out, "tessel_output_failing", "gauge",
         "Outputs of a kind that cannot be written now (a series while one fails).");
  for (const LiveSite& site : sites) {
    if (!site.up) continue;
    std::map<std::string, int> failing;
    for (const Tessel::OutputFault& fault : site.state.faults) ++failing[Printable(fault.output)];
    for (const auto& kind : failing)
      out << "tessel_output_failing{" << SiteLabel(site) << ",output=\"" << LabelValue(kind.first)
          << "\"} " << kind.second << "\n";
  }
  Metric(out, sites, "tessel_ia_files_waiting", "gauge",
         "Seats logged off whose IA file waits to be made.", [](S s) { return s.handOffsWaiting; });
  Metric(out, sites, "tessel_records_unapplied_total", "counter",
         "Records set aside since the start because they could not be applied.",
         [](S s) { return s.unapplied; });
  Metric(out, sites, "tessel_keywords_unsaved", "gauge", "Keywords in memory not yet in the store.",
         [](S s) { return s.unsavedKeywords; });
  Metric(out, sites, "tessel_keywords_held", "gauge", "Keywords held in memory.",
         [](S s) { return s.keywordsHeld; });
  Metric(out, sites, "tessel_keyword_store_records", "gauge", "Records in the keyword store.",
         [](S s) { return s.storeRecords; });
  Metric(out, sites, "tessel_last_pass_timestamp_seconds", "gauge", "When the last pass began.",
         [](S s) { return s.lastPassAt; });
  Family(out, "tessel_last_pass_duration_seconds", "gauge", "How long the last pass took.");
  for (const LiveSite& site : sites)
    if (site.up)
      out << "tessel_last_pass_duration_seconds{" << SiteLabel(site) << "} "
          << site.state.lastPassMs / 1000 << "." << std::setw(3) << std::setfill('0')
          << site.state.lastPassMs % 1000 << std::setfill(' ') << "\n";
  Metric(out, sites, "tessel_max_waiting_records", "gauge",
         "Records that may wait before new ones are refused.",
         [](S s) { return s.maxWaitingRecords; });
  Metric(out, sites, "tessel_virtualdb_bytes", "gauge",
         "Bytes in the files of virtualdb (-1: unknown).", [](S s) { return s.virtualDbBytes; });
  Metric(out, sites, "tessel_virtualdb_free_bytes", "gauge",
         "Bytes free on virtualdb's file system (-1: unknown).",
         [](S s) { return s.virtualDbFreeBytes; });
  Family(out, "tessel_durability_info", "gauge", "The write path's durability.");
  for (const LiveSite& site : sites)
    if (site.up)
      out << "tessel_durability_info{" << SiteLabel(site) << ",durability=\""
          << LabelValue(Printable(site.state.durability)) << "\"} 1\n";

  struct UpstreamMetric {
    const char* name;
    const char* type;
    const char* help;
    std::function<long long(const Tessel::UpstreamState&)> value;
  };
  const UpstreamMetric upstreamMetrics[] = {
      {"tessel_upstream_connected", "gauge", "1 when the last exchange was acknowledged.",
       [](const Tessel::UpstreamState& u) { return u.connected ? 1 : 0; }},
      {"tessel_upstream_down", "gauge", "1 while the last exchange failed.",
       [](const Tessel::UpstreamState& u) { return Down(u) ? 1 : 0; }},
      {"tessel_upstream_records_behind", "gauge", "Records not yet acknowledged.",
       [](const Tessel::UpstreamState& u) { return u.recordsBehind; }},
      {"tessel_upstream_oldest_unacknowledged_age_seconds", "gauge",
       "Age of the oldest record not yet acknowledged (0: none waits).",
       [](const Tessel::UpstreamState& u) { return u.oldestWaitingSeconds; }},
      {"tessel_upstream_offset_bytes", "gauge", "Offset in the day file being sent.",
       [](const Tessel::UpstreamState& u) { return u.offset; }},
      {"tessel_upstream_last_ack_timestamp_seconds", "gauge",
       "When a record was last acknowledged (0: never).",
       [](const Tessel::UpstreamState& u) { return u.lastAcknowledged; }},
      {"tessel_upstream_down_since_seconds", "gauge",
       "When the server last went down (0: never).",
       [](const Tessel::UpstreamState& u) { return u.downSince; }},
      {"tessel_upstream_retries", "gauge", "Sends of the waiting record since it went down.",
       [](const Tessel::UpstreamState& u) { return u.retries; }},
  };
  bool anyUpstream = false;
  for (const LiveSite& site : sites) anyUpstream = anyUpstream || (site.up && !site.state.upstreams.empty());
  for (const UpstreamMetric& metric : upstreamMetrics) {
    if (!anyUpstream) break;
    Family(out, metric.name, metric.type, metric.help);
    for (const LiveSite& site : sites) {
      if (!site.up) continue;
      for (const Tessel::UpstreamState& u : site.state.upstreams)
        out << metric.name << "{" << SiteLabel(site) << ",server=\"" << LabelValue(Server(u))
            << "\"} " << metric.value(u) << "\n";
    }
  }
}

void ShowLivePrometheus(const Tessel::SiteState& state, const std::vector<std::string>& problems,
                        std::ostream& out) {
  LiveSite site;
  site.label = state.siteName;
  site.up = true;
  site.state = state;
  site.problems = problems;
  ShowLivePrometheus(std::vector<LiveSite>{site}, out);
}

void ShowUnreachablePrometheus(std::ostream& out) {
  ShowLivePrometheus(std::vector<LiveSite>{LiveSite()}, out);
}

}  // namespace views
