#include "record/RiaBaseFile.h"

namespace tessel {

port::Status AppendRecordTo(port::File* file, const VirtualIdRecord& record) {
  std::size_t written = 0;
  port::Status status = file->Write(record.bytes, rec::kSize, 0, &written);
  if (written > 0 && written < rec::kSize) {
    // Take the partial record back off; the writer of a record file is the
    // only one. Should that fail too, the reader sets the damaged file aside.
    std::uint64_t size = 0;
    if (file->Size(&size).ok() && size >= written) file->Truncate(size - written);
  }
  return status;
}

port::Status AppendWholeTo(port::File* file, const char* data, std::size_t size) {
  std::uint64_t before = 0;
  port::Status status = file->Size(&before);
  if (!status.ok()) return status;
  std::size_t written = 0;
  status = file->Write(data, size, 0, &written);
  if (!status.ok() && written > 0) file->Truncate(before);
  return status;
}

port::Status CutToWholeRecords(port::Env* env, const std::string& path, std::uint64_t* cut) {
  *cut = 0;
  std::unique_ptr<port::File> file;
  port::Status status = env->OpenFile(path, port::File::kUpdate, &file);
  if (status.IsNotFound()) return port::Status::OK();
  std::uint64_t size = 0;
  if (status.ok()) status = file->Size(&size);
  if (!status.ok() || size % rec::kSize == 0) return status;
  status = file->Truncate(size - size % rec::kSize);
  if (status.ok()) status = file->Sync();
  if (status.ok()) *cut = size % rec::kSize;
  return status;
}

port::Status AppendRecord(port::Env* env, const std::string& path, const VirtualIdRecord& record) {
  std::unique_ptr<port::File> file;
  port::Status status = env->OpenFile(path, port::File::kAppend, &file);
  if (!status.ok()) return status;
  status = AppendRecordTo(file.get(), record);
  const port::Status closed = file->Close();
  return status.ok() ? closed : status;
}

port::Status ReadRecords(port::Env* env, const std::string& path,
                         std::vector<VirtualIdRecord>* records) {
  RiaBaseReader reader(env);
  port::Status status = reader.Open(path);
  if (!status.ok()) return status;
  reader.Look(false);
  VirtualIdRecord record;
  for (std::uint64_t offset = 0; reader.ReadAt(offset, &record); offset += rec::kSize)
    records->push_back(record);
  return status;
}

port::Status RiaBaseReader::Open(const std::string& path) {
  size_ = 0;
  return env_->OpenFile(path, port::File::kRead, &file_);
}

RiaBaseReader::Shape RiaBaseReader::Look(bool mayGrow) {
  // A file whose size cannot be read now is looked at again later.
  if (!file_ || !file_->Size(&size_).ok()) return kStillGrowing;
  if (size_ % rec::kSize == 0) return kWhole;
  return mayGrow ? kStillGrowing : kDamaged;
}

bool RiaBaseReader::ReadAt(std::uint64_t offset, VirtualIdRecord* record) {
  if (!file_) return false;
  std::size_t read = 0;
  return file_->Read(record->bytes, rec::kSize, offset, &read).ok() && read == rec::kSize;
}

}  // namespace tessel
