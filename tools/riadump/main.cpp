// riadump: shows a person what the service leaves on disk.
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>

#include "SiteViews.h"
#include "common/SiteFiles.h"

namespace {

const char kUsage[] =
    "usage: riadump records FILE...      decoded records of day and IP files (.RiaBase)\n"
    "       riadump keywords FILE        the keyword store (virtualdb.db) with each keyword's age\n"
    "       riadump progress FILE...     upstream progress files (.spg)\n"
    "       riadump export FILE...       IA files (.ria) and on-line exports (.OLV)\n"
    "       riadump status SITE [WORKDIR] today's records and, per upstream server, how\n"
    "                                    many records it is behind (progress files are\n"
    "                                    under WORKDIR/virtualdb, default SITE)\n"
    "       riadump FILE...              any of the files above, told by its name\n"
    "\n"
    "Texts are shown as UTF-8, times as local dates.\n";

bool ShowByName(const std::string& path) {
  using tessel::HasExtension;
  if (HasExtension(path, tessel::kRecordFileExtension))
    return views::ShowRiaBase(path, std::cout, std::cerr);
  if (HasExtension(path, ".db")) return views::ShowKeywords(path, std::time(nullptr), std::cout, std::cerr);
  if (HasExtension(path, tessel::kProgressFileExtension))
    return views::ShowProgress(path, std::cout, std::cerr);
  if (HasExtension(path, tessel::kIaFileExtension) || HasExtension(path, tessel::kOnlineExportExtension))
    return views::ShowExport(path, std::cout, std::cerr);
  std::cerr << "riadump: cannot tell what " << path << " is; name the view (see --help)\n";
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
  bool ok = true;
  if (command == "status") {
    if (argc < 3 || argc > 4) {
      std::cerr << "riadump: status wants SITE [WORKDIR]\n";
      return 2;
    }
    views::ShowStatus(views::CollectStatus(argv[2], argc == 4 ? argv[3] : argv[2], std::time(nullptr)),
                      std::cout);
    return 0;
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
