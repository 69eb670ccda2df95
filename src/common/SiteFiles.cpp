#include "common/SiteFiles.h"

#include <cstdint>

#include "port/Port.h"

namespace tessel {

namespace {

// Longest "<ia>/<unit>_<IP file name>" before the extension is cut off.
const std::string::size_type kMaxIaBaseName = 258;

}  // namespace

std::string DirOf(const std::string& path) {
  const std::string::size_type cut = path.rfind(port::kPathSeparator);
  if (cut == std::string::npos) return ".";
  return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == port::kPathSeparator) return dir + name;
  return dir + port::kPathSeparator + name;
}

bool IsSafeNamePart(const std::string& part) {
  for (unsigned char c : part)
    if (c == '/' || c < 0x20 || c == 0x7f) return false;
  return true;
}

bool HasExtension(const std::string& name, const std::string& extension) {
  return name.size() > extension.size() &&
         name.compare(name.size() - extension.size(), extension.size(), extension) == 0;
}

std::string VirtualDbDirOf(const std::string& siteDir) {
  return JoinPath(siteDir, kVirtualDbDirName) + port::kPathSeparator;
}

namespace {

const std::size_t kStampLength = 6;
// Journal numbers have at most this many digits: the number of a file made
// after a failure is one more than the highest, and must not overflow.
const std::size_t kMaxJournalDigits = 18;

bool IsDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// `name` without `suffix`, when it ends in it after at least one character.
bool CutSuffix(const std::string& name, const std::string& suffix, std::string* stem) {
  if (!HasExtension(name, suffix)) return false;
  *stem = name.substr(0, name.size() - suffix.size());
  return true;
}

// A day file "YYMMDD.RiaBase" or an IP file "YYMMDD_<ip>.RiaBase".
bool ParseRecordFileName(const std::string& name, SiteFile* file) {
  *file = SiteFile();
  std::string stem;
  if (!CutSuffix(name, kRecordFileExtension, &stem) || stem.size() < kStampLength ||
      !IsDigits(stem.substr(0, kStampLength)))
    return false;
  file->dayStamp = stem.substr(0, kStampLength);
  if (stem.size() == kStampLength) {
    file->type = SiteFileType::kDayFile;
    return true;
  }
  if (stem[kStampLength] != '_' || stem.size() == kStampLength + 1) return false;
  file->type = SiteFileType::kIpFile;
  file->ipKey = stem.substr(kStampLength + 1);
  return true;
}

// A note beside an IP file: the IP file's name and the note's extension.
bool ParseNoteName(const std::string& name, const std::string& extension, SiteFileType type,
                   SiteFile* file) {
  std::string ipFile;
  if (!CutSuffix(name, extension, &ipFile) || !ParseRecordFileName(ipFile, file) ||
      file->type != SiteFileType::kIpFile)
    return false;
  file->type = type;
  return true;
}

bool ParseJournalName(const std::string& name, SiteFile* file) {
  *file = SiteFile();
  const std::string stem = std::string(kIntakeJournalName) + ".";
  if (name.compare(0, stem.size(), stem) != 0) return false;
  const std::string digits = name.substr(stem.size());
  if (!IsDigits(digits) || digits.size() > kMaxJournalDigits ||
      (digits.size() > 1 && digits[0] == '0'))
    return false;
  file->type = SiteFileType::kIntakeJournal;
  file->number = std::stoull(digits);
  return true;
}

// "YYMMDD.RiaBase.<seconds>"; seconds beyond 19 digits read as the largest.
bool ParseSetAsideName(const std::string& name, SiteFile* file) {
  const std::string::size_type dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string seconds = name.substr(dot + 1);
  if (!IsDigits(seconds) || !ParseRecordFileName(name.substr(0, dot), file) ||
      file->type != SiteFileType::kDayFile)
    return false;
  file->type = SiteFileType::kSetAsideDayFile;
  file->number = seconds.size() <= 19 ? std::stoull(seconds) : UINT64_MAX;
  return true;
}

}  // namespace

