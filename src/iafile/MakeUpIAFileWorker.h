// Turns a closed IP file (one seat's records of one day) into a numbered IA
// file in the IA output directory, choosing the records that describe the
// seat's activity. A plain shared object: every operation runs on its
// caller's thread (the list thread), so it has no thread of its own.
#ifndef TESSEL_IAFILE_MAKEUPIAFILEWORKER_H
#define TESSEL_IAFILE_MAKEUPIAFILEWORKER_H

#include <IceUtil/Handle.h>
#include <IceUtil/Shared.h>

#include <list>
#include <string>

#include "common/SiteContext.h"
#include "common/StopSignal.h"
#include "port/Env.h"
#include "record/VirtualIdRecord.h"

class MakeUpIAFileWorker : public IceUtil::Shared {
 public:
  // Files and the clock are reached through the site's Env. `durable`: an
  // IA file is synced before it is renamed into place, and its directory
  // after, so that a power cut neither loses nor repeats it.
  explicit MakeUpIAFileWorker(const tessel::SiteContext& site, bool durable = false);

  // Marks the worker stopping; a conversion under way runs to its end.
  virtual void Stop();
  // upPath, when not empty, becomes the IA output directory; path is unused.
  virtual void SetPaths(std::string path, std::string upPath);
  // Keeps a non-empty identity; an empty one leaves the last one in place.
  virtual void SetUnitIdentity(std::string identity);
  // Makes iaFilePath from the chosen records of the source files, through
  // sourcePath + "_tmp". False for a missing argument, a source file that
  // cannot be read, a record that could not be exported, or an IA file that
  // could not be put in place.
  virtual bool MakeUpIAFile(const char* sourcePath, const char* iaFilePath,
                            const std::list<std::string>& sourceFiles);
  // Converts an IP file into <ia>/<unit>_<fileName without extension>_<n>.ria
  // and deletes it (HandOver, its outcome not looked at).
  virtual void MakeUpIPFile(std::string filePath, std::string fileName, std::string dayStamp);
  // One try at converting an IP file, as MakeUpIPFile does; the failure
  // when it could not be made (the IP file then stays, for another try).
  // Nothing here waits: a directory that cannot be written is told at once.
  //
  // A note beside the IP file (iafile/HandOffNote.h) names the IA file
  // while it is being made: it is written before the IA file, so that
  // FinishHandOffs can complete a conversion a crash cut short without
  // making its IA file twice; once the IP file is gone it becomes the
  // marker SiteFiles' HandedFileName names, which the write side removes
  // when no record of the seat can come back any more.
  tessel::port::Status HandOver(const std::string& filePath, const std::string& fileName,
                                const std::string& dayStamp);
  // At start: completes every hand-off a crash cut short. One whose IP file
  // is gone, or whose IA file is in place, is done (the IP file let go); one
  // whose IA file never got there is made again.
  void FinishHandOffs();
  // Appends the chosen records of one group (records of equal group key) to
  // the selection.
  virtual void SelectRecords(std::list<VirtualIdRecord>& group);

  // False while no IA output directory is set: no IA file can be made.
  bool CanMakeIAFiles() const { return !iaPath.empty(); }
  const std::list<VirtualIdRecord>& Selected() const { return selected; }
  const std::string& IaPath() const { return iaPath; }
  const std::string& UnitIdentity() const { return unitIdentity; }
  bool Stopping() const { return stopping.Raised(); }

 private:
  tessel::port::Env* const env;
  std::string virtualdbDir;
  std::string iaPath;
  std::string unitIdentity;
  // Raised by Stop; nothing waits on it, since the worker has no thread.
  tessel::StopSignal stopping;
  std::list<VirtualIdRecord> selected;
  const bool durable;

  tessel::port::Status MakeIAFile(const std::string& sourcePath, const std::string& iaFilePath,
                                  const std::list<std::string>& sourceFiles);
  tessel::port::Status PlaceIAFile(const std::string& tmpPath, const std::string& iaFilePath);
  // Lets the IP file go once its IA file numbered `n` is in place.
  void Finish(const std::string& filePath, const std::string& counterPath, int n);
};

typedef IceUtil::Handle<MakeUpIAFileWorker> MakeUpIAFileWorkerPtr;

#endif
