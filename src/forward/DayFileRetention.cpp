#include "forward/DayFileRetention.h"

#include <climits>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "common/Console.h"
#include "common/SiteFiles.h"
#include "record/DayStamp.h"
#include "record/ProgressFile.h"

namespace tessel {

std::time_t DayFileRetention::EarliestProgress(const ServerList& list) const {
  const std::string dir = JoinPath(site_.workDir, kVirtualDbDirName);
  std::time_t earliest = LONG_MAX;
  for (const ServerEntry& entry : list.entries) {
    if (entry.overdue) continue;
    const std::string path =
        ProgressFileName(dir, entry.address, static_cast<unsigned short>(entry.port));
    std::unique_ptr<port::File> file;
    unsigned char bytes[kProgressSize];
    std::size_t read = 0;
    Progress progress;
    if (!site_.env->OpenFile(path, port::File::kRead, &file).ok() ||
        !file->Read(bytes, sizeof bytes, 0, &read).ok() || !DecodeProgress(bytes, read, &progress))
      return 0;
    if (progress.day < earliest) earliest = progress.day;
  }
  return earliest;
}

int DayFileRetention::Pass(const ServerList& list) {
  if (keepDays_ <= 0 || !list.usable) return 0;
  const std::int64_t nowMs = site_.env->NowMillis();
  if (ran_ && nowMs - lastRunMs_ < kEveryMs) return 0;
  ran_ = true;
  lastRunMs_ = nowMs;

  const std::time_t today = LocalMidnight(site_.env->NowSeconds());
  const std::time_t acknowledged = EarliestProgress(list);
  const std::string dir = site_.VirtualDbDir();
  std::vector<std::string> names;
  if (!site_.env->GetChildren(dir, &names).ok()) return 0;

  // Days of which an IP file (or its hand-off) still waits to become an IA
  // file: their counters stay, or a number could be given twice.
  std::set<std::string> waitingDays;
  SiteFile file;
  for (const std::string& name : names)
    if (ParseFileName(name, &file) &&
        (file.type == SiteFileType::kIpFile || file.type == SiteFileType::kHandOffNote))
      waitingDays.insert(file.dayStamp);

  int removed = 0;
  std::uint64_t bytes = 0;
  std::string failed;
  for (const std::string& name : names) {
    if (!ParseFileName(name, &file) || (file.type != SiteFileType::kDayFile &&
                                        file.type != SiteFileType::kSetAsideDayFile &&
                                        file.type != SiteFileType::kIaCounter))
      continue;
    const bool counter = file.type == SiteFileType::kIaCounter;
    const std::string& stamp = file.dayStamp;
    std::time_t day = 0;
    if (!MidnightOfDayStamp(stamp, &day)) continue;
    // Older than the days kept: the day `keepDays` before today is kept.
    if (NextLocalMidnight(day) + static_cast<std::time_t>(keepDays_) * 24 * 3600 > today + 3600)
      continue;
    if (counter ? waitingDays.count(stamp) != 0 : day >= acknowledged) continue;
    const std::string path = JoinPath(dir, name);
    std::uint64_t size = 0;
    site_.env->FileSize(path, &size);
    const port::Status status = site_.env->RemoveFile(path);
    if (status.ok()) {
      ++removed;
      bytes += size;
    } else if (failed.empty()) {
      failed = status.ToString();
    }
  }
  if (removed > 0)
    LogLine("removed %d files of days older than %d days (%llu bytes): every upstream has them",
            removed, keepDays_, static_cast<unsigned long long>(bytes));
  if (!failed.empty())
    LogLine("an old day's file cannot be removed: %s", Printable(failed).c_str());
  return removed;
}

}  // namespace tessel
