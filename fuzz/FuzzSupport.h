// What the fuzz targets share: a failed property aborts with its text (which
// libFuzzer reports as a crash, with the input), a scratch directory per
// process, whole-file helpers, and a reader that cuts an input into fields.
#ifndef TESSEL_FUZZ_FUZZSUPPORT_H
#define TESSEL_FUZZ_FUZZSUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : fuzz::Fail(__FILE__, __LINE__, #condition))

namespace fuzz {

[[noreturn]] void Fail(const char* file, int line, const char* condition);

// A directory of this process under $TMPDIR (or /tmp), made on first use and
// removed when the process ends normally; ends in "/".
const std::string& ScratchDir();
// Removes everything inside `dir`, leaving it there.
void EmptyDir(const std::string& dir);
// Makes `dir` and the directories above it.
void MakeDir(const std::string& dir);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
std::vector<std::string> ListDir(const std::string& dir);  // names, sorted

// Takes fields off the front of an input; past its end it gives zeros and
// empty texts.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte();
  std::uint16_t U16();  // little-endian
  std::uint32_t U32();  // little-endian
  // Up to `count` bytes.
  std::string Bytes(std::size_t count);
  // Exactly `count` bytes, zero-filled past the end.
  std::string Fixed(std::size_t count);
  std::string Rest() { return Bytes(size_ - at_); }
  bool empty() const { return at_ >= size_; }
  std::size_t left() const { return size_ - at_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace fuzz

#endif
