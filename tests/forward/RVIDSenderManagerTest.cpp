// The sender manager following netbarcfg.ini: senders started, shared,
// stopped and resumed as the list changes; and the profile reading under it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "ForwardTestUtil.h"
#include "TestEnv.h"
#include "forward/Profile.h"
#include "forward/RVIDSenderManager.h"
#include "forward/ServerList.h"

using namespace tessel;

using namespace forward_test;
using testing_support::MovedClockEnv;
using testing_support::WaitUntil;
using Strings = std::vector<std::string>;

namespace {

const std::chrono::seconds kWait(10);
const std::chrono::milliseconds kQuiet(1200);  // several passes of the manager

struct Entry {
  int port;
  int overdue = 0;
  std::string address = "127.0.0.1";
  int offset = -1;
};

void WriteConfig(const Site& site, int count, const std::vector<Entry>& entries) {
  std::string text = "[Other]\r\nAddrCount=9\r\n[P2PVIRTUALID]\r\nAddrCount=" +
                     std::to_string(count) + "\r\n";
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string n = std::to_string(i);
    text += "IsOverdue_" + n + "=" + std::to_string(entries[i].overdue) + "\r\n";
    if (!entries[i].address.empty()) text += "ServerAddr_" + n + "=" + entries[i].address + "\r\n";
    text += "ServerPort_" + n + "=" + std::to_string(entries[i].port) + "\r\n";
    text += "OffSet_" + n + "=" + std::to_string(entries[i].offset) + "\r\n";
  }
  testing_support::WriteFile(site.dir() + "/netbarcfg.ini", text);
}

RVIDSenderManagerPtr StartManager(const Site& site) {
  RVIDSenderManagerPtr manager = new RVIDSenderManager(site.Context(), 100, QuickPacing());
  manager->start();
  return manager;
}

}  // namespace

TEST(RVIDSenderManagerTest, OneSenderPerServerStoppedAndResumed) {
  Site site;
  NetlogTestServer one, two;
  site.Append(Midnight(0), {"a", "b"});
  WriteConfig(site, 2, {Entry{one.port()}, Entry{two.port()}});
  // The manager reads the list every 5 s of the test's clock: each step
  // below lets one reading pass, after which a server's sender is running,
  // or stopped and joined.
  MovedClockEnv clock;
  RVIDSenderManagerPtr manager =
      new RVIDSenderManager(site.Context(&clock), RVIDSenderManager::kPassPauseMs,
                                QuickPacing());
  manager->start();
  auto nextReading = [&] {
    return clock.AdvanceToNextLongPause(RVIDSenderManager::kPassPauseMs, 10000);
  };
  ASSERT_TRUE(one.WaitForCount(2, kWait));
  ASSERT_TRUE(two.WaitForCount(2, kWait));
  EXPECT_TRUE(testing_support::Exists(ProgressPath("127.0.0.1", one.port())));
  EXPECT_TRUE(testing_support::Exists(ProgressPath("127.0.0.1", two.port())));
  EXPECT_TRUE(WaitUntil(
      [&] { return ReadProgress(ProgressPath("127.0.0.1", two.port())).offset == 2 * 1247; },
      kWait));

  // Overdue: the second server hears nothing more.
  WriteConfig(site, 2, {Entry{one.port()}, Entry{two.port(), 1}});
  ASSERT_TRUE(nextReading());
  site.Append(Midnight(0), {"c"});
  ASSERT_TRUE(one.WaitForCount(3, kWait));
  EXPECT_EQ(2u, two.Count());

  // Back again: it goes on from its progress file, nothing sent twice.
  WriteConfig(site, 2, {Entry{one.port()}, Entry{two.port()}});
  ASSERT_TRUE(nextReading());
  ASSERT_TRUE(two.WaitForCount(3, kWait));
  EXPECT_TRUE(WaitUntil(
      [&] { return ReadProgress(ProgressPath("127.0.0.1", two.port())).offset == 3 * 1247; },
      kWait));
  EXPECT_EQ((Strings{"a", "b", "c"}), Accounts(two.Requests()));

  // A lower AddrCount stops the second one.
  WriteConfig(site, 1, {Entry{one.port()}, Entry{two.port()}});
  ASSERT_TRUE(nextReading());
  site.Append(Midnight(0), {"d"});
  ASSERT_TRUE(one.WaitForCount(4, kWait));
  EXPECT_EQ(3u, two.Count());

  // No file: the last list stays in force until the file is back.
  testing::internal::CaptureStderr();
  ::unlink((site.dir() + "/netbarcfg.ini").c_str());
  ASSERT_TRUE(nextReading());
  ASSERT_TRUE(nextReading());
  EXPECT_EQ(1u, manager->Statuses().size());  // the last list's one server
  site.Append(Midnight(0), {"e"});
  ASSERT_TRUE(one.WaitForCount(5, kWait));
  EXPECT_EQ(3u, two.Count());
  WriteConfig(site, 2, {Entry{one.port()}, Entry{two.port()}});
  ASSERT_TRUE(nextReading());
  ASSERT_TRUE(two.WaitForCount(5, kWait));
  EXPECT_EQ((Strings{"a", "b", "c", "d", "e"}), Accounts(one.Requests()));
  EXPECT_EQ((Strings{"a", "b", "c", "d", "e"}), Accounts(two.Requests()));
  EXPECT_EQ(2u, manager->Statuses().size());
  manager->Stop();
  testing::internal::GetCapturedStderr();
}

