// In a sanitizer build (scripts/check), the faults of a child process are
// reported, and a report on its standard error fails the test that ran it:
// what the end-to-end tests rely on for the icebox they start.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "TestSupport.h"

using namespace testing_support;

namespace {

// Runs the canary with `fault` to its end; its exit status.
int RunCanary(const std::string& fault) {
  TempDir logs;
  // Reports on standard error, not in scripts/check's report files, where
  // they would fail the check.
  ChildProcess canary({TESSEL_SANITIZER_CANARY, fault},
                      {{"ASAN_OPTIONS", "detect_leaks=1"}, {"TSAN_OPTIONS", "halt_on_error=1"}},
                      "", logs / "out", logs / "err");
  return canary.wait(std::chrono::seconds(60));
}

// The faults this build's sanitizers must see, each with the words of its
// report.
std::vector<std::pair<std::string, std::string> > Faults() {
  const std::string sanitizers = TESSEL_SANITIZE;
  std::vector<std::pair<std::string, std::string> > faults;
  if (sanitizers.find("address") != std::string::npos) {
    faults.push_back({"heap", "ERROR: AddressSanitizer: heap-use-after-free"});
    faults.push_back({"leak", "ERROR: LeakSanitizer: detected memory leaks"});
  }
  if (sanitizers.find("undefined") != std::string::npos)
    faults.push_back({"undefined", "runtime error: signed integer overflow"});
  if (sanitizers.find("thread") != std::string::npos)
    faults.push_back({"race", "WARNING: ThreadSanitizer: data race"});
  return faults;
}

}  // namespace

TEST(SanitizerCanaryTest, AChildsReportFailsTheTestThatRanIt) {
  ScopedEnv noCopy = ScopedEnv::unset("TESSEL_SANITIZER_REPORTS");
  ASSERT_FALSE(Faults().empty()) << TESSEL_SANITIZE;
  for (const auto& fault : Faults()) {
    SCOPED_TRACE(fault.first);
    int status = -1;
    EXPECT_NONFATAL_FAILURE(status = RunCanary(fault.first), fault.second);
    EXPECT_TRUE(status != -1 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
  }
}

TEST(SanitizerCanaryTest, AChildWithoutFaultsPasses) {
  TempDir logs;
  ChildProcess canary({TESSEL_SANITIZER_CANARY, "none"}, {}, "", logs / "out", logs / "err");
  const int status = canary.wait(std::chrono::seconds(60));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
}
