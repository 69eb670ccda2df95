#include "record/Keyword.h"

namespace tessel {

namespace {

// Of the prefix, at most this many characters begin a keyword.
const std::size_t kKeywordPrefixWidth = 63;
// Of the log-on time field, at most this many characters are read.
const std::size_t kMaxLogonTimeText = 31;

}  // namespace

std::string MakeKeywordBase(const VirtualIdRecord& record) {
  std::string out = record.Prefix().substr(0, kKeywordPrefixWidth);
  if (!out.empty()) out.erase(out.size() - 1);  // the prefix's closing underscore
  const std::int32_t infoType = record.InfoType();
  out += "_" + std::to_string(infoType);
  out += "_" + record.Text(rec::kAccount, rec::kSeatAccountWidth);
  out += "_" + std::to_string(IsInImThousand(infoType) ? record.BeginTime() : 0);
  return out;
}

int OutputFlagOf(int kind) { return kind == REALNAME_LOGOFF || kind == IM_LOGOFF ? 0 : 1; }

std::string KeywordOf(const VirtualIdRecord& record) {
  return KeywordOf(record, NetLogKindOf(record));
}

std::string KeywordOf(const VirtualIdRecord& record, int kind) {
  return MakeKeywordBase(record) + "_" + std::to_string(OutputFlagOf(kind));
}

bool KeywordLogonTime(const std::string& keyword, long long* logonTime) {
  const std::string::size_type first = keyword.find('_');
  if (first == std::string::npos) return false;
  const std::string::size_type second = keyword.find('_', first + 1);
  if (second == std::string::npos) return false;
  const std::string::size_type third = keyword.find('_', second + 1);
  if (third == std::string::npos) return false;
  std::string field = keyword.substr(second + 1, third - second - 1);
  if (field.size() > kMaxLogonTimeText) field.resize(kMaxLogonTimeText);
  *logonTime = AtoiText(field);
  return true;
}

}  // namespace tessel
