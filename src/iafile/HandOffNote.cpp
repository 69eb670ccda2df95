#include "iafile/HandOffNote.h"

#include <cerrno>
#include <memory>

#include "common/SiteFiles.h"
#include "port/Numbers.h"

namespace tessel {

port::Status WriteHandOffNote(port::Env* env, const std::string& path, const HandOffNote& note,
                              bool durable) {
  std::unique_ptr<port::File> file;
  port::Status status = env->OpenFile(path, port::File::kTruncate, &file);
  if (!status.ok()) return status;
  const std::string text = note.iaFile + "\n" + std::to_string(note.seatTime) + "\n";
  std::size_t written = 0;
  status = file->Write(text.data(), text.size(), 0, &written);
  if (status.ok() && written != text.size()) status = port::Status::Error(EIO, "write " + path);
  if (status.ok() && durable) status = file->Sync();
  const port::Status closed = file->Close();
  if (status.ok()) status = closed;
  if (status.ok() && durable) status = env->SyncDir(DirOf(path));
  return status;
}

port::Status ReadHandOffNote(port::Env* env, const std::string& path, HandOffNote* note) {
  std::string text;
  const port::Status status = port::ReadFileToString(env, path, &text);
  if (!status.ok()) return status;
  const std::string::size_type end = text.find('\n');
  note->iaFile = text.substr(0, end);
  note->seatTime = 0;
  if (end != std::string::npos) note->seatTime = port::AtoiText(text.substr(end + 1));
  return port::Status::OK();
}

}  // namespace tessel
