// Start-up benchmark: how long the service, loaded by the stock icebox,
// takes to answer its first call when many seats were on line as it last
// stopped. Every seat left its IP file in virtualdb/ (a real-name log-on and
// IM accounts registered at it) and their keywords in the keyword store;
// before it answers, the service reads the seats back into its per-IP lists
// and its on-line table.
//
// One line per site: an empty one (the floor: icebox, Ice, the service's
// other start-up work) and the one with the seats. "answer s" is the time
// from icebox's launch until the service answers a ping; "restore ms" is
// the service's own figure for reading the seats back, from its start-up
// line; "first stored s" the time until a probe record sent at once is in
// the day file (the keyword store loaded and the first pass made).
#include <getopt.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <set>
#include <string>

#include "IngestClient.h"
#include "IngestSite.h"
#include "KeywordStoreContent.h"
#include "lists/KeywordStore.h"
#include "record/Keyword.h"
#include "record/RiaBaseFile.h"
#include "common/SiteFiles.h"
#include "record/DayStamp.h"

#ifndef TESSEL_SERVICE_MODULE
#error "TESSEL_SERVICE_MODULE must name the service module (path without lib and .so)"
#endif

namespace {

using Clock = std::chrono::steady_clock;

const char kUsage[] =
    "usage: tessel_startup_bench [--seats N] [--records N] [--runs N]\n"
    "  --seats N    seats on line when the service stopped (default 10000)\n"
    "  --records N  records per seat: one real-name log-on, the rest IM\n"
    "               accounts registered at the seat (default 20)\n"
    "  --runs N     starts measured per site; the best is shown (default 3)\n";

const char kUnit[] = "4401020001";

// The seat's records as the service wrote them to its IP file, and their
// keywords.
void WriteSeat(const std::string& virtualdb, int seat, int records, std::int32_t logon,
               std::set<std::string>* keywords) {
  const std::uint32_t ip = 0x0A000000u + static_cast<std::uint32_t>(seat);  // 10.x.y.z
  const std::string ipKey = std::to_string(ip);
  const std::string prefix = std::string(kUnit) + "_" + ipKey + "_" + std::to_string(logon) + "_";
  const std::string path = tessel::IpFileName(virtualdb, tessel::DayStamp(logon), ipKey);
  for (int i = 0; i < records; ++i) {
    VirtualIdRecord record;
    record.SetText(tessel::rec::kPrefix, tessel::rec::kPrefixWidth, prefix);
    if (i == 0) {
      record.SetInt(tessel::rec::kInfoType, tessel::rec::kSeatInfoType);
      record.SetText(tessel::rec::kAccount, tessel::rec::kSeatAccountWidth, "440102199001011234");
      record.SetInt(tessel::rec::kLogonTime, logon);
      record.SetInt(tessel::rec::kLogoffTime, logon);
    } else {
      record.SetInt(tessel::rec::kInfoType, 1001);
      record.SetText(tessel::rec::kAccount, tessel::rec::kAccountWidth,
                     std::to_string(100000 + i));
      record.SetInt(tessel::rec::kBeginTime, logon + i);
      record.SetInt(tessel::rec::kEndTime, logon + i);  // as registAccount passes it on
    }
    record.SetInt(tessel::rec::kInputFlag, 1);
    if (!tessel::AppendRecord(tessel::port::Env::Default(), path, record).ok()) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      std::exit(1);
    }
    keywords->insert(tessel::KeywordOf(record));
  }
}

struct Figures {
  double answerSeconds = -1;
  double firstStoredSeconds = -1;
  std::string restoreLine;
};

Figures StartOnce(int seats, int records) {
  ingest::IngestSite site(TESSEL_SERVICE_MODULE, "tesselWriteService");
  const std::string virtualdb = site.dir() + "/virtualdb";
  const std::int32_t logon = static_cast<std::int32_t>(std::time(nullptr)) - 3600;
  std::set<std::string> keywords;
  for (int seat = 0; seat < seats; ++seat) WriteSeat(virtualdb, seat, records, logon, &keywords);
  if (!keywords.empty())
    testing_support::WriteKeywordStore(tessel::port::Env::Default(),
                                       tessel::KeywordStoreFileName(virtualdb), keywords);

  Figures figures;
  Ice::CommunicatorPtr client = Ice::initialize();
  std::string why;
  const Clock::time_point launch = Clock::now();
  if (!site.Start(client, &why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    std::exit(1);
  }
  figures.answerSeconds = std::chrono::duration<double>(Clock::now() - launch).count();
  const long before = site.StoredRecords();
  ingest::SendProbe(client, site.Proxy(), std::time(nullptr) - 60);
  if (testing_support::WaitUntil([&] { return site.StoredRecords() > before; },
                                 std::chrono::seconds(60)))
    figures.firstStoredSeconds = std::chrono::duration<double>(Clock::now() - launch).count();
  std::smatch match;
  const std::string errors = site.ServerErrors();
  if (std::regex_search(errors, match, std::regex("on line at start: [^\\n]*")))
    figures.restoreLine = match.str();
  site.Stop();
  client->destroy();
  return figures;
}

void Measure(const char* label, int seats, int records, int runs) {
  Figures best;
  for (int run = 0; run < runs; ++run) {
    const Figures figures = StartOnce(seats, records);
    if (best.answerSeconds < 0 || figures.answerSeconds < best.answerSeconds) best = figures;
  }
  std::string restoreMs = "-";
  std::smatch match;
  if (std::regex_search(best.restoreLine, match, std::regex("\\((\\d+) ms\\)"))) restoreMs = match[1];
  std::printf("%-28s %9.2f %11s %15.2f\n", label, best.answerSeconds, restoreMs.c_str(),
              best.firstStoredSeconds);
  if (!best.restoreLine.empty()) std::printf("  service: %s\n", best.restoreLine.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  int seats = 10000, records = 20, runs = 3;
  static const option options[] = {{"seats", required_argument, nullptr, 's'},
                                   {"records", required_argument, nullptr, 'r'},
                                   {"runs", required_argument, nullptr, 'n'},
                                   {"help", no_argument, nullptr, 'h'},
                                   {nullptr, 0, nullptr, 0}};
  for (int c; (c = getopt_long(argc, argv, "h", options, nullptr)) != -1;) {
    switch (c) {
      case 's': seats = std::atoi(optarg); break;
      case 'r': records = std::atoi(optarg); break;
      case 'n': runs = std::atoi(optarg); break;
      case 'h': std::fputs(kUsage, stdout); return 0;
      default: std::fputs(kUsage, stderr); return 2;
    }
  }
  if (seats < 0 || records < 1 || runs < 1) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::printf("%-28s %9s %11s %15s\n", "site", "answer s", "restore ms", "first stored s");
  Measure("empty", 0, records, runs);
  const std::string label =
      std::to_string(seats) + " seats x " + std::to_string(records) + " records";
  Measure(label.c_str(), seats, records, runs);
  return 0;
}
