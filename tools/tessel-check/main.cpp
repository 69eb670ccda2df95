// tessel-check SITE: the configuration of a site, checked before icebox
// starts it. One line per problem on standard error, naming the file, the
// key and its value; exit 78 (EX_CONFIG) when there is any.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <iostream>
#include <string>

#include "SiteCheck.h"
#include "common/Version.h"

namespace {

const int kConfigProblem = 78;  // EX_CONFIG
const int kUsageProblem = 64;   // EX_USAGE

const char kUsage[] =
    "usage: tessel-check SITE\n"
    "       tessel-check --version\n"
    "\n"
    "Checks the site directory SITE as the service will use it, with the rights\n"
    "of the user running the check (the tessel@ unit runs it as the site's user):\n"
    "  siteenv.cfg    readable, with the unit identity Audit.Unit.Identity\n"
    "                 (not the sample's)\n"
    "  netbarcfg.ini  [P2PVIRTUALID]: AddrCount above 0 and its entries, whole\n"
    "                 numbers, ports 1-65535, addresses that resolve; sections\n"
    "                 and keys the service does not read\n"
    "  icebox.cfg     the services' modules load and have their entry points,\n"
    "                 the endpoints parse and their ports are free, the path\n"
    "                 properties can be written; the service's own settings\n"
    "                 read by the service's own reader, keys it does not know\n"
    "  the site directory, virtualdb/ and temp/ writable, and virtualdb's file\n"
    "  system with tesselWriteService.MinFreeMegabytes free (default 64)\n"
    "Relative paths in icebox.cfg are taken from SITE, where icebox runs.\n"
    "Prints one line per problem and exits 78; prints \"SITE: no problems\" and\n"
    "exits 0 when there is none.\n";

// One line: Ice's reasons may hold line feeds, and a configured value
// control characters.
std::string Printable(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    if (c == '\n') {
      out += ' ';
    } else if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    std::cout << kUsage;
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::cout << "tessel-check " << tessel::Version() << "\n";
    return 0;
  }
  if (argc != 2 || argv[1][0] == '\0') {
    std::cerr << kUsage;
    return kUsageProblem;
  }
  std::string site = argv[1];
  while (site.size() > 1 && site.back() == '/') site.pop_back();
  // Absolute, for the lines to name the files wherever the check ran.
  char cwd[PATH_MAX];
  if (site[0] != '/' && ::getcwd(cwd, sizeof cwd) != nullptr)
    site = site == "." ? std::string(cwd)
                       : std::string(cwd) + (std::strcmp(cwd, "/") == 0 ? "" : "/") + site;

  sitecheck::Problems problems;
  if (::chdir(site.c_str()) != 0) {
    problems.file(site, std::string("site directory: ") + std::strerror(errno));
  } else {
    sitecheck::CheckSite(site, &problems);
  }
  for (const sitecheck::Problem& problem : problems.list())
    std::cerr << Printable(sitecheck::FormatProblem(problem)) << "\n";
  if (!problems.list().empty()) return kConfigProblem;
  std::cout << site << ": no problems\n";
  return 0;
}
