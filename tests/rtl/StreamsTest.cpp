#include "platform/rtl/Streams.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/rtl/SysUtils.h"

namespace veskmath::rtl {
namespace {

class TempFile {
 public:
  explicit TempFile(const std::string& tag)
      : path_((std::filesystem::temp_directory_path() /
               ("streams_" + tag + "_" + std::to_string(getpid())))
                  .string()) {
    std::remove(path_.c_str());
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }
  std::string Contents() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Write(const std::string& data) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << data;
  }

 private:
  std::string path_;
};

TEST(MemoryStream, ReadWriteSeekAndGrow) {
  TMemoryStream s;
  EXPECT_EQ(s.Size(), 0);
  s.WriteBuffer("hello", 5);
  EXPECT_EQ(s.Position(), 5);
  s.SetPosition(8);  // past the end: the gap is zero-filled by the next write
  s.WriteBuffer("!", 1);
  EXPECT_EQ(s.Size(), 9);
  EXPECT_EQ(std::memcmp(s.Memory(), "hello\0\0\0!", 9), 0);

  EXPECT_EQ(s.Seek(-4, soEnd), 5);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 4);  // short read at the end
  EXPECT_EQ(s.Read(buf, 8), 0);
  EXPECT_EQ(s.Seek(-100, soCurrent), 0);  // pinned at the start

  s.SetSize(3);
  EXPECT_EQ(s.Size(), 3);
  s.SetPosition(3);
  EXPECT_EQ(s.Position(), 3);
  s.Clear();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
}

TEST(MemoryStream, ReadBufferPastEndRaises) {
  TMemoryStream s;
  s.WriteBuffer("abc", 3);
  s.SetPosition(1);
  char buf[4];
  try {
    s.ReadBuffer(buf, 3);
    ADD_FAILURE() << "short read accepted";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
  EXPECT_THROW(s.ReadBuffer(buf, -1), EReadError);
  s.SetPosition(0);
  EXPECT_NO_THROW(s.ReadBuffer(buf, 0));
}

TEST(MemoryStream, FileAndStreamRoundTrip) {
  TempFile file("mem");
  TMemoryStream out;
  const std::string data("binary\0data\r\n", 13);
  out.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
  out.SaveToFile(file.path());
  EXPECT_EQ(file.Contents(), data);

  TMemoryStream in;
  in.WriteBuffer("old contents that are longer", 28);
  in.LoadFromFile(file.path());
  EXPECT_EQ(in.Size(), 13);
  EXPECT_EQ(in.Position(), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(in.Memory()), 13), data);
}

TEST(FileStream, CreateReplacesAndReadsBack) {
  TempFile file("create");
  file.Write("previous contents");
  {
    TFileStream s(file.path(), fmCreate);
    EXPECT_EQ(s.Size(), 0);
    s.WriteBuffer("abc", 3);
    s.SetSize(2);
    EXPECT_EQ(s.Position(), 2);
  }
  EXPECT_EQ(file.Contents(), "ab");
  TFileStream r(file.path(), fmOpenRead);
  char buf[4] = {};
  EXPECT_EQ(r.Read(buf, 4), 2);
  EXPECT_STREQ(buf, "ab");
  EXPECT_THROW(r.WriteBuffer("x", 1), EWriteError);  // opened for reading only
}

TEST(FileStream, OpenAndCreateErrorsNameTheFile) {
  const std::string missing = "/nonexistent-dir-for-test/file.txt";
  try {
    TFileStream s(missing, fmOpenRead);
    ADD_FAILURE() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file \"" + missing + "\". " + std::strerror(ENOENT));
  }
  try {
    TFileStream s(missing, fmCreate);
    ADD_FAILURE() << "created in a missing directory";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file \"" + missing + "\". " + std::strerror(ENOENT));
  }
}

TEST(FileStream, ShareDenyWriteLocksOutWriters) {
  TempFile file("lock");
  file.Write("keep me");
  const std::string busy =
      "The process cannot access the file because it is being used by another process.";
  {
    TFileStream reader(file.path(), fmOpenRead | fmShareDenyWrite);
    // Other readers that deny writers may share the file.
    EXPECT_NO_THROW(TFileStream(file.path(), fmOpenRead | fmShareDenyWrite));
    EXPECT_NO_THROW(TFileStream(file.path(), fmOpenRead));
    try {
      TFileStream writer(file.path(), fmOpenWrite);
      ADD_FAILURE() << "writer not refused";
    } catch (const EFOpenError& e) {
      EXPECT_EQ(e.Message(), "Cannot open file \"" + file.path() + "\". " + busy);
    }
    try {
      TFileStream creator(file.path(), fmCreate);
      ADD_FAILURE() << "creator not refused";
    } catch (const EFCreateError& e) {
      EXPECT_EQ(e.Message(), "Cannot create file \"" + file.path() + "\". " + busy);
    }
    EXPECT_THROW(TFileStream(file.path(), fmOpenRead | fmShareExclusive), EFOpenError);
  }
  // The refused creator must not have truncated the file.
  EXPECT_EQ(file.Contents(), "keep me");
  // Closing the reader releases the lock.
  EXPECT_NO_THROW(TFileStream(file.path(), fmOpenReadWrite));
  {
    TFileStream writer(file.path(), fmOpenWrite);
    EXPECT_THROW(TFileStream(file.path(), fmOpenRead | fmShareDenyWrite), EFOpenError);
  }
}

}  // namespace
}  // namespace veskmath::rtl
