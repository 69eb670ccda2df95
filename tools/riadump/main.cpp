// riadump: shows a person what the service leaves on disk.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "LiveCommand.h"
#include "SiteViews.h"
#include "TextOut.h"
#include "common/SiteFiles.h"
#include "common/Version.h"

namespace {

const char kUsage[] =
    "usage: riadump records FILE...      decoded records of day and IP files (.RiaBase)\n"
    "       riadump keywords FILE        the keyword store (virtualdb.db) with each keyword's age\n"
    "       riadump progress FILE...     upstream progress files (.spg)\n"
    "       riadump export FILE...       IA files (.ria) and on-line exports (.OLV)\n"
    "       riadump status [--behind N] SITE [WORKDIR]\n"
    "                                    today's records, per upstream server how many\n"
    "                                    records it is behind (progress files are under\n"
    "                                    WORKDIR/virtualdb, default SITE), and a \"problem:\"\n"
    "                                    line for each trouble the files show: a damaged\n"
    "                                    or set-aside day file, a progress file that is\n"
    "                                    not 8 bytes or names a day after today, an intake\n"
    "                                    journal holding records not stored for a minute,\n"
    "                                    and with --behind a server more than N records\n"
    "                                    behind\n"
    "       riadump FILE...              any of the files above, told by its name\n"
    "       riadump live (--site SITE | --admin PROXY | --icegrid SERVER-ID)\n"
    "                    [--json | --prometheus] [--max-behind N] [--max-down SECONDS]\n"
    "                    [--max-refused N] [--window MINUTES] [--Ice.Config=FILE]\n"
    "                    [--Ice.<property>=VALUE]\n"
    "                                    how the running service is doing, from its\n"
    "                                    status facet: records accepted, stored,\n"
    "                                    refused and waiting, the journal, the record\n"
    "                                    files, the keywords, the last pass, each\n"
    "                                    upstream server; a \"problem:\" line for each\n"
    "                                    trouble: record files or the journal that\n"
    "                                    cannot be written, more than N records\n"
    "                                    refused in the last MINUTES (--max-refused,\n"
    "                                    default 0; --window, default 5), an\n"
    "                                    upstream down for SECONDS or longer\n"
    "                                    (--max-down, default 0: down at all), and\n"
    "                                    with --max-behind one more than N records\n"
    "                                    behind.\n"
    "                                    --site: the admin object SITE/icebox.cfg sets up\n"
    "                                    (Ice.Admin.Endpoints, Ice.Admin.InstanceName);\n"
    "                                    --admin: that admin object's proxy;\n"
    "                                    --icegrid: the server of that id, through the\n"
    "                                    IceGrid registry of --Ice.Default.Locator, with\n"
    "                                    an admin session of --IceGridAdmin.Username and\n"
    "                                    --IceGridAdmin.Password.\n"
    "                                    --json: one JSON object; --prometheus: the\n"
    "                                    Prometheus text format (tessel_* metrics, each\n"
    "                                    series labelled site=\"NAME\"); with\n"
    "                                    --prometheus, several --site, --admin and\n"
    "                                    --icegrid may be given: one file for every site\n"
    "                                    of a host\n"
    "       riadump --version            the version\n"
    "\n"
    "Texts are shown as UTF-8, times as local dates; control characters and bytes\n"
    "that are not text are shown as \\xNN.\n"
    "\n"
    "Exit status: 0 when all is well; 1 when a file cannot be read or is not of\n"
    "its kind, and for status and live when a \"problem:\" line was printed (for\n"
    "--json and --prometheus: when it would be); 2 for a command line riadump does\n"
    "not take; 3 for live when the status cannot be read (the service or its admin\n"
    "object not running, no admin object configured; --prometheus then prints\n"
    "tessel_up 0).\n";

bool ShowByName(const std::string& path) {
  using tessel::HasExtension;
  if (HasExtension(path, tessel::kRecordFileExtension))
    return views::ShowRiaBase(path, std::cout, std::cerr);
  if (HasExtension(path, ".db")) return views::ShowKeywords(path, std::time(nullptr), std::cout, std::cerr);
  if (HasExtension(path, tessel::kProgressFileExtension))
    return views::ShowProgress(path, std::cout, std::cerr);
  if (HasExtension(path, tessel::kIaFileExtension) || HasExtension(path, tessel::kOnlineExportExtension))
    return views::ShowExport(path, std::cout, std::cerr);
  std::cerr << "riadump: cannot tell what " << textout::Printable(path)
            << " is; name the view (see --help)\n";
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << kUsage;
    return 2;
  }
  const std::string command = argv[1];
  if (command == "-h" || command == "--help") {
    std::cout << kUsage;
    return 0;
  }
  if (command == "--version") {
    std::cout << "riadump " << tessel::Version() << "\n";
    return 0;
  }
  bool ok = true;
  if (command == "live") return views::RunLive(std::vector<std::string>(argv + 2, argv + argc));
  if (command == "status") {
    std::vector<std::string> dirs;
    long behindLimit = -1;
    for (int i = 2; i < argc; ++i) {
      const std::string word = argv[i];
      if (word != "--behind") {
        dirs.push_back(word);
        continue;
      }
      char* end = nullptr;
      behindLimit = i + 1 < argc ? std::strtol(argv[i + 1], &end, 10) : -1;
      if (end == nullptr || end == argv[i + 1] || *end != '\0' || behindLimit < 0) {
        std::cerr << "riadump: --behind wants a number of records\n";
        return 2;
      }
      ++i;
    }
    if (dirs.empty() || dirs.size() > 2) {
      std::cerr << "riadump: status wants [--behind N] SITE [WORKDIR]\n";
      return 2;
    }
    views::SiteStatus status =
        views::CollectStatus(dirs[0], dirs.size() == 2 ? dirs[1] : dirs[0], std::time(nullptr));
    if (behindLimit >= 0) views::CheckBehind(behindLimit, &status);
    views::ShowStatus(status, std::cout);
    return status.problems.empty() ? 0 : 1;
  }
  const bool named = command == "records" || command == "keywords" || command == "progress" ||
                     command == "export";
  if (named && argc < 3) {
    std::cerr << "riadump: " << command << " wants a file\n";
    return 2;
  }
  for (int i = named ? 2 : 1; i < argc; ++i) {
    const std::string path = argv[i];
    if (command == "records") ok = views::ShowRiaBase(path, std::cout, std::cerr) && ok;
    else if (command == "keywords") ok = views::ShowKeywords(path, std::time(nullptr), std::cout, std::cerr) && ok;
    else if (command == "progress") ok = views::ShowProgress(path, std::cout, std::cerr) && ok;
    else if (command == "export") ok = views::ShowExport(path, std::cout, std::cerr) && ok;
    else ok = ShowByName(path) && ok;
  }
  return ok ? 0 : 1;
}
