// virtualid-send: sends identity events to a running service, the way seat
// agents do, or replays the records of a RiaBase file.
#include <Ice/Ice.h>
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "EventRecords.h"
#include "TextOut.h"
#include "VirtualAccount.h"
#include "common/Version.h"
#include "record/RiaBaseFile.h"

namespace {

const char kUsage[] =
    "usage: virtualid-send [--host H] --port P COMMAND [options]\n"
    "       virtualid-send --proxy PROXY COMMAND [options]\n"
    "\n"
    "Sends identity events to the service's AccountInfo object over Ice.\n"
    "\n"
    "commands:\n"
    "  ping          check that the service answers; prints its type ids\n"
    "  seat-on       a real-name user logs on at a seat            (write)\n"
    "  seat-off      the seat's real-name user logs off            (RealNameClientOff)\n"
    "  im-on         an instant-messaging account comes on line    (registAccount)\n"
    "  im-off        an instant-messaging account goes off line    (writeAccount)\n"
    "  info          other information about the seat's user       (write)\n"
    "  account-off   every identity at an IP goes off line         (AccountOff)\n"
    "  online        export the on-line list                       (GetAllOnLineVirtualId)\n"
    "  replay FILE   send every record of a RiaBase file           (write)\n"
    "\n"
    "event options:\n"
    "  --unit U       unit identity of the site (default 4401020001)\n"
    "  --ip A.B.C.D   the seat's address (default 127.0.0.1; AccountOff and\n"
    "                 seat-off match it against the caller's own address)\n"
    "  --logon T      seat log-on time, seconds since 1970 (default: now)\n"
    "  --logoff T     seat-off: log-off time (default: now)\n"
    "  --type N       info type (im-on/im-off default 1001, info default 2001)\n"
    "  --account A    account or identity text (required but for ping/online/account-off)\n"
    "  --begin T      begin time (default: --logon)\n"
    "  --end T        end time (default: --begin)\n"
    "  --time T       account-off: off time (default: now)\n"
    "  --code C       account-off: off-line code (default 1)\n"
    "\n"
    "  --version      the version\n"
    "  -h, --help     this text\n";

bool ParseInt(const char* text, long long low, long long high, long long* value) {
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

Ice::ByteSeq Bytes(const VirtualIdRecord& record) {
  return Ice::ByteSeq(record.bytes, record.bytes + tessel::rec::kSize);
}

int Fail(const std::string& message) {
  std::cerr << "virtualid-send: " << textout::Printable(message) << "\n";
  return 2;
}

struct Options {
  std::string proxy, host = "127.0.0.1";
  long long port = -1;
  events::Event event;
  bool haveAccount = false, haveType = false, haveBegin = false, haveEnd = false;
  long long offTime = -1, code = 1;
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const long long now = static_cast<long long>(std::time(nullptr));
  o.event.unit = "4401020001";
  events::ParseIPv4("127.0.0.1", &o.event.ip);
  o.event.seatLogon = static_cast<std::int32_t>(now);
  o.event.logoffTime = static_cast<std::int32_t>(now);
  o.offTime = now;

  static const option longOptions[] = {
      {"help", no_argument, nullptr, 'h'},     {"proxy", required_argument, nullptr, 'x'},
      {"host", required_argument, nullptr, 'H'}, {"port", required_argument, nullptr, 'p'},
      {"unit", required_argument, nullptr, 'u'}, {"ip", required_argument, nullptr, 'i'},
      {"logon", required_argument, nullptr, 'l'}, {"logoff", required_argument, nullptr, 'o'},
      {"type", required_argument, nullptr, 't'}, {"account", required_argument, nullptr, 'a'},
      {"begin", required_argument, nullptr, 'b'}, {"end", required_argument, nullptr, 'e'},
      {"time", required_argument, nullptr, 'T'}, {"code", required_argument, nullptr, 'c'},
      {"version", no_argument, nullptr, 'V'},  {nullptr, 0, nullptr, 0}};
  const long long kMin = -2147483648LL, kMax = 2147483647LL;
  long long v = 0;
  int c;
  while ((c = getopt_long(argc, argv, "h", longOptions, nullptr)) != -1) {
    switch (c) {
      case 'h': std::cout << kUsage; return 0;
      case 'V': std::cout << "virtualid-send " << tessel::Version() << "\n"; return 0;
      case 'x': o.proxy = optarg; break;
      case 'H': o.host = optarg; break;
      case 'p':
        if (!ParseInt(optarg, 1, 65535, &o.port)) return Fail("--port wants 1..65535");
        break;
      case 'u': o.event.unit = optarg; break;
      case 'i':
        if (!events::ParseIPv4(optarg, &o.event.ip)) return Fail("--ip wants a dotted IPv4 address");
        break;
      case 'l':
        if (!ParseInt(optarg, kMin, kMax, &v)) return Fail("--logon wants seconds since 1970");
        o.event.seatLogon = static_cast<std::int32_t>(v);
        break;
      case 'o':
        if (!ParseInt(optarg, kMin, kMax, &v)) return Fail("--logoff wants seconds since 1970");
        o.event.logoffTime = static_cast<std::int32_t>(v);
        break;
      case 't':
        if (!ParseInt(optarg, kMin, kMax, &v)) return Fail("--type wants a number");
        o.event.infoType = static_cast<std::int32_t>(v);
        o.haveType = true;
        break;
      case 'a': o.event.account = optarg; o.haveAccount = true; break;
      case 'b':
        if (!ParseInt(optarg, kMin, kMax, &v)) return Fail("--begin wants seconds since 1970");
        o.event.beginTime = static_cast<std::int32_t>(v);
        o.haveBegin = true;
        break;
      case 'e':
        if (!ParseInt(optarg, kMin, kMax, &v)) return Fail("--end wants seconds since 1970");
        o.event.endTime = static_cast<std::int32_t>(v);
        o.haveEnd = true;
        break;
      case 'T':
        if (!ParseInt(optarg, kMin, kMax, &o.offTime)) return Fail("--time wants seconds since 1970");
        break;
      case 'c':
        if (!ParseInt(optarg, kMin, kMax, &o.code)) return Fail("--code wants a number");
        break;
      default: std::cerr << kUsage; return 2;
    }
  }
  if (optind >= argc) return Fail("no command given (see --help)");
  const std::string command = argv[optind++];
  if (o.proxy.empty()) {
    if (o.port < 0) return Fail("give --port (or --proxy)");
    o.proxy = "tesselWriteService:tcp -h " + o.host + " -p " + std::to_string(o.port) + " -t 10000";
  }
  if (!o.haveBegin) o.event.beginTime = o.event.seatLogon;
  if (!o.haveEnd) o.event.endTime = o.event.beginTime;
  const bool needsAccount = command != "ping" && command != "online" &&
                            command != "account-off" && command != "replay";
  if (needsAccount && !o.haveAccount) return Fail(command + " needs --account");

  Ice::CommunicatorHolder ice(argc, argv);
  try {
    Audit::VirtualPersion::AccountInfoPrx prx =
        Audit::VirtualPersion::AccountInfoPrx::checkedCast(ice->stringToProxy(o.proxy));
    if (!prx) return Fail("the object at " + o.proxy + " is not an AccountInfo");
    events::Event& e = o.event;
    if (command == "ping") {
      for (const std::string& id : prx->ice_ids()) std::cout << textout::Printable(id) << "\n";
    } else if (command == "seat-on") {
      e.logoffTime = 0;
      prx->write(Bytes(events::SeatEventRecord(e)));
    } else if (command == "seat-off") {
      prx->RealNameClientOff(events::InterfaceIp(e.ip), Bytes(events::SeatEventRecord(e)),
                             e.seatLogon, e.logoffTime);
    } else if (command == "im-on" || command == "im-off") {
      if (!o.haveType) e.infoType = 1001;
      if (command == "im-on") prx->registAccount(Bytes(events::IdentityEventRecord(e, 0)));
      else prx->writeAccount(Bytes(events::IdentityEventRecord(e, 1)));
    } else if (command == "info") {
      if (!o.haveType) e.infoType = 2001;
      prx->write(Bytes(events::IdentityEventRecord(e, 0)));
    } else if (command == "account-off") {
      prx->AccountOff(events::InterfaceIp(e.ip), static_cast<Ice::Int>(o.offTime),
                      static_cast<Ice::Int>(o.code));
    } else if (command == "online") {
      Ice::Int count = 0;
      std::string path;
      prx->GetAllOnLineVirtualId(count, path);
      std::cout << count << " " << textout::Printable(path) << "\n";
    } else if (command == "replay") {
      if (optind >= argc) return Fail("replay needs a RiaBase file");
      std::vector<VirtualIdRecord> records;
      if (!tessel::ReadRecords(tessel::port::Env::Default(), argv[optind], &records).ok())
        return Fail(std::string("cannot read ") + argv[optind]);
      for (const VirtualIdRecord& record : records) prx->write(Bytes(record));
      std::cout << records.size() << " records sent\n";
    } else {
      return Fail("unknown command '" + command + "' (see --help)");
    }
  } catch (const Ice::Exception& ex) {
    std::ostringstream text;
    text << ex;
    std::cerr << "virtualid-send: " << textout::Printable(text.str()) << "\n";
    return 1;
  }
  return 0;
}
