// The servant and everything behind it on any run of calls, on a temporary
// site whose files are reached through an Env that stops the run at any
// file made, changed or removed outside the site, and whose clock stands
// still (day files and keyword lifetimes do not depend on when it runs).
//
// 1. The calls go to AccountInfoWriterI (registAccount and writeAccount on
//    a real loopback connection); once it is gone (its last pass stores
//    what it accepted), the intake journal is empty, no keyword is twice in
//    the day files, the keyword store holds exactly their keywords, every
//    IA file and on-line export reads back, an export's count is its lines.
// 2. The records of the calls go straight through the lists and the
//    pre-treatment (with the IA-file worker), in passes: every record put
//    on or off with a keyword not put before is in the day files once, as
//    put, in order, and nothing else is; after a restart, the same records
//    again add exactly those whose keywords the store lets go (log-on times
//    more than three days back, or none in the keyword).
//
// Input: calls, each a byte naming it (modulo 6) and its arguments:
//   0 write, 1 registAccount, 2 writeAccount: a byte sequence
//   3 RealNameClientOff: client IP, seat log-on time, off time, a sequence
//   4 AccountOff: client IP, off time, off code (ends a pass in 2.)
//   5 GetAllOnLineVirtualId (ends a pass in 2.)
// Integers are 4 bytes; a sequence is 1247 bytes after a byte below 0x80,
// else as long as the 2 bytes after that byte say.
#include <Ice/Ice.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "RecordExportReader.h"
#include "SiteEnv.h"
#include "account/AccountInfoWriterI.h"
#include "common/SiteFiles.h"
#include "lists/KeywordStore.h"

namespace fs = std::filesystem;
namespace port = tessel::port;
namespace rec = tessel::rec;

namespace {

const std::time_t kNow = 1796688000 + 12 * 3600;  // 2026-12-08, midday
const char kUnit[] = "4401020001";

// The real files, a clock that stands still, and no file touched outside
// the site.
class SiteEnv : public port::EnvWrapper {
 public:
  explicit SiteEnv(const std::string& site) : EnvWrapper(port::Env::Default()), site_(site) {}
  port::Status OpenFile(const std::string& path, port::File::Mode mode,
                        std::unique_ptr<port::File>* file) override {
    if (mode != port::File::kRead) Inside(path);
    return target()->OpenFile(path, mode, file);
  }
  port::Status RemoveFile(const std::string& path) override {
    Inside(path);
    return target()->RemoveFile(path);
  }
  port::Status RenameFile(const std::string& from, const std::string& to) override {
    Inside(from);
    Inside(to);
    return target()->RenameFile(from, to);
  }
  port::Status CreateDir(const std::string& path) override {
    Inside(path);
    return target()->CreateDir(path);
  }
  std::time_t NowSeconds() override { return kNow; }

