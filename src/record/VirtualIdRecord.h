// The 1247-byte identity record that flows through the whole service.
//
// The record travels and is stored byte for byte; this header is the one
// place that knows its layout. Integers are 32-bit little-endian and are read
// and written through the accessors, never through a packed host struct.
// Texts are GBK, NUL-terminated inside their field when shorter than it.
#ifndef TESSEL_RECORD_VIRTUALIDRECORD_H
#define TESSEL_RECORD_VIRTUALIDRECORD_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "port/Numbers.h"
#include "record/InfoType.h"

namespace tessel::rec {

inline constexpr std::size_t kSize = 1247;

// Fields of every record.
inline constexpr std::size_t kPrefix = 0;
inline constexpr std::size_t kPrefixWidth = 50;
inline constexpr std::size_t kOffCode = 50;
inline constexpr std::size_t kInfoType = 54;
inline constexpr std::size_t kAccount = 58;
inline constexpr std::size_t kInputFlag = 1242;

// Seat records (info type 900).
inline constexpr std::size_t kSeatAccountWidth = 30;
inline constexpr std::size_t kDetail1 = 88;
inline constexpr std::size_t kDetail2 = 118;
inline constexpr std::size_t kDetailCode = 154;
inline constexpr std::size_t kLogonTime = 158;
inline constexpr std::size_t kLogoffTime = 162;
inline constexpr std::size_t kClientIp = 166;
inline constexpr std::size_t kDetailFlag = 170;

// Every other record (IM accounts and other information).
inline constexpr std::size_t kAccountWidth = 256;
inline constexpr std::size_t kAccountLastByte = 313;
inline constexpr std::size_t kImStatus = 314;
inline constexpr std::size_t kBeginTime = 322;
inline constexpr std::size_t kEndTime = 326;
inline constexpr std::size_t kAltBeginTime = 350;
inline constexpr std::size_t kAltEndTime = 354;

// Fields read only to forward a record upstream, laid out by the record's
// forward layout (record/InfoType.h). Each mapping fills the net-log record's
// numbers, its 20-byte text and its address (4 bytes, then a 2-byte port)
// from these offsets.
struct ForwardNumbers {
  std::size_t num1, num2, num3, num4, num5, text, address;
};
// 1000-5999 and 10000-10999.
inline constexpr ForwardNumbers kThousandsNumbers{330, 334, 342, 338, 350, 354, 384};
// 2, 7, 19, 20.
inline constexpr ForwardNumbers kShortInfoNumbers{330, 334, 342, 338, 350, 612, 642};
// 3, 4.
inline constexpr ForwardNumbers kShortIntervalNumbers{326, 330, 338, 334, 346, 704, 734};
// 900.
inline constexpr ForwardNumbers kSeatNumbers{kClientIp, 174, 182, 178, 190, 194, 224};

// The net-log code: the prefix from its third character on.
inline constexpr std::size_t kForwardCode = 2;
// The log-on time forwarded for every type but 900 (which sends logonTime).
inline constexpr std::size_t kForwardLogonTime = 1166;

// Texts forwarded as net-log items, in the order they lie in the record.
// 2000-5999 and 10000-10999:
inline constexpr std::size_t kInfoText1 = 396;
inline constexpr std::size_t kInfoText2 = 426;
inline constexpr std::size_t kInfoText3 = 458;
// 2, 7, 19, 20; the second text starts two bytes into the first.
inline constexpr std::size_t kShortInfoText1 = 354;
inline constexpr std::size_t kShortInfoText1Tail = 356;
inline constexpr std::size_t kShortInfoText2 = 654;
// 3, 4:
inline constexpr std::size_t kShortIntervalText1 = 388;
inline constexpr std::size_t kShortIntervalText2 = 448;
inline constexpr std::size_t kShortIntervalText3 = 576;
inline constexpr std::size_t kShortIntervalText4 = 746;
// 900: a number before detailCode and a text after the numbers.
inline constexpr std::size_t kSeatNumber = 150;
inline constexpr std::size_t kSeatText = 236;

inline constexpr int kSeatInfoType = 900;
// An identity whose offCode is this keeps it when a seat is taken off line.
inline constexpr int kKeepOffCode = 255;
// The offCode of identities taken off line because their seat's real-name
// user logged off.
inline constexpr int kSeatLogoffOffCode = 2;

// An IP key holds at most this many characters; longer ones are cut.
inline constexpr std::size_t kMaxIpKey = 31;

}  // namespace tessel::rec

