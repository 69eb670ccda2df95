#include "ForwardTestUtil.h"


#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "forward/NetlogFormat.h"
#include "record/DayStamp.h"
#include "record/RiaBaseFile.h"
#include "port/Coding.h"
#include "port/Port.h"

using namespace tessel;

namespace fmt = tessel::netlog_format;

namespace forward_test {

Site::Site() : cwd_(temp_.path()) {
  port::Env::Default()->CreateDir(temp_ / "virtualdb");
}

SiteContext Site::Context(port::Env* env) const { return SiteAt(env, temp_.path()); }

std::string Site::DayFile(std::time_t day) const {
  return DayFileName(VirtualDbDirOf(temp_.path()), DayStamp(day));
}

void Site::Append(std::time_t day, const std::vector<std::string>& accounts) const {
  for (const std::string& name : accounts) AppendRecord(day, Account(name));
}

void Site::AppendRecord(std::time_t day, const VirtualIdRecord& record) const {
  testing_support::AppendFile(DayFile(day),
                              std::string(reinterpret_cast<const char*>(record.bytes), rec::kSize));
}

VirtualIdRecord Account(const std::string& name) {
  VirtualIdRecord record =
      testing_support::ImRecord("4401020001_3232235786_1700000000_", 1001, name, 1700000100, 0, 0);
  record.SetInt(rec::kInputFlag, 1);
  return record;
}

std::time_t Midnight(int days) {
  std::time_t now = std::time(nullptr);
  std::tm local;
  localtime_r(&now, &local);
  local.tm_mday += days;
  local.tm_hour = local.tm_min = local.tm_sec = 0;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

std::vector<std::string> Accounts(const std::vector<Request>& requests) {
  std::vector<std::string> accounts;
  for (const Request& request : requests) {
    const std::vector<unsigned char>& b = request.bytes;
    const std::size_t data = fmt::kFixedSize + fmt::kItemHeaderSize;  // of the first item
    std::string account;
    if (b.size() > data && b[fmt::kFixedSize + fmt::kItemTypeAt] == 1) {
      std::uint32_t length = port::DecodeFixed32BE(&b[fmt::kFixedSize + fmt::kItemLengthAt]);
      if (data + length <= b.size()) account.assign(b.begin() + data, b.begin() + data + length);
    }
    accounts.push_back(account);
  }
  return accounts;
}

Progress ReadProgress(const std::string& path) {
  Progress progress;
  std::string text = testing_support::Exists(path) ? testing_support::ReadFile(path) : "";
  if (text.size() != 8) return progress;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
  progress.day = static_cast<std::int32_t>(port::DecodeFixed32LE(bytes));
  progress.offset = port::DecodeFixed32LE(bytes + 4);
  progress.present = true;
  return progress;
}

void WriteProgress(const std::string& path, std::int32_t day, std::uint32_t offset) {
  unsigned char bytes[8];
  port::EncodeFixed32LE(bytes, static_cast<std::uint32_t>(day));
  port::EncodeFixed32LE(bytes + 4, offset);
  testing_support::WriteFile(path, std::string(reinterpret_cast<const char*>(bytes), 8));
}

std::string ProgressPath(const std::string& host, int port) {
  return "virtualdb/" + host + "_" + std::to_string(port) + ".spg";
}

RVIDSenderPacing QuickPacing() {
  RVIDSenderPacing pacing;
  pacing.recordPauseMs = 1;
  pacing.idlePauseMs = 100;
  pacing.retryPauseMs = 100;
  pacing.recheckPauseMs = 50;
  pacing.timing.connectMs = 1000;
  pacing.timing.tcpReplyMs = 500;
  return pacing;
}

}  // namespace forward_test