 private:
  void Inside(const std::string& path) {
    const std::string normal = fs::absolute(path).lexically_normal().string();
    FUZZ_CHECK(normal.compare(0, site_.size(), site_) == 0);
  }
  const std::string site_;
};

struct Site {
  std::string dir, virtualdb, ia;
  SiteEnv* env;
  Ice::CommunicatorPtr communicator;
  Ice::ConnectionPtr loopback;
};

Site* MakeSite() {
  Site* s = new Site;  // never destroyed: the communicator is, at exit
  s->dir = fuzz::ScratchDir() + "site/";
  s->virtualdb = s->dir + "virtualdb/";
  s->ia = s->dir + "ia/";
  fuzz::MakeDir(s->dir);
  fuzz::WriteFile(s->dir + "siteenv.cfg", std::string("Audit.Unit.Identity=") + kUnit + "\n");
  ::setenv("TESSEL_HOME", s->dir.c_str(), 1);
  FUZZ_CHECK(SiteEnv_Init() == 0);
  s->env = new SiteEnv(s->dir);
  Ice::InitializationData init;
  init.properties = Ice::createProperties();
  init.properties->setProperty("Ice.ACM.Close", "0");  // the loopback stays open
  init.properties->setProperty("Ice.ACM.Heartbeat", "0");
  s->communicator = Ice::initialize(init);
  Ice::ObjectAdapterPtr adapter =
      s->communicator->createObjectAdapterWithEndpoints("Loopback", "tcp -h 127.0.0.1");
  adapter->activate();
  s->loopback = adapter->createProxy(Ice::stringToIdentity("seat"))
                    ->ice_collocationOptimized(false)
                    ->ice_getConnection();
  // The service's diagnostic lines, one per record, are not wanted here.
  FUZZ_CHECK(std::freopen("/dev/null", "w", stdout) != nullptr);
  return s;
}

Site& TheSite() {
  static Site* site = MakeSite();
  static const int destroyedAtExit = std::atexit([] { site->communicator->destroy(); });
  (void)destroyedAtExit;
  return *site;
}

struct Call {
  int op = 0;
  Ice::Int a = 0, b = 0, c = 0;
  Ice::ByteSeq bytes;
};

std::vector<Call> Calls(fuzz::Reader& in) {
  std::vector<Call> calls;
  while (!in.empty() && calls.size() < 64) {
    Call call;
    call.op = in.Byte() % 6;
    if (call.op == 3 || call.op == 4) {
      call.a = static_cast<Ice::Int>(in.U32());
      call.b = static_cast<Ice::Int>(in.U32());
      call.c = static_cast<Ice::Int>(in.U32());
    }
    if (call.op <= 3) {
      const std::uint8_t kind = in.Byte();
      const std::string bytes = kind < 0x80 ? in.Fixed(rec::kSize) : in.Bytes(in.U16());
      call.bytes.assign(bytes.begin(), bytes.end());
    }
    calls.push_back(call);
  }
  return calls;
}

// The keyword a record is stored under, as docs/file-formats.md gives it.
std::string StoredKeyword(VirtualIdRecord record) {
  std::string prefix = record.Prefix();
  if (!prefix.empty()) prefix.pop_back();
  const int kind = GetNetLogKind(record);
  const std::int32_t type = record.InfoType();
  return prefix + "_" + std::to_string(type) + "_" + record.Text(rec::kAccount, 30) + "_" +
         std::to_string(type / 1000 == 1 ? record.BeginTime() : 0) + "_" +
         (kind == REALNAME_LOGOFF || kind == IM_LOGOFF ? "0" : "1");
}

// The records of every day file, in file order (one day here).
std::vector<VirtualIdRecord> DayRecords(const std::string& virtualdb) {
  std::vector<VirtualIdRecord> records;
  for (const std::string& name : fuzz::ListDir(virtualdb)) {
    if (name.size() != 14 || name.compare(6, 8, ".RiaBase") != 0 || name.find('_') != std::string::npos)
      continue;
    const std::string content = fuzz::ReadFile(virtualdb + name);
    FUZZ_CHECK(content.size() % rec::kSize == 0);
    for (std::size_t at = 0; at < content.size(); at += rec::kSize)
      records.push_back(VirtualIdRecord::FromBytes(content.data() + at));
  }
  return records;
}

void CheckExports(const std::string& dir) {
  for (const std::string& name : fuzz::ListDir(dir)) {
    std::vector<RecordExportEntry> entries;
    FUZZ_CHECK(ReadRecordExportFile(dir + name, &entries) && !entries.empty());
    for (const RecordExportEntry& entry : entries) FUZZ_CHECK(entry.unit == kUnit);
  }
}

// The site's instance, started, and the servant that feeds it, as the
// service's start makes them.
AccountInfoWriterIPtr StartServant(Site& site) {
  tessel::ServiceSettings settings;
  settings.iaUpPath = site.ia;
  tessel::SiteInstancePtr instance = new tessel::SiteInstance(tessel::SiteAt(site.env, site.dir), settings);
  AccountInfoWriterIPtr servant = new AccountInfoWriterI(site.communicator, instance);
  AccountInfoWriterI* table = servant.get();
  instance->Start(servant->UnitIdentity(),
                  [table](const VirtualIdRecord& record) { table->RestoreOnline(record); });
  return servant;
}

void ThroughTheServant(Site& site, const std::vector<Call>& calls) {
  Ice::Current current;
  current.con = site.loopback;
  {
    AccountInfoWriterIPtr servant = StartServant(site);
    for (const Call& call : calls) {
      switch (call.op) {
        case 0: servant->write(call.bytes, current); break;
        case 1: servant->registAccount(call.bytes, current); break;
        case 2: servant->writeAccount(call.bytes, current); break;
        case 3: servant->RealNameClientOff(call.a, call.bytes, call.b, call.c, current); break;
        case 4: servant->AccountOff(call.a, call.b, call.c, current); break;
        default: {
          Ice::Int count = -1;
          std::string path;
          // The export goes under the working directory: the site, for the call.
          const fs::path before = fs::current_path();
          fs::current_path(site.dir);
          const port::Status exported = servant->GetAllOnLineVirtualId(count, path, current);
          fs::current_path(before);
          // Refused (as many exports kept as allowed): nothing is named.
          if (!exported.ok()) {
            FUZZ_CHECK(count == -1 && path.empty());
            break;
          }
          std::vector<RecordExportEntry> entries;
          if (count == 0) FUZZ_CHECK(::access(path.c_str(), F_OK) != 0);
          else FUZZ_CHECK(ReadRecordExportFile(path, &entries) && entries.size() == std::size_t(count));
        }
      }
    }
  }  // the servant goes, and with it its instance and the instance's threads
  // What a stop could not store (a seat whose IP file waits for its IA
  // file, say) waits in the intake journal: the next start stores it, once.
  auto journalEmpty = [&] {
    for (int i = 0; i < 2; ++i)
      if (!fuzz::ReadFile(tessel::IntakeJournal::FileName(site.virtualdb, i)).empty()) return false;
    return true;
  };
  if (!journalEmpty()) {
    StartServant(site);
  }
  FUZZ_CHECK(journalEmpty());
  std::multiset<std::string> written, saved;
  for (const VirtualIdRecord& record : DayRecords(site.virtualdb)) written.insert(StoredKeyword(record));
  FUZZ_CHECK(std::set<std::string>(written.begin(), written.end()).size() == written.size());
  const std::string store = fuzz::ReadFile(tessel::KeywordStoreFileName(site.virtualdb));
  FUZZ_CHECK(store.size() % 132 == 0);
  for (std::size_t at = 0; at < store.size(); at += 132)
    saved.insert(tessel::keywordstore::KeywordOfRecord(store.data() + at));
  FUZZ_CHECK(saved == written);
  CheckExports(site.ia);
  CheckExports(site.dir + "temp/");
}

// The pre-treatment with the lists, noting every record it is handed with
// a keyword not put before: those, as put, are what the day files must hold.
class NotingPreTreat : public preTreatHandle {
 public:
  // Each pass syncs what it wrote, so that it can say it stored it.
  static tessel::WriteOptions EveryPass() {
    tessel::WriteOptions options;
    options.checkpointMs = 0;
    return options;
  }
  NotingPreTreat(const tessel::SiteContext& site, std::set<std::string>* known)
      : preTreatHandle(site, kDrainIntervalMs, EveryPass()), known_(known) {}
  void PutNetLogToP2P(VirtualIdRecord& record, int flag) override {
    VirtualIdRecord put = record;
    put.SetInt(rec::kInputFlag, flag);
    const bool offInfo = GetNetLogKind(put) == OTHER_INFO && flag == 0;  // never written
    if (!offInfo && known_->insert(StoredKeyword(put)).second) expected.push_back(put);
    preTreatHandle::PutNetLogToP2P(record, flag);
  }
  void Pass(const std::vector<VirtualIdRecord>& records) {
    for (const VirtualIdRecord& record : records) FUZZ_CHECK(AddNetLog(record, kUnit).status.ok());
    FUZZ_CHECK(DrainPass());
  }
  std::vector<VirtualIdRecord> expected;

