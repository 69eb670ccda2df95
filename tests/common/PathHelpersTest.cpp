#include "common/PathHelpers.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "TestSupport.h"

using namespace testing_support;
namespace port = tessel::port;

TEST(PathHelpersTest, MakeDirsCreatesTheDirectoriesAboveAFileName) {
  TempDir dir;
  EXPECT_TRUE(MakeDirs((dir / "a/b/c.txt").c_str(), port::Env::Default()));
  EXPECT_TRUE(Exists(dir / "a/b"));
  EXPECT_FALSE(Exists(dir / "a/b/c.txt"));
  EXPECT_TRUE(MakeDirs((dir / "x/y/").c_str(), port::Env::Default()));
  EXPECT_TRUE(Exists(dir / "x/y"));
  EXPECT_FALSE(MakeDirs(nullptr, port::Env::Default()));
  WriteFile(dir / "file", "");
  EXPECT_FALSE(MakeDirs((dir / "file/sub/").c_str(), port::Env::Default()));  // a file stands in the way
}

TEST(PathHelpersTest, ModuleDirComesFromTesselHomeWithATrailingSeparator) {
  {
    ScopedEnv home("TESSEL_HOME", "/srv/site");
    EXPECT_EQ(GetModuleDir(port::Env::Default()), "/srv/site/");
  }
  {
    ScopedEnv home("TESSEL_HOME", "/srv/site/");
    EXPECT_EQ(GetModuleDir(port::Env::Default()), "/srv/site/");
  }
  ScopedEnv empty("TESSEL_HOME", "");
  const std::string dir = GetModuleDir(port::Env::Default());
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_TRUE(Exists(dir + "PathHelpersTest"));  // the running executable's directory
}

TEST(PathHelpersTest, ExpandPathReplacesTheFirstReferenceAndStarAndCreatesDirectories) {
  TempDir dir;
  ScopedEnv data("TESSEL_TEST_DATA", dir.path());
  const tessel::SiteContext site = tessel::SiteAt(port::Env::Default(), dir / "home");

  std::string path = "<TESSEL_TEST_DATA>/ia/";
  ExpandPath(path, site);
  EXPECT_EQ(path, dir.path() + "/ia/");
  EXPECT_TRUE(Exists(dir / "ia"));

  path = "*up/";
  ExpandPath(path, site);
  EXPECT_EQ(path, dir.path() + "/home/up/");
  EXPECT_TRUE(Exists(dir / "home/up"));

  path = "*a*/";
  ExpandPath(path, site);
  EXPECT_EQ(path, dir.path() + "/home/a*/");  // only the first "*"

  path = dir.path() + "/<TESSEL_TEST_DATA/*q";
  ExpandPath(path, site);
  EXPECT_EQ(path, dir.path() + "/<TESSEL_TEST_DATA/" + dir.path() + "/home/q");

  std::string empty;
  ExpandPath(empty, site);
  EXPECT_EQ(empty, "");
}

TEST(PathHelpersTest, ExpandPathWithAnUnsetVariableOrReversedBrackets) {
  TempDir dir;
  ScopedEnv unset = ScopedEnv::unset("TESSEL_TEST_UNSET");
  const tessel::SiteContext site = tessel::SiteAt(port::Env::Default(), dir.path());
  std::string path = dir.path() + "/<TESSEL_TEST_UNSET>x/";
  ExpandPath(path, site);
  EXPECT_EQ(path, dir.path() + "/x/");
  EXPECT_TRUE(Exists(dir / "x"));

  path = dir.path() + "/a>b<c/";
  ExpandPath(path, site);
  EXPECT_EQ(path, dir.path() + "/a>b<c/");
}

TEST(PathHelpersTest, RenameReplaceReplacesAndReportsMissingSources) {
  TempDir dir;
  WriteFile(dir / "from", "new");
  WriteFile(dir / "to", "old");
  ASSERT_EQ(RenameReplace((dir / "from").c_str(), (dir / "to").c_str(), port::Env::Default()), 0);
  EXPECT_EQ(ReadFile(dir / "to"), "new");
  EXPECT_FALSE(Exists(dir / "from"));

  errno = 0;
  EXPECT_EQ(RenameReplace((dir / "missing").c_str(), (dir / "to").c_str(), port::Env::Default()), -1);
  EXPECT_EQ(errno, ENOENT);
}

TEST(PathHelpersTest, RenameReplaceCopiesAcrossFileSystems) {
  if (!Exists("/dev/shm")) GTEST_SKIP() << "no /dev/shm";
  TempDir shm("/dev/shm");
  TempDir local(".");  // the build tree, another file system than tmpfs
  const std::string content(100000, 'r');
  WriteFile(shm / "record", content);
  WriteFile(local / "record", "stale");
  ASSERT_EQ(RenameReplace((shm / "record").c_str(), (local / "record").c_str(), port::Env::Default()), 0);
  EXPECT_EQ(ReadFile(local / "record"), content);
  EXPECT_FALSE(Exists(shm / "record"));
}
