// The site instance's stop: every record accepted before it is stored, and
// none is accepted once it has begun.
#include "site/SiteInstance.h"

#include <gtest/gtest.h>

#include <ctime>

#include "TestSupport.h"
#include "common/SiteFiles.h"

using namespace tessel;
using namespace testing_support;

namespace {

// The records in every day file of `dir`.
std::size_t DayFileRecords(const std::string& dir) {
  std::size_t records = 0;
  for (const std::string& name : ListDir(dir)) {
    std::string day;
    if (ParseDayFileName(name, &day)) records += FileSize(dir + name) / rec::kSize;
  }
  return records;
}

}  // namespace

TEST(SiteInstanceTest, AStopStoresWhatWasAcceptedAndRefusesWhatCameAfterItBegan) {
  TempDir site;
  const SiteContext context = SiteAt(port::Env::Default(), site.path());
  SiteInstancePtr instance = new SiteInstance(context, ServiceSettings());
  instance->Start("4401020001", [](const VirtualIdRecord&) {});
  const std::string prefix =
      "4401020001_16777343_" + std::to_string(std::time(nullptr) - 60) + "_";
  const int accepted = 50;
  for (int i = 0; i < accepted; ++i)
    ASSERT_TRUE(instance->AddNetLog(ImRecord(prefix, 1001, "a" + std::to_string(i), 100, 100, 0),
                                    "4401020001")
                    .status.ok());
  // Within the list thread's pause between passes: only the stop's last
  // pass can store them.
  instance->BeginStop();
  EXPECT_FALSE(instance->AddNetLog(ImRecord(prefix, 1001, "late", 100, 100, 0), "4401020001")
                   .status.ok());
  instance->Stop();
  EXPECT_EQ(DayFileRecords(context.VirtualDbDir()), std::size_t(accepted));
  EXPECT_EQ(instance->Status().intake.accepted, std::uint64_t(accepted));
}
