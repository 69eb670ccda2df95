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

void FillNumbers(netlog_st* out, const VirtualIdRecord& record, const rec::ForwardNumbers& at) {
  out->num1 = static_cast<std::uint32_t>(record.Int(at.num1));
  out->num2 = static_cast<std::uint32_t>(record.Int(at.num2));
  CopyTextField(out->text, sizeof out->text, record.bytes + at.text);
  std::memcpy(&out->addr1, record.bytes + at.address, 4);
  std::memcpy(&out->port1, record.bytes + at.address + 4, 2);
  out->num3 = static_cast<std::uint32_t>(record.Int(at.num3));
  out->num4 = static_cast<std::uint32_t>(record.Int(at.num4));
  out->num5 = Mod65535(record.Int(at.num5));
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
  const ForwardLayout layout = InfoTypeOf(infoType).forward;
  if (layout == ForwardLayout::kNone) return false;

  out->tag[0] = '1';
  out->tag[1] = '1';
  CopyTextField(out->code, sizeof out->code, record.bytes + rec::kForwardCode);
  out->code[10] = '\0';
  char typeCode[16];
  std::snprintf(typeCode, sizeof typeCode, "%04d", static_cast<int>(infoType));
  std::memcpy(out->type_code, typeCode, 4);
  out->type_code[4] = '\0';
  out->logon_time = record.Int(rec::kForwardLogonTime);
  out->online_flag = static_cast<std::uint8_t>(inputFlag & 0xFF);
  out->event_time = record.Int(rec::kBeginTime);
  const std::uint8_t putOn = inputFlag == 1 ? 1 : 0;

  switch (layout) {
    case ForwardLayout::kImAccount:
      FillNumbers(out, record, rec::kThousandsNumbers);
      TextItem(out, texts, 0, record, rec::kAccount);
      out->online_flag = putOn;
      out->event_time = putOn ? record.Int(rec::kBeginTime) : record.Int(rec::kEndTime);
      break;
    case ForwardLayout::kInfo2000:
      FillNumbers(out, record, rec::kThousandsNumbers);
      TextItem(out, texts, 0, record, rec::kAccount);
      TextItem(out, texts, 1, record, rec::kInfoText1);
      TextItem(out, texts, 2, record, rec::kInfoText2);
      break;
    case ForwardLayout::kInfo3000:
      FillNumbers(out, record, rec::kThousandsNumbers);
      TextItem(out, texts, 0, record, rec::kAccount);
      TextItem(out, texts, 2, record, rec::kInfoText2);
      break;
    case ForwardLayout::kInfo10000:
      FillNumbers(out, record, rec::kThousandsNumbers);
      TextItem(out, texts, 0, record, rec::kAccount);
      TextItem(out, texts, 1, record, rec::kInfoText2);
      TextItem(out, texts, 2, record, rec::kInfoText1);
      TextItem(out, texts, 3, record, rec::kInfoText3);
      break;
    case ForwardLayout::kShortInfo:
      FillNumbers(out, record, rec::kShortInfoNumbers);
      TextItem(out, texts, 0, record, rec::kAccount);
      TextItem(out, texts, 2, record, rec::kShortInfoText2);
      TextItem(out, texts, 3, record, rec::kShortInfoText1);
      TextItem(out, texts, 5, record, rec::kShortInfoText1Tail);
      break;
    case ForwardLayout::kShortInterval:
      FillNumbers(out, record, rec::kShortIntervalNumbers);
      TextItem(out, texts, 0, record, rec::kAccount);
      TextItem(out, texts, 2, record, rec::kShortIntervalText4);
      TextItem(out, texts, 3, record, rec::kShortIntervalText2);
      TextItem(out, texts, 4, record, rec::kShortIntervalText3);
      TextItem(out, texts, 5, record, rec::kShortIntervalText1);
      break;
    case ForwardLayout::kSeat:  // a seat log-on or log-off
      FillNumbers(out, record, rec::kSeatNumbers);
      out->logon_time = record.Int(rec::kLogonTime);
      out->online_flag = putOn;
      out->event_time = putOn ? record.Int(rec::kLogonTime) : record.Int(rec::kLogoffTime);
      TextItem(out, texts, 0, record, rec::kDetail2);
      DecimalItem(out, texts, 1, record.Int(rec::kDetailCode));
      TextItem(out, texts, 2, record, rec::kAccount);
      TextItem(out, texts, 3, record, rec::kDetail1);
      DecimalItem(out, texts, 4, record.Int(rec::kDetailFlag));
      DecimalItem(out, texts, 5, record.Int(rec::kSeatNumber));
      TextItem(out, texts, 6, record, rec::kSeatText);
      break;
    case ForwardLayout::kNone:
      return false;
  }
  return true;
}

}  // namespace tessel
