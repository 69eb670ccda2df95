// Whole numbers from text, read the way the C library's atoi reads them
// (leading blanks, a sign, digits up to the first other character; 0 when
// there are none) but without its undefined behaviour: a value out of the
// 32-bit range is clamped to it. Every such reading of the service (record
// prefixes, keywords, profile values, sender options) goes through here.
#ifndef TESSEL_PORT_NUMBERS_H
#define TESSEL_PORT_NUMBERS_H

#include <string>

namespace tessel::port {

int AtoiText(const std::string& text);

}  // namespace tessel::port

#endif
