// The messages between an automation client and a local server, and their byte form.
//
// A frame is a 4-byte little-endian payload length followed by the payload; the payload is a
// kind byte and the kind's fields, all little-endian:
//   GUID      Data1 u32, Data2 u16, Data3 u16, Data4 8 bytes
//   text      u8 (0 null, 1 present), u32 unit count, UTF-16 units (u16 each)
//   VARIANT   u16 vt, then by vt: EMPTY/NULL nothing, I4 i32, BOOL i16, ERROR i32, BSTR text
//   list      u32 count, then the items
// The decoder is a pure function over a byte buffer: it never reads past the buffer, never
// allocates more than the buffer could describe, and refuses (Malformed) unknown kinds, unknown
// VARIANT types, counts beyond their limits and trailing bytes; a length beyond
// kMaxFramePayload is refused (Oversized) from the header alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "platform/win/OleTypes.h"

namespace veskmath::win::wire {

inline constexpr std::size_t kFrameHeaderSize = 4;
inline constexpr std::size_t kMaxFramePayload = 1u << 20;  // 1 MiB
inline constexpr std::size_t kMaxNames = 64;               // GetIDsOfNames
inline constexpr std::size_t kMaxArguments = 64;           // Invoke, positional and named

// Object 0 of a connection is the class object the client connected to; objects handed out
// get ids from 1 up. Each id stands for one reference held by the server for the client.
using ObjectId = std::uint32_t;

struct CreateInstanceRequest {
  IID iid;
  bool operator==(const CreateInstanceRequest&) const = default;
};
struct LockServerRequest {
  bool lock = false;
  bool operator==(const LockServerRequest&) const = default;
};
struct QueryInterfaceRequest {
  ObjectId object = 0;
  IID iid;
  bool operator==(const QueryInterfaceRequest&) const = default;
};
// One-way: the server sends no reply.
struct ReleaseRequest {
  ObjectId object = 0;
  bool operator==(const ReleaseRequest&) const = default;
};
struct GetTypeInfoCountRequest {
  ObjectId object = 0;
  bool operator==(const GetTypeInfoCountRequest&) const = default;
};
struct GetIDsOfNamesRequest {
  ObjectId object = 0;
  IID iid;
  LCID lcid = 0;
  std::vector<std::u16string> names;
  bool operator==(const GetIDsOfNamesRequest&) const = default;
};
struct InvokeRequest {
  ObjectId object = 0;
  DISPID dispId = 0;
  IID iid;
  LCID lcid = 0;
  WORD flags = 0;
  bool wantResult = false;
  std::vector<VARIANT> args;  // as in DISPPARAMS: the last argument first
  std::vector<DISPID> namedArgs;
  bool operator==(const InvokeRequest&) const;
};

// The error object of a failed call.
struct ErrorInfoData {
  GUID guid;
  BSTR source;
  BSTR description;
  BSTR helpFile;
  DWORD helpContext = 0;
  bool operator==(const ErrorInfoData&) const = default;
};

// The answer to every request but Release. Which fields matter depends on the request:
// object (CreateInstance, QueryInterface), value (GetTypeInfoCount's count, Invoke's argErr),
// dispIds (GetIDsOfNames), result and excepInfo (Invoke).
struct Reply {
  HRESULT hr = S_OK;
  ObjectId object = 0;
  std::uint32_t value = 0;
  std::vector<DISPID> dispIds;
  std::optional<VARIANT> result;
  std::optional<EXCEPINFO> excepInfo;
  std::optional<ErrorInfoData> errorInfo;
  bool operator==(const Reply&) const;
};

using Message =
    std::variant<CreateInstanceRequest, LockServerRequest, QueryInterfaceRequest, ReleaseRequest,
                 GetTypeInfoCountRequest, GetIDsOfNamesRequest, InvokeRequest, Reply>;

// The whole frame (header and payload); nullopt when the payload would exceed
// kMaxFramePayload or a list its limit.
std::optional<std::vector<std::uint8_t>> EncodeFrame(const Message& message);

enum class FrameStatus {
  Complete,    // `message` holds the first frame of the buffer, `size` bytes long
  Incomplete,  // the buffer ends inside the first frame: read more
  Oversized,   // the header announces more than kMaxFramePayload bytes
  Malformed,   // the payload does not decode
};

struct DecodeResult {
  FrameStatus status = FrameStatus::Incomplete;
  std::size_t size = 0;
  std::optional<Message> message;
};

// Looks at the first frame of `buffer` (which may hold more than one).
DecodeResult DecodeFrame(std::span<const std::uint8_t> buffer);

// VARIANT equality by type and value (the unused fields do not count).
bool VariantEquals(const VARIANT& a, const VARIANT& b);
bool ExcepInfoEquals(const EXCEPINFO& a, const EXCEPINFO& b);

}  // namespace veskmath::win::wire
