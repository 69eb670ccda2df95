// Which on-line exports are kept, by a clock the test sets.
#include "site/OnlineExportFiles.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "common/SiteFiles.h"

using namespace testing_support;

namespace {

class SetClock : public tessel::port::EnvWrapper {
 public:
  SetClock() : EnvWrapper(tessel::port::Env::Default()) {}
  std::time_t NowSeconds() override { return now; }
  std::time_t now = 1796688000;
};

}  // namespace

// An export stays for its whole keeping time and goes at the first export
// after it; other files stay, and a name further ahead of the clock than the
// keeping time (the clock went back) goes.
TEST(OnlineExportFilesTest, AnExportStaysUntilItsTimeEnds) {
  TempDir dir;
  SetClock clock;
  tessel::ExportRetention retention;
  retention.keepSeconds = 600;
  tessel::OnlineExportFiles exports(&clock, retention);
  const std::time_t start = clock.now;
  WriteFile(dir / "notes.OLV", "x");
  WriteFile(dir / (std::to_string(start - 600) + "_1.OLV"), "x");
  WriteFile(dir / (std::to_string(start + 601) + ".OLV"), "x");

  std::string first;
  ASSERT_TRUE(exports.Next(dir.path(), &first).ok());
  EXPECT_EQ(first, tessel::OnlineExportFileName(dir.path(), start, 0));
  WriteFile(first, "records");
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"1796688000.OLV", "notes.OLV"}));

  std::string next;
  clock.now = start + 599;
  ASSERT_TRUE(exports.Next(dir.path(), &next).ok());
  EXPECT_TRUE(Exists(first));
  clock.now = start + 600;
  ASSERT_TRUE(exports.Next(dir.path(), &next).ok());
  EXPECT_FALSE(Exists(first));
  EXPECT_TRUE(Exists(dir / "notes.OLV"));
}
