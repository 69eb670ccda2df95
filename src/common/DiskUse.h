// How much of the disk a directory's files take, and how much is left:
// for the status, which an operator watches before the disk fills.
#ifndef TESSEL_COMMON_DISKUSE_H
#define TESSEL_COMMON_DISKUSE_H

#include <cstdint>
#include <string>

#include "port/Env.h"

namespace tessel {

// Bytes of the regular files directly in `dir`; -1 when it cannot be read.
std::int64_t BytesInDir(port::Env* env, const std::string& dir);

// Bytes free for an unprivileged user on the file system of `path`; -1
// when the system cannot tell.
std::int64_t FreeBytesAt(const std::string& path);

}  // namespace tessel

#endif
