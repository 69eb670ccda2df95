// RiaBase record files: day files and per-seat IP files, each a plain run of
// whole 1247-byte records, appended one record per write and read while
// they may still grow.
#ifndef TESSEL_RECORD_RIABASEFILE_H
#define TESSEL_RECORD_RIABASEFILE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "port/Env.h"
#include "record/VirtualIdRecord.h"

namespace tessel {

// Appends the record with one write, creating the file when absent; the file
// is opened and closed for this record alone. A write that falls short (a
// full disk, a file-size limit) is cut back off the file and reported as a
// failure, so a record file never holds part of a record because of us.
port::Status AppendRecord(port::Env* env, const std::string& path, const VirtualIdRecord& record);

// Appends the record to a file open for appending, with one write, cutting
// a short write back as AppendRecord does.
port::Status AppendRecordTo(port::File* file, const VirtualIdRecord& record);

// Appends `data` (whole records) to a file open for appending with one
// write; a write that fails or falls short leaves the file as it was, as
// far as the system lets it be cut back.
port::Status AppendWholeTo(port::File* file, const char* data, std::size_t size);

// Cuts a record file back to whole records (the torn tail of a crash or a
// power cut); *cut gets the bytes cut. A missing file is no failure.
port::Status CutToWholeRecords(port::Env* env, const std::string& path, std::uint64_t* cut);

// Reads the whole records of a file in file order; a short tail is ignored.
port::Status ReadRecords(port::Env* env, const std::string& path,
                         std::vector<VirtualIdRecord>* records);

// Reads a record file that its writer may still be appending to.
class RiaBaseReader {
 public:
  // What the end of the file looks like.
  enum Shape {
    kWhole,         // whole records only
    kStillGrowing,  // part of a record, in a file that is being appended to;
                    // or a file whose size cannot be read just now
    kDamaged,       // part of a record, in a file that no longer grows
  };

  explicit RiaBaseReader(port::Env* env) : env_(env) {}

  port::Status Open(const std::string& path);
  // The shape of the file as it is now. `mayGrow`: whether its writer may
  // still append (today's day file); a part of a record at the end of such a
  // file is most likely an append in progress.
  Shape Look(bool mayGrow);
  // Size of the file when it was last looked at.
  std::uint64_t size() const { return size_; }
  // Reads the record at `offset`; false at the end of the file, when only a
  // part of the record is there yet, or when the file cannot be read.
  bool ReadAt(std::uint64_t offset, VirtualIdRecord* record);
  void Close() { file_.reset(); }

 private:
  port::Env* env_;
  std::unique_ptr<port::File> file_;
  std::uint64_t size_ = 0;
};

}  // namespace tessel

#endif
