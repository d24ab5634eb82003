// Fuzz target: the conversion object with arbitrary notations and arbitrary history files.
// Every read of VeskResult must answer S_OK with a text, or DISP_E_EXCEPTION with the
// calling thread's error information set; nothing else, and never a crash.
//
// Input: byte 0 flags (bit 0 the notation is raw UTF-16LE units, else UTF-8; bit 1 no
// history file at all; bit 2 convert twice, so that the second read replays what the first
// recorded), bytes 1-2 the notation's byte length (little-endian), the notation, then the
// bytes of the history file. The files live in a private directory that TMPDIR names.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "platform/win/CodePage.h"
#include "platform/win/OleTypes.h"
#include "server/FuVeskMathImpl.h"
#include "server/History.h"
#include "server/MathForm.h"

namespace veskmath::fuzz {
namespace {

using win::BSTR;
using win::HRESULT;

// Points TMPDIR (the history file's directory) and the registry (which the error
// information reads the ProgID from) into the private directory, once.
const std::string& Environment() {
  static const std::string history = [] {
    const std::string& dir = PrivateDirectory();
    ::setenv("TMPDIR", dir.c_str(), 1);
    ::setenv("VESKMATH_REGISTRY", (dir + "/registry.reg").c_str(), 1);
    return dir + "/" + server::kHistoryFileName;
  }();
  return history;
}

std::u16string Notation(std::string_view bytes, bool utf16) {
  if (!utf16) return win::Utf8ToWide(bytes);
  std::u16string units;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                          static_cast<uint8_t>(bytes[i + 1]) << 8));
  }
  return units;
}

void Convert(server::IFuVeskMath& object) {
  BSTR result;
  const HRESULT hr = object.Get_VeskResult(&result);
  if (hr == win::S_OK) {
    Require(!result.IsNull(), "VeskResult", "S_OK without a text");
  } else {
    Require(hr == win::DISP_E_EXCEPTION, "VeskResult",
            "answered " + std::to_string(static_cast<long>(hr)));
    Require(result.IsNull(), "VeskResult", "a failure with a text");
    win::ComPtr<win::IErrorInfo> info;
    Require(win::GetErrorInfo(0, info.ReleaseAndGetAddressOf()) == win::S_OK && info, "VeskResult",
            "DISP_E_EXCEPTION without error information");
  }
}

}  // namespace
}  // namespace veskmath::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace veskmath::fuzz;
  namespace win = veskmath::win;
  namespace server = veskmath::server;
  const std::string& historyFile = Environment();
  TInput in(data, size);
  const uint8_t flags = in.Byte();
  const std::string_view notation = in.Bytes(in.U16());
  const std::string_view history = in.Rest();

  std::remove(historyFile.c_str());
  if (!(flags & 2)) WriteFile(historyFile, history);

  win::ComPtr<server::IFuVeskMath> object;
  Require(server::CreateFuVeskMath(server::IID_IFuVeskMath,
                                   reinterpret_cast<void**>(object.ReleaseAndGetAddressOf())) ==
              win::S_OK,
          "CreateFuVeskMath", "no object");
  const win::BSTR text(Notation(notation, flags & 1));
  Require(object->Set_VeskHyoki(text) == win::S_OK, "VeskHyoki", "put failed");
  Convert(*object.Get());
  if (flags & 4) Convert(*object.Get());
  win::BSTR again;
  Require(object->Get_VeskHyoki(&again) == win::S_OK && !again.IsNull(), "VeskHyoki", "get failed");
  Require(object->VeskStart(0) == win::S_OK, "VeskStart", "failed");
  return 0;
}
