// riadump live's views of a status: what counts as a problem, and texts
// from the service escaped in every format.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <sstream>

#include "LiveViews.h"
#include "TestSupport.h"

using namespace views;
using testing_support::CountOf;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

Tessel::SiteState Healthy() {
  Tessel::SiteState state = Tessel::SiteState();
  state.serverTime = 1800000000;
  state.accepted = state.stored = 5;
  state.durability = "power";
  Tessel::UpstreamState upstream = Tessel::UpstreamState();
  upstream.host = "10.1.2.3";
  upstream.port = 8000;
  upstream.connected = true;
  state.upstreams.push_back(upstream);
  return state;
}

std::size_t Count(const Tessel::SiteState& state, const LiveLimits& limits) {
  return LiveProblems(state, limits).size();
}

}  // namespace

TEST(LiveViewsTest, ProblemsFollowTheLimits) {
  LiveLimits limits;
  Tessel::SiteState state = Healthy();
  EXPECT_EQ(Count(state, limits), 0u);

  state.refused = 2;
  EXPECT_EQ(Count(state, limits), 1u);
  limits.maxRefused = 2;
  EXPECT_EQ(Count(state, limits), 0u);

  Tessel::UpstreamState& upstream = state.upstreams[0];
  upstream.connected = false;  // before its first exchange: neither up nor down
  EXPECT_EQ(Count(state, limits), 0u);
  upstream.downSince = state.serverTime - 10;
  EXPECT_EQ(Count(state, limits), 1u);
  limits.maxDownSeconds = 10;
  EXPECT_EQ(Count(state, limits), 1u);
  limits.maxDownSeconds = 11;
  EXPECT_EQ(Count(state, limits), 0u);
  upstream.connected = true;  // back: its last trouble is no problem
  limits.maxDownSeconds = 0;
  EXPECT_EQ(Count(state, limits), 0u);

  upstream.recordsBehind = 5;
  EXPECT_EQ(Count(state, limits), 0u);  // no --max-behind
  limits.maxBehind = 4;
  EXPECT_EQ(Count(state, limits), 1u);
  limits.maxBehind = 5;
  EXPECT_EQ(Count(state, limits), 0u);

  state.journalFailing = true;
  state.faults.push_back(Tessel::OutputFault{"day file", "/srv/site/virtualdb/261208.RiaBase",
                                             "No space left on device", state.serverTime});
  state.faults.push_back(Tessel::OutputFault{"IA directory", "", "not set", state.serverTime});
  EXPECT_EQ(Count(state, limits), 3u);
}

TEST(LiveViewsTest, TextsFromTheServiceAreEscapedInEveryFormat) {
  Tessel::SiteState state = Healthy();
  state.upstreams[0].host = "h\"\\\n\x9b";
  state.upstreams[0].lastError = "refused\x1b[2J";
  state.failingFile = "/srv/a\nb";
  state.failure = "x\"y";
  state.failingSince = state.serverTime;
  state.faults.push_back(Tessel::OutputFault{"IP file", "/srv/a\nb", "x\"y", state.serverTime});
  const std::vector<std::string> problems = LiveProblems(state, LiveLimits());
  ASSERT_EQ(problems.size(), 1u);

  std::ostringstream text, json, prometheus;
  ShowLive(state, problems, text);
  ShowLiveJson(state, problems, json);
  ShowLivePrometheus(state, problems, prometheus);
  for (const std::string& out : {text.str(), json.str(), prometheus.str()}) {
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
    EXPECT_EQ(out.find("\x9b"), std::string::npos) << out;
    EXPECT_EQ(out.find("a\nb"), std::string::npos) << out;
  }
  EXPECT_NE(text.str().find("problem: records cannot be stored since"), std::string::npos);
  EXPECT_NE(text.str().find("/srv/a\\x0ab: x\"y"), std::string::npos) << text.str();
  EXPECT_NE(json.str().find(R"("failingFile":"/srv/a\\x0ab","failure":"x\"y")"), std::string::npos)
      << json.str();
  EXPECT_NE(json.str().find(R"("host":"h\"\\\\x0a\\x9b")"), std::string::npos) << json.str();
  EXPECT_NE(prometheus.str().find(R"(tessel_upstream_connected{site="",server="h\"\\\\x0a\\x9b:8000"} 1)"),
            std::string::npos)
      << prometheus.str();
  // Every line a comment or one sample of the text format.
  const std::regex sample(
      R"([a-z_]+\{[a-z]+="([^"\\\n]|\\.)*"(,[a-z]+="([^"\\\n]|\\.)*")*\} -?[0-9]+(\.[0-9]+)?)");
  std::istringstream lines(prometheus.str());
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, 2, "# ") != 0) {
      EXPECT_TRUE(std::regex_match(line, sample)) << line;
    }
  }
}

TEST(LiveViewsTest, RefusalsCountWithinTheWindowOnly) {
  LiveLimits limits;
  Tessel::SiteState state = Healthy();
  state.refused = 16;  // a disk-full episode, an hour ago
  state.refusedPerMinute.assign(60, 0);
  state.refusedPerMinute[59] = 16;
  EXPECT_EQ(Count(state, limits), 0u);
  state.refusedPerMinute[4] = 1;  // within the default 5 minutes
  EXPECT_EQ(Count(state, limits), 1u);
  limits.windowMinutes = 4;
  EXPECT_EQ(Count(state, limits), 0u);
  limits.windowMinutes = 60;
  limits.maxRefused = 16;
  EXPECT_EQ(Count(state, limits), 1u);  // 17 in the hour
}

namespace {

// Two sites answering, with an upstream each, and one that does not.
std::string TwoSitesAndOneGone() {
  LiveSite a, b, gone;
  a.up = b.up = true;
  a.state = b.state = Healthy();
  a.label = "north";
  b.label = "south";
  gone.label = "west";
  gone.error = "cannot read /var/lib/tessel/west/icebox.cfg: Permission denied";
  std::ostringstream out;
  ShowLivePrometheus({a, b, gone}, out);
  return out.str();
}

}  // namespace

TEST(LiveViewsTest, TwoSitesMakeOneExpositionWithEachFamilyOnce) {
  const std::string text = TwoSitesAndOneGone();
  EXPECT_EQ(CountOf(text, "# HELP tessel_up "), 1u) << text;
  EXPECT_EQ(CountOf(text, "# TYPE tessel_records_stored_total "), 1u) << text;
  EXPECT_NE(text.find("tessel_records_stored_total{site=\"north\"} 5\n"), std::string::npos) << text;
  EXPECT_NE(text.find("tessel_records_stored_total{site=\"south\"} 5\n"), std::string::npos) << text;
  EXPECT_NE(text.find("tessel_up{site=\"west\"} 0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Permission denied"), std::string::npos) << text;
  EXPECT_EQ(text.find("tessel_records_stored_total{site=\"west\"}"), std::string::npos) << text;
}

TEST(LiveViewsTest, PromtoolAcceptsTwoSites) {
  const std::string text = TwoSitesAndOneGone();
  // Prometheus's own check, where it is installed (Debian: prometheus).
  if (::access("/usr/bin/promtool", X_OK) != 0) GTEST_SKIP() << "no promtool";
  TempDir dir;
  WriteFile(dir / "sites.prom", text);
  EXPECT_EQ(std::system(("/usr/bin/promtool check metrics < " + (dir / "sites.prom")).c_str()), 0);
}
