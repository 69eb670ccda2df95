// The record export library: each call appends one text line describing one
// identity record to the named file (layout in docs/record-export-format.md).
//
// The library stands on its own: it knows the few record offsets it shows in
// clear text and nothing else of the service. Only the byte coding of
// port/Coding.h is shared, and that header needs nothing linked.
#include "RecordExport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "port/Coding.h"

namespace {

const int kRecordSize = 1247;
const std::size_t kPrefixOffset = 0;
const std::size_t kPrefixWidth = 50;
const std::size_t kInfoTypeOffset = 54;
const std::size_t kAccountOffset = 58;
const std::size_t kSeatAccountWidth = 30;  // seat records (info type 900)
const std::size_t kAccountWidth = 256;     // every other record
const std::int32_t kSeatInfoType = 900;

// A text field as a person reads it: bytes up to the first NUL (at most
// `width`), with control bytes (TAB, CR, LF among them) shown as a blank so
// that they can never split the line. GBK bytes (0x80 and above) pass as
// they are.
std::string Clear(const char* text, std::size_t width) {
  std::string out;
  if (text == NULL) return out;
  for (std::size_t i = 0; i < width && text[i] != '\0'; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    out += (c < 0x20 || c == 0x7f) ? ' ' : static_cast<char>(c);
  }
  return out;
}

std::string Clear(const char* text) { return Clear(text, static_cast<std::size_t>(-1)); }

std::string Line(const char* unit, const char* unitHead, const char* unitTail,
                 const unsigned char* record) {
  const std::int32_t infoType =
      static_cast<std::int32_t>(tessel::port::DecodeFixed32LE(record + kInfoTypeOffset));
  const std::size_t accountWidth = infoType == kSeatInfoType ? kSeatAccountWidth : kAccountWidth;
  char number[16];
  std::snprintf(number, sizeof number, "%d", static_cast<int>(infoType));

  std::string line;
  line.reserve(2 * kRecordSize + 512);
  line += Clear(unit);
  line += '\t';
  line += Clear(unitHead);
  line += '\t';
  line += Clear(unitTail);
  line += '\t';
  line += number;
  line += '\t';
  line += Clear(reinterpret_cast<const char*>(record + kPrefixOffset), kPrefixWidth);
  line += '\t';
  line += Clear(reinterpret_cast<const char*>(record + kAccountOffset), accountWidth);
  line += '\t';
  static const char kHex[] = "0123456789abcdef";
  for (int i = 0; i < kRecordSize; ++i) {
    line += kHex[record[i] >> 4];
    line += kHex[record[i] & 0x0f];
  }
  line += "\r\n";
  return line;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int tagSepExporttoFile(
    const char* path, const char* unit, const char* unitHead, const char* unitTail,
    const void* record, int length) {
  if (path == NULL || record == NULL || length != kRecordSize) return -1;
  const std::string line =
      Line(unit, unitHead, unitTail, static_cast<const unsigned char*>(record));

  int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);  // the umask decides
  if (fd < 0) return -1;
  struct stat before;
  bool ok = ::fstat(fd, &before) == 0;
  if (ok) {
    ssize_t written;
    do {
      written = ::write(fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    if (written != static_cast<ssize_t>(line.size())) {
      ok = false;
      // Never leave half a line behind: it would spoil every line after it.
      if (written > 0 && ::ftruncate(fd, before.st_size) != 0) {
      }
    }
  }
  if (::close(fd) != 0) ok = false;
  return ok ? 0 : -1;
}
