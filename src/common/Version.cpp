#include "common/Version.h"

namespace tessel {

const char* Version() { return TESSEL_VERSION; }

}  // namespace tessel
