// The real Env: the open modes the service relies on, and failures that
// say what was being done to which file.
#include "port/Env.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "TestSupport.h"

using tessel::port::Env;
using tessel::port::File;
using tessel::port::Status;
using testing_support::TempDir;

namespace {

std::string Contents(Env* env, const std::string& path) {
  std::string text;
  EXPECT_TRUE(tessel::port::ReadFileToString(env, path, &text).ok());
  return text;
}

void Write(File* file, const std::string& text, std::uint64_t offset = 0) {
  std::size_t written = 0;
  ASSERT_TRUE(file->Write(text.data(), text.size(), offset, &written).ok());
  ASSERT_EQ(written, text.size());
}

}  // namespace

TEST(EnvTest, OpenModes) {
  TempDir dir;
  Env* env = Env::Default();
  const std::string path = dir / "f";
  std::unique_ptr<File> file;

  Status missing = env->OpenFile(path, File::kUpdate, &file);
  EXPECT_EQ(missing.error(), ENOENT);
  EXPECT_NE(missing.ToString().find(path), std::string::npos);

  ASSERT_TRUE(env->OpenFile(path, File::kAppend, &file).ok());
  Write(file.get(), "abc");
  Write(file.get(), "def", 0);  // appends whatever the offset
  ASSERT_TRUE(file->Close().ok());
  EXPECT_EQ(Contents(env, path), "abcdef");

  ASSERT_TRUE(env->OpenFile(path, File::kUpdate, &file).ok());
  Write(file.get(), "XY", 1);  // in place
  char buffer[16];
  std::size_t read = 0;
  ASSERT_TRUE(file->Read(buffer, sizeof buffer, 4, &read).ok());
  EXPECT_EQ(std::string(buffer, read), "ef");  // short at the end
  ASSERT_TRUE(file->Truncate(3).ok());
  file.reset();
  EXPECT_EQ(Contents(env, path), "aXY");

  ASSERT_TRUE(env->OpenFile(path, File::kTruncate, &file).ok());
  file.reset();
  std::uint64_t size = 1;
  ASSERT_TRUE(env->FileSize(path, &size).ok());
  EXPECT_EQ(size, 0u);
}

TEST(EnvTest, DirectoriesRenamesAndRemovals) {
  TempDir dir;
  Env* env = Env::Default();
  ASSERT_TRUE(env->CreateDir(dir / "sub").ok());
  EXPECT_EQ(env->CreateDir(dir / "sub").error(), EEXIST);
  testing_support::WriteFile(dir / "sub/a", "1");
  testing_support::WriteFile(dir / "sub/b", "2");
  ASSERT_TRUE(env->RenameFile(dir / "sub/a", dir / "sub/b").ok());  // replaces
  std::vector<std::string> names;
  ASSERT_TRUE(env->GetChildren(dir / "sub", &names).ok());
  EXPECT_EQ(names, std::vector<std::string>{"b"});
  EXPECT_EQ(Contents(env, dir / "sub/b"), "1");
  ASSERT_TRUE(env->RemoveFile(dir / "sub/b").ok());
  EXPECT_FALSE(env->FileExists(dir / "sub/b"));
  EXPECT_EQ(env->RemoveFile(dir / "sub/b").error(), ENOENT);
}