TEST(RVIDSenderManagerTest, DuplicateEntriesShareOneSender) {
  Site site;
  NetlogTestServer server;
  site.Append(Midnight(0), {"a", "b"});
  WriteConfig(site, 3, {Entry{server.port()}, Entry{server.port()}, Entry{server.port()}});
  RVIDSenderManagerPtr manager = StartManager(site);
  ASSERT_TRUE(server.WaitForCount(2, kWait));
  std::this_thread::sleep_for(kQuiet);
  EXPECT_EQ((Strings{"a", "b"}), Accounts(server.Requests()));
  Strings progress;
  for (const std::string& name : testing_support::ListDir(site.dir() + "/virtualdb"))
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".spg") == 0) progress.push_back(name);
  EXPECT_EQ(1u, progress.size());
  manager->Stop();
}

TEST(RVIDSenderManagerTest, EntryDefaultsAndStartOffset) {
  Site site;
  NetlogTestServer server;
  site.Append(Midnight(0), {"a", "b", "c"});
  Entry entry{server.port()};
  entry.address = "";  // no ServerAddr_0: localhost
  entry.offset = 2494;
  WriteConfig(site, 1, {entry});
  testing::internal::CaptureStderr();
  RVIDSenderManagerPtr manager = StartManager(site);
  ASSERT_TRUE(server.WaitForCount(1, kWait));
  EXPECT_EQ((Strings{"c"}), Accounts(server.Requests()));
  EXPECT_TRUE(testing_support::Exists(ProgressPath("localhost", server.port())));
  std::vector<UpstreamStatus> statuses = manager->Statuses();
  ASSERT_EQ(1u, statuses.size());
  EXPECT_EQ("localhost", statuses[0].host);
  EXPECT_EQ(server.port(), statuses[0].port);
  std::this_thread::sleep_for(kQuiet);
  manager->Stop();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ((Strings{"c"}), Accounts(server.Requests()));  // one sender all along
}

TEST(ServerListTest, ValuesUsedOtherwiseThanWrittenAreNoted) {
  const std::string longAddress = "0123456789012345678901234567890123456789";
  ServerList list = ParseServerList(
      "[P2PVIRTUALID]\r\n"
      "AddrCount=5x\r\n"
      "ServerAddr_0=10.1.2.3\r\nServerPort_0=99999\r\nOffSet_0=2494\r\n"
      "ServerAddr_1=10.1.2.4\r\nServerPort_1=80x0\r\nServerPort_1=81\r\n"
      "ServerPort_2=7002\r\n"
      "ServerAddr_3=" + longAddress + "\r\nServerPort_3=7003\r\nOffSet_3=1000\r\n");
  ASSERT_TRUE(list.usable);
  Strings keys;
  for (const ServerEntry& entry : list.entries) keys.push_back(entry.key);
  EXPECT_EQ((Strings{"10.1.2.3:99999", "10.1.2.4:80", "localhost:7002",
                     longAddress.substr(0, 30) + ":7003", "localhost:0"}),
            keys);
  EXPECT_EQ(2494, list.entries[0].offset);
  Strings notes;
  for (const ProfileNote& note : list.notes) notes.push_back(note.text);
  EXPECT_EQ((Strings{
                "ServerPort_1=\"81\" is ignored: the first ServerPort_1 counts",
                "AddrCount=\"5x\" is read as 5",
                "ServerPort_0=\"99999\" is used as port 34463",
                "ServerPort_1=\"80x0\" is read as 80",
                "ServerAddr_2 is missing: the server is taken to be localhost",
                "ServerAddr_3=\"" + longAddress + "\" is cut to 30 characters: \"" +
                    longAddress.substr(0, 30) + "\"",
                "OffSet_3=\"1000\" is not at a record boundary: a new sender starts at 0",
                "AddrCount=\"5x\" counts 1 entries with neither ServerAddr_<n> nor ServerPort_<n> "
                "(the first is 4): they are served at localhost:0"}),
            notes);

  // However large the count, the list is no longer than the file.
  list = ParseServerList("[P2PVIRTUALID]\nAddrCount=2000000000\nServerPort_0=1\n");
  EXPECT_EQ(2u, list.entries.size());

  // No list to follow: a file being rewritten, or none at all.
  EXPECT_FALSE(ParseServerList("").usable);
  EXPECT_FALSE(ParseServerList("[P2PVIRTUALID]\nServerPort_0=1\n").usable);
  list = ReadServerList("/nonexistent/netbarcfg.ini", port::Env::Default());
  EXPECT_FALSE(list.usable);
  EXPECT_FALSE(list.why.empty());
}

