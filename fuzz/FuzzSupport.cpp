#include "FuzzSupport.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "port/Env.h"

namespace fs = std::filesystem;

namespace fuzz {

void Fail(const char* file, int line, const char* condition) {
  std::fprintf(stderr, "\n%s:%d: property does not hold: %s\n", file, line, condition);
  std::abort();
}

namespace {

std::string MakeScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tessel-fuzz-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(ScratchDir(), ignored);
  });
  return std::string(buffer.data()) + "/";
}

}  // namespace

const std::string& ScratchDir() {
  // Never destroyed: the removal at exit still needs the name.
  static const std::string* dir = new std::string(MakeScratchDir());
  return *dir;
}

void EmptyDir(const std::string& dir) {
  std::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error))
    fs::remove_all(it->path(), error);
}

void MakeDir(const std::string& dir) {
  std::error_code ignored;
  fs::create_directories(dir, ignored);
}

std::string ReadFile(const std::string& path) {
  std::string content;
  tessel::port::ReadFileToString(tessel::port::Env::Default(), path, &content);
  return content;
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::uint8_t Reader::Byte() { return at_ < size_ ? data_[at_++] : 0; }

std::uint16_t Reader::U16() {
  const std::uint16_t low = Byte();
  return static_cast<std::uint16_t>(low | Byte() << 8);
}

std::uint32_t Reader::U32() {
  const std::uint32_t low = U16();
  return low | static_cast<std::uint32_t>(U16()) << 16;
}

std::string Reader::Bytes(std::size_t count) {
  const std::size_t n = std::min(count, size_ - at_);
  std::string out(reinterpret_cast<const char*>(data_ + at_), n);
  at_ += n;
  return out;
}

std::string Reader::Fixed(std::size_t count) {
  std::string out = Bytes(count);
  out.resize(count, '\0');
  return out;
}

}  // namespace fuzz
