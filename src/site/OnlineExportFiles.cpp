#include "site/OnlineExportFiles.h"

#include <vector>

#include "common/Console.h"
#include "common/SiteFiles.h"

namespace tessel {

bool OnlineExportFiles::Expired(std::time_t second, std::time_t now) const {
  const std::int64_t age = static_cast<std::int64_t>(now) - static_cast<std::int64_t>(second);
  return age >= retention_.keepSeconds || -age > retention_.keepSeconds;
}

port::Status OnlineExportFiles::Next(const std::string& dir, std::string* path) {
  std::vector<std::string> names;
  const port::Status listed = env_->GetChildren(dir, &names);
  if (!listed.ok())
    return port::Status::Refused("no on-line export is made: " + listed.ToString());
  const std::time_t now = env_->NowSeconds();
  std::size_t kept = 0;
  for (const std::string& name : names) {
    std::time_t second = 0;
    if (!ParseOnlineExportFileName(name, &second)) continue;
    if (!Expired(second, now)) {
      ++kept;
      continue;
    }
    const port::Status removed = env_->RemoveFile(JoinPath(dir, name));
    if (!removed.ok() && !removed.IsNotFound()) {
      if (removal_.Failed(removed.ToString()))
        LogLine("cannot remove an on-line export past its time (%s); tried again at each export",
                removed.ToString().c_str());
    } else if (removed.ok() && removal_.Succeeded()) {
      LogLine("on-line exports past their time are removed again");
    }
  }
  if (kept >= retention_.maxFiles)
    return port::Status::Refused(
        "no on-line export is made: " + std::to_string(kept) + " exports of the last " +
        std::to_string(retention_.keepSeconds) +
        " s are kept in " + dir + ", as many as tesselWriteService.OnlineExportMaxFiles allows; ask "
        "again once the oldest is past its time");
  // One file per call, named by the second of the call. A second call in
  // the same second gets "<seconds>_<n>.OLV" instead of adding its records
  // to the first call's file, so every file holds what its count says.
  if (now != lastSecond_) {
    lastSecond_ = now;
    inSecond_ = 0;
  }
  for (;;) {
    const std::string candidate = OnlineExportFileName(dir, now, inSecond_++);
    if (!env_->FileExists(candidate)) {
      *path = candidate;
      return port::Status::OK();
    }
  }
}

}  // namespace tessel
