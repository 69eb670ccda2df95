// A program with the faults the sanitizers of this build must report, run by
// SanitizerCanaryTest: `undefined` overflows a signed int, `heap` reads
// freed memory, `leak` loses an allocation, `race` writes one variable from
// two threads. Built only in sanitizer builds.
#include <cstdlib>
#include <string>
#include <thread>

namespace {

void* volatile lost;
int shared;

__attribute__((noinline)) void Lose() {
  lost = std::malloc(16);
  lost = nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string fault = argc > 1 ? argv[1] : "";
  if (fault == "undefined") {
    volatile int largest = 2147483647;
    return largest + argc;  // argc is 2
  }
  if (fault == "heap") {
    char* volatile bytes = static_cast<char*>(std::calloc(8, 1));
    std::free(bytes);
    return bytes[argc];  // freed
  }
  if (fault == "leak") {
    Lose();
    return 0;
  }
  if (fault == "race") {
    std::thread other([] { ++shared; });
    ++shared;
    other.join();
    return 0;
  }
  return 2;
}
