#include "lists/PreTreatHandle.h"

#include <cstring>
#include <ctime>

#include "common/Console.h"
#include "common/GbkTexts.h"
#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "iafile/MakeUpIAFileWorker.h"
#include "lists/KeywordStore.h"
#include "record/DayStamp.h"
#include "record/RiaBaseFile.h"

namespace rec = tessel::rec;
namespace gbk = tessel::gbk;
using tessel::ConsolePrintf;

namespace {

const int kWriteAttempts = 3;
// Of the prefix, at most this many characters begin a keyword.
const std::size_t kKeywordPrefixWidth = 63;
// A prefix text handed to GetLogonTime is read up to this many characters.
const std::size_t kMaxLogonTimePrefix = 259;

}  // namespace

preTreatHandle::preTreatHandle(int drainIntervalMs, int retryPauseMs, tessel::port::Env* env)
    : IPListVirtualIDInfo(drainIntervalMs, env),
      iaFileWorker(nullptr),
      retryPauseMs(retryPauseMs) {}

int preTreatHandle::Initialize() { return LoadVirtualDB(); }

std::string& preTreatHandle::MakeKeyword(const VirtualIdRecord& record, std::string& out) {
  out = record.Prefix().substr(0, kKeywordPrefixWidth);
  if (!out.empty()) out.erase(out.size() - 1);  // the prefix's closing underscore
  const std::int32_t infoType = record.InfoType();
  out += "_" + std::to_string(infoType);
  out += "_" + record.Text(rec::kAccount, rec::kSeatAccountWidth);
  out += "_" + std::to_string(tessel::IsInImThousand(infoType) ? record.BeginTime() : 0);
  return out;
}

void preTreatHandle::PutNetLogToP2P(VirtualIdRecord& record, int flag) {
  record.SetInt(rec::kInputFlag, flag);
  std::string keyword;
  MakeKeyword(record, keyword);
  const int logonBefore = record.LogonTime();
  const int logoffBefore = record.LogoffTime();
  const int kind = GetNetLogKind(record);
  const int outputFlag = kind == REALNAME_LOGOFF || kind == IM_LOGOFF ? 0 : 1;
  keyword += "_" + std::to_string(outputFlag);

  if (sentKeywords.count(keyword) != 0) return;
  ConsolePrintf(
      "preTreatHandle::PutNetLogToP2P -- keyword : %s; Input Flag:%d,Info Type:%d,Output "
      "Flag:%d, %s:%d,%s:%d;%s:%d,%s:%d.\r\n",
      keyword.c_str(), flag, kind, outputFlag, gbk::kLogonTimeWord, record.LogonTime(),
      gbk::kLogoffTimeWord, record.LogoffTime(), gbk::kLogonTimeWord, logonBefore,
      gbk::kLogoffTimeWord, logoffBefore);

  // Information put off is never written, and stays unknown as a keyword.
  if (kind == OTHER_INFO && flag == 0) return;

  bool written = false;
  for (int attempt = 1; attempt <= kWriteAttempts && !written; ++attempt) {
    if (attempt > 1) env->SleepMs(retryPauseMs);
    written = WriteRiaBase(record) == 1;
  }
  // Not written: the keyword stays unknown so that a later put writes it.
  if (!written) return;

  if (sentKeywords.insert(keyword).second) SaveVirtualDB();
}

void preTreatHandle::SetIAFileWorker(MakeUpIAFileWorker* worker) { iaFileWorker = worker; }

int preTreatHandle::LoadVirtualDB() {
  return tessel::keywordstore::Load(env, tessel::KeywordStoreFileName(VirtualDbDir()),
                                    env->NowSeconds(), &sentKeywords);
}

int preTreatHandle::SaveVirtualDB() {
  return tessel::keywordstore::Save(env, tessel::KeywordStoreFileName(VirtualDbDir()),
                                    sentKeywords);
}

int preTreatHandle::WriteRiaBase(VirtualIdRecord& record) {
  const std::string directory = VirtualDbDir();
  const std::string dayFile =
      tessel::DayFileName(directory, tessel::DayStamp(env->NowSeconds()));
  if (!tessel::AppendRecord(env, dayFile, record).ok()) return 0;
  WriteIPRiaBase(record, directory);
  return 1;
}

int preTreatHandle::WriteIPRiaBase(VirtualIdRecord& record, const std::string& directory) {
  const std::string prefix = record.Prefix();
  std::string ipKey;
  if (!tessel::GetIpKey(prefix, &ipKey)) return 0;
  std::time_t seatTime = GetLogonTime(prefix.c_str());
  if (seatTime == 0) seatTime = env->NowSeconds();
  const std::string dayStamp = tessel::DayStamp(seatTime);
  const std::string fileName = tessel::IpFileBaseName(dayStamp, ipKey);
  const std::string path = tessel::JoinPath(directory, fileName);
  if (!tessel::AppendRecord(env, path, record).ok()) return 0;
  if (GetNetLogKind(record) == REALNAME_LOGOFF && iaFileWorker != nullptr)
    iaFileWorker->MakeUpIPFile(path, fileName, dayStamp);
  return 1;
}

int preTreatHandle::GetLogonTime(const char* prefix) {
  if (prefix == nullptr) return 0;
  return tessel::GetTimeKey(std::string(prefix, ::strnlen(prefix, kMaxLogonTimePrefix)));
}
