#include "TestSupport.h"

#include <atomic>
#include <ctime>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include "common/PathHelpers.h"

using namespace tessel;

namespace fs = std::filesystem;

namespace testing_support {

TempDir::TempDir(const std::string& base) {
  std::string root = base;
  if (root.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    root = tmp && *tmp ? tmp : "/tmp";
  }
  std::string pattern = root + "/tessel-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(const std::string& name, const std::string& value) : name_(name) {
  const char* old = std::getenv(name.c_str());
  had_ = old != nullptr;
  if (had_) old_ = old;
  ::setenv(name.c_str(), value.c_str(), 1);
  active_ = true;
}

ScopedEnv ScopedEnv::unset(const std::string& name) {
  ScopedEnv env;
  env.name_ = name;
  const char* old = std::getenv(name.c_str());
  env.had_ = old != nullptr;
  if (env.had_) env.old_ = old;
  ::unsetenv(name.c_str());
  env.active_ = true;
  return env;
}

ScopedEnv::ScopedEnv(ScopedEnv&& other)
    : name_(other.name_), had_(other.had_), old_(other.old_), active_(other.active_) {
  other.active_ = false;
}

ScopedEnv::~ScopedEnv() {
  if (!active_) return;
  if (had_) ::setenv(name_.c_str(), old_.c_str(), 1);
  else ::unsetenv(name_.c_str());
}

ScopedCwd::ScopedCwd(const std::string& dir) {
  old_ = fs::current_path().string();
  fs::current_path(dir);
}

ScopedCwd::~ScopedCwd() {
  std::error_code ignored;
  fs::current_path(old_, ignored);
}

int FreePort(bool udp) {
  // Below the system's range of ephemeral ports: a site killed and started
  // again on its port must not find it taken meanwhile by some process's
  // outgoing connection. Each test process starts at a place of its own.
  static const int kFirst = 20000, kCount = 12000;
  static std::atomic<int> next(static_cast<int>((::getpid() * 7919 + std::time(nullptr)) % kCount));
  for (int tries = 0; tries < kCount; ++tries) {
    const int port = kFirst + next.fetch_add(1) % kCount;
    int fd = ::socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<unsigned short>(port));
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    if (bound) return port;
  }
  throw std::runtime_error("no free port");
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::size_t CountOf(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

void AppendFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << content;
}

long FileSize(const std::string& path) {
  std::error_code error;
  auto size = fs::file_size(path, error);
  return error ? -1 : static_cast<long>(size);
}

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& env,
                           const std::string& cwd, const std::string& stdoutPath,
                           const std::string& stderrPath)
    : stdout_(stdoutPath), stderr_(stderrPath) {
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // A child never outlives a test process that died (a failed assertion
    // in a helper thread, a sanitizer's abort): it would hold ports and
    // files for ever.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (const auto& entry : env) {
      if (entry.second.empty()) ::unsetenv(entry.first.c_str());
      else ::setenv(entry.first.c_str(), entry.second.c_str(), 1);
    }
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    int out = ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    // Nothing else of the test goes with the child: an inherited socket of
    // the test's Ice client would keep that connection open after the test
    // closed it, and a server waiting for the close would wait for the child.
    for (int fd = 3, last = static_cast<int>(::sysconf(_SC_OPEN_MAX)); fd < last && fd < 65536; ++fd)
      ::close(fd);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (running()) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    if (::waitpid(pid_, &status, 0) == pid_) ended(status);
  }
}

bool ChildProcess::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r == 0) return true;
  if (r == pid_) ended(status);
  return false;
}

void ChildProcess::ended(int status) {
  status_ = status;
#ifdef TESSEL_SANITIZE
  // A report of the child's goes to the file of its sanitizer's log_path, but
  // not all do: UBSan's, in a process that has ASan too, always goes to
  // standard error. A report on the child's standard error fails the test
  // that ran it, and is kept in $TESSEL_SANITIZER_REPORTS for scripts/check.
  const std::string text = ReadFile(stderr_);
  for (const char* mark : {"runtime error:", "ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                           "WARNING: ThreadSanitizer", "ERROR: ThreadSanitizer"}) {
    if (text.find(mark) == std::string::npos) continue;
    std::string kept;
    const char* reports = std::getenv("TESSEL_SANITIZER_REPORTS");
    if (reports != nullptr && *reports != '\0') {
      kept = std::string(reports) + "/child-stderr." + std::to_string(pid_);
      WriteFile(kept, text);
    }
    ADD_FAILURE() << "sanitizer report (\"" << mark << "\") from " << stderr_
                  << (kept.empty() ? std::string() : ", kept as " + kept) << ":\n" << text;
    break;
  }
#endif
  pid_ = -pid_;  // remember it ended
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
  WaitUntil([this] { return !running(); }, timeout);
  return running() ? -1 : status_;
}

int ChildProcess::stop(int signal, std::chrono::milliseconds timeout) {
  // icebox drops a stop signal that comes after its services answer and
  // before its own start has ended (its handler is set last; the window
  // widens on a loaded machine and under sanitizers): the signal is sent
  // again every second until the process ends. A second one is harmless.
  const std::chrono::steady_clock::time_point end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (!running()) return status_;
    ::kill(pid_, signal);
    const std::chrono::milliseconds left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds(0)) return wait(std::chrono::milliseconds(0));
    if (wait(std::min(left, std::chrono::milliseconds(1000))) != -1 || !running()) return status_;
  }
}

std::map<std::string, std::string> HostEnvironment(std::map<std::string, std::string> env) {
#ifdef TESSEL_HOST_PRELOAD
  env["LD_PRELOAD"] = TESSEL_HOST_PRELOAD;
#endif
  return env;
}

VirtualIdRecord ImRecord(const std::string& prefix, int infoType, const std::string& account,
                         int beginTime, int endTime, int imStatus) {
  VirtualIdRecord record;
  record.SetText(rec::kPrefix, rec::kPrefixWidth, prefix);
  record.SetInt(rec::kInfoType, infoType);
  record.SetText(rec::kAccount, rec::kAccountWidth, account);
  record.SetInt(rec::kBeginTime, beginTime);
  record.SetInt(rec::kEndTime, endTime);
  record.SetInt(rec::kImStatus, imStatus);
  return record;
}

VirtualIdRecord SeatRecord(const std::string& prefix, const std::string& account, int logonTime,
                           int logoffTime, unsigned clientIp) {
  VirtualIdRecord record;
  record.SetText(rec::kPrefix, rec::kPrefixWidth, prefix);
  record.SetInt(rec::kInfoType, rec::kSeatInfoType);
  record.SetText(rec::kAccount, rec::kSeatAccountWidth, account);
  record.SetInt(rec::kLogonTime, logonTime);
  record.SetInt(rec::kLogoffTime, logoffTime);
  record.SetInt(rec::kClientIp, static_cast<std::int32_t>(clientIp));
  return record;
}

VirtualIdRecord InfoRecord(const std::string& prefix, int infoType, const std::string& account,
                           int beginTime, int endTime) {
  return ImRecord(prefix, infoType, account, beginTime, endTime, 0);
}

std::vector<unsigned char> Bytes(const VirtualIdRecord& record) {
  return std::vector<unsigned char>(record.bytes, record.bytes + rec::kSize);
}

tessel::SiteContext HomeSite() { return HomeSite(tessel::port::Env::Default()); }

tessel::SiteContext HomeSite(tessel::port::Env* env) {
  return tessel::SiteAt(env, GetModuleDir(tessel::port::Env::Default()));
}

std::string VirtualDbDir() { return HomeSite().VirtualDbDir(); }

}  // namespace testing_support
