// Helpers shared by the tests: temporary sites, environment, free ports,
// polling deadlines, child processes and records.
#ifndef TESSEL_TESTS_TESTSUPPORT_H
#define TESSEL_TESTS_TESTSUPPORT_H

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/SiteContext.h"
#include "record/VirtualIdRecord.h"

namespace testing_support {

// A fresh directory under $TMPDIR (or /tmp), removed with its content.
class TempDir {
 public:
  explicit TempDir(const std::string& base = std::string());
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets (or, with unset(), removes) an environment variable for a scope.
class ScopedEnv {
 public:
  ScopedEnv(const std::string& name, const std::string& value);
  static ScopedEnv unset(const std::string& name);
  ~ScopedEnv();
  ScopedEnv(ScopedEnv&& other);
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  ScopedEnv() = default;
  std::string name_;
  bool had_ = false;
  std::string old_;
  bool active_ = false;
};

// Changes the working directory for a scope.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir);
  ~ScopedCwd();

 private:
  std::string old_;
};

// A TCP (or UDP) port on 127.0.0.1 that was free a moment ago.
int FreePort(bool udp = false);

// Polls `condition` every 20 ms until it holds or `timeout` passes.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

std::string ReadFile(const std::string& path);
// How many times `what` occurs in `text` (overlapping ones counted).
std::size_t CountOf(const std::string& text, const std::string& what);
void WriteFile(const std::string& path, const std::string& content);
void AppendFile(const std::string& path, const std::string& content);
long FileSize(const std::string& path);  // -1 when missing
bool Exists(const std::string& path);
std::vector<std::string> ListDir(const std::string& dir);  // names, sorted

// A child process with its output captured to files.
class ChildProcess {
 public:
  // argv[0] is the program path; `env` entries are added to the environment
  // (an empty value removes the variable); `cwd` is the working directory.
  ChildProcess(const std::vector<std::string>& argv,
               const std::map<std::string, std::string>& env, const std::string& cwd,
               const std::string& stdoutPath, const std::string& stderrPath);
  ~ChildProcess();  // kills the child if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  // Sends `signal` and waits up to `timeout`; the exit status, or -1.
  int stop(int signal, std::chrono::milliseconds timeout);
  // Waits up to `timeout` for the child to end by itself; the status or -1.
  int wait(std::chrono::milliseconds timeout);
  const std::string& stdoutPath() const { return stdout_; }
  const std::string& stderrPath() const { return stderr_; }

 private:
  void ended(int status);

  pid_t pid_ = -1;
  int status_ = -1;
  std::string stdout_, stderr_;
};

// The environment of an uninstrumented program that loads the module, such as
// icebox, or starts programs that do, such as icegridnode: `env` and, in a
// sanitizer build, LD_PRELOAD naming the sanitizer's run time, which must be
// loaded before anything else of a process that runs instrumented code.
// Programs of this build are instrumented themselves and need nothing.
std::map<std::string, std::string> HostEnvironment(
    std::map<std::string, std::string> env = std::map<std::string, std::string>());

// Records built field by field.
VirtualIdRecord ImRecord(const std::string& prefix, int infoType, const std::string& account,
                         int beginTime, int endTime, int imStatus);
VirtualIdRecord SeatRecord(const std::string& prefix, const std::string& account, int logonTime,
                           int logoffTime, unsigned clientIp);
VirtualIdRecord InfoRecord(const std::string& prefix, int infoType, const std::string& account,
                           int beginTime, int endTime);
std::vector<unsigned char> Bytes(const VirtualIdRecord& record);

// The site the service would find through $TESSEL_HOME (as a test sets it),
// on the real system, working in the site directory. A test that does not
// check the lookup itself names its site with SiteAt instead.
tessel::SiteContext HomeSite();
// The same reached through `env`.
tessel::SiteContext HomeSite(tessel::port::Env* env);
// Its virtualdb directory.
std::string VirtualDbDir();

}  // namespace testing_support

#endif
