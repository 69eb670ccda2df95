#include "SiteViews.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "TextOut.h"
#include "iafile/RecordExportReader.h"
#include "iafile/RiaBaseFile.h"

namespace views {

namespace {

const char* KindName(NetLogKind kind) {
  switch (kind) {
    case REALNAME_LOGON: return "REALNAME_LOGON";
    case REALNAME_LOGOFF: return "REALNAME_LOGOFF";
    case IM_LOGON: return "IM_LOGON";
    case IM_LOGOFF: return "IM_LOGOFF";
    case OTHER_INFO: return "OTHER_INFO";
    case IM_OTHER: return "IM_OTHER";
  }
  return "?";
}

long FileSizeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

std::string Dotted(std::uint32_t ip) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF,
                ip & 0xFF);
  return text;
}

}  // namespace

std::string DescribeRecord(const VirtualIdRecord& original) {
  VirtualIdRecord record = original;  // the kind may rewrite a seat's log-off time
  const NetLogKind kind = GetNetLogKind(record);
  std::string line = "type=" + std::to_string(original.InfoType()) + " kind=" + KindName(kind) +
                     " input=" + std::to_string(original.InputFlag()) + " prefix=\"" +
                     textout::GbkToUtf8(original.Prefix()) + "\"";
  if (original.InfoType() == rec::kSeatInfoType) {
    line += " account=\"" + textout::GbkToUtf8(original.Text(rec::kAccount, rec::kSeatAccountWidth)) +
            "\" logon=" + textout::LocalTimeText(original.LogonTime()) +
            " logoff=" + textout::LocalTimeText(original.LogoffTime()) +
            " ip=" + Dotted(static_cast<std::uint32_t>(original.Int(rec::kClientIp)));
  } else {
    line += " account=\"" + textout::GbkToUtf8(original.Text(rec::kAccount, rec::kAccountWidth)) +
            "\" begin=" + textout::LocalTimeText(original.BeginTime()) +
            " end=" + textout::LocalTimeText(original.EndTime());
    if (IsImInfoType(original.InfoType())) line += " status=" + std::to_string(original.ImStatus());
  }
  return line;
}

bool ShowRiaBase(const std::string& path, std::ostream& out, std::ostream& err) {
  std::vector<VirtualIdRecord> records;
  if (!ReadRecords(path, &records)) {
    err << "riadump: cannot read " << path << "\n";
    return false;
  }
  const long size = FileSizeOf(path);
  out << path << ": " << records.size() << " records";
  if (size % static_cast<long>(rec::kSize) != 0)
    out << " and " << size % static_cast<long>(rec::kSize) << " bytes of a partial record";
  out << "\n";
  for (std::size_t i = 0; i < records.size(); ++i) out << "  #" << i << " " << DescribeRecord(records[i]) << "\n";
  return true;
}

bool ShowKeywords(const std::string& path, std::time_t now, std::ostream& out, std::ostream& err) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    err << "riadump: cannot read " << path << "\n";
    return false;
  }
  char slot[132];
  long count = 0;
  out << path << ":\n";
  while (in.read(slot, sizeof slot)) {
    const std::string keyword(slot, strnlen(slot, 128));
    // The seat log-on time stands between the second and third underscore.
    std::string::size_type a = keyword.find('_'), b = a == std::string::npos ? a : keyword.find('_', a + 1);
    std::string::size_type c = b == std::string::npos ? b : keyword.find('_', b + 1);
    std::string age = "(no log-on time)";
    if (c != std::string::npos) {
      const long logon = AtoiText(keyword.substr(b + 1, c - b - 1));
      age = (logon + 259200L > now ? "kept until " : "expired at ") + textout::LocalTimeText(logon + 259200L);
    }
    out << "  " << textout::GbkToUtf8(keyword) << "  " << age << "\n";
    ++count;
  }
  out << count << " keyword records\n";
  return true;
}

bool ReadProgress(const std::string& path, Progress* progress) {
  std::ifstream in(path, std::ios::binary);
  unsigned char bytes[8];
  if (!in.read(reinterpret_cast<char*>(bytes), sizeof bytes)) return false;
  VirtualIdRecord scratch;  // reuse the record's little-endian reader
  std::memcpy(scratch.bytes, bytes, sizeof bytes);
  progress->day = scratch.Int(0);
  progress->offset = scratch.Int(4);
  return true;
}

bool ShowProgress(const std::string& path, std::ostream& out, std::ostream& err) {
  Progress p;
  if (!ReadProgress(path, &p)) {
    err << "riadump: " << path << " is not an 8-byte progress file\n";
    return false;
  }
  out << path << ": day " << DayStamp(p.day) << " (" << textout::LocalTimeText(p.day)
      << "), offset " << p.offset << " = record " << p.offset / static_cast<long>(rec::kSize) << "\n";
  return true;
}

bool ShowExport(const std::string& path, std::ostream& out, std::ostream& err) {
  std::vector<RecordExportEntry> entries;
  const bool ok = ReadRecordExportFile(path, &entries);
  out << path << ": " << entries.size() << " records\n";
  for (std::size_t i = 0; i < entries.size(); ++i)
    out << "  #" << i << " unit=" << entries[i].unit << " " << DescribeRecord(entries[i].record) << "\n";
  if (!ok) err << "riadump: " << path << ": unreadable after entry " << entries.size() << "\n";
  return ok;
}

SiteStatus CollectStatus(const std::string& site, const std::string& workDir, std::time_t now) {
  SiteStatus status;
  const std::string vdb = site + "/virtualdb/";
  status.today = DayStamp(now);
  const long todaySize = FileSizeOf(vdb + status.today + ".RiaBase");
  status.todayRecords = todaySize > 0 ? todaySize / static_cast<long>(rec::kSize) : 0;
  const long dbSize = FileSizeOf(vdb + "virtualdb.db");
  status.keywords = dbSize > 0 ? dbSize / 132 : 0;

  std::error_code error;
  const std::string progressDir = workDir + "/virtualdb";
  for (std::filesystem::directory_iterator it(progressDir, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() < 5 || name.compare(name.size() - 4, 4, ".spg") != 0) continue;
    ServerStatus server;
    server.name = name.substr(0, name.size() - 4);
    if (!ReadProgress(it->path().string(), &server.progress)) continue;
    const std::time_t today = LocalMidnight(now);
    long offset = server.progress.offset;
    for (std::time_t day = LocalMidnight(server.progress.day); day <= today;
         day = NextLocalMidnight(day)) {
      const long size = FileSizeOf(vdb + DayStamp(day) + ".RiaBase");
      if (size > offset) server.behind += (size - offset) / static_cast<long>(rec::kSize);
      offset = 0;
    }
    status.servers.push_back(server);
  }
  return status;
}

void ShowStatus(const SiteStatus& status, std::ostream& out) {
  out << "today (" << status.today << "): " << status.todayRecords << " records in the day file\n"
      << "keyword store: " << status.keywords << " keyword records\n";
  if (status.servers.empty()) out << "no upstream progress files\n";
  for (const ServerStatus& server : status.servers)
    out << "upstream " << server.name << ": at " << DayStamp(server.progress.day) << " offset "
        << server.progress.offset << ", " << server.behind << " records behind\n";
}

}  // namespace views
