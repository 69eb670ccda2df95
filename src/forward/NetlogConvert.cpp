#include "forward/NetlogConvert.h"

#include <cstdio>
#include <cstring>

namespace tessel {

namespace {

const std::size_t kMaxItemText = 255;

std::uint32_t Mod65535(std::int32_t value) {
  return static_cast<std::uint32_t>(value) % 65535u;
}

// A text field copied as text: up to the first zero byte, zero-filled after.
void CopyTextField(char* to, std::size_t width, const unsigned char* from) {
  std::size_t length = strnlen(reinterpret_cast<const char*>(from), width);
  std::memcpy(to, from, length);
  std::memset(to + length, 0, width - length);
}

// Fills item `index` with at most 255 characters of the text at `offset`;
// an empty text leaves the item absent.
void TextItem(netlog_st* out, NetlogItemTexts* texts, int index, const VirtualIdRecord& record,
              std::size_t offset) {
  const char* text = reinterpret_cast<const char*>(record.bytes + offset);
  std::size_t length = strnlen(text, kMaxItemText);
  std::memcpy(texts->slot[index], text, length);
  texts->slot[index][length] = '\0';
  out->items[index].length = static_cast<std::uint8_t>(length);
}

void DecimalItem(netlog_st* out, NetlogItemTexts* texts, int index, std::int32_t value) {
  int length = std::snprintf(texts->slot[index], sizeof texts->slot[index], "%d",
                             static_cast<int>(value));
  out->items[index].length = static_cast<std::uint8_t>(length);
}

// The numeric part shared by the mappings: num1, num2, text, addr1/port1,
// num4, num3, num5 from their offsets in this order of the table.
struct NumericOffsets {
  std::size_t num1, num2, text, addr1, num3, num4, num5;
};

void FillNumeric(netlog_st* out, const VirtualIdRecord& record, const NumericOffsets& at) {
  out->num1 = static_cast<std::uint32_t>(record.Int(at.num1));
  out->num2 = static_cast<std::uint32_t>(record.Int(at.num2));
  CopyTextField(out->text, sizeof out->text, record.bytes + at.text);
  std::memcpy(&out->addr1, record.bytes + at.addr1, 4);
  std::memcpy(&out->port1, record.bytes + at.addr1 + 4, 2);
  out->num3 = static_cast<std::uint32_t>(record.Int(at.num3));
  out->num4 = static_cast<std::uint32_t>(record.Int(at.num4));
  out->num5 = Mod65535(record.Int(at.num5));
}

// Named fields come from the record's layout; the other offsets below are
// read only here, by the mappings.
using rec::kAccount;
using rec::kBeginTime;
using rec::kClientIp;
using rec::kDetail1;
using rec::kDetail2;
using rec::kDetailCode;
using rec::kDetailFlag;
using rec::kEndTime;
using rec::kInfoType;
using rec::kLogoffTime;
using rec::kLogonTime;
const std::size_t kSeatInt150 = 150;
// The net-log code is the prefix from its third character on.
const std::size_t kCodeText = 2;
const std::size_t kForwardLogonTime = 1166;

enum Mapping { kNone, kThousands, kInfoGroupA, kInfoGroupB, kSeat };

Mapping ChooseMapping(std::int32_t infoType) {
  switch (infoType / 1000) {
    case 1: case 2: case 3: case 4: case 5: case 10:
      return kThousands;
    case 0:
      switch (infoType) {
        case 2: case 7: case 19: case 20: return kInfoGroupA;
        case 3: case 4: return kInfoGroupB;
        case 900: return kSeat;
        default: return kNone;
      }
    default:
      return kNone;
  }
}

}  // namespace

bool ConvertRecordToNetlog(const VirtualIdRecord& record, std::int32_t inputFlag, netlog_st* out,
                           NetlogItemTexts* texts) {
  std::memset(out, 0, sizeof *out);
  for (int i = 0; i < 7; ++i) {
    out->items[i].data = texts->slot[i];
    texts->slot[i][0] = '\0';
  }
  if (record.bytes[rec::kPrefix] == '_') return false;

  const std::int32_t infoType = record.InfoType();
  const Mapping mapping = ChooseMapping(infoType);
  if (mapping == kNone) return false;

  out->tag[0] = '1';
  out->tag[1] = '1';
  CopyTextField(out->code, sizeof out->code, record.bytes + kCodeText);
  out->code[10] = '\0';
  char typeCode[16];
  std::snprintf(typeCode, sizeof typeCode, "%04d", static_cast<int>(infoType));
  std::memcpy(out->type_code, typeCode, 4);
  out->type_code[4] = '\0';
  out->logon_time = record.Int(kForwardLogonTime);
  out->online_flag = static_cast<std::uint8_t>(inputFlag & 0xFF);
  out->event_time = record.Int(kBeginTime);
  const std::uint8_t putOn = inputFlag == 1 ? 1 : 0;

  if (mapping == kThousands) {
    FillNumeric(out, record, NumericOffsets{330, 334, 354, 384, 342, 338, 350});
    TextItem(out, texts, 0, record, kAccount);
    const int thousands = infoType / 1000;
    if (IsInImThousand(infoType)) {
      out->online_flag = putOn;
      out->event_time = putOn ? record.Int(kBeginTime) : record.Int(kEndTime);
    } else if (thousands == 3) {
      TextItem(out, texts, 2, record, 426);
    } else if (thousands == 10) {
      TextItem(out, texts, 1, record, 426);
      TextItem(out, texts, 2, record, 396);
      TextItem(out, texts, 3, record, 458);
    } else {  // 2000-2999, 4000-4999, 5000-5999
      TextItem(out, texts, 1, record, 396);
      TextItem(out, texts, 2, record, 426);
    }
  } else if (mapping == kInfoGroupA) {  // 2, 7, 19, 20
    FillNumeric(out, record, NumericOffsets{330, 334, 612, 642, 342, 338, 350});
    TextItem(out, texts, 0, record, kAccount);
    TextItem(out, texts, 2, record, 654);
    TextItem(out, texts, 3, record, 354);
    TextItem(out, texts, 5, record, 356);
  } else if (mapping == kInfoGroupB) {  // 3, 4
    FillNumeric(out, record, NumericOffsets{326, 330, 704, 734, 338, 334, 346});
    TextItem(out, texts, 0, record, kAccount);
    TextItem(out, texts, 2, record, 746);
    TextItem(out, texts, 3, record, 448);
    TextItem(out, texts, 4, record, 576);
    TextItem(out, texts, 5, record, 388);
  } else {  // 900: a seat log-on or log-off
    FillNumeric(out, record, NumericOffsets{kClientIp, 174, 194, 224, 182, 178, 190});
    out->logon_time = record.Int(kLogonTime);
    out->online_flag = putOn;
    out->event_time = putOn ? record.Int(kLogonTime) : record.Int(kLogoffTime);
    TextItem(out, texts, 0, record, kDetail2);
    DecimalItem(out, texts, 1, record.Int(kDetailCode));
    TextItem(out, texts, 2, record, kAccount);
    TextItem(out, texts, 3, record, kDetail1);
    DecimalItem(out, texts, 4, record.Int(kDetailFlag));
    DecimalItem(out, texts, 5, record.Int(kSeatInt150));
    TextItem(out, texts, 6, record, 236);
  }
  return true;
}

}  // namespace tessel
