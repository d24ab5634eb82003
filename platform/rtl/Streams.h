// TFileStream's share modes are advisory flock() locks, respected only by programs that follow
// the same convention: fmShareExclusive, and a writer unless it gives fmShareDenyNone or
// fmShareDenyRead, lock exclusively; fmShareDenyWrite on a reader locks shared; other opens take
// none. A conflict fails at once. fmCreate truncates an existing file (or a link's target) only
// once the lock is held, so a writer refused by the lock destroys nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/UniqueFd.h"

namespace veskmath::rtl {

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

// Open modes (low nibble) and share modes (second nibble), combined with |.
inline constexpr uint16_t fmCreate = 0xFF00;  // create or replace, opened for reading and writing
inline constexpr uint16_t fmOpenRead = 0x0000;
inline constexpr uint16_t fmOpenWrite = 0x0001;
inline constexpr uint16_t fmOpenReadWrite = 0x0002;
inline constexpr uint16_t fmShareCompat = 0x0000;
inline constexpr uint16_t fmShareExclusive = 0x0010;
inline constexpr uint16_t fmShareDenyWrite = 0x0020;
inline constexpr uint16_t fmShareDenyRead = 0x0030;
inline constexpr uint16_t fmShareDenyNone = 0x0040;

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream();

  // Read/Write answer the bytes moved, up to count (0 if count <= 0); Seek the new position.
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t position) { Seek(position, soBeginning); }
  virtual int64_t Size();
  virtual void SetSize(int64_t size);

  // All-or-nothing transfers: "Stream read error" (EReadError) / "Stream write error"
  // (EWriteError) when fewer than count bytes move.
  void ReadBuffer(void* buffer, int32_t count);
  void WriteBuffer(const void* buffer, int32_t count);
};

// A stream over an owned, growable byte buffer. Seeking before the start stops at 0; past the
// end is allowed, and a write there fills the gap with zero bytes.
class TMemoryStream : public TStream {
 public:
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(FMemory.size()); }
  void SetSize(int64_t size) override;

  // The buffer; valid until the next operation that changes the size.
  uint8_t* Memory() { return FMemory.data(); }
  const uint8_t* Memory() const { return FMemory.data(); }
  void Clear();

  // Replaces the contents with the whole of stream (from its start); position 0 afterwards.
  void LoadFromStream(TStream& stream);
  // Writes the whole contents to stream at its position.
  void SaveToStream(TStream& stream);
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);

 private:
  std::vector<uint8_t> FMemory;
  int64_t FPosition = 0;
};

// A stream over a file descriptor it owns. Errors: EFOpenError / EFCreateError (fmCreate)
// "Cannot open file \"<name>\". <reason>" / "Cannot create file \"<name>\". <reason>".
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& fileName, uint16_t mode);

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t size) override;

  const std::string& FileName() const { return FFileName; }
  int Handle() const { return FHandle.Get(); }

 private:
  std::string FFileName;
  UniqueFd FHandle;  // closing it releases the lock
};

}  // namespace veskmath::rtl