namespace tessel {

// Classification of a record by the lists and the pre-treatment.
enum NetLogKind {
  REALNAME_LOGON = 0,
  REALNAME_LOGOFF = 1,
  IM_LOGON = 2,
  IM_LOGOFF = 3,
  OTHER_INFO = 4,
  IM_OTHER = 5,
};

struct VirtualIdRecord {
  unsigned char bytes[rec::kSize];

  VirtualIdRecord();  // all zero
  // Copies kSize bytes from `data`.
  static VirtualIdRecord FromBytes(const void* data);

  std::int32_t Int(std::size_t offset) const;
  void SetInt(std::size_t offset, std::int32_t value);

  // Text at `offset` up to its first NUL, never beyond `width` bytes.
  std::string Text(std::size_t offset, std::size_t width) const;
  // Writes `text` at `offset`, cut to `width` bytes, NUL-filling the rest.
  void SetText(std::size_t offset, std::size_t width, const std::string& text);

  // The prefix as text: up to its first NUL and never beyond its 50 bytes,
  // so a prefix that fills the field does not run on into offCode/infoType.
  std::string Prefix() const { return Text(rec::kPrefix, rec::kPrefixWidth); }
  std::int32_t InfoType() const { return Int(rec::kInfoType); }
  std::int32_t LogonTime() const { return Int(rec::kLogonTime); }
  std::int32_t LogoffTime() const { return Int(rec::kLogoffTime); }
  std::int32_t BeginTime() const { return Int(rec::kBeginTime); }
  std::int32_t EndTime() const { return Int(rec::kEndTime); }
  std::int32_t ImStatus() const { return Int(rec::kImStatus); }
  std::int32_t InputFlag() const { return Int(rec::kInputFlag); }
};

static_assert(sizeof(VirtualIdRecord) == rec::kSize, "record must be 1247 bytes");

// Kind of the record as it stands; changes nothing. A seat record (900) is
// a log-on when its logoffTime equals its logonTime or is 0 or negative (a
// seat still on), a log-off otherwise.
NetLogKind NetLogKindOf(const VirtualIdRecord& record);

// A seat log-on whose logoffTime is 0 or negative and differs from its
// logonTime is stored and written with logoffTime = logonTime: this sets it
// so. True when the record changed. The kind stays what it was.
bool SettleLogonLogoffTime(VirtualIdRecord& record);

// Both of the above: the record settled, then its kind.
NetLogKind GetNetLogKind(VirtualIdRecord& record);

// prefix + infoType + "_" + account (at most 30 bytes): one key per identity.
std::string GetGroupKey(const VirtualIdRecord& record);

// C-library atoi on a std::string, without undefined behaviour on overflow.
using port::AtoiText;

}  // namespace tessel

// The record and its kinds go by their own names throughout the service,
// the code outside namespace tessel included.
using tessel::VirtualIdRecord;
using tessel::NetLogKind;
using tessel::REALNAME_LOGON;
using tessel::REALNAME_LOGOFF;
using tessel::IM_LOGON;
using tessel::IM_LOGOFF;
using tessel::OTHER_INFO;
using tessel::IM_OTHER;
using tessel::GetNetLogKind;

#include "record/Prefix.h"  // the prefix's terms, which every user of a record reads

#endif
