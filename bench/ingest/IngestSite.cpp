#include "IngestSite.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <chrono>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>

#include "KeywordStoreFile.h"

#ifndef TESSEL_ICEBOX
#define TESSEL_ICEBOX "/usr/bin/icebox"
#endif

using testing_support::ChildProcess;
using testing_support::FileSize;
using testing_support::ListDir;
using testing_support::ReadFile;
using testing_support::WaitUntil;
using testing_support::WriteFile;

namespace ingest {

namespace {

const long kRecordSize = 1247;

// "YYMMDD.RiaBase": a day file, not an IP file or anything else.
bool IsDayFileName(const std::string& name) {
  if (name.size() != 6 + 8 || name.compare(6, 8, ".RiaBase") != 0) return false;
  for (int i = 0; i < 6; ++i)
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
  return true;
}

}  // namespace

IngestSite::IngestSite(const std::string& module, const std::string& service)
    : module_(module), service_(service), port_(testing_support::FreePort()) {
  WriteFile(site_ / "siteenv.cfg", "Audit.Unit.Identity=4401020001\n");
  ::mkdir((site_ / "virtualdb").c_str(), 0755);
}

IngestSite::~IngestSite() { Stop(); }

void IngestSite::FillKeywordStore(long count, int seats) {
  // The latest log-on an hour ago: every keyword is well inside the three
  // days the service keeps it.
  WriteKeywordStore(site_ / "virtualdb/virtualdb.db", count, seats, std::time(nullptr) - 3600);
}

void IngestSite::AddProperty(const std::string& key, const std::string& value) {
  properties_.push_back(key + "=" + value);
}

bool IngestSite::Start(const Ice::CommunicatorPtr& client, std::string* why) {
  std::ofstream config(site_ / "icebox.cfg");
  config << "IceBox.Service." << service_ << "=" << module_ << ":create\n"
         << "IceBox.InheritProperties=1\n"
         << service_ << ".Endpoints=tcp -h 127.0.0.1 -p " << port_ << "\n"
         << "Ice.ThreadPool.Server.Size=4\n"
         << "tesselServiceIA.Path=*ia/\n"
         << "tesselServiceIA.upPath=*ia/\n";
  for (const std::string& line : properties_) config << line << "\n";
  config.close();
  std::map<std::string, std::string> env;
  env["TESSEL_HOME"] = site_.path();
  icebox_.reset(new ChildProcess({TESSEL_ICEBOX, "--Ice.Config=" + (site_ / "icebox.cfg")}, env,
                                 site_.path(), site_ / "server.out", site_ / "server.err"));
  Ice::ObjectPrx prx = client->stringToProxy(Proxy());
  const bool answered = WaitUntil(
      [&]() {
        if (!icebox_->running()) return true;
        try {
          prx->ice_ping();
          return true;
        } catch (const Ice::Exception&) {
          return false;
        }
      },
      std::chrono::seconds(30));
  if (answered && icebox_->running()) return true;
  *why = "icebox did not serve " + service_ + ": " + ServerErrors();
  return false;
}

std::string IngestSite::ServerErrors() const { return ReadFile(site_ / "server.err"); }

void IngestSite::Stop() {
  if (icebox_) icebox_->stop(SIGTERM, std::chrono::seconds(60));
  icebox_.reset();
}

std::string IngestSite::Proxy() const {
  return service_ + ":tcp -h 127.0.0.1 -p " + std::to_string(port_);
}

long IngestSite::StoredRecords() const {
  long bytes = 0;
  for (const std::string& name : ListDir(site_ / "virtualdb"))
    if (IsDayFileName(name)) bytes += FileSize(site_ / ("virtualdb/" + name));
  return bytes / kRecordSize;
}

double IngestSite::ServerCpuSeconds() const {
  if (!icebox_) return 0;
  // /proc/<pid>/stat: the fields after the command's closing parenthesis
  // start with the state (field 3); utime and stime are fields 14 and 15.
  const std::string stat = ReadFile("/proc/" + std::to_string(icebox_->pid()) + "/stat");
  const std::string::size_type paren = stat.rfind(')');
  if (paren == std::string::npos) return 0;
  std::istringstream fields(stat.substr(paren + 1));
  std::string skipped;
  for (int field = 3; field <= 13; ++field) fields >> skipped;
  unsigned long long utime = 0, stime = 0;
  fields >> utime >> stime;
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long long IngestSite::StatusBytes(const std::string& field) const {
  if (!icebox_) return 0;
  std::istringstream status(ReadFile("/proc/" + std::to_string(icebox_->pid()) + "/status"));
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, field.size(), field) == 0)
      return std::atoll(line.c_str() + field.size()) * 1024;  // given in kB
  return 0;
}

}  // namespace ingest