bool ParseFileName(const std::string& name, SiteFile* file) {
  SiteFile parsed;
  std::string stem;
  bool known = true;
  if (name == kKeywordStoreName) {
    parsed.type = SiteFileType::kKeywordStore;
  } else if (name == kUnappliedFileName) {
    parsed.type = SiteFileType::kUnapplied;
  } else if (CutSuffix(name, kProgressFileExtension, &stem)) {
    parsed.type = SiteFileType::kProgressFile;
    parsed.server = stem;
  } else if (CutSuffix(name, kIaCounterSuffix, &stem)) {
    known = stem.size() == kStampLength && IsDigits(stem);
    parsed.type = SiteFileType::kIaCounter;
    parsed.dayStamp = stem;
  } else if (CutSuffix(name, kIaTempSuffix, &stem)) {
    known = ParseRecordFileName(stem, &parsed);
    parsed.type = SiteFileType::kIaTempFile;
  } else {
    known = ParseRecordFileName(name, &parsed) ||
            ParseNoteName(name, kHandOffExtension, SiteFileType::kHandOffNote, &parsed) ||
            ParseNoteName(name, kHandedExtension, SiteFileType::kHandedNote, &parsed) ||
            ParseJournalName(name, &parsed) || ParseSetAsideName(name, &parsed);
  }
  if (known) *file = parsed;
  return known;
}

std::string DayFileName(const std::string& dir, const std::string& dayStamp) {
  return JoinPath(dir, dayStamp + kRecordFileExtension);
}

bool ParseDayFileName(const std::string& name, std::string* dayStamp) {
  SiteFile file;
  if (!ParseFileName(name, &file) || file.type != SiteFileType::kDayFile) return false;
  *dayStamp = file.dayStamp;
  return true;
}

std::string HandOffFileName(const std::string& ipFilePath) {
  return ipFilePath + kHandOffExtension;
}

std::string HandedFileName(const std::string& ipFilePath) { return ipFilePath + kHandedExtension; }

std::string IaTempFileName(const std::string& sourcePath) { return sourcePath + kIaTempSuffix; }

std::string IpFileBaseName(const std::string& dayStamp, const std::string& ipKey) {
  return dayStamp + "_" + ipKey + kRecordFileExtension;
}

std::string IpFileName(const std::string& dir, const std::string& dayStamp,
                       const std::string& ipKey) {
  return JoinPath(dir, IpFileBaseName(dayStamp, ipKey));
}

std::string KeywordStoreFileName(const std::string& dir) { return JoinPath(dir, kKeywordStoreName); }

std::string IaCounterFileName(const std::string& dir, const std::string& dayStamp) {
  return JoinPath(dir, dayStamp + kIaCounterSuffix);
}

std::string IntakeJournalFileName(const std::string& dir, std::uint64_t number) {
  return JoinPath(dir, std::string(kIntakeJournalName) + "." + std::to_string(number));
}

std::string SetAsideFileName(const std::string& path, std::time_t when) {
  return path + "." + std::to_string(static_cast<long long>(when));
}

std::string ProgressFileName(const std::string& dir, const std::string& host,
                             unsigned short port) {
  return JoinPath(dir, host + "_" + std::to_string(port) + kProgressFileExtension);
}

bool ParseProgressFileName(const std::string& name, std::string* server) {
  SiteFile file;
  if (!ParseFileName(name, &file) || file.type != SiteFileType::kProgressFile) return false;
  *server = file.server;
  return true;
}

bool IaFileName(const std::string& iaDir, const std::string& unit, const std::string& ipFileName,
                int n, std::string* path) {
  std::string base = JoinPath(iaDir, unit + "_" + ipFileName);
  if (base.size() > kMaxIaBaseName) base.resize(kMaxIaBaseName);
  const std::string::size_type dot = base.rfind('.');
  if (dot == std::string::npos) return false;
  base.erase(dot);
  *path = base + "_" + std::to_string(n) + kIaFileExtension;
  return true;
}

std::string OnlineExportFileName(const std::string& dir, std::time_t second, int n) {
  std::string name = std::to_string(static_cast<unsigned>(second));
  if (n > 0) name += "_" + std::to_string(n);
  return JoinPath(dir, name + kOnlineExportExtension);
}

bool ParseOnlineExportFileName(const std::string& name, std::time_t* second) {
  if (!HasExtension(name, kOnlineExportExtension)) return false;
  const std::string base = name.substr(0, name.size() - (sizeof kOnlineExportExtension - 1));
  const std::string::size_type underscore = base.find('_');
  const std::string seconds = base.substr(0, underscore);
  const std::string n = underscore == std::string::npos ? "" : base.substr(underscore + 1);
  if (seconds.empty() || seconds.size() > 10 || n.size() > 9 ||
      seconds.find_first_not_of("0123456789") != std::string::npos ||
      n.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const unsigned long long value = std::stoull(seconds);
  if (value > 0xFFFFFFFFull) return false;
  // Only the names made here: no leading zeros, no "_0", no empty "_".
  const int count = n.empty() ? 0 : std::stoi(n);
  if (OnlineExportFileName("", static_cast<std::time_t>(value), count) != name) return false;
  *second = static_cast<std::time_t>(value);
  return true;
}

}  // namespace tessel
