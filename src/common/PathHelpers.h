// Small path and file helpers shared by every part of the service.
#ifndef TESSEL_COMMON_PATHHELPERS_H
#define TESSEL_COMMON_PATHHELPERS_H

#include <string>

#include "common/SiteContext.h"
#include "port/Env.h"

// The site directory, ending in the path separator: $TESSEL_HOME when it is
// set and not empty, otherwise the directory of the host executable. The
// host server usually lives in /usr/bin, so a site sets TESSEL_HOME.
std::string GetModuleDir(tessel::port::Env* env);

// Creates every missing directory along `path`. The part after the last
// separator is taken for a file name and is not created. False as soon as a
// directory cannot be created; a null path is false too.
bool MakeDirs(const char* path, tessel::port::Env* env);

namespace tessel {

// MakeDirs with the reason: the failure of the first directory that could
// not be created ("create directory /site/virtualdb: Permission denied").
port::Status CreateDirs(const std::string& path, port::Env* env);

}  // namespace tessel

// Expands a configured path in place: the first "<NAME>" becomes the value of
// the environment variable NAME (empty when unset), the first "*" becomes
// the site directory, and when the result does not exist its directories are
// created with MakeDirs (whose result is ignored).
void ExpandPath(std::string& path, const tessel::SiteContext& site);

// Moves a file, replacing an existing target, copying across file systems.
// 0 on success, -1 with errno set on failure.
int RenameReplace(const char* existingPath, const char* newPath, tessel::port::Env* env);

#endif
