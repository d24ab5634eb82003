#include "platform/rtl/Streams.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/rtl/SysUtils.h"

namespace veskmath::rtl {

namespace {
constexpr const char* kReadError = "Stream read error";
constexpr const char* kWriteError = "Stream write error";
constexpr const char* kSharingViolation =
    "The process cannot access the file because it is being used by another process.";

// Calls transfer(offset, count) over size bytes in pieces that a 32-bit count can carry.
template <class Transfer>
void InPieces(int64_t size, Transfer transfer) {
  for (int64_t done = 0; done < size;) {
    const auto n = static_cast<int32_t>(std::min<int64_t>(size - done, INT32_MAX));
    transfer(done, n);
    done += n;
  }
}

// Repeats a read or write until count bytes moved, the end or an error; signals are retried.
template <class Call>
int32_t Transfer(int32_t count, Call call) {
  int32_t done = 0;
  while (done < count) {
    const ssize_t n = call(static_cast<size_t>(done), static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}
}  // namespace

// ---------------------------------------------------------------------------------------
// TStream

TStream::~TStream() = default;

int64_t TStream::Size() {
  const int64_t position = Seek(0, soCurrent);
  const int64_t size = Seek(0, soEnd);
  Seek(position, soBeginning);
  return size;
}

void TStream::SetSize(int64_t /*size*/) {}

void TStream::ReadBuffer(void* buffer, int32_t count) {
  if (count < 0 || (count != 0 && Read(buffer, count) != count)) throw EReadError(kReadError);
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
  if (count < 0 || (count != 0 && Write(buffer, count) != count)) throw EWriteError(kWriteError);
}

// ---------------------------------------------------------------------------------------
// TMemoryStream

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
  const int64_t size = Size();
  if (count <= 0 || FPosition >= size) return 0;
  const int32_t n = static_cast<int32_t>(std::min<int64_t>(count, size - FPosition));
  std::memcpy(buffer, FMemory.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const int64_t end = FPosition + count;
  if (end > Size()) FMemory.resize(static_cast<size_t>(end), 0);
  std::memcpy(FMemory.data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t base = origin == soCurrent ? FPosition : origin == soEnd ? Size() : 0;
  FPosition = std::max<int64_t>(0, base + offset);
  return FPosition;
}

void TMemoryStream::SetSize(int64_t size) {
  FMemory.resize(static_cast<size_t>(std::max<int64_t>(0, size)), 0);
  if (FPosition > Size()) FPosition = Size();
}

void TMemoryStream::Clear() {
  FMemory = {};  // releases the buffer
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  std::vector<uint8_t> data(static_cast<size_t>(stream.Size()));
  InPieces(stream.Size(), [&](int64_t at, int32_t n) { stream.ReadBuffer(data.data() + at, n); });
  FMemory = std::move(data);
  FPosition = 0;
}

void TMemoryStream::SaveToStream(TStream& stream) {
  InPieces(Size(), [&](int64_t at, int32_t n) { stream.WriteBuffer(FMemory.data() + at, n); });
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
}

// ---------------------------------------------------------------------------------------
// TFileStream

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : FFileName(fileName) {
  const bool create = (mode & 0xFF00) == fmCreate;
  const uint16_t access = create ? fmOpenReadWrite : (mode & 0x000F);
  const uint16_t share = mode & 0x00F0;
  const bool writes = access == fmOpenWrite || access == fmOpenReadWrite;

  auto fail = [&](const char* reason) {
    const std::string message =
        Format(create ? "Cannot create file \"%s\". %s" : "Cannot open file \"%s\". %s",
               fileName.c_str(), reason);
    if (create) throw EFCreateError(message);
    throw EFOpenError(message);
  };

  // No O_TRUNC: the file is truncated only once its lock is held.
  int flags = O_CLOEXEC | (create ? O_CREAT : 0);  // O_RDONLY is 0
  if (access == fmOpenWrite) flags |= O_WRONLY;
  if (access == fmOpenReadWrite) flags |= O_RDWR;
  do {
    FHandle.Reset(::open(fileName.c_str(), flags, 0666));
  } while (!FHandle.Valid() && errno == EINTR);
  if (!FHandle.Valid()) fail(base::SystemErrorText(errno).c_str());

  const bool sharesWriting = share == fmShareDenyNone || share == fmShareDenyRead;
  int lock = share == fmShareDenyWrite ? LOCK_SH : 0;
  if (share == fmShareExclusive || (writes && !sharesWriting)) lock = LOCK_EX;
  if (lock != 0 && ::flock(FHandle.Get(), lock | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) fail(kSharingViolation);
    fail(base::SystemErrorText(errno).c_str());
  }
  if (create && ::ftruncate(FHandle.Get(), 0) != 0) fail(base::SystemErrorText(errno).c_str());
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
  return Transfer(count, [&](size_t done, size_t left) {
    return ::read(FHandle.Get(), static_cast<uint8_t*>(buffer) + done, left);
  });
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
  return Transfer(count, [&](size_t done, size_t left) {
    return ::write(FHandle.Get(), static_cast<const uint8_t*>(buffer) + done, left);
  });
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  return ::lseek(FHandle.Get(), static_cast<off_t>(offset), whence);  // -1 when refused
}

int64_t TFileStream::Size() {
  struct stat info {};
  if (::fstat(FHandle.Get(), &info) != 0) return -1;
  return static_cast<int64_t>(info.st_size);
}

void TFileStream::SetSize(int64_t size) {
  if (::ftruncate(FHandle.Get(), static_cast<off_t>(size)) != 0) throw EWriteError(kWriteError);
  if (Position() > size) SetPosition(size);
}

}  // namespace veskmath::rtl
