// The writer servant and its site instance in the process: what it serves
// right after a start, and a start that fails.
#include "account/AccountInfoWriterI.h"

#include <Ice/Ice.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "SiteEnv.h"
#include "TestSupport.h"
#include "common/PathHelpers.h"
#include "lists/IntakeJournal.h"

using namespace tessel;
using namespace testing_support;

namespace {

class AccountInfoWriterITest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(site / "siteenv.cfg", "Audit.Unit.Identity=4401020001\n");
    ASSERT_EQ(SiteEnv_Init(), 0);
    communicator = Ice::initialize();
  }
  void TearDown() override {
    communicator->destroy();
    SiteEnv_Release();
  }

  // The site's instance, started, and the servant that feeds it; the site
  // reached through `env`.
  AccountInfoWriterIPtr Start(port::Env* env) {
    ServiceSettings settings;
    settings.iaUpPath = site / "ia";
    instance = new SiteInstance(SiteAt(env, site.path()), settings);
    AccountInfoWriterIPtr servant = new AccountInfoWriterI(communicator, instance);
    instance->Start(servant->UnitIdentity(), [&](const VirtualIdRecord& record) {
      servant->RestoreOnline(record);
    });
    return servant;
  }

  TempDir site;
  // Only for the site environment's own library, which finds its file there.
  ScopedEnv home{"TESSEL_HOME", site.path()};
  Ice::CommunicatorPtr communicator;
  SiteInstancePtr instance;
};

// An Env on which opening any file throws, as a failure nobody planned for.
class ThrowingEnv : public port::EnvWrapper {
 public:
  ThrowingEnv() : EnvWrapper(port::Env::Default()) {}
  port::Status OpenFile(const std::string&, port::File::Mode, std::unique_ptr<port::File>*) override {
    throw std::runtime_error("no descriptors left");
  }
};

}  // namespace

// Records a crash left in the journal are on line again before any new
// record arrives, and the export names them with the site's identity.
TEST_F(AccountInfoWriterITest, ExportsWhatTheJournalBroughtBackBeforeAnyNewRecord) {
  {
    IntakeJournal journal(port::Env::Default(), SiteAt(port::Env::Default(), site.path()).VirtualDbDir());
    std::vector<VirtualIdRecord> none;
    ASSERT_TRUE(journal.Open(&none).ok());
    const std::string prefix = "4401020001_16777343_" + std::to_string(std::time(nullptr) - 60) + "_";
    ASSERT_TRUE(journal.Append(SeatRecord(prefix, "seat", 100, 0, 1)).ok());
  }
  AccountInfoWriterIPtr servant = Start(port::Env::Default());
  Ice::Int count = 0;
  std::string path;
  ASSERT_TRUE(WaitUntil(
      [&] {
        servant->GetAllOnLineVirtualId(count, path, Ice::Current());
        return count == 1;
      },
      std::chrono::milliseconds(5000)));
  EXPECT_TRUE(Exists(path));
}

// A start that fails throws with its reason (the service's start then
// fails), instead of a servant left without its workers.
TEST_F(AccountInfoWriterITest, ASetUpThatFailsThrowsItsReason) {
  ThrowingEnv env;
  try {
    Start(&env);
    FAIL() << "set up without its files";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "no descriptors left");
  }
}