 private:
  std::set<std::string>* known_;
};

// Runs the records of the calls through a fresh pre-treatment in passes.
std::vector<VirtualIdRecord> ThroughTheLists(Site& site, const std::vector<Call>& calls,
                                             std::set<std::string>* known) {
  const tessel::SiteContext context = tessel::SiteAt(site.env, site.dir);
  MakeUpIAFileWorkerPtr worker = new MakeUpIAFileWorker(context);
  worker->SetPaths("", site.ia);
  worker->SetUnitIdentity(kUnit);
  IceUtil::Handle<NotingPreTreat> lists = new NotingPreTreat(context, known);
  lists->SetIAFileWorker(worker.get());
  lists->Initialize();
  std::vector<VirtualIdRecord> pass;
  for (const Call& call : calls) {
    if (call.bytes.size() == rec::kSize) pass.push_back(VirtualIdRecord::FromBytes(call.bytes.data()));
    if (call.op >= 4) {
      lists->Pass(pass);
      pass.clear();
    }
  }
  lists->Pass(pass);
  return lists->expected;
}

bool SameRecords(const std::vector<VirtualIdRecord>& a, const std::vector<VirtualIdRecord>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::memcmp(a[i].bytes, b[i].bytes, rec::kSize) != 0) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Site& site = TheSite();
  fuzz::Reader in(data, size);
  const std::vector<Call> calls = Calls(in);

  fuzz::EmptyDir(site.dir);
  fuzz::WriteFile(site.dir + "siteenv.cfg", std::string("Audit.Unit.Identity=") + kUnit + "\n");
  ThroughTheServant(site, calls);

  for (const std::string& dir : {site.virtualdb, site.ia, site.dir + "temp/"}) fuzz::EmptyDir(dir);
  std::set<std::string> known;
  std::vector<VirtualIdRecord> expected = ThroughTheLists(site, calls, &known);
  FUZZ_CHECK(SameRecords(DayRecords(site.virtualdb), expected));
  CheckExports(site.ia);

  // A restart knows the current keywords from the store.
  std::set<std::string> current;
  for (const std::string& keyword : known)
    if (tessel::keywordstore::IsCurrent(keyword, kNow)) current.insert(keyword);
  const std::vector<VirtualIdRecord> again = ThroughTheLists(site, calls, &current);
  expected.insert(expected.end(), again.begin(), again.end());
  FUZZ_CHECK(SameRecords(DayRecords(site.virtualdb), expected));
  return 0;
}
