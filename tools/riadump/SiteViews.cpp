#include "SiteViews.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include <sys/stat.h>

#include "RecordExportReader.h"
#include "TextOut.h"
#include "common/SiteFiles.h"
#include "lists/IntakeJournal.h"
#include "lists/KeywordStore.h"
#include "port/Env.h"
#include "record/DayStamp.h"
#include "record/RiaBaseFile.h"

namespace views {

namespace keywordstore = tessel::keywordstore;
namespace port = tessel::port;
namespace rec = tessel::rec;
using tessel::DayStamp;

namespace {

port::Env* const env = port::Env::Default();

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
  std::uint64_t size = 0;
  return env->FileSize(path, &size).ok() ? static_cast<long>(size) : -1;
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
                     textout::ClientText(original.Prefix()) + "\"";
  if (original.InfoType() == rec::kSeatInfoType) {
    line += " account=\"" + textout::ClientText(original.Text(rec::kAccount, rec::kSeatAccountWidth)) +
            "\" logon=" + textout::LocalTimeText(original.LogonTime()) +
            " logoff=" + textout::LocalTimeText(original.LogoffTime()) +
            " ip=" + Dotted(static_cast<std::uint32_t>(original.Int(rec::kClientIp)));
  } else {
    line += " account=\"" + textout::ClientText(original.Text(rec::kAccount, rec::kAccountWidth)) +
            "\" begin=" + textout::LocalTimeText(original.BeginTime()) +
            " end=" + textout::LocalTimeText(original.EndTime());
    if (tessel::IsImInfoType(original.InfoType())) line += " status=" + std::to_string(original.ImStatus());
  }
  return line;
}

bool ShowRiaBase(const std::string& path, std::ostream& out, std::ostream& err) {
  std::vector<VirtualIdRecord> records;
  if (!tessel::ReadRecords(env, path, &records).ok()) {
    err << "riadump: cannot read " << textout::Printable(path) << "\n";
    return false;
  }
  const long size = FileSizeOf(path);
  out << textout::Printable(path) << ": " << records.size() << " records";
  if (size % static_cast<long>(rec::kSize) != 0)
    out << " and " << size % static_cast<long>(rec::kSize) << " bytes of a partial record";
  out << "\n";
  for (std::size_t i = 0; i < records.size(); ++i) out << "  #" << i << " " << DescribeRecord(records[i]) << "\n";
  return true;
}

bool ShowKeywords(const std::string& path, std::time_t now, std::ostream& out, std::ostream& err) {
  std::string content;
  if (!port::ReadFileToString(env, path, &content).ok()) {
    err << "riadump: cannot read " << textout::Printable(path) << "\n";
    return false;
  }
  long count = 0;
  out << textout::Printable(path) << ":\n";
  for (std::size_t at = 0; at + keywordstore::kRecordSize <= content.size();
       at += keywordstore::kRecordSize) {
    const std::string keyword = keywordstore::KeywordOfRecord(content.data() + at);
    long long logon = 0;
    std::string age = "(no log-on time)";
    if (keywordstore::LogonTimeOf(keyword, &logon)) {
      const long long until = logon + keywordstore::kLifetimeSeconds;
      age = (keywordstore::IsCurrent(keyword, now) ? "kept until " : "expired at ") +
            textout::LocalTimeText(until);
    }
    out << "  " << textout::ClientText(keyword) << "  " << age << "\n";
    ++count;
  }
  out << count << " keyword records\n";
  return true;
}

bool ReadProgress(const std::string& path, Progress* progress) {
  std::string content;
  return port::ReadFileToString(env, path, &content).ok() &&
         tessel::DecodeProgress(reinterpret_cast<const unsigned char*>(content.data()),
                                content.size(), progress);
}

bool ShowProgress(const std::string& path, std::ostream& out, std::ostream& err) {
  Progress p;
  if (!ReadProgress(path, &p)) {
    err << "riadump: " << textout::Printable(path) << " is not an 8-byte progress file\n";
    return false;
  }
  out << textout::Printable(path) << ": day " << DayStamp(p.day) << " (" << textout::LocalTimeText(p.day)
      << "), offset " << p.offset << " = record " << p.offset / static_cast<long>(rec::kSize) << "\n";
  return true;
}

bool ShowExport(const std::string& path, std::ostream& out, std::ostream& err) {
  std::vector<RecordExportEntry> entries;
  const bool ok = ReadRecordExportFile(path, &entries);
  out << textout::Printable(path) << ": " << entries.size() << " records\n";
  for (std::size_t i = 0; i < entries.size(); ++i)
    out << "  #" << i << " unit=" << textout::ClientText(entries[i].unit) << " "
        << DescribeRecord(entries[i].record) << "\n";
  if (!ok)
    err << "riadump: " << textout::Printable(path) << ": unreadable after entry " << entries.size()
        << "\n";
  return ok;
}

namespace {

// The modification time of a file, 0 when it cannot be had.
std::time_t ModifiedAt(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? info.st_mtime : 0;
}

// Whether `name` is a day file set aside ("261207.RiaBase.1796580000").
bool IsSetAside(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  std::string stamp;
  return dot != std::string::npos && dot + 1 < name.size() &&
         name.find_first_not_of("0123456789", dot + 1) == std::string::npos &&
         tessel::ParseDayFileName(name.substr(0, dot), &stamp);
}

std::string Shown(const std::string& text) { return textout::Printable(text); }

}  // namespace

SiteStatus CollectStatus(const std::string& site, const std::string& workDir, std::time_t now) {
  SiteStatus status;
  const std::string vdb = tessel::VirtualDbDirOf(site);
  const long record = static_cast<long>(rec::kSize);
  status.today = DayStamp(now);
  const long todaySize = FileSizeOf(tessel::DayFileName(vdb, status.today));
  status.todayRecords = todaySize > 0 ? todaySize / record : 0;
  const long dbSize = FileSizeOf(tessel::KeywordStoreFileName(vdb));
  status.keywords = dbSize > 0 ? dbSize / static_cast<long>(keywordstore::kRecordSize) : 0;

  // The day files there are, by their day: a server is behind by what those
  // from its progress day to today hold past its offset. Walking the days
  // themselves would take as long as the progress file is old.
  const std::time_t today = tessel::LocalMidnight(now);
  std::map<std::time_t, long> dayFiles;
  std::vector<std::string> names;
  const port::Status listed = env->GetChildren(vdb, &names);
  if (!listed.ok()) status.problems.push_back("cannot read " + Shown(listed.ToString()));
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = tessel::JoinPath(vdb, name);
    std::string stamp;
    std::time_t day = 0;
    if (tessel::ParseDayFileName(name, &stamp) && tessel::MidnightOfDayStamp(stamp, &day)) {
      const long size = FileSizeOf(path);
      if (size % record != 0)
        status.problems.push_back("day file " + Shown(name) + " ends in " +
                                  std::to_string(size % record) +
                                  " bytes of a partial record: damaged (or in the middle of an "
                                  "append, if it is today's)");
      if (day <= today) dayFiles[day] = size;
    } else if (IsSetAside(name)) {
      status.problems.push_back("damaged day file set aside: " + Shown(name) + " (" +
                                std::to_string(FileSizeOf(path)) +
                                " bytes; its records after the senders' offsets were not sent)");
    }
  }
  // Every journal file: the two that take turns and any given up after a
  // failed write, which holds records until they are stored.
  for (const std::string& name : names) {
    std::uint64_t number = 0;
    if (!tessel::IntakeJournal::ParseFileName(name, &number)) continue;
    const std::string path = tessel::JoinPath(vdb, name);
    // An emptied file keeps its size: its entries tell what it holds.
    std::size_t entries = 0;
    tessel::IntakeJournal::CountEntries(env, path, &entries);
    const std::time_t written = ModifiedAt(path);
    if (entries > 0 && written != 0 && now - written >= kJournalStaleSeconds)
      status.problems.push_back("intake journal " + name + " holds " + std::to_string(entries) +
                                (entries == 1 ? " record" : " records") +
                                " accepted but not stored, written at " +
                                textout::LocalTimeText(written));
  }

