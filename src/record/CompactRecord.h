// A record as the service holds it in memory for long (the identities on
// line): its bytes without their runs of zeros. A record is 1247 bytes and
// mostly zeros (short texts in wide fields), so an identity held this way
// takes about a tenth of its width. Expand gives the whole record back, byte
// for byte.
#ifndef TESSEL_RECORD_COMPACTRECORD_H
#define TESSEL_RECORD_COMPACTRECORD_H

#include <cstdint>
#include <string>

#include "record/VirtualIdRecord.h"

namespace tessel {

class CompactRecord {
 public:
  CompactRecord() = default;  // all zero
  // Implicit, so that a record can be stored where compact ones are kept.
  CompactRecord(const VirtualIdRecord& record);  // NOLINT(google-explicit-constructor)

  VirtualIdRecord Expand() const;

  // Fields read without expanding the whole record.
  std::int32_t Int(std::size_t offset) const;
  std::string Text(std::size_t offset, std::size_t width) const;
  std::int32_t InfoType() const { return Int(rec::kInfoType); }
  std::int32_t BeginTime() const { return Int(rec::kBeginTime); }
  std::int32_t LogoffTime() const { return Int(rec::kLogoffTime); }
  std::int32_t InputFlag() const { return Int(rec::kInputFlag); }

  // Bytes held, beyond the object itself.
  std::size_t packedSize() const { return packed_.size(); }

 private:
  // Copies `length` bytes from `offset` of the record into `out`.
  void Read(std::size_t offset, std::size_t length, unsigned char* out) const;

  // Runs of bytes, each a 2-byte offset and a 2-byte length (little-endian)
  // followed by the bytes; every byte between runs is zero.
  std::string packed_;
};

}  // namespace tessel

#endif