TEST(RVIDSenderManagerTest, StopEndsEverySenderPromptly) {
  Site site;
  NetlogTestServer silent, down;
  silent.SetReply(Reply::kSilent);
  down.SetRefusing(true);
  site.Append(Midnight(0), {"a"});
  WriteConfig(site, 2, {Entry{silent.port()}, Entry{down.port()}});
  // The protocol's pacing: a 90 s reply wait and 5 s retries.
  RVIDSenderManagerPtr manager = new RVIDSenderManager(site.Context());
  manager->start();
  ASSERT_TRUE(silent.WaitForCount(1, kWait));
  auto start = std::chrono::steady_clock::now();
  manager->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_FALSE(manager->isAlive());
}

TEST(ProfileTest, ReadsLikeTheProfileFunctions) {
  testing_support::TempDir dir;
  const std::string path = dir / "netbarcfg.ini";
  testing_support::WriteFile(path,
                             std::string("[p2pVirtualId]\r\n") +
                             "addrcount = 3\r\n"
                             "ServerPort_0=abc\r\n"
                             "ServerPort_1=8000\r\n"
                             "ServerPort_1=9000\r\n"
                             "OffSet_0=-1\r\n"
                             "ServerAddr_0=0123456789012345678901234567890123456789\r\n"
                             "ServerAddr_1=\"10.1.2.3\"\r\n"
                             "  ServerPort_2 = 7002\r\n"  // indented: a key all the same
                             "\tOffSet_2=2494\r\n" +
                             // The tail of a line too long for the parser is not a line of
                             // its own (a key, or a section).
                             "Note=" + std::string(194, 'x') + "ServerPort_3=2\r\n" +
                             "Note=" + std::string(194, 'x') + "[Other]\r\n" +
                             "ServerPort_3=7003\r\n"
                             "[Other]\r\n"
                             "ServerAddr_2=elsewhere\r\n");
  ProfileSection profile;
  ASSERT_TRUE(profile.Load(path, "P2PVIRTUALID", port::Env::Default()));
  EXPECT_EQ(3, profile.GetInt("AddrCount", 0));
  EXPECT_EQ(0, profile.GetInt("ServerPort_0", 5));
  EXPECT_EQ(8000, profile.GetInt("SERVERPORT_1", 0));
  EXPECT_EQ(-1, profile.GetInt("OffSet_0", 0));
  EXPECT_EQ(-1, profile.GetInt("OffSet_1", -1));
  EXPECT_EQ("012345678901234567890123456789", profile.GetString("ServerAddr_0", "", 30));
  EXPECT_EQ("10.1.2.3", profile.GetString("ServerAddr_1", "", 30));
  EXPECT_EQ("localhost", profile.GetString("ServerAddr_2", "localhost", 30));
  EXPECT_EQ(7002, profile.GetInt("ServerPort_2", 0));
  EXPECT_EQ(2494, profile.GetInt("OffSet_2", -1));
  EXPECT_EQ(7003, profile.GetInt("ServerPort_3", 0));

  EXPECT_FALSE(profile.Load(dir / "missing.ini", "P2PVIRTUALID", port::Env::Default()));
  EXPECT_EQ(0, profile.GetInt("AddrCount", 0));
}

// A server spelt otherwise than its progress file: a progress of its own
// starts at today's day file, and the other is left as it was.
TEST(RVIDSenderManagerTest, AnotherSpellingOfAServerStartsAProgressOfItsOwn) {
  Site site;
  NetlogTestServer server;
  site.Append(Midnight(0), {"a"});
  WriteConfig(site, 1, {Entry{server.port()}});
  {
    RVIDSenderManagerPtr manager = StartManager(site);
    ASSERT_TRUE(server.WaitForCount(1, kWait));
    // Its progress is saved once the server's answer is read.
    ASSERT_TRUE(WaitUntil(
        [&] { return ReadProgress(ProgressPath("127.0.0.1", server.port())).offset == 1247; },
        kWait));
    manager->Stop();
  }
  Entry renamed{server.port()};
  renamed.address = "localhost";
  WriteConfig(site, 1, {renamed});
  site.Append(Midnight(0), {"b"});
  testing::internal::CaptureStderr();
  RVIDSenderManagerPtr manager = StartManager(site);
  ASSERT_TRUE(server.WaitForCount(3, kWait));
  ASSERT_TRUE(WaitUntil([&] { return ReadProgress(ProgressPath("localhost", server.port())).offset ==
                                     2 * 1247; },
                        kWait));
  manager->Stop();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ((Strings{"a", "a", "b"}), Accounts(server.Requests()));
  EXPECT_EQ(1247u, ReadProgress(ProgressPath("127.0.0.1", server.port())).offset);
}