  const std::string progressDir = tessel::VirtualDbDirOf(workDir);
  names.clear();
  env->GetChildren(progressDir, &names);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    ServerStatus server;
    if (!tessel::ParseProgressFileName(name, &server.name)) continue;
    const std::string path = tessel::JoinPath(progressDir, name);
    if (!ReadProgress(path, &server.progress)) {
      status.problems.push_back("upstream " + Shown(server.name) + ": progress file " + Shown(name) +
                                " holds " + std::to_string(std::max(FileSizeOf(path), 0L)) +
                                " bytes, not 8: its sender starts today's day file afresh");
      continue;
    }
    std::time_t first = tessel::LocalMidnight(server.progress.day);
    long firstOffset = static_cast<long>(server.progress.offset);
    if (first > today) {
      // The sender takes such a day for today, from the start of its file.
      server.future = true;
      status.problems.push_back("upstream " + Shown(server.name) + ": progress file names day " +
                                DayStamp(server.progress.day) +
                                ", after today (was the clock ahead?): its sender sends today's "
                                "day file again from its start");
      first = today;
      firstOffset = 0;
    }
    for (auto file = dayFiles.lower_bound(first); file != dayFiles.end(); ++file) {
      const long offset = file->first == first ? firstOffset : 0;
      if (file->second > offset) server.behind += (file->second - offset) / record;
    }
    status.servers.push_back(server);
  }
  return status;
}

void CheckBehind(long limit, SiteStatus* status) {
  for (const ServerStatus& server : status->servers)
    if (server.behind > limit)
      status->problems.push_back("upstream " + Shown(server.name) + " is " +
                                 std::to_string(server.behind) + " records behind (more than " +
                                 std::to_string(limit) + ")");
}

void ShowStatus(const SiteStatus& status, std::ostream& out) {
  out << "today (" << status.today << "): " << status.todayRecords << " records in the day file\n"
      << "keyword store: " << status.keywords << " keyword records\n";
  if (status.servers.empty()) out << "no upstream progress files\n";
  for (const ServerStatus& server : status.servers) {
    out << "upstream " << Shown(server.name) << ": at " << DayStamp(server.progress.day)
        << (server.future ? " (after today)" : "") << " offset " << server.progress.offset << ", "
        << server.behind << " records behind\n";
  }
  for (const std::string& problem : status.problems) out << "problem: " << problem << "\n";
}

}  // namespace views
