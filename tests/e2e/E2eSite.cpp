#include "E2eSite.h"

#include <ctime>
#include <sstream>

#include "forward/NetlogConvert.h"
#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "record/DayStamp.h"
#include "record/RiaBaseFile.h"

using namespace tessel;

namespace testing_support {

netlog::SinkServer::Listener UpstreamRecorder::listener() {
  return [this](const netlog::Request& request, const std::string&) {
    std::lock_guard<std::mutex> guard(lock_);
    requests_.push_back(request);
  };
}

std::vector<netlog::Request> UpstreamRecorder::requests() {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

size_t UpstreamRecorder::count() { return requests().size(); }

std::vector<VirtualIdRecord> TodaysRecords(const std::string& site) {
  std::vector<VirtualIdRecord> records;
  ReadRecords(port::Env::Default(), DayFileName(VirtualDbDirOf(site), DayStamp(std::time(nullptr))),
              &records);
  return records;
}

void WriteNetbarConfig(const std::string& site, int port) {
  WriteFile(site + "/netbarcfg.ini", "[P2PVIRTUALID]\r\nAddrCount=1\r\nServerAddr_0=127.0.0.1\r\n"
                                     "ServerPort_0=" + std::to_string(port) + "\r\n");
}

std::string UpstreamView(const netlog::Request& r) {
  std::ostringstream out;
  out << r.tag << "|" << r.code << "|" << r.typeCode << "|" << r.num1 << "|" << r.num2 << "|"
      << r.num3 << "|" << r.num4 << "|" << r.num5 << "|" << r.text << "|" << r.logonTime << "|"
      << r.onlineFlag << "|" << r.eventTime;
  for (const netlog::Item& item : r.items) out << "|" << item.type << "=" << item.data;
  return out.str();
}

std::string ConvertedView(const VirtualIdRecord& stored) {
  netlog_st n;
  NetlogItemTexts texts;
  if (!ConvertRecordToNetlog(stored, stored.InputFlag(), &n, &texts)) return "(rejected)";
  netlog::Request r;
  auto text = [](const char* p, size_t width) {
    size_t len = 0;
    while (len < width && p[len] != '\0') ++len;
    return std::string(p, len);
  };
  r.tag = text(n.tag, 2);
  r.code = text(n.code, 12);
  r.typeCode = text(n.type_code, 5);
  r.num1 = n.num1;
  r.num2 = n.num2;
  r.num3 = n.num3;
  r.num4 = n.num4;
  r.num5 = n.num5;
  r.text = text(n.text, 20);
  r.logonTime = n.logon_time;
  r.onlineFlag = n.online_flag;
  r.eventTime = n.event_time;
  for (int i = 0; i < 7; ++i)
    if (n.items[i].length != 0)
      r.items.push_back(netlog::Item{i + 1, std::string(n.items[i].data, n.items[i].length)});
  return UpstreamView(r);
}

void ShowStatusFacet(IceBoxSite& site, int adminPort) {
  site.setProperty("Ice.Admin.Endpoints", "tcp -h 127.0.0.1 -p " + std::to_string(adminPort));
  site.setProperty("Ice.Admin.InstanceName", "tessel-site");
}

Tessel::SiteState ReadStatusFacet(IceBoxSite& site, int adminPort) {
  return Tessel::SiteStatusPrx::uncheckedCast(
             site.client()->stringToProxy(
                 "tessel-site/admin -f IceBox.Service.tesselWriteService.Status:tcp -h "
                 "127.0.0.1 -p " + std::to_string(adminPort)))
      ->read();
}

}  // namespace testing_support
