#include "lists/PassFiles.h"

#include "record/RiaBaseFile.h"

namespace tessel {

port::Status PassFiles::Append(const std::string& path, const VirtualIdRecord& record) {
  if (open_.count(path) == 0 && open_.size() >= kMaxOpen) CloseAll();
  std::unique_ptr<port::File>& file = open_[path];
  if (!file) {
    const port::Status status = env_->OpenFile(path, port::File::kAppend, &file);
    if (!status.ok()) {
      open_.erase(path);
      return status;
    }
  }
  const port::Status status = AppendRecordTo(file.get(), record);
  // A file that failed is opened afresh next time (it may have been
  // replaced or repaired meanwhile).
  if (!status.ok()) open_.erase(path);
  return status;
}

void PassFiles::Close(const std::string& path) { open_.erase(path); }

}  // namespace tessel
