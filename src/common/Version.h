// The version of this build, as the package and every tool give it.
#ifndef TESSEL_COMMON_VERSION_H
#define TESSEL_COMMON_VERSION_H

namespace tessel {

const char* Version();

}  // namespace tessel

#endif
