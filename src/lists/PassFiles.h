// The record files one pass of the list thread appends to, each opened once
// for the pass and closed at its end (or before its IP file is handed to the
// IA-file worker), instead of once per record.
#ifndef TESSEL_LISTS_PASSFILES_H
#define TESSEL_LISTS_PASSFILES_H

#include <map>
#include <memory>
#include <string>

#include "port/Env.h"
#include "record/VirtualIdRecord.h"

namespace tessel {

class PassFiles {
 public:
  explicit PassFiles(port::Env* env) : env_(env) {}

  // Appends one record to the file at `path` (opened for appending, and
  // created, on first use) with one write; a short write is cut back.
  port::Status Append(const std::string& path, const VirtualIdRecord& record);
  // Closes the file at `path` if it is open.
  void Close(const std::string& path);
  void CloseAll() { open_.clear(); }

 private:
  // A pass touches a few files: the day file and the IP files of the seats
  // it heard from. Beyond this many, all are closed and opened again.
  static constexpr std::size_t kMaxOpen = 64;

  port::Env* const env_;
  std::map<std::string, std::unique_ptr<port::File> > open_;
};

}  // namespace tessel

#endif
