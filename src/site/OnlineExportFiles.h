// The .OLV files of the on-line exports in one directory: the name of each
// new export, and which earlier ones are kept. An export is kept for
// `keepSeconds` after the second its name carries (the second of its call,
// by the Env's clock: a name cannot be touched as a file's time can); older
// ones are removed at the next export. At most `maxFiles` are kept: while
// that many are within their time a new export is refused, since removing
// one early could take a file from a caller still reading it. Only names
// that OnlineExportFileName makes are looked at; other files stay.
#ifndef TESSEL_SITE_ONLINEEXPORTFILES_H
#define TESSEL_SITE_ONLINEEXPORTFILES_H

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "common/FaultSpell.h"
#include "port/Env.h"

namespace tessel {

struct ExportRetention {
  std::int64_t keepSeconds = 3600;
  std::size_t maxFiles = 100;
};

// Not thread-safe: the site instance serialises its exports.
class OnlineExportFiles {
 public:
  OnlineExportFiles(port::Env* env, const ExportRetention& retention)
      : env_(env), retention_(retention) {}

  // Removes the exports of `dir` whose time is over, then gives in *path a
  // name no earlier export was given. A refusal, saying why, when
  // `maxFiles` exports are within their time or the directory cannot be
  // read.
  port::Status Next(const std::string& dir, std::string* path);

 private:
  // True when the export of `second` is past its time now. A name more than
  // the keeping time ahead of the clock (the clock was set back) is past
  // too: it could otherwise hold its place for as long as the clock went back.
  bool Expired(std::time_t second, std::time_t now) const;

  port::Env* const env_;
  const ExportRetention retention_;
  std::time_t lastSecond_ = 0;
  int inSecond_ = 0;
  FaultSpell removal_;  // a removal that fails, told once until one works again
};

}  // namespace tessel

#endif
